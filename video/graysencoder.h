// "16 Grays": the video format of handhelds without a colour screen. Each
// picture is dithered to 4-bit gray levels with a fixed 2 × 2 ordered dither
// and coded in 4 × 4 blocks: unchanged runs, flat runs, two-level blocks
// (one repeated pattern promoted to a one-byte code) and raw blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/byteblock.h"
#include "platform/status.h"

// Block codes of a "16 Grays" frame payload.
namespace grays {
inline constexpr std::uint8_t kFlatRun = 0x80;      // 0x80 | (n - 1) << 4 | level, n = 1 to 4
inline constexpr std::uint8_t kUnchangedRun = 0xC0; // 0xC0 | (n - 1), n = 1 to 32
inline constexpr std::uint8_t kDefinePattern = 0xE0; // then a two-level code: the frame's common pattern
inline constexpr std::uint8_t kCommonPattern = 0xE1;
inline constexpr std::uint8_t kRawBlock = 0xF0;      // then 8 bytes: four rows of four levels
inline constexpr std::uint8_t kEncoding = 8;         // the "fr" encoding byte

// Bytes per row of a packed picture: two levels per byte, left in the high
// nibble, rows a whole number of 16-bit words.
constexpr std::uint32_t RowBytes(std::uint32_t width) { return ((width * 4 + 15) >> 4) * 2; }
} // namespace grays

class GraysEncoder {
public:
    GraysEncoder();
    ~GraysEncoder();
    GraysEncoder(GraysEncoder&&) noexcept;
    GraysEncoder& operator=(GraysEncoder&&) noexcept;
    GraysEncoder(const GraysEncoder&) = delete;
    GraysEncoder& operator=(const GraysEncoder&) = delete;

    // The padded size (multiples of 4) and the exact size of the pictures
    // handed in; pixels beyond the exact size count as white.
    [[nodiscard]] OSErr Begin(std::uint16_t width, std::uint16_t height, std::uint16_t exactWidth,
                              std::uint16_t exactHeight);
    // Codes one picture of 32-bit pixels (bytes blue, green, red, alpha).
    // `duration` (movie time-scale units) drives the refresh countdowns.
    // `out` receives the payload; `difference` whether it depends on the
    // previous frame.
    [[nodiscard]] OSErr Encode(const std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t duration,
                               bool differenceAllowed, ByteBlock& out, bool& difference);
    // The picture a player shows after the last frame (packed levels).
    std::span<const std::uint8_t> Reconstructed() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The four levels of the 2 × 2 dither tile for a darkness (0 white, 255 black).
void GrayDitherLevels(std::uint8_t darkness, std::uint8_t levels[4]);
