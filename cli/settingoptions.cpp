// Settings options shared by `convert` and `presets save`: one table of
// options, and their values laid over a settings container under the sound
// formats' rules.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iterator>

#include "cli/commands.h"
#include "engine/app/layouteditor.h"
#include "platform/media.h"
#include "presets/presets.h"

namespace {

std::vector<std::string> VideoNames() {
    std::vector<std::string> names;
    for (const VideoFormatEntry& e : kVideoFormats) names.emplace_back(e.commandLine);
    return names;
}

std::vector<std::string> SoundNames() {
    std::vector<std::string> names;
    for (const SoundFormatEntry& e : kSoundFormats)
        if (std::find(names.begin(), names.end(), e.commandLine) == names.end()) names.emplace_back(e.commandLine);
    return names;
}

// The rates every sound format plays, for --help.
std::string RatesHelp() {
    std::string text = "sample rate in Hz, or for clie the bit rate in bit/s:";
    std::vector<std::string> seen;
    for (const SoundFormatEntry& e : kSoundFormats) {
        const SoundRule* rule = SoundRuleFor(Code(e.format));
        if (rule == nullptr) continue;
        std::string line = std::string(e.commandLine) + (rule->channels == 2 ? " (stereo)" : "") + " " + RateList(*rule);
        if (std::find(seen.begin(), seen.end(), line) != seen.end()) continue;
        seen.push_back(line);
        text += "\n  " + line;
    }
    return text;
}

// One name, two codes: uncompressed sound is stereo when two channels are
// asked for, or when the device plays stereo and nothing else is said.
std::int32_t SoundCode(const std::string& name, const SettingOptions& given, const EditSettings& s) {
    if (name == "uncompressed") {
        const bool stereo = given.channels ? *given.channels == 2 : s.maxChannels >= 2;
        return Code(stereo ? SoundFormat::UncompressedStereo : SoundFormat::UncompressedMono);
    }
    for (const SoundFormatEntry& e : kSoundFormats)
        if (e.commandLine == name) return Code(e.format);
    return Code(SoundFormat::None);
}

// An explicit value the format does not play is refused with what it
// plays; a value the rules change that the user did not give is told.
bool CheckSoundRules(const SettingOptions& given, EditSettings& s, std::vector<std::string>& notes, std::string& error) {
    for (const SoundChange& change : ApplySoundRules(s)) {
        const bool asked = (change.field == SoundChange::Field::Rate && given.rate) ||
                           (change.field == SoundChange::Field::Channels && given.channels);
        if (asked) {
            const std::size_t colon = change.why.rfind(": using");
            error = change.why.substr(0, colon);
            return false;
        }
        notes.push_back(change.why);
    }
    return true;
}

// "#rrggbb" as the layout's 16-bit colour components.
bool ParseColour(const std::string& text, LayoutColour& out) {
    unsigned r = 0, g = 0, b = 0;
    char extra = 0;
    if (text.size() != 7 || std::sscanf(text.c_str(), "#%2x%2x%2x%c", &r, &g, &b, &extra) != 3) return false;
    const auto wide = [](unsigned c) { return static_cast<std::uint16_t>(c << 8 | c); };
    out = {wide(r), wide(g), wide(b)};
    return true;
}

// The layout options, applied by the editor's own rules over the preset's
// layout. A rectangle the rules move is told; what they refuse is an error.
bool ApplyLayoutOptions(const SettingOptions& o, const AtomContainer& original, EditSettings& s, LayoutModel& layout,
                        std::vector<std::string>& notes, std::string& error) {
    PresetMenus menus;
    menus.Build(s);
    if (LoadLayout(original, s, layout) != noErr) return error = "the preset's layout cannot be read", false;
    if (o.layout) {
        const SizePopup offered = LayoutSizePopup(layout, s);
        std::string entry;
        unsigned w = 0, h = 0;
        if (std::sscanf(o.layout->c_str(), "%ux%u", &w, &h) == 2) entry = std::to_string(w) + " x " + std::to_string(h);
        if (std::find(offered.items.begin(), offered.items.end(), entry) == offered.items.end()) {
            std::string list;
            for (const std::string& item : offered.items)
                if (item.find(" x ") != std::string::npos && item.find('(') == std::string::npos) list += (list.empty() ? "" : ", ") + item;
            return error = "--layout for this device is one of " + list, false;
        }
        if (!ChooseLayoutSize(layout, s, menus, entry)) return error = "--layout " + *o.layout + " cannot be used", false;
    }
    if (o.controls) {
        if (*o.controls != "on" && *o.controls != "off") return error = "--controls is on or off", false;
        SetShowControls(layout, s, *o.controls == "on");
    }
    if (o.background) {
        LayoutColour colour;
        if (ParseColour(*o.background, colour)) {
            SetBackgroundColour(layout, s, menus, colour);
        } else {
            Movie picture;
            if (Movie::Open(*o.background, picture) != noErr || picture.Box().Empty())
                return error = "--background is #rrggbb or a picture file (" + *o.background + " is neither)", false;
            if (!LayoutItemsEnabling(layout, s).chooseBackground)
                return error = "a full-screen movie has no background picture", false;
            SetBackgroundPicture(layout, s, menus, std::filesystem::absolute(*o.background).string(), picture.Box().Width(),
                                 picture.Box().Height());
        }
    }
    if (o.movieRect) {
        int x = 0, y = 0, w = 0, h = 0;
        char extra = 0;
        if (std::sscanf(o.movieRect->c_str(), "%d,%d,%d,%d%c", &x, &y, &w, &h, &extra) != 4 || w <= 0 || h <= 0)
            return error = "--movie-rect is X,Y,WIDTH,HEIGHT in the layout's pixels", false;
        if (layout.movie.Empty()) return error = "--movie-rect needs a movie with pictures", false;
        // As in the editor: resized from its corner first, then moved, so
        // that the size asked for survives the move when it fits.
        PlaceObject(layout, s, menus, LayoutObject::Movie, MakeRect(layout.movie.left, layout.movie.top, w, h));
        PlaceObject(layout, s, menus, LayoutObject::Movie, MakeRect(x, y, layout.movie.Width(), layout.movie.Height()));
        const Rect& m = layout.movie;
        if (m != MakeRect(x, y, w, h)) {
            const Rect area = ContentArea(layout, s);
            notes.push_back("the movie lies inside " + std::to_string(area.left) + "," + std::to_string(area.top) + " to " +
                            std::to_string(area.right) + "," + std::to_string(area.bottom) +
                            " on a multiple of 4, at least " + std::to_string(MinimumMovie(layout).Width()) + " x " +
                            std::to_string(MinimumMovie(layout).Height()) + ": using " + std::to_string(m.left) + "," +
                            std::to_string(m.top) + "," + std::to_string(m.Width()) + "," + std::to_string(m.Height()));
        }
    }
    return true;
}

} // namespace

