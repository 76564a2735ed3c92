// The commands of `vantro`. Each declares its options into the command-line
// parser and then runs with what was parsed, answering the process's exit
// status: 0 success, 1 a file failed, 2 wrong usage (or nothing could
// start), 128 + the signal's number when a signal cancelled the run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/app/startup.h"
#include "engine/batchrunner.h"

namespace CLI {
class App;
}

inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// ---- Settings over a preset ----

struct SettingOptions {
    std::optional<std::string> video, fps, size, sound;
    std::optional<int> kbps, channels, boost;
    std::optional<std::uint32_t> rate;
    // The screen layout, as the window's Layout tab edits it.
    std::optional<std::string> layout, movieRect, background, controls;
};
void AddSettingOptions(CLI::App& command, SettingOptions& options);
// Lays the given settings over the container. Values the sound format's
// rules change that the user did not give are told in `notes`; a given value
// the format does not play is refused (false, with what it plays in
// `error`).
bool ApplySettingOptions(const SettingOptions& options, AtomContainer& settings, std::vector<std::string>& notes,
                         std::string& error);

// The preset of that name, device or user (a user preset also by the text
// its menu shows); otherwise a message with the closest names.
bool LookUpPreset(const std::string& name, AtomContainer& preset, std::string& error);

// One line on what settings say: the preset's name, "(customised)", the
// video and the sound.
std::string DescribeSettingsLine(const AtomContainer& settings);

// ---- Commands ----

struct ConvertOptions {
    std::vector<std::string> files;
    std::optional<std::string> preset, out, to, name;
    SettingOptions settings;
    bool recursive = false, skipExisting = false, dryRun = false, json = false, quiet = false, verbose = false;
    int jobs = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
};
void AddConvertOptions(CLI::App& command, ConvertOptions& options);
// `made` (when given) receives the databases made, in the files' order.
int RunConvert(Application& app, const ConvertOptions& options, std::vector<FileSpec>* made = nullptr);

// `--to card[:PATH]` or `--to hotsync[:USER][:card]`: the card's folder
// (made when missing) or the HotSync user's, and the queueing after each
// file. False with the reason when the destination cannot be used.
bool ChooseDelivery(const std::string& to, RunOptions& run, std::string& error);

struct DevicesOptions {
    std::optional<std::string> addUser;
};
void AddDevicesOptions(CLI::App& command, DevicesOptions& options);
int RunDevices(const DevicesOptions& options);

struct PresetsOptions {
    std::string maker, name, newName, file;
    std::optional<std::string> from;
    SettingOptions settings;
};
void AddPresetsCommands(CLI::App& presets, PresetsOptions& options);
int RunPresets(Application& app, const CLI::App& presets, const PresetsOptions& options);

struct RenderOptions {
    std::string file;
    std::optional<std::string> video, sheet, key, device;
    std::string screen = "color";
    int pictures = 12, scale = 2;
};
void AddRenderOptions(CLI::App& command, RenderOptions& options);
int RunRender(const RenderOptions& options);

struct CompareOptions {
    std::string file, source;
    std::optional<std::string> key;
};
void AddCompareOptions(CLI::App& command, CompareOptions& options);
int RunCompare(const CompareOptions& options);

struct InspectOptions {
    std::vector<std::string> files;
    bool chunks = false;
    std::optional<std::string> key, pgm, wav;
    std::optional<long> frame;
};
void AddInspectOptions(CLI::App& command, InspectOptions& options);
int RunInspect(const InspectOptions& options);
