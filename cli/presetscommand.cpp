// vantro presets: the makers and devices as the menus list them, a preset's
// values in words, and the user's own presets.
#include <algorithm>
#include <cstdio>

#include "cli/commands.h"
#include "moviedb/formats.h"
#include "platform/resources.h"
#include "platform/textorder.h"
#include "presets/presets.h"

namespace {

std::vector<std::string> Names(std::string_view category) {
    std::vector<std::string> names;
    if (auto list = ListPresets(category)) names = list->Names();
    return names;
}

// The makers in the menu's order: the rest first, then "Generic" and
// "Streaming".
std::vector<std::string> MakerMenu() {
    std::vector<std::string> first, generic, streaming;
    for (const std::string& maker : Names("manufac")) {
        if (ManufacturerIdForName(maker) == 0) generic.push_back(maker);
        else if (maker == "Streaming") streaming.push_back(maker);
        else first.push_back(maker);
    }
    first.insert(first.end(), generic.begin(), generic.end());
    first.insert(first.end(), streaming.begin(), streaming.end());
    return first;
}

std::string Item(ResID list, std::int16_t item) {
    std::string text;
    if (GetIndString(list, item, text) != noErr) return "item " + std::to_string(item);
    return text;
}


void Show(const AtomContainer& preset) {
    EditSettings s;
    UnpackSettings(s, preset);
    std::printf("%s\n", PresetMenuText(preset).c_str());
    const std::string maker = ManufacturerNameForId(s.maker);
    if (!maker.empty()) std::printf("  Maker:        %s\n", maker.c_str());
    const VideoFormatEntry* video = FindVideoFormat(s.depth);
    std::printf("  Video:        %s", video != nullptr ? std::string(video->shown).c_str() : "none");
    if (s.depth != Code(VideoDepth::None)) {
        if (s.frameRate == 0) std::printf(", every source frame");
        else std::printf(", %g frames/s", s.frameRate / 65536.0);
        if (s.depth == Code(VideoDepth::CinepakMobile)) std::printf(", %u kbit/s", s.videoBitRate);
        std::printf(", %u x %u", s.frameWidth, s.frameHeight);
        if (s.angle != 0) std::printf(", turned %s", s.angle > 0 ? "clockwise" : "counter-clockwise");
    }
    std::printf("\n  Screen:       %u x %u%s\n", s.layoutWidth, s.layoutHeight, s.controlsUpright ? ", controls upright" : "");
    std::printf("  Sound:        %s", SoundFormatName(static_cast<std::int32_t>(s.soundFormat)).c_str());
    if (s.soundFormat == Code(SoundFormat::ClieAudio)) std::printf(", %u bit/s, %s", s.bitRate, s.channels == 2 ? "stereo" : "mono");
    else if (s.soundFormat != 0) std::printf(", %u Hz, %s", s.sampleRate >> 16, s.channels == 2 ? "stereo" : "mono");
    if (s.soundFormat != 0) std::printf(", boost %s", Item(147, static_cast<std::int16_t>(s.boost + 1)).c_str());
    std::printf("\n  Plays:        ");
    if (s.formatCount == 0) std::printf("%s", Item(144, 1).c_str());
    for (std::uint16_t i = 0; i < s.formatCount; ++i)
        std::printf("%s%s", i ? ", " : "", SoundFormatName(static_cast<std::int32_t>(s.formats[i])).c_str());
    std::printf("%s\n", s.maxChannels == 2 ? " (stereo)" : " (mono)");
    if (s.osVersion != 0x04000000) std::printf("  Palm OS:      %u.%u or later\n", s.osVersion >> 24, (s.osVersion >> 20) & 0xF);
}

void PrintHelp() {
    std::printf("usage: vantro presets [MAKER]              the makers and their devices\n"
                "       vantro presets show NAME            a preset's settings\n"
                "       vantro presets save NAME [--from PRESET] [settings]\n"
                "       vantro presets rename OLD NEW\n"
                "       vantro presets delete NAME\n\n"
                "save stores your own preset from the current settings (or PRESET) with the\n"
                "settings given:\n%s",
                kSettingOptionsHelp);
}

} // namespace