void AddSettingOptions(CLI::App& command, SettingOptions& o) {
    const std::string group = "Settings (over the preset)";
    command.add_option("--video", o.video, "video format: color (\"Cinepak Mobile\"), grays (\"16 Grays\"), none (sound only)")
        ->transform(CLI::IsMember(VideoNames(), CLI::ignore_case))
        ->group(group);
    command.add_option("--fps", o.fps, "frames per second, 1 to 60, or best (every source frame)")
        ->check(CLI::Range(1, 60) | CLI::IsMember({"best"}))
        ->group(group);
    command.add_option("--size", o.size, "movie size WIDTHxHEIGHT in pixels, 16 to 480 each")->group(group);
    command.add_option("--kbps", o.kbps, "video bit rate of \"Cinepak Mobile\" in kbit/s")->check(CLI::Range(16, 4000))->group(group);
    command.add_option("--sound", o.sound, "sound format: none, adpcm (2:1), adpcm4 (4:1), uncompressed, yamaha, clie")
        ->transform(CLI::IsMember(SoundNames(), CLI::ignore_case))
        ->group(group);
    command.add_option("--rate", o.rate, RatesHelp())->group(group);
    command.add_option("--channels", o.channels, "1 (mono) or 2 (stereo)")->check(CLI::Range(1, 2))->group(group);
    command.add_option("--boost", o.boost, "sound boost: 0 none, 1 low, 2 medium, 3 high")->check(CLI::Range(0, 3))->group(group);
    const std::string layout = "Screen layout (over the preset's)";
    command.add_option("--layout", o.layout, "the screen's size WIDTHxHEIGHT, one the device offers (as 320x480)")->group(layout);
    command.add_option("--movie-rect", o.movieRect, "where the movie plays: X,Y,WIDTH,HEIGHT in the screen's pixels")->group(layout);
    command.add_option("--background", o.background, "the screen behind the movie: #rrggbb or a picture file")->group(layout);
    command.add_option("--controls", o.controls, "the player's controls: on or off")->group(layout);
}

