// The image block of a layout picture: the picture at 16 bits per pixel,
// compressed as one "Cinepak Mobile" key frame at the best quality.
#include <vector>

#include "platform/bytes.h"
#include "video/cinepakencoder.h"

OSErr MakeCinepakImageBlock(const std::uint8_t* pixels, std::int32_t rowBytes, std::uint16_t width, std::uint16_t height,
                            ByteBlock& out) {
    if (pixels == nullptr || width == 0 || height == 0) return paramErr;
    // The picture as the 16-bit buffer holds it: 5 bits of red and blue, 6 of green.
    std::vector<std::uint8_t> rgb565;
    try {
        rgb565.resize(std::size_t{width} * height * 4);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = pixels + static_cast<std::ptrdiff_t>(y) * rowBytes + 4 * x;
            std::uint8_t* q = &rgb565[(std::size_t{y} * width + x) * 4];
            q[0] = static_cast<std::uint8_t>((p[0] & 0xF8) | p[0] >> 5);
            q[1] = static_cast<std::uint8_t>((p[1] & 0xFC) | p[1] >> 6);
            q[2] = static_cast<std::uint8_t>((p[2] & 0xF8) | p[2] >> 5);
            q[3] = 255;
        }
    CinepakEncoder encoder;
    const auto padded = [](std::uint16_t v) { return static_cast<std::uint16_t>((v + 3) / 4 * 4); };
    if (OSErr err = encoder.Begin(padded(width), padded(height), width, height)) return err;
    CinepakFrameParams best;
    best.dataRate = 65000 * 10; // a budget no picture reaches: the best quality
    best.milliseconds = 100;
    best.forceKeyFrame = true;
    ByteBlock compressed;
    bool difference = false;
    if (OSErr err = encoder.Encode(rgb565.data(), width * 4, best, compressed, difference)) return err;

    std::uint8_t header[28] = {};
    WriteBE32(header, 28 + compressed.Size());
    WriteBE16(header + 4, width);
    WriteBE16(header + 6, height);
    WriteBE16(header + 8, static_cast<std::uint16_t>(2 * width));
    WriteBE16(header + 10, 0x0400);
    header[12] = 16; // pixel size
    header[13] = 2;  // version
    header[14] = 0x0B;
    header[15] = 0x01;
    header[20] = 5, header[21] = 6, header[22] = 5; // red, green, blue bits
    ByteBlock block;
    if (OSErr err = block.Append(header)) return err;
    if (OSErr err = block.Append(compressed)) return err;
    out = std::move(block);
    return noErr;
}
