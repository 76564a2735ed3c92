// The application's own resources, compiled in from resources/*.r. Start-up
// opens them with OpenResourceFile, as the program once opened the resource
// fork appended to its executable.
#pragma once

#include <cstdint>

#include "platform/resources.h"

extern const ResourceFile kApplicationResources;

// Opens the application's resources once per process; later calls answer
// what the first one did. `refNum`, when given, receives the reference
// number (-1 when opening failed).
[[nodiscard]] OSErr OpenApplicationResources(std::int16_t* refNum = nullptr);