bool ApplySettingOptions(const SettingOptions& o, AtomContainer& settings, std::vector<std::string>& notes, std::string& error) {
    const bool layout = o.layout || o.movieRect || o.background || o.controls;
    const bool any = o.video || o.fps || o.size || o.kbps || o.sound || o.rate || o.channels || o.boost || layout;
    if (!any) return true;
    EditSettings s;
    UnpackSettings(s, settings);
    if (o.video) {
        for (const VideoFormatEntry& e : kVideoFormats)
            if (e.commandLine == *o.video) s.depth = Code(e.depth);
    }
    if (o.fps) s.frameRate = *o.fps == "best" ? 0 : IntToFixed(std::stoi(*o.fps));
    if (o.size) {
        unsigned w = 0, h = 0;
        char x = 0, extra = 0;
        if (std::sscanf(o.size->c_str(), "%u%c%u%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X') || w < 16 || w > 480 ||
            h < 16 || h > 480)
            return error = "--size is WIDTHxHEIGHT, 16 to 480 each (as 160x120)", false;
        s.frameWidth = static_cast<std::uint16_t>(w), s.frameHeight = static_cast<std::uint16_t>(h);
    }
    if (o.kbps) s.videoBitRate = static_cast<std::uint16_t>(*o.kbps);
    if (o.sound) s.soundFormat = SoundCode(*o.sound, o, s);
    if (o.channels) {
        s.channels = static_cast<std::uint16_t>(*o.channels);
        // Uncompressed sound's channels are its code.
        if (!o.sound && (s.soundFormat == Code(SoundFormat::UncompressedMono) || s.soundFormat == Code(SoundFormat::UncompressedStereo)))
            s.soundFormat = SoundCode("uncompressed", o, s);
    }
    if (o.boost) s.boost = static_cast<std::uint16_t>(*o.boost);
    if (o.rate) {
        if (s.soundFormat == Code(SoundFormat::ClieAudio)) s.bitRate = *o.rate;
        else s.sampleRate = UIntToUnsignedFixed(*o.rate);
    }
    if ((o.rate || o.channels || o.boost) && s.soundFormat == Code(SoundFormat::None))
        return error = "--rate, --channels and --boost need a sound format (--sound)", false;
    if (!CheckSoundRules(o, s, notes, error)) return false;
    // The preset's own layout stays with the settings; the layout options
    // change it by the editor's rules.
    LayoutModel screen;
    if (layout ? !ApplyLayoutOptions(o, settings, s, screen, notes, error) : LoadLayout(settings, s, screen) != noErr) {
        if (layout) return false;
        screen = LayoutModel{};
    }
    s.customised = true;
    AtomContainer packed;
    if (OSErr err = PackSettings(s, s.name, packed)) return error = "the settings could not be kept (error " + std::to_string(err) + ")", false;
    if (screen.custom)
        if (OSErr err = StoreLayout(screen, s, packed)) return error = "the layout could not be kept (error " + std::to_string(err) + ")", false;
    settings = std::move(packed);
    return true;
}
