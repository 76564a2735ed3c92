// The "Audio & Video" tab's popups from the settings and the string lists,
// and the settings from the user's picks.
#include "engine/app/audiovideopanel.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "moviedb/formats.h"
#include "platform/resources.h"

namespace {

// The string lists ('STR#') the tab reads.
constexpr ResID kVideoFormats = 515, kFrameRates = 517, kVideoBitRates = 518, kVideoDescriptions = 160;
constexpr ResID kSoundLabels = 143, kSoundFormatNames = 144, kRatios = 146, kBoostSteps = 147, kSoundDescriptions = 149;
// Items of the sound labels list.
constexpr std::int16_t kStereoItem = 2, kSampleRateLabel = 7, kBitRateLabel = 8, kNotApplicable = 12;

constexpr std::int32_t kNoEntry = -1; // a separator's place in a value table
constexpr int kNone = -1;             // no entry selected

constexpr std::int32_t Sound(SoundFormat f) { return Code(f); }
constexpr std::int32_t kClie = Sound(SoundFormat::ClieAudio), kYamaha = Sound(SoundFormat::YamahaAdpcm);
constexpr std::int32_t kAdpcm2 = Sound(SoundFormat::Adpcm2to1), kAdpcm4 = Sound(SoundFormat::Adpcm4to1);
constexpr std::int32_t kMonoPcm = Sound(SoundFormat::UncompressedMono), kStereoPcm = Sound(SoundFormat::UncompressedStereo);

bool IsAdpcm(std::int32_t code) { return code == kAdpcm2 || code == kAdpcm4; }
bool IsUncompressed(std::int32_t code) { return code == kMonoPcm || code == kStereoPcm; }

// The lowest bit rate "CLIÉ Audio" plays in stereo.
constexpr std::uint32_t kClieStereoLeast = 23500;

// ---- Strings ----

std::string ListItem(ResID list, int item) {
    std::string text;
    if (item < 1 || GetIndString(list, static_cast<std::int16_t>(item), text) != noErr) return {};
    return text;
}

std::vector<std::string> WholeList(ResID list) {
    std::vector<std::string> items;
    for (std::int16_t i = 1; i <= CountStrings(list); ++i) items.push_back(ListItem(list, i));
    return items;
}

// The number a text starts with ("1500 kpbs" reads 1500); none for "Best".
std::optional<std::uint32_t> LeadingNumber(const std::string& text) {
    std::uint32_t n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end == text.data()) return std::nullopt;
    return n;
}

int IndexOf(const std::vector<std::string>& items, auto matches) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (matches(items[i])) return static_cast<int>(i);
    return kNone;
}

Popup NotApplicable() { return {{ListItem(kSoundLabels, kNotApplicable)}, 0, false}; }

// ---- Video ----

// Video format popup entries (STR# 515) and the depth each names.
constexpr std::pair<int, VideoDepth> kVideoFormatItems[] = {
    {0, VideoDepth::None}, {2, VideoDepth::CinepakMobile}, {3, VideoDepth::SixteenGrays}};

int VideoDescriptionItem(std::int32_t depth) {
    switch (depth) {
    case Code(VideoDepth::None): return 1;
    case Code(VideoDepth::SixteenGrays): return 2;
    case Code(VideoDepth::CinepakMobile): return 3;
    default: return 0;
    }
}

void DescribeVideo(const EditSettings& s, AudioVideoPanel& panel) {
    panel.videoFormat.items = WholeList(kVideoFormats);
    panel.videoFormat.selected = kNone;
    for (const auto& [index, depth] : kVideoFormatItems)
        if (Code(depth) == s.depth) panel.videoFormat.selected = index;
    panel.videoDescription = ListItem(kVideoDescriptions, VideoDescriptionItem(s.depth));
    if (s.depth == Code(VideoDepth::None)) {
        panel.frameRate = panel.videoBitRate = NotApplicable();
        return;
    }
    // "Best" (0) is the first entry; the others are whole frames per second.
    panel.frameRate.items = WholeList(kFrameRates);
    panel.frameRate.selected = s.frameRate == 0 ? 0 : IndexOf(panel.frameRate.items, [&](const std::string& t) {
        const auto n = LeadingNumber(t);
        return n && IntToFixed(static_cast<std::int32_t>(*n)) == s.frameRate;
    });
    // Only Cinepak has a bit rate to aim at.
    if (s.depth != Code(VideoDepth::CinepakMobile)) {
        panel.videoBitRate = NotApplicable();
        return;
    }
    panel.videoBitRate.items = WholeList(kVideoBitRates);
    panel.videoBitRate.selected = IndexOf(panel.videoBitRate.items, [&](const std::string& t) {
        return LeadingNumber(t) == std::optional<std::uint32_t>(s.videoBitRate);
    });
}

// ---- Sound ----

