// The program's start-up and shutdown, shared by both front ends: the
// components registered, the application's resources opened, the engine
// checked, the settings of the last exit loaded; and at the end saved.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/atoms.h"
#include "platform/files.h"
#include "platform/status.h"
#include "presets/presets.h"

struct Application {
    std::int16_t resourceFile = -1;     // -1 when the resources could not be opened
    AtomContainer settings;             // the current settings container
    ExportDestination destination = ExportDestination::SourceFolder;
    FileSpec exportFolder;
};

// Registers the export component, opens the resources and checks that the
// engine opens; then the settings of the last exit, else the first device
// preset. An engine that does not open answers its error.
[[nodiscard]] OSErr StartApplication(Application& app);
// Stores the current settings and destination for the next start.
[[nodiscard]] OSErr SaveApplicationSettings(const Application& app);

// One command-line string into names: spaces separate names; a double
// quote starts a name that runs to the next double quote.
std::vector<std::string> SplitCommandLine(std::string_view line);
