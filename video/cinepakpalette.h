// The movie palette of "Cinepak Mobile": while the movie is encoded every
// pixel's colour is counted in Cinepak's own colour space (Y, Cb, Cr); when
// it ends, a 256-entry palette is cut from the counts and an inverse map
// sends each of 8192 colour cells to its nearest entry, so that a player on
// an 8-bit screen maps decoded colours straight to palette indexes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/status.h"

struct YCbCr {
    std::uint8_t y, cb, cr;
};

// The colour of a pixel (bytes blue, green, red).
YCbCr CinepakColour(std::uint8_t blue, std::uint8_t green, std::uint8_t red);

class ColourHistogram {
public:
    [[nodiscard]] OSErr Create();
    // Counts every pixel of a 32-bit picture (bytes blue, green, red, alpha).
    void Count(const std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t width, std::uint32_t height);
    void CountColour(const YCbCr& c);
    std::span<const std::uint32_t> Counts() const { return counts_; }

    // 6 bits of Y, 5 of Cb, 5 of Cr.
    static std::uint32_t Bin(const YCbCr& c) { return ((c.y >> 2) * 32u + (c.cb >> 3)) * 32u + (c.cr >> 3); }

private:
    std::vector<std::uint32_t> counts_;
};

// The palette (256 × Y, Cb, Cr) and inverse map (8192 entries, indexed by
// (Y >> 3) × 256 + (Cb >> 4) × 16 + (Cr >> 4)).
[[nodiscard]] OSErr BuildMoviePalette(std::span<const std::uint32_t> histogram, std::span<std::uint8_t> palette,
                                      std::span<std::uint8_t> inverseMap);

// A colour back as a pixel (blue, green, red): the inverse of CinepakColour
// (ITU-R BT.601 with studio range), clamped.
std::array<std::uint8_t, 3> CinepakPixel(const YCbCr& colour);

// What a 256-colour screen shows of a 32-bit picture (bytes blue, green,
// red, alpha): each pixel's colour sent through the inverse map to its
// palette entry, as the handheld's player does.
void ShowOnPaletteScreen(std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t width, std::uint32_t height,
                         std::span<const std::uint8_t> palette, std::span<const std::uint8_t> inverseMap);