int PresetsCommand(Application& app, const Arguments& given) {
    Arguments args = given;
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        PrintHelp();
        return 0;
    }
    if (args.empty() || (args[0] != "show" && args[0] != "save" && args[0] != "rename" && args[0] != "delete")) {
        const std::vector<std::string> user = Names("custom");
        if (args.empty() && !user.empty()) {
            std::printf("Custom\n");
            for (const std::string& name : user) {
                AtomContainer preset;
                if (FindPreset(name, true, &preset) == noErr) std::printf("    %s\n", PresetMenuText(preset).c_str());
            }
        }
        bool any = false;
        for (const std::string& maker : MakerMenu()) {
            if (!args.empty() && !EqualText(maker, args[0])) continue;
            any = true;
            std::printf("%s\n", maker.c_str());
            for (const std::string& device : Names(maker)) std::printf("    %s\n", device.c_str());
        }
        if (!any) {
            std::fprintf(stderr, "vantro: no maker is called \"%s\"\n", args[0].c_str());
            return 2;
        }
        return 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    if (command == "show") {
        if (args.size() != 1) return PrintHelp(), 2;
        AtomContainer preset;
        if (FindPreset(args[0], false, &preset) != noErr && FindPreset(args[0], true, &preset) != noErr) {
            std::fprintf(stderr, "vantro: no preset is called \"%s\"\n", args[0].c_str());
            return 1;
        }
        Show(preset);
        return 0;
    }
    if (command == "rename" || command == "delete") {
        if (args.size() != (command == "rename" ? 2u : 1u)) return PrintHelp(), 2;
        const OSErr err = command == "rename" ? RenameUserPreset(args[0], args[1]) : DeleteUserPreset(args[0]);
        if (err == cannotFindAtomErr) std::fprintf(stderr, "vantro: you have no preset called \"%s\"\n", args[0].c_str());
        else if (err) std::fprintf(stderr, "vantro: the preferences could not be written (error %d)\n", static_cast<int>(err));
        return err ? 1 : 0;
    }
    // save NAME [--from PRESET] [settings]
    if (args.empty() || args[0].rfind("--", 0) == 0) return PrintHelp(), 2;
    const std::string name = args[0];
    args.erase(args.begin());
    if (name.size() > 63) {
        std::fprintf(stderr, "vantro: a preset's name has at most 63 characters\n");
        return 2;
    }
    AtomContainer settings;
    if (app.settings.CopyTo(settings) != noErr) return 1;
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--from") {
            if (FindPreset(args[i + 1], false, &settings) != noErr && FindPreset(args[i + 1], true, &settings) != noErr) {
                std::fprintf(stderr, "vantro: no preset is called \"%s\"\n", args[i + 1].c_str());
                return 2;
            }
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            break;
        }
    std::string error;
    if (!ApplySettingOptions(args, settings, error) || !args.empty()) {
        std::fprintf(stderr, "vantro: %s\n", error.empty() ? ("unknown option " + args[0]).c_str() : error.c_str());
        return 2;
    }
    EditSettings s;
    UnpackSettings(s, settings);
    AtomContainer existing;
    if (FindPreset(name, true, &existing) == noErr) {
        std::fprintf(stderr, "vantro: you already have a preset called \"%s\"\n", name.c_str());
        return 1;
    }
    // Saved from a preset: it remembers which (shown as "name (based on)").
    if (s.basedOn.empty()) s.basedOn = s.name;
    s.customised = false;
    AtomContainer preset;
    if (PackSettings(s, name, preset) != noErr || AddUserPreset(&preset) != noErr) {
        std::fprintf(stderr, "vantro: the preset could not be saved\n");
        return 1;
    }
    std::printf("Saved \"%s\".\n", PresetMenuText(preset).c_str());
    return 0;
}