// The code of each sound format entry: "No Audio", the separator, then the
// device's formats in its order, ADPCM once for both ratios.
std::vector<std::int32_t> SoundEntryCodes(const EditSettings& s) {
    std::vector<std::int32_t> codes{Sound(SoundFormat::None), kNoEntry};
    const std::size_t count = std::min<std::size_t>(s.formatCount, s.formats.size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto code = static_cast<std::int32_t>(s.formats[i]);
        if (code == Sound(SoundFormat::None) || FindSoundFormat(code) == nullptr) continue; // nothing to call it
        if (IsAdpcm(code) && std::ranges::any_of(codes, IsAdpcm)) continue;
        codes.push_back(code);
    }
    return codes;
}

// The entry of the current format. The entry keeps the code the device
// offered, so the other ADPCM ratio, or uncompressed sound in the form this
// device plays, stands on the same entry.
int SoundEntryOf(const std::vector<std::int32_t>& codes, std::int32_t format) {
    const auto at = [&](auto same) {
        const auto it = std::ranges::find_if(codes, same);
        return it == codes.end() ? kNone : static_cast<int>(it - codes.begin());
    };
    const int exact = at([&](std::int32_t c) { return c == format; });
    if (exact != kNone) return exact;
    return at([&](std::int32_t c) {
        return (IsAdpcm(c) && IsAdpcm(format)) || (IsUncompressed(c) && IsUncompressed(format));
    });
}

int SoundDescriptionItem(std::int32_t format) {
    switch (format) {
    case Sound(SoundFormat::None): return 1;
    case kMonoPcm: return 2;
    case kStereoPcm: return 3;
    case kAdpcm2:
    case kAdpcm4: return 4;
    case kClie: return 5;
    case kYamaha: return 6;
    default: return 0;
    }
}

// The rate popup's list for the format and device, the unit its entries
// are written in and the value selected.
struct RateChoice {
    ResID list;
    const char* format;
    std::uint32_t current;
};

std::optional<RateChoice> RatesFor(const EditSettings& s) {
    const bool stereoDevice = s.maxChannels > 1;
    const std::uint32_t hertz = UnsignedFixedIntegerPart(s.sampleRate);
    switch (s.soundFormat) {
    case kMonoPcm: return RateChoice{145, "%.3f kHz", hertz};
    case kStereoPcm: return RateChoice{152, "%.3f kHz", hertz};
    case kAdpcm2: return RateChoice{static_cast<ResID>(stereoDevice ? 153 : 141), "%.3f kHz", hertz};
    case kAdpcm4: return RateChoice{static_cast<ResID>(stereoDevice ? 154 : 142), "%.3f kHz", hertz};
    case kYamaha: return RateChoice{151, "%.3f kHz", 8000};
    case kClie: return RateChoice{static_cast<ResID>(s.channels == 2 ? 138 : 137), "%.3f kbps", s.bitRate};
    default: return std::nullopt;
    }
}

// One entry per number of the list, in thousands ("22.050 kHz").
Popup RatePopup(const RateChoice& rates) {
    Popup popup{{}, kNone, true};
    for (const std::string& number : WholeList(rates.list)) {
        const auto value = LeadingNumber(number).value_or(0);
        char text[32];
        std::snprintf(text, sizeof text, rates.format, value / 1000.0);
        if (value == rates.current && popup.selected == kNone) popup.selected = static_cast<int>(popup.items.size());
        popup.items.emplace_back(text);
    }
    return popup;
}

// Mono always; stereo where the format plays it on this device ("CLIÉ
// Audio" plays it on every device that has it, Yamaha ADPCM never).
Popup ChannelsPopup(const EditSettings& s) {
    Popup popup{{ListItem(kSoundLabels, 1)}, 0, false};
    if (s.soundFormat != kYamaha && (s.maxChannels > 1 || s.soundFormat == kClie))
        popup.items.push_back(ListItem(kSoundLabels, kStereoItem));
    const int count = static_cast<int>(popup.items.size());
    popup.selected = std::clamp(static_cast<int>(s.channels), 1, count) - 1; // as a control's value is held to its range
    popup.enabled = count > 1;
    return popup;
}

void DescribeSound(const EditSettings& s, AudioVideoPanel& panel) {
    const std::vector<std::int32_t> codes = SoundEntryCodes(s);
    for (const std::int32_t code : codes)
        panel.soundFormat.items.push_back(code == kNoEntry ? ListItem(kSoundFormatNames, 2)
                                                           : ListItem(kSoundFormatNames, FindSoundFormat(code)->nameItem));
    panel.soundFormat.selected = SoundEntryOf(codes, s.soundFormat);
    panel.soundDescription = ListItem(kSoundDescriptions, SoundDescriptionItem(s.soundFormat));
    panel.rateLabel = ListItem(kSoundLabels, s.soundFormat == kClie ? kBitRateLabel : kSampleRateLabel);
    if (s.soundFormat == Sound(SoundFormat::None)) {
        panel.channels = panel.sampleRate = panel.ratio = panel.boost = NotApplicable();
        return;
    }
    const auto rates = RatesFor(s);
    panel.sampleRate = rates ? RatePopup(*rates) : NotApplicable();
    panel.ratio = IsAdpcm(s.soundFormat) ? Popup{WholeList(kRatios), s.soundFormat == kAdpcm4 ? 1 : 0, true} : NotApplicable();
    panel.boost.items = WholeList(kBoostSteps);
    panel.boost.selected = std::min<int>(s.boost, static_cast<int>(panel.boost.items.size()) - 1);
    panel.channels = ChannelsPopup(s);
}

