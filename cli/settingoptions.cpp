// Settings options shared by `convert` and `presets save`: one table of
// options, and their values laid over a settings container under the sound
// formats' rules.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iterator>

#include "cli/commands.h"
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
}

bool ApplySettingOptions(const SettingOptions& o, AtomContainer& settings, std::vector<std::string>& notes, std::string& error) {
    const bool any = o.video || o.fps || o.size || o.kbps || o.sound || o.rate || o.channels || o.boost;
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
    s.customised = true;
    AtomContainer packed;
    if (OSErr err = PackSettings(s, s.name, packed)) return error = "the settings could not be kept (error " + std::to_string(err) + ")", false;
    settings = std::move(packed);
    return true;
}
