// "Cinepak Mobile": our own Cinepak encoder. It writes the standard Cinepak
// bit stream (frame header, strips, V1 and V4 codebooks, intra and inter
// vector chunks with skipped blocks) that every Cinepak decoder plays, and
// meets a byte budget per frame worked out from the data rate, the overrun of
// the last second and the frame's duration. A new picture (the first, a cut
// between scenes, a forced key frame) starts a key frame that borrows the
// bytes it needs from the frames after it.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/byteblock.h"
#include "platform/status.h"

struct CinepakFrameParams {
    std::uint32_t dataRate = 40000;  // bytes per second
    std::int64_t overrun = 0;        // bytes the last second spent beyond the rate
    std::uint32_t milliseconds = 100; // this frame's duration
    bool forceKeyFrame = false;
};

class CinepakEncoder {
public:
    // Key frames come at least this often, and whenever one is forced.
    static constexpr std::uint32_t kKeyFrameRate = 100;

    CinepakEncoder();
    ~CinepakEncoder();
    CinepakEncoder(CinepakEncoder&&) noexcept;
    CinepakEncoder& operator=(CinepakEncoder&&) noexcept;

    // The coded size (multiples of 4) and the exact size of the pictures;
    // pixels beyond the exact size are white.
    [[nodiscard]] OSErr Begin(std::uint16_t width, std::uint16_t height, std::uint16_t exactWidth,
                              std::uint16_t exactHeight);
    // Codes one picture of 32-bit pixels (bytes blue, green, red, alpha).
    [[nodiscard]] OSErr Encode(const std::uint8_t* pixels, std::int32_t rowBytes, const CinepakFrameParams& params,
                               ByteBlock& out, bool& difference);
    // The byte budget the last frame aimed at.
    std::uint32_t LastBudget() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The image block of a layout picture: a 28-byte header (total size, width,
// height, row bytes of 16-bit pixels, the pixel format of 5-6-5 RGB) and the
// picture drawn at 16 bits per pixel and compressed as one Cinepak key frame
// at the best quality.
[[nodiscard]] OSErr MakeCinepakImageBlock(const std::uint8_t* pixels, std::int32_t rowBytes, std::uint16_t width,
                                          std::uint16_t height, ByteBlock& out);
