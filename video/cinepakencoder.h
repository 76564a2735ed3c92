// "Cinepak Mobile": our own Cinepak encoder. It writes the standard Cinepak
// bit stream (frame header, strips, V1 and V4 codebooks, intra and inter
// vector chunks with skipped blocks) that every Cinepak decoder plays. It
// codes the frames of a movie at one slope of error against bits, so that
// busy scenes spend what still ones save, within the data rate: no second
// above 1.3 times it, the mean at it (the first second, and the first frame
// from the overrun of its primed second, are coded to their shares). A new
// picture (the first, a cut between scenes, a forced key frame) starts a key
// frame, which leaves nothing of the last scene in the decoder.
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
    // Above 0: the frame is coded at this slope (λ, squared error against
    // bits) whatever the data rate, as encoders without rate control code.
    // It measures the coding apart from the rate control; the converter
    // leaves it at 0.
    double slope = 0;
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
    // The most the last frame could spend.
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
