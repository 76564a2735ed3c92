// vantro presets: the makers and devices as the menus list them, a preset's
// values in words, and the user's own presets.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>

#include "cli/commands.h"
#include "engine/app/presetmenus.h"
#include "moviedb/formats.h"
#include "platform/byteblock.h"
#include "platform/resources.h"
#include "platform/textorder.h"
#include "presets/presetjson.h"
#include "presets/presetnames.h"
#include "presets/presets.h"

namespace {

std::vector<std::string> Names(std::string_view category) {
    std::vector<std::string> names;
    if (auto list = ListPresets(category)) names = list->Names();
    return names;
}

// The makers in the window's menu order (Generic and Streaming last).
std::vector<std::string> MakerMenu() {
    PresetMenus menus;
    EditSettings settings;
    menus.Build(settings);
    std::vector<std::string> makers;
    const std::vector<MenuItem>& items = menus.MakerItems();
    for (std::size_t i = static_cast<std::size_t>(menus.FirstMakerIndex()); i < items.size(); ++i)
        if (!items[i].separator) makers.push_back(items[i].text);
    return makers;
}

std::string Item(ResID list, std::int16_t item) {
    std::string text;
    if (GetIndString(list, item, text) != noErr) return "item " + std::to_string(item);
    return text;
}

std::string VideoWords(const EditSettings& s) {
    const VideoFormatEntry* video = FindVideoFormat(s.depth);
    std::string text = video != nullptr ? std::string(video->shown) : "none";
    if (s.depth == Code(VideoDepth::None)) return text;
    char part[96];
    if (s.frameRate == 0) text += ", every source frame";
    else std::snprintf(part, sizeof part, ", %g frames/s", s.frameRate / 65536.0), text += part;
    if (s.depth == Code(VideoDepth::CinepakMobile)) std::snprintf(part, sizeof part, ", %u kbit/s", s.videoBitRate), text += part;
    std::snprintf(part, sizeof part, ", %u x %u", s.frameWidth, s.frameHeight);
    text += part;
    if (s.angle != 0) text += s.angle > 0 ? ", turned clockwise" : ", turned counter-clockwise";
    return text;
}

std::string SoundWords(const EditSettings& s) {
    std::string text = SoundFormatName(s.soundFormat);
    const char* channels = s.channels == 2 ? "stereo" : "mono";
    char part[64];
    if (s.soundFormat == Code(SoundFormat::ClieAudio)) std::snprintf(part, sizeof part, ", %u bit/s, %s", s.bitRate, channels), text += part;
    else if (s.soundFormat != 0) std::snprintf(part, sizeof part, ", %u Hz, %s", s.sampleRate >> 16, channels), text += part;
    return text;
}

void Show(const AtomContainer& preset) {
    EditSettings s;
    UnpackSettings(s, preset);
    std::printf("%s\n", PresetMenuText(preset).c_str());
    const std::string maker = ManufacturerNameForId(s.maker);
    if (!maker.empty()) std::printf("  Maker:        %s\n", maker.c_str());
    std::printf("  Video:        %s", VideoWords(s).c_str());
    std::printf("\n  Screen:       %u x %u%s\n", s.layoutWidth, s.layoutHeight, s.controlsUpright ? ", controls upright" : "");
    std::printf("  Sound:        %s", SoundWords(s).c_str());
    if (s.soundFormat != 0) std::printf(", boost %s", Item(147, static_cast<std::int16_t>(s.boost + 1)).c_str());
    std::printf("\n  Plays:        ");
    if (s.formatCount == 0) std::printf("%s", Item(144, 1).c_str());
    for (std::uint16_t i = 0; i < s.formatCount; ++i)
        std::printf("%s%s", i ? ", " : "", SoundFormatName(static_cast<std::int32_t>(s.formats[i])).c_str());
    std::printf("%s\n", s.maxChannels == 2 ? " (stereo)" : " (mono)");
    if (s.osVersion != 0x04000000) std::printf("  Palm OS:      %u.%u or later\n", s.osVersion >> 24, (s.osVersion >> 20) & 0xF);
}

} // namespace


