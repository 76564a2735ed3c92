// One conversion: a source movie and the export settings in, a finished
// movie database file out. The source is analysed (tracks, decoders,
// annotations), the writer configured from the settings, and pictures and
// sound pumped in time order; progress is reported as the export component
// reports it to its caller.
#pragma once

#include <cstdint>

#include "engine/exportsettings.h"
#include "platform/atoms.h"
#include "platform/components.h"
#include "platform/exporter.h"
#include "platform/files.h"
#include "platform/status.h"

// Progress messages.
inline constexpr std::int16_t kProgressOpen = 0;
inline constexpr std::int16_t kProgressUpdate = 1;
inline constexpr std::int16_t kProgressClose = 2;

// Answers nonzero to an update to stop the conversion with that answer.
using ConversionProgressProc = MovieProgressProc;

struct ConversionResult {
    OSType missingDecoder = 0; // the format without a decoder, after noCodecErr
};

// Converts `source` into a new file `destination` (an existing file is never
// replaced: dupFNErr), the settings read as the export component reads them. The
// destination is left as it is on failure; the caller deletes it.
[[nodiscard]] OSErr ConvertMovie(const FileSpec& source, const ExportSettings& settings, const FileSpec& destination,
                                 ConversionProgressProc progress, void* refcon, ConversionResult* result = nullptr);
