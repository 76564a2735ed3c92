// Where a converted movie goes and what it is called: the source's folder or
// the chosen one, the movie's name (or the source's, underscores made
// spaces), without its extension, then ".pdb"; "-1", "-2", … when the name
// is taken, so that no file is ever overwritten.
#pragma once

#include <string_view>

#include "platform/files.h"

FileSpec MakeOutputFile(const FileSpec& source, std::string_view movieName, bool useSourceFolder,
                        const FileSpec& exportFolder);
