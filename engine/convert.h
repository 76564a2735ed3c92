// The one call that converts a file: both front ends (and the preview)
// hand the engine a job (the source, its settings, where the database goes,
// who hears of progress) and read what it reports. The export component's
// selectors are an adapter over the same analysis and driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "delivery/outputfile.h"
#include "engine/exportsettings.h"
#include "platform/files.h"
#include "platform/status.h"

// Hears how a conversion goes; answering false to Progress cancels it.
class ConversionSink {
public:
    virtual ~ConversionSink() = default;
    // The source is open: its length.
    virtual void Started(std::int64_t /*lengthMs*/) {}
    // 0 to 1000.
    virtual bool Progress(int /*permille*/) { return true; }
};

// Where a conversion's time went, in seconds of each thread's own clock:
// the source's pictures decoded and scaled, the video encoded, the sound
// read and encoded, the database built and written out.
struct ConversionTimes {
    double pictures = 0, video = 0, sound = 0, writing = 0;
};

// A few pictures: enough to keep both threads busy, never the movie.
inline constexpr std::size_t kPicturesAhead = 3;

struct ConversionJob {
    FileSpec source;
    ExportSettings settings;
    // Where the database goes: a free name reserved in the source's folder
    // or in `exportFolder` (never overwriting), after the typed movie name or
    // the source's name; or, when `destination` is given, exactly that new
    // file (an existing one is never replaced: dupFNErr).
    bool toSourceFolder = true;
    FileSpec exportFolder;
    std::string movieName;
    FileSpec destination;
    // Pictures decoded and scaled ahead of the encoders on a thread of their
    // own (the database is the same with 0: each when it is needed).
    std::size_t picturesAhead = kPicturesAhead;
    // Threads of the source's picture decoder: 0 for every core; 1 when
    // several conversions share the machine.
    int decoderThreads = 0;
    // Where the time went, for the benchmarks; null when nobody asks.
    ConversionTimes* times = nullptr;
    // The database names of the batch so far, kept apart from the new one.
    BatchNames* batchNames = nullptr;
    ConversionSink* sink = nullptr;
};

struct ConversionReport {
    OSErr status = noErr;     // also answered by Convert
    OSType missingDecoder = 0; // the format without a decoder, after noCodecErr
    FileSpec output;           // the database, once it is there under its name
    std::int64_t lengthMs = 0; // of the source
    // What the status is about, in a few words, when the system knows more
    // than the code says: "no such file", "not a media file", the folder
    // that could not take the database.
    std::string detail;
};

// Converts one file. Answers noErr, noSoundTrackInMovieErr (complete, the
// sound not converted) or the failure; after a failure nothing of the
// conversion stays but an explicitly named destination, which its caller
// deletes.
[[nodiscard]] OSErr Convert(const ConversionJob& job, ConversionReport& report);
