// Movie exporters: the selectors every exporter component answers, and the
// platform's standard exporter (type 'spit', subtype 'MooV', maker 'appl').
// The standard exporter hands out data procedures for a movie's tracks: a
// get-property procedure ('wdth', 'hegt', 'dura', 'tprl', 'sptl') and a
// get-data procedure that answers one video sample at a requested time, or
// the next chunk of sound; -39 after the end. It is told the frame rate and
// depth through its set-settings selector ('tprl' / 'sptl' atoms).
#pragma once

#include <cstdint>

#include "platform/atoms.h"
#include "platform/components.h"
#include "platform/files.h"
#include "platform/media.h"

inline constexpr OSType kMovieExportType = Fcc("spit");
inline constexpr OSType kStandardExportSubType = Fcc("MooV");
inline constexpr OSType kAppleManufacturer = Fcc("appl");
// Flags of exporters: to files, from procedures, must be told the source
// media type (the standard exporter has 0x88000 among them).
inline constexpr std::uint32_t kStandardExporterFlags = 0x88000;
// The data reference type of a file named by its alias (here its path).
inline constexpr OSType kAliasDataRefType = Fcc("alis");

// Movie exporter selectors.
inline constexpr std::int16_t kMovieExportToHandleSelect = 0x80;
inline constexpr std::int16_t kMovieExportToFileSelect = 0x81;
inline constexpr std::int16_t kMovieExportGetAuxiliaryDataSelect = 0x83;
inline constexpr std::int16_t kMovieExportSetProgressProcSelect = 0x84;
inline constexpr std::int16_t kMovieExportSetSampleDescriptionSelect = 0x85;
inline constexpr std::int16_t kMovieExportDoUserDialogSelect = 0x86;
inline constexpr std::int16_t kMovieExportGetCreatorTypeSelect = 0x87;
inline constexpr std::int16_t kMovieExportToDataRefSelect = 0x88;
inline constexpr std::int16_t kMovieExportFromProceduresToDataRefSelect = 0x89;
inline constexpr std::int16_t kMovieExportAddDataSourceSelect = 0x8A;
inline constexpr std::int16_t kMovieExportValidateSelect = 0x8B;
inline constexpr std::int16_t kMovieExportGetSettingsAsAtomContainerSelect = 0x8C;
inline constexpr std::int16_t kMovieExportSetSettingsFromAtomContainerSelect = 0x8D;
inline constexpr std::int16_t kMovieExportGetFileNameExtensionSelect = 0x8E;
inline constexpr std::int16_t kMovieExportGetShortFileTypeStringSelect = 0x8F;
inline constexpr std::int16_t kMovieExportGetSourceMediaTypeSelect = 0x90;
inline constexpr std::int16_t kMovieExportNewGetDataAndPropertiesProcsSelect = 0x100;
inline constexpr std::int16_t kMovieExportDisposeGetDataAndPropertiesProcsSelect = 0x101;

// The movie progress procedure: message 0 open, 1 update, 2 close; a
// nonzero answer to an update stops the export with that answer.
using MovieProgressProc = std::int16_t (*)(std::int16_t message, Fixed fraction, void* refcon);

// One request of a get-data procedure.
struct MovieExportGetDataParams {
    std::int32_t recordSize = 56;
    std::int32_t trackID = 0;
    std::int32_t sourceTimeScale = 0;
    std::int64_t requestedTime = 0;
    std::int64_t actualTime = 0;
    OSType descType = 0;              // 'vide' or 'soun'
    std::int32_t descSeed = 0;
    std::int64_t durationPerSample = 1;
    VideoSample video;                // the answer of a video procedure
    SoundChunk sound;                 // the answer of a sound procedure
};
using MovieExportGetPropertyProc = OSErr (*)(void* refcon, std::int32_t trackID, OSType property, std::int64_t* value);
using MovieExportGetDataProc = OSErr (*)(void* refcon, MovieExportGetDataParams* params);

// Parameter records of the selectors.
struct MovieExportToFileParams {
    const FileSpec* file;
    const Movie* movie;
    int onlyThisTrack; // 0: every track
    std::int64_t startTime, duration;
};
struct MovieExportToDataRefParams {
    const FileSpec* dataRef; // the data reference: an alias, the file's path
    OSType dataRefType;      // 'alis', or a type of the exporter's own
    const Movie* movie;
    int onlyThisTrack;
    std::int64_t startTime, duration;
};
struct MovieExportFromProceduresParams {
    const FileSpec* dataRef;
    OSType dataRefType;
};
struct MovieExportAddDataSourceParams {
    OSType trackType;
    std::int32_t scale;
    std::int32_t* trackID; // out
    MovieExportGetPropertyProc getProperty;
    MovieExportGetDataProc getData;
    void* refcon;
};
struct MovieExportGetAuxiliaryDataParams {
    ByteBlock* data;
    OSType* handleType;
};
struct MovieExportSetProgressProcParams {
    MovieProgressProc proc;
    void* refcon;
};
struct MovieExportDoUserDialogParams {
    const Movie* movie;
    int onlyThisTrack;
    std::int64_t startTime, duration;
    bool* canceled;
};
struct MovieExportValidateParams {
    const Movie* movie;
    int onlyThisTrack;
    bool* valid;
};
struct MovieExportSettingsParams {
    AtomContainer* settings; // get: receives a new container; set: read
};
struct MovieExportOSTypeParams {
    OSType* value;
};
struct MovieExportNewProcsParams {
    const Movie* movie;
    OSType trackType;
    std::int32_t* scale; // out: the procedures' time scale
    int onlyThisTrack;
    std::int64_t startTime, duration;
    MovieExportGetPropertyProc* getProperty; // out
    MovieExportGetDataProc* getData;         // out
    void** refcon;                           // out
};
struct MovieExportDisposeProcsParams {
    MovieExportGetPropertyProc getProperty;
    MovieExportGetDataProc getData;
    void* refcon;
};

// Registers the standard exporter once per process.
Component RegisterStandardExporter();

// Typed calls.
[[nodiscard]] ComponentResult MovieExportNewGetDataAndPropertiesProcs(ComponentInstance exporter, const Movie& movie,
                                                                     OSType trackType, int onlyThisTrack,
                                                                     std::int64_t startTime, std::int64_t duration,
                                                                     std::int32_t& scale, MovieExportGetPropertyProc& getProperty,
                                                                     MovieExportGetDataProc& getData, void*& refcon);
[[nodiscard]] ComponentResult MovieExportDisposeGetDataAndPropertiesProcs(ComponentInstance exporter,
                                                                         MovieExportGetPropertyProc getProperty,
                                                                         MovieExportGetDataProc getData, void* refcon);
[[nodiscard]] ComponentResult MovieExportSetSettingsFromAtomContainer(ComponentInstance exporter, AtomContainer& settings);
// Tells the standard exporter the frame rate and depth its video procedures
// answer, as its 'tprl' and 'sptl' settings would: the typed way for callers
// of this process. paramErr for an instance of another component.
[[nodiscard]] OSErr SetStandardExporterFrames(ComponentInstance exporter, Fixed frameRate, std::int16_t depth);