std::string DescribeSettingsLine(const AtomContainer& settings) {
    EditSettings s;
    UnpackSettings(s, settings);
    return "\"" + s.name + "\"" + (s.customised ? " (customised)" : "") + ": " + VideoWords(s) + "; " + SoundWords(s);
}

bool LookUpPreset(const std::string& name, AtomContainer& preset, std::string& error) {
    if (FindPreset(name, false, &preset) == noErr || FindPreset(name, true, &preset) == noErr) return true;
    error = "no preset is called \"" + name + "\"";
    const std::vector<std::string> close = SuggestPresetNames(name);
    for (std::size_t i = 0; i < close.size(); ++i) error += (i == 0 ? "; did you mean \"" : "\", \"") + close[i];
    error += close.empty() ? " (see: vantro presets)" : "\"?";
    return false;
}

void AddPresetsCommands(CLI::App& presets, PresetsOptions& o) {
    presets.add_option("maker", o.maker, "list only this maker's devices")->type_name("MAKER");
    CLI::App* show = presets.add_subcommand("show", "a preset's settings in words");
    show->add_option("name", o.name, "the preset, as the listing shows it")->required();
    CLI::App* save = presets.add_subcommand("save", "keep the current settings (or --from PRESET) with the settings given as your own preset");
    save->add_option("name", o.name, "its name, up to 63 characters")->required();
    save->add_option("--from", o.from, "start from this preset")->type_name("PRESET");
    AddSettingOptions(*save, o.settings);
    CLI::App* rename = presets.add_subcommand("rename", "rename one of your presets");
    rename->add_option("old", o.name)->required();
    rename->add_option("new", o.newName)->required();
    CLI::App* remove = presets.add_subcommand("delete", "delete one of your presets");
    remove->add_option("name", o.name)->required();
    CLI::App* use = presets.add_subcommand("use", "make a preset the settings of every later run without --preset");
    use->add_option("name", o.name)->required();
    CLI::App* exported = presets.add_subcommand("export", "write one of your presets as a JSON file");
    exported->add_option("name", o.name)->required();
    exported->add_option("file", o.file, "the new file (never overwritten)")->required();
    CLI::App* imported = presets.add_subcommand("import", "add a preset from a JSON file");
    imported->add_option("file", o.file)->required()->check(CLI::ExistingFile);
}

