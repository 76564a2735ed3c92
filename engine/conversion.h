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

// One movie file through an open export component: the movie opened (small
// video time scales made finer, so that frame times stay exact), the
// settings container (when given) and the progress procedure handed over,
// and the movie exported into `destination` (a new file; with
// kReservedFileDataRefType a reserved one). `missingDecoder` receives the
// format after noCodecErr, `lengthMs` the movie's length once it is open.
[[nodiscard]] OSErr ExportMovieFile(ComponentInstance exporter, const FileSpec& source, AtomContainer* settings,
                                    ConversionProgressProc progress, void* refcon, const FileSpec& destination,
                                    OSType* missingDecoder, std::int64_t* lengthMs = nullptr,
                                    OSType dataRefType = kAliasDataRefType);

// Converts `source` into a new file `destination` (an existing file is never
// replaced: dupFNErr) through an instance of the export component. The
// destination is left as it is on failure; the caller deletes it.
[[nodiscard]] OSErr ConvertMovie(const FileSpec& source, const ExportSettings& settings, const FileSpec& destination,
                                 ConversionProgressProc progress, void* refcon, ConversionResult* result = nullptr);