// ---- Edits ----

const Popup& PopupOf(const AudioVideoPanel& panel, AudioVideoItem item) {
    switch (item) {
    case AudioVideoItem::VideoFormat: return panel.videoFormat;
    case AudioVideoItem::FrameRate: return panel.frameRate;
    case AudioVideoItem::VideoBitRate: return panel.videoBitRate;
    case AudioVideoItem::SoundFormat: return panel.soundFormat;
    case AudioVideoItem::Channels: return panel.channels;
    case AudioVideoItem::SampleRate: return panel.sampleRate;
    case AudioVideoItem::Ratio: return panel.ratio;
    case AudioVideoItem::Boost: return panel.boost;
    }
    return panel.videoFormat;
}

// A new sound format brings values it plays: ADPCM starts at 8192 Hz
// (unless only the ratio changes), "CLIÉ Audio" at its best bit rate,
// Yamaha ADPCM at the one rate and channel it has. Uncompressed sound takes
// the form the device plays.
void ChooseSoundFormat(EditSettings& s, std::int32_t code) {
    if (code == Sound(SoundFormat::None)) {
        s.soundFormat = code;
    } else if (IsUncompressed(code)) {
        s.soundFormat = s.maxChannels > 1 ? kStereoPcm : kMonoPcm;
    } else if (IsAdpcm(code)) {
        if (IsAdpcm(s.soundFormat)) return;
        s.soundFormat = kAdpcm2;
        s.sampleRate = UIntToUnsignedFixed(8192);
    } else if (code == kClie) {
        s.soundFormat = kClie;
        s.bitRate = 66000;
        s.sampleRate = UIntToUnsignedFixed(44100);
    } else if (code == kYamaha) {
        s.soundFormat = kYamaha;
        s.channels = 1;
        s.sampleRate = UIntToUnsignedFixed(8000);
    }
}

void ChooseChannels(EditSettings& s, int index) {
    s.channels = index == 0 ? 1 : 2;
    if (s.soundFormat == kClie && s.channels == 2 && s.bitRate < kClieStereoLeast) s.bitRate = kClieStereoLeast;
}

// The entry as written, back to a whole number: "22.050 kHz" is 22050,
// the half-thousandth added against the float's rounding.
void ChooseRate(EditSettings& s, const std::string& entry) {
    float number = 0;
    if (std::sscanf(entry.c_str(), "%f", &number) != 1) return;
    const auto value = static_cast<std::uint32_t>((number + 0.0005) * 1000);
    if (s.soundFormat == kClie) s.bitRate = value;
    else s.sampleRate = UIntToUnsignedFixed(value);
}

void ApplyPick(EditSettings& s, AudioVideoItem item, int index, const std::string& entry) {
    switch (item) {
    case AudioVideoItem::VideoFormat:
        for (const auto& [at, depth] : kVideoFormatItems)
            if (at == index) s.depth = Code(depth);
        break;
    case AudioVideoItem::FrameRate:
        if (index == 0) s.frameRate = 0;
        else if (const auto n = LeadingNumber(entry)) s.frameRate = IntToFixed(static_cast<std::int32_t>(*n));
        break;
    case AudioVideoItem::VideoBitRate:
        if (const auto n = LeadingNumber(entry)) s.videoBitRate = static_cast<std::uint16_t>(*n);
        break;
    case AudioVideoItem::SoundFormat: ChooseSoundFormat(s, SoundEntryCodes(s)[static_cast<std::size_t>(index)]); break;
    case AudioVideoItem::Channels: ChooseChannels(s, index); break;
    case AudioVideoItem::SampleRate: ChooseRate(s, entry); break;
    case AudioVideoItem::Ratio: s.soundFormat = index == 0 ? kAdpcm2 : kAdpcm4; break;
    case AudioVideoItem::Boost: s.boost = static_cast<std::uint16_t>(index); break;
    }
}

} // namespace

AudioVideoPanel DescribeAudioVideo(const EditSettings& settings) {
    AudioVideoPanel panel;
    DescribeVideo(settings, panel);
    DescribeSound(settings, panel);
    return panel;
}

bool EditAudioVideo(EditSettings& settings, AudioVideoItem item, int index) {
    // What the user could pick is what the tab shows for these settings.
    const Popup popup = PopupOf(DescribeAudioVideo(settings), item);
    if (!popup.enabled || index < 0 || index >= static_cast<int>(popup.items.size())) return false;
    const std::string& entry = popup.items[static_cast<std::size_t>(index)];
    if (entry == "-") return false;
    ApplyPick(settings, item, index, entry);
    settings.edited = true;
    return true;
}