namespace {

int List(const std::string& maker) {
    if (maker.empty()) {
        const std::vector<std::string> user = Names("custom");
        if (!user.empty()) std::printf("Custom\n");
        for (const std::string& name : user) {
            AtomContainer preset;
            if (FindPreset(name, true, &preset) == noErr) std::printf("    %s\n", PresetMenuText(preset).c_str());
        }
    }
    bool any = false;
    for (const std::string& m : MakerMenu()) {
        if (!maker.empty() && !EqualText(m, maker)) continue;
        any = true;
        std::printf("%s\n", m.c_str());
        for (const std::string& device : Names(m)) std::printf("    %s\n", device.c_str());
    }
    if (any) return 0;
    std::fprintf(stderr, "vantro: no maker is called \"%s\"\n", maker.c_str());
    return kExitUsage;
}

// What a refused change of the user's presets says.
int Refused(OSErr err, const std::string& name) {
    if (err == cannotFindAtomErr) std::fprintf(stderr, "vantro: you have no preset called \"%s\"\n", name.c_str());
    else if (err == dupFNErr) std::fprintf(stderr, "vantro: a preset called \"%s\" exists already\n", name.c_str());
    else if (err == paramErr) std::fprintf(stderr, "vantro: \"%s\" is not a name for a preset (it needs a letter)\n", name.c_str());
    else std::fprintf(stderr, "vantro: the preferences could not be written (error %d)\n", static_cast<int>(err));
    return err == paramErr || err == dupFNErr ? kExitUsage : kExitFailed;
}

int Save(const Application& app, const PresetsOptions& o) {
    AtomContainer settings;
    std::string error;
    std::vector<std::string> notes;
    if (o.from ? !LookUpPreset(*o.from, settings, error) : app.settings.CopyTo(settings) != noErr) {
        std::fprintf(stderr, "vantro: %s\n", error.empty() ? "out of memory" : error.c_str());
        return kExitUsage;
    }
    if (!ApplySettingOptions(o.settings, settings, notes, error)) {
        std::fprintf(stderr, "vantro: %s\n", error.c_str());
        return kExitUsage;
    }
    for (const std::string& note : notes) std::fprintf(stderr, "vantro: %s\n", note.c_str());
    EditSettings s;
    UnpackSettings(s, settings);
    // Saved from a preset: it remembers which (shown as "name (based on)").
    if (s.basedOn.empty()) s.basedOn = s.name;
    s.customised = false;
    AtomContainer preset;
    if (OSErr err = PackSettings(s, o.name, preset)) return Refused(err, o.name);
    if (OSErr err = AddUserPreset(&preset)) return Refused(err, o.name);
    std::printf("Saved \"%s\".\n", PresetMenuText(preset).c_str());
    return 0;
}

int Use(Application& app, const std::string& name) {
    AtomContainer preset;
    std::string error;
    if (!LookUpPreset(name, preset, error)) {
        std::fprintf(stderr, "vantro: %s\n", error.c_str());
        return kExitUsage;
    }
    app.settings = std::move(preset);
    if (OSErr err = SaveApplicationSettings(app)) return Refused(err, name);
    std::printf("Runs without --preset now use %s.\n", DescribeSettingsLine(app.settings).c_str());
    return 0;
}

int Export(const PresetsOptions& o) {
    AtomContainer preset;
    if (OSErr err = FindPreset(o.name, true, &preset)) return Refused(err, o.name);
    std::string json;
    if (OSErr err = ExportPresetJson(preset, json)) return Refused(err, o.name);
    File out;
    if (OSErr err = File::CreateNew(o.file, out)) {
        std::fprintf(stderr, "vantro: %s: %s\n", o.file.c_str(), err == dupFNErr ? "exists already (never overwritten)" : "cannot be made");
        return kExitFailed;
    }
    if (out.WriteAt(0, std::span(reinterpret_cast<const std::uint8_t*>(json.data()), json.size())) != noErr || out.Close() != noErr) {
        std::fprintf(stderr, "vantro: %s: could not be written\n", o.file.c_str());
        (void)DeleteFile(o.file); // ours, and incomplete
        return kExitFailed;
    }
    std::printf("Wrote \"%s\" to %s.\n", o.name.c_str(), o.file.c_str());
    return 0;
}

int Import(const PresetsOptions& o) {
    ByteBlock bytes;
    if (OSErr err = ReadWholeFile(o.file, bytes)) {
        std::fprintf(stderr, "vantro: %s: cannot be read (error %d)\n", o.file.c_str(), static_cast<int>(err));
        return kExitFailed;
    }
    AtomContainer preset;
    std::string problem;
    if (ImportPresetJson(std::string_view(reinterpret_cast<const char*>(bytes.Data()), bytes.Size()), preset, problem) != noErr) {
        std::fprintf(stderr, "vantro: %s: %s\n", o.file.c_str(), problem.c_str());
        return kExitUsage;
    }
    EditSettings s;
    UnpackSettings(s, preset);
    if (OSErr err = AddUserPreset(&preset)) return Refused(err, s.name);
    std::printf("Added \"%s\".\n", PresetMenuText(preset).c_str());
    return 0;
}

} // namespace

int RunPresets(Application& app, const CLI::App& presets, const PresetsOptions& o) {
    auto chosen = [&](const char* name) { return presets.get_subcommand(name)->parsed(); };
    if (chosen("show")) {
        AtomContainer preset;
        std::string error;
        if (!LookUpPreset(o.name, preset, error)) {
            std::fprintf(stderr, "vantro: %s\n", error.c_str());
            return kExitUsage;
        }
        Show(preset);
        return 0;
    }
    if (chosen("save")) return Save(app, o);
    if (chosen("rename"))
        if (OSErr err = RenameUserPreset(o.name, o.newName)) return Refused(err, err == cannotFindAtomErr ? o.name : o.newName);
    if (chosen("delete"))
        if (OSErr err = DeleteUserPreset(o.name)) return Refused(err, o.name);
    if (chosen("rename") || chosen("delete")) return 0;
    if (chosen("use")) return Use(app, o.name);
    if (chosen("export")) return Export(o);
    if (chosen("import")) return Import(o);
    return List(o.maker);
}
