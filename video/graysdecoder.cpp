// The "16 Grays" decoder.
#include "video/graysdecoder.h"

#include <algorithm>

#include "video/graysencoder.h"

namespace {

class Picture {
public:
    Picture(std::span<std::uint8_t> bytes, std::uint32_t width) : bytes_(bytes), rowBytes_(grays::RowBytes(width)) {}

    void Set(std::uint32_t x, std::uint32_t y, std::uint8_t level) {
        std::uint8_t& b = bytes_[y * rowBytes_ + x / 2];
        b = x % 2 == 0 ? static_cast<std::uint8_t>((b & 0x0F) | level << 4) : static_cast<std::uint8_t>((b & 0xF0) | level);
    }

    // Draws a two-level code: the high nibble of the levels byte for 0 bits.
    void TwoLevel(std::uint32_t bx, std::uint32_t by, const std::uint8_t code[3]) {
        const std::uint16_t mask = static_cast<std::uint16_t>(code[0] << 8 | code[1]);
        for (int i = 0; i < 16; ++i)
            Set(bx * 4 + i % 4, by * 4 + i / 4, (mask & (0x8000 >> i)) ? (code[2] & 0x0F) : (code[2] >> 4));
    }

    void Flat(std::uint32_t bx, std::uint32_t by, std::uint8_t level) {
        for (int i = 0; i < 16; ++i) Set(bx * 4 + i % 4, by * 4 + i / 4, level);
    }

    void Raw(std::uint32_t bx, std::uint32_t by, const std::uint8_t* rows) {
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 4; ++col) {
                const std::uint8_t b = rows[2 * row + col / 2];
                Set(bx * 4 + col, by * 4 + row, col % 2 == 0 ? b >> 4 : b & 0x0F);
            }
    }

private:
    std::span<std::uint8_t> bytes_;
    std::uint32_t rowBytes_;
};

} // namespace

OSErr DecodeGraysFrame(std::span<const std::uint8_t> payload, std::uint32_t width, std::uint32_t height,
                       std::span<std::uint8_t> picture) {
    if (width == 0 || height == 0 || width % 4 != 0 || height % 4 != 0) return paramErr;
    if (picture.size() < std::size_t{grays::RowBytes(width)} * height) return paramErr;
    Picture out(picture, width);
    const std::uint32_t blocksWide = width / 4, total = blocksWide * (height / 4);
    std::uint8_t pattern[3] = {};
    bool havePattern = false;
    std::size_t pos = 0;
    std::uint32_t block = 0;
    auto need = [&](std::size_t n) { return payload.size() - pos >= n; };
    while (block < total) {
        if (!need(1)) return paramErr;
        const std::uint8_t c = payload[pos];
        const std::uint32_t bx = block % blocksWide, by = block / blocksWide;
        if (c < 0x80) {
            if (!need(3)) return paramErr;
            out.TwoLevel(bx, by, &payload[pos]);
            pos += 3;
            ++block;
        } else if (c < 0xC0) {
            const std::uint32_t n = ((c >> 4) & 3) + 1;
            if (block + n > total) return paramErr;
            for (std::uint32_t k = 0; k < n; ++k, ++block) out.Flat(block % blocksWide, block / blocksWide, c & 0x0F);
            ++pos;
        } else if (c < 0xE0) {
            const std::uint32_t n = (c & 0x1F) + 1u;
            if (block + n > total) return paramErr;
            block += n;
            ++pos;
        } else if (c == grays::kDefinePattern) {
            if (!need(4) || payload[pos + 1] >= 0x80) return paramErr;
            std::copy_n(&payload[pos + 1], 3, pattern);
            havePattern = true;
            out.TwoLevel(bx, by, pattern);
            pos += 4;
            ++block;
        } else if (c == grays::kCommonPattern) {
            if (!havePattern) return paramErr;
            out.TwoLevel(bx, by, pattern);
            ++pos;
            ++block;
        } else if (c == grays::kRawBlock) {
            if (!need(9)) return paramErr;
            out.Raw(bx, by, &payload[pos + 1]);
            pos += 9;
            ++block;
        } else {
            return paramErr;
        }
    }
    return pos == payload.size() ? noErr : paramErr;
}

void GraysToGrayBytes(std::span<const std::uint8_t> picture, std::uint32_t width, std::uint32_t height,
                      std::span<std::uint8_t> gray) {
    const std::uint32_t rowBytes = grays::RowBytes(width);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t b = picture[y * rowBytes + x / 2];
            const int level = x % 2 == 0 ? b >> 4 : b & 0x0F;
            gray[std::size_t{y} * width + x] = static_cast<std::uint8_t>(255 - level * 17);
        }
}
