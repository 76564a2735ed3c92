// The state of one export component instance, shared by the component's
// selectors and the conversion driver. Private to the engine.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "engine/exportsettings.h"
#include "import/directshowsource.h"
#include "import/mpegsystem.h"
#include "platform/exporter.h"

// One data source: the procedures that give a track's samples.
struct ExportSource {
    std::int32_t trackNumber = 0; // 1 video, 2 sound
    std::int32_t timeScale = 0;
    MovieExportGetPropertyProc getProperty = nullptr;
    MovieExportGetDataProc getData = nullptr;
    void* refcon = nullptr;
};

// Where a conversion's time went (engine/convert.h).
struct ConversionTimes;

struct ExportInstance {
    ExportSettings settings;
    ComponentInstance standardExporter = nullptr;
    std::unique_ptr<ExportSource> video, sound;
    MovieProgressProc progress = nullptr;
    void* progressRefcon = nullptr;
    bool progressOpen = false;  // "open" was sent (by the sound copy or the driver)
    Fixed progressValue = 0;    // the last fraction sent; it never goes back
    const Movie* sourceMovie = nullptr; // while an export of a movie runs
    std::array<std::string, 3> annotations; // title, information, rights
    OSType missingDecoder = 0;
    // An AVI whose frames no decompressor takes: rendered by time instead.
    std::unique_ptr<DirectShowSource> aviFrames;
    // Pictures decoded and scaled ahead, on a thread of their own, when the
    // converter's own movie sources feed the conversion; 0: each when the
    // encoders need it.
    std::size_t picturesAhead = 0;
    ConversionTimes* times = nullptr; // filled in when given
    // The system's own reading of an MPEG-1 system stream's sound.
    std::unique_ptr<MpegSoundSource> ownSound;
};

// The conversion driver: from the data sources into the file the data
// reference names: an alias ('alis') is created new; a reserved file
// (kReservedFileDataRefType) is written in place. Never deleted here.
[[nodiscard]] OSErr RunConversion(ExportInstance& instance, const FileSpec& destination, OSType dataRefType);
// Adds a caller's data source (one of each kind); paramErr for a second
// one, an unknown kind or a missing procedure.
[[nodiscard]] OSErr AddExportSource(ExportInstance& instance, const MovieExportAddDataSourceParams& source);
// Source analysis: decides the data sources for a movie, then runs the
// driver. `mpegTables` (the MPEG audio rate tables, or null) serve an MPEG-1
// system stream's own sound.
[[nodiscard]] OSErr ExportMovie(ExportInstance& instance, const std::uint32_t* mpegTables, const FileSpec& destination,
                                OSType dataRefType, const Movie& movie, int onlyThisTrack, std::int64_t startTime,
                                std::int64_t duration);
