// The files a conversion run takes: the names given, folders opened (and
// with -r their folders), hidden files, non-media names and what cannot be
// read as a file left out with the reason.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

struct SkippedSource {
    FileSpec path;
    std::string reason; // "hidden", "not a media file name", "already converted", ...
    bool refused = false; // given by name but not a file that can be read: counts as failed
};

struct SourceList {
    std::vector<FileSpec> files;
    std::vector<SkippedSource> skipped;
};

// In the order given; a folder's files sorted by name.
SourceList CollectSources(const std::vector<std::string>& names, bool recursive);
