// The pictures of a finished movie as the handheld shows them, for the
// player, the render and the comparison: "16 Grays" and Cinepak frames
// decoded from the key picture at or before the one asked for (found the
// handheld's way, through the seek table), then forward. Asking for the
// next picture goes on from the last one.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "moviedb/moviereader.h"
#include "platform/media.h"

class MoviePictureDecoder {
public:
    MoviePictureDecoder();
    ~MoviePictureDecoder();
    MoviePictureDecoder(const MoviePictureDecoder&) = delete;
    MoviePictureDecoder& operator=(const MoviePictureDecoder&) = delete;

    // paramErr for a movie without pictures or with pictures of another
    // encoding; noCodecErr when the media libraries lack Cinepak. The
    // reader must outlive the decoder.
    [[nodiscard]] OSErr Open(const MovieReader& reader);
    std::size_t Count() const;
    // Picture `index` as 32-bit pixels of the movie's picture size.
    [[nodiscard]] OSErr Decode(std::size_t index, FrameBuffer& out);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The picture as the handheld's user sees it: the turn the movie was stored
// with (its rotation) undone, each pixel `scale` × `scale`.
[[nodiscard]] OSErr ShowUpright(const FrameBuffer& in, int rotation, int scale, FrameBuffer& out);
