// MPEG Layer-3 sound copied out of an AVI file into a plain MPEG audio file:
// the bodies of the "01wb" chunks (sound of stream 1), in file order. AVI
// headers often state the timing of such sound wrongly; read on its own,
// the MPEG frames carry their own timing and stay in step with the picture.
#pragma once

#include <cstdint>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/status.h"

// Progress of the copy: message 0 open, 1 update with the 16.16 fraction
// (the copy is the first twentieth of a conversion). May be null.
using CopyProgressProc = std::int16_t (*)(std::int16_t message, Fixed fraction, void* refcon);

// Chunks of this size or smaller hold no sound worth keeping.
inline constexpr std::uint32_t kSmallestKeptChunk = 16;

// Writes the sound into a new temporary file "blah….mp3" (`out`); the
// caller deletes it when the conversion ends.
[[nodiscard]] OSErr ExtractAviMp3(const FileSpec& source, CopyProgressProc progress, void* refcon, FileSpec& out);

// Whether an MP3 track of `mp3Duration` needs the copy against a video
// track of `videoDuration` (same time scale): both nonzero and more than a
// tenth apart.
constexpr bool Mp3NeedsRepair(std::int64_t mp3Duration, std::int64_t videoDuration) {
    const std::int64_t difference = mp3Duration > videoDuration ? mp3Duration - videoDuration : videoDuration - mp3Duration;
    return mp3Duration != 0 && videoDuration != 0 && difference > videoDuration / 10;
}
