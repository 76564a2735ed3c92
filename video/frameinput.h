// The writer's video input: pictures of the movie's size go in, encoded by
// the encoder of the movie's video format, and come out as "fr" chunks. It
// also keeps the key-frame policy: a key frame at least every 12 frames, and
// one on request (where a chapter starts).
#pragma once

#include <cstdint>

#include "moviedb/moviewriter.h"

// Attaches the video input to a writer that is still being configured;
// BeginMovie then prepares the encoder of the writer's video format
// ("16 Grays" or "Cinepak Mobile"; the formats the converter never selects
// are refused there with paramErr). For "Cinepak Mobile" EndMovie then
// writes the movie palette.
[[nodiscard]] OSErr AttachVideoInput(MovieWriter* writer);

// One picture of the exact picture size: 32-bit pixels (bytes blue, green,
// red, alpha), `rowBytes` apart; `duration` in the movie time scale.
// `keyFrame`, when given, receives 1 for a key frame and 0 for a difference
// frame.
[[nodiscard]] OSErr WriteVideoFrame(MovieWriter* writer, const std::uint8_t* pixels, std::int32_t rowBytes,
                                    std::uint32_t duration, std::uint8_t* keyFrame);
// The next frame will be a key frame.
[[nodiscard]] OSErr RequestKeyFrame(MovieWriter* writer);
