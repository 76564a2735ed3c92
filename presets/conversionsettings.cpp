// The conversion settings to and from a settings container.
#include "presets/conversionsettings.h"

#include <algorithm>

namespace {

// Where one value lives: the root's child and its child.
struct ValueAtom {
    QTAtomType parent;
    QTAtomType child;
};

// Reads parent/child (both ID 1) into `value` when it exists. Absent atoms
// answer noErr; data of another size is the atom error.
template <typename T>
OSErr ReadValue(const AtomContainer& c, ValueAtom where, T& value) {
    const QTAtom atom = c.FindPath(0, {where.parent, where.child});
    if (atom == 0) return noErr;
    std::uint8_t bytes[sizeof(T)];
    if (OSErr err = c.CopyAtomDataToPtr(atom, false, bytes)) return err;
    std::uint32_t v = 0;
    for (std::uint8_t b : bytes) v = (v << 8) | b;
    value = static_cast<T>(v);
    return noErr;
}

// The frame size is one 4-byte value: width, then height.
OSErr ReadFrameSize(const AtomContainer& c, ConversionSettings& s) {
    std::uint32_t both = std::uint32_t{s.frameWidth} << 16 | s.frameHeight;
    if (OSErr err = ReadValue(c, {Fcc("size"), Fcc("vide")}, both)) return err;
    s.frameWidth = static_cast<std::uint16_t>(both >> 16);
    s.frameHeight = static_cast<std::uint16_t>(both);
    return noErr;
}

} // namespace

SettingsReading ReadConversionSettings(const AtomContainer& c, ConversionSettings& s, BadValue onBadValue) {
    OSErr first = noErr;
    // One value's answer: a stop ends the reading with it, a skip keeps the
    // first error and goes on.
    auto take = [&](OSErr err) {
        if (err != noErr && first == noErr) first = err;
        return err == noErr || onBadValue == BadValue::Skip;
    };
    const bool complete = take(ReadValue(c, {Fcc("colr"), Fcc("dpth")}, s.depth)) &&
                          take(ReadValue(c, {Fcc("time"), Fcc("fps ")}, s.frameRate)) &&
                          take(ReadValue(c, {Fcc("time"), Fcc("vbtr")}, s.videoBitRate)) &&
                          take(ReadFrameSize(c, s)) && take(ReadValue(c, {Fcc("size"), Fcc("angl")}, s.angle)) &&
                          take(ReadValue(c, {Fcc("soun"), Fcc("ssrt")}, s.sampleRate)) &&
                          take(ReadValue(c, {Fcc("soun"), Fcc("sscc")}, s.channels)) &&
                          take(ReadValue(c, {Fcc("soun"), Fcc("vtsc")}, s.soundFormat));
    if (!complete) return {first, true};
    // Boost and bit rate never stop the reading; the later failure is the
    // answer.
    if (OSErr err = ReadValue(c, {Fcc("soun"), Fcc("boos")}, s.boost)) first = err;
    if (OSErr err = ReadValue(c, {Fcc("soun"), Fcc("bitr")}, s.bitRate)) first = err;
    return {first, false};
}

OSErr WriteConversionSettings(const ConversionSettings& s, AtomContainer& c, bool withAngle) {
    // An insert may move the atoms after it: each value finds its parent
    // again.
    const auto put = [&c](QTAtomType parentType, QTAtomType type, std::uint32_t value, int bytes) -> OSErr {
        QTAtom parent = c.FindChildByID(0, parentType, 1);
        if (parent == 0)
            if (OSErr err = c.InsertChild(0, parentType, 1, 0, {}, &parent)) return err;
        return bytes == 2 ? c.InsertU16(parent, type, static_cast<std::uint16_t>(value)) : c.InsertU32(parent, type, value);
    };
    if (OSErr err = put(Fcc("colr"), Fcc("dpth"), static_cast<std::uint16_t>(s.depth), 2)) return err;
    if (OSErr err = put(Fcc("time"), Fcc("fps "), static_cast<std::uint32_t>(s.frameRate), 4)) return err;
    if (OSErr err = put(Fcc("time"), Fcc("vbtr"), s.videoBitRate, 2)) return err;
    if (OSErr err = put(Fcc("size"), Fcc("vide"), std::uint32_t{s.frameWidth} << 16 | s.frameHeight, 4)) return err;
    if (withAngle)
        if (OSErr err = put(Fcc("size"), Fcc("angl"), static_cast<std::uint16_t>(s.angle), 2)) return err;
    if (OSErr err = put(Fcc("soun"), Fcc("ssrt"), s.sampleRate, 4)) return err;
    if (OSErr err = put(Fcc("soun"), Fcc("sscc"), s.channels, 2)) return err;
    if (OSErr err = put(Fcc("soun"), Fcc("vtsc"), static_cast<std::uint32_t>(s.soundFormat), 4)) return err;
    if (OSErr err = put(Fcc("soun"), Fcc("boos"), s.boost, 2)) return err;
    return put(Fcc("soun"), Fcc("bitr"), s.bitRate, 4);
}

