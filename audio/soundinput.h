// The writer's sound input: interleaved samples in the output format go in,
// are gathered into blocks, boosted, encoded in the movie's sound format and
// collected into "au" records of about `SamplesPerRecord` sample frames.
#pragma once

#include <cstdint>

#include "moviedb/moviewriter.h"

// Attaches the sound input to a writer being configured; BeginMovie then
// sets up the buffers of the sound format (and settles "CLIÉ Audio").
[[nodiscard]] OSErr AttachSoundInput(MovieWriter* writer);

// Interleaved samples: 16-bit signed little-endian, or 8-bit offset binary
// for format 627.
[[nodiscard]] OSErr WriteAudioSamples(MovieWriter* writer, const std::uint8_t* samples, std::uint32_t byteCount,
                                      std::uint32_t frameCount);
// Pushes out what is pending and writes the last record.
[[nodiscard]] OSErr FinishAudio(MovieWriter* writer);

// "CLIÉ Audio" bit rates brought onto the encoder's table: the next lower
// table rate; 0 becomes 33000 with pictures and 66000 without.
std::uint32_t SettleAtracBitRate(std::uint32_t bitRate, bool hasVideo);
