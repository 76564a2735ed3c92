// How close a movie database comes to its source, in figures: the luma
// PSNR of every picture shown against the source's picture at the same
// time (scaled to the database's picture size the way conversions scale),
// its mean and worst; the sound's SNR against the source's sound (mixed and
// resampled to the database's channels and rate by the converter
// conversions use), at the delay that lines the two up best; and the data
// rates of pictures and sound.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/status.h"

struct CompareJob {
    FileSpec database;
    FileSpec source;
    FileSpec key; // the scrambling key (512 bytes) of a scrambled movie
};

struct CompareReport {
    OSErr status = noErr;
    std::string detail;
    std::size_t pictures = 0;               // compared
    double meanPsnr = 0, worstPsnr = 0;     // dB, luma; identical pictures count as 99 dB
    std::uint64_t worstAt = 0;              // the worst picture's start, hundredths
    double seconds = 0;                     // the movie's length
    double videoKbps = 0, soundKbps = 0;    // the database's own data rates

    bool soundCompared = false;
    std::string soundDetail;                // why the sound was not compared
    std::uint32_t soundRate = 0;            // Hz, the database's
    double soundSnr = 0;                    // dB once the gain is taken out; identical sound counts as 99 dB
    double soundGainDb = 0;                 // the database's level against the source's (a boost shows here)
    std::int64_t soundDelay = 0;            // sample frames the database's sound comes after the source's
    double soundDelayMs = 0;                //   the same in milliseconds
};

[[nodiscard]] OSErr CompareMovie(const CompareJob& job, CompareReport& report);
