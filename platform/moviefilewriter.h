// Ordinary video files made from pictures and sound: H.264 pictures and AAC
// sound in the container the file's name asks for (.mp4, .mkv, .mov), and
// single pictures as PNG files, so that anyone can look at what a handheld
// will show. Like every output of the system, a file is written under a
// hidden partial name, created exclusively, and given its name only when it
// is complete; an existing file is never replaced.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/files.h"
#include "platform/media.h"

class MovieFileWriter {
public:
    MovieFileWriter();
    ~MovieFileWriter(); // a file not finished is deleted
    MovieFileWriter(const MovieFileWriter&) = delete;
    MovieFileWriter& operator=(const MovieFileWriter&) = delete;

    // Starts `path` for pictures of width × height (both even: the
    // pictures are stored with half-size colour) timed in units of
    // 1/timeScale second, and sound of `rate` Hz and `channels` (0: none).
    // dupFNErr when the name is taken; paramErr for odd or empty sizes;
    // noCodecErr when the media libraries lack an encoder or container.
    [[nodiscard]] OSErr Create(const FileSpec& path, std::int32_t width, std::int32_t height, std::int32_t timeScale,
                               std::uint32_t rate, std::uint16_t channels);
    // A picture shown from `time` on (times increase).
    [[nodiscard]] OSErr WritePicture(const FrameBuffer& picture, std::int64_t time);
    // Sound following what was written before: interleaved 16-bit samples.
    [[nodiscard]] OSErr WriteSound(std::span<const std::int16_t> samples);
    // Empties the encoders, completes the file and gives it its name.
    [[nodiscard]] OSErr Finish();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// One picture as a new PNG file (never replacing one: dupFNErr).
[[nodiscard]] OSErr WritePng(const FileSpec& path, const FrameBuffer& picture);
