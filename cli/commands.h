// The commands of `vantro`. Each takes its own arguments (after the command
// word) and answers the process's exit status: 0 success, 1 a file failed,
// 2 wrong usage.
#pragma once

#include <string>
#include <vector>

#include "engine/app/startup.h"

using Arguments = std::vector<std::string>;

// `made` (when given) receives the databases made, in the files' order.
int ConvertCommand(Application& app, const Arguments& args, std::vector<FileSpec>* made = nullptr);
int PresetsCommand(Application& app, const Arguments& args);
int InspectCommand(const Arguments& args);

// Settings given on the command line over a settings container: video
// format, frame rate, size, kbit/s, sound format, rate, channels, boost.
// Consumes the options it knows from `args` (the rest stays); false with a
// message in `error` for a bad value.
bool ApplySettingOptions(Arguments& args, AtomContainer& settings, std::string& error);
// The usage text of the setting options.
extern const char* const kSettingOptionsHelp;