namespace {

constexpr std::uint32_t kAnyRate[] = {4096, 8192, 11025, 16384, 22050, 44100};
constexpr std::uint32_t kMonoUncompressedRates[] = {4096, 8192, 16384};
constexpr std::uint32_t kYamahaRates[] = {8000};
constexpr std::uint32_t kClieBitRates[] = {11750, 16500, 23500, 33000, 47000, 66000};
// The bit rate the other formats keep (unused by them).
constexpr std::uint32_t kUnusedBitRate = 33000;
constexpr std::uint32_t kClieSampleRate = 44100;

constexpr SoundRule kSoundRules[] = {
    {SoundFormat::ClieAudio, kClieBitRates, 33000, true, 0},
    {SoundFormat::Adpcm2to1, kAnyRate, 8192, false, 0},
    {SoundFormat::Adpcm4to1, kAnyRate, 8192, false, 0},
    {SoundFormat::YamahaAdpcm, kYamahaRates, 8000, false, 1},
    {SoundFormat::UncompressedStereo, kAnyRate, 11025, false, 2},
    {SoundFormat::UncompressedMono, kMonoUncompressedRates, 8192, false, 1},
};

bool Plays(const SoundRule& rule, std::uint32_t rate) {
    return std::find(rule.rates.begin(), rule.rates.end(), rate) != rule.rates.end();
}

} // namespace

const SoundRule* SoundRuleFor(std::int32_t soundFormat) {
    if (soundFormat == Code(SoundFormat::None)) return nullptr;
    for (const SoundRule& rule : kSoundRules)
        if (Code(rule.format) == soundFormat) return &rule;
    return &kSoundRules[std::size(kSoundRules) - 1];
}

std::string RateList(const SoundRule& rule) {
    std::string text;
    for (std::size_t i = 0; i < rule.rates.size(); ++i) {
        if (i > 0) text += i + 1 == rule.rates.size() ? " or " : ", ";
        text += std::to_string(rule.rates[i]);
    }
    return text;
}

std::vector<SoundChange> ApplySoundRules(ConversionSettings& s) {
    std::vector<SoundChange> changes;
    const SoundRule* rule = SoundRuleFor(s.soundFormat);
    if (rule == nullptr) return changes;
    const std::string name = SoundFormatName(Code(rule->format));
    if (Code(rule->format) != s.soundFormat) {
        changes.push_back({SoundChange::Field::Format, static_cast<std::uint32_t>(s.soundFormat),
                           static_cast<std::uint32_t>(Code(rule->format)),
                           "sound format " + std::to_string(s.soundFormat) + " is unknown: using " + name});
        s.soundFormat = Code(rule->format);
    }
    if (rule->channels != 0 && s.channels != rule->channels) {
        changes.push_back({SoundChange::Field::Channels, s.channels, rule->channels,
                           name + " plays " + (rule->channels == 1 ? "mono" : "stereo") + " sound only"});
        s.channels = rule->channels;
    }
    if (rule->bitRates) {
        s.sampleRate = UIntToUnsignedFixed(kClieSampleRate);
        if (!Plays(*rule, s.bitRate)) {
            changes.push_back({SoundChange::Field::Rate, s.bitRate, rule->defaultRate,
                               name + " plays at " + RateList(*rule) + " bit/s: using " + std::to_string(rule->defaultRate)});
            s.bitRate = rule->defaultRate;
        }
        return changes;
    }
    s.bitRate = kUnusedBitRate;
    // A rate it plays keeps its whole hertz (the fraction cleared).
    const std::uint32_t hertz = UnsignedFixedIntegerPart(s.sampleRate);
    if (Plays(*rule, hertz)) {
        s.sampleRate = UIntToUnsignedFixed(hertz);
    } else {
        changes.push_back({SoundChange::Field::Rate, hertz, rule->defaultRate,
                           name + " plays at " + RateList(*rule) + " Hz: using " + std::to_string(rule->defaultRate)});
        s.sampleRate = UIntToUnsignedFixed(rule->defaultRate);
    }
    return changes;
}
