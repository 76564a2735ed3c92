// The application's own resources, compiled in from resources/*.r. Start-up
// opens them with OpenResourceFile, as the program once opened the resource
// fork appended to its executable.
#pragma once

#include "platform/resources.h"

extern const ResourceFile kApplicationResources;
