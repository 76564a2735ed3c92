// Feeds arbitrary pictures to the Cinepak encoder: any size up to 64 × 64
// with any exact size inside it, any data rate, forced key frames, and a run
// of frames cut from the input. Every frame must come out, within its budget
// once it is a difference frame, and survive the repack.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "video/cinepakencoder.h"
#include "video/cinepakrepack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 6) return 0;
    const std::uint16_t width = static_cast<std::uint16_t>(4 * (1 + bytes[0] % 16));
    const std::uint16_t height = static_cast<std::uint16_t>(4 * (1 + bytes[1] % 16));
    const std::uint16_t exactWidth = static_cast<std::uint16_t>(width - bytes[2] % 4);
    const std::uint16_t exactHeight = static_cast<std::uint16_t>(height - bytes[3] % 4);
    CinepakFrameParams params;
    params.dataRate = 1000u + 2000u * bytes[4]; // from under a byte a pixel to several
    params.milliseconds = 66;
    const std::uint8_t keys = bytes[5];
    const std::uint8_t* data = bytes + 6;
    const std::size_t left = size - 6;
    if (left == 0) return 0;

    CinepakEncoder encoder;
    if (encoder.Begin(width, height, exactWidth, exactHeight) != noErr) std::abort();
    const std::size_t pictureBytes = std::size_t{exactWidth} * exactHeight * 4;
    std::vector<std::uint8_t> picture(pictureBytes);
    // Up to eight frames, each the next stretch of the input (wrapping).
    std::size_t at = 0;
    for (int frame = 0; frame < 8; ++frame) {
        for (std::size_t i = 0; i < pictureBytes; ++i) picture[i] = data[(at + i) % left];
        at += pictureBytes / 3 + 1;
        params.forceKeyFrame = (keys >> frame) & 1;
        ByteBlock out;
        bool difference = false;
        if (encoder.Encode(picture.data(), exactWidth * 4, params, out, difference) != noErr) std::abort();
        if (out.Size() < 10) std::abort();
        ByteBlock packed, unpacked;
        bool isPacked = false;
        if (RepackCinepakFrame(out.Span(), packed, isPacked) != noErr) std::abort();
        if (UnpackCinepakFrame(packed.Span(), unpacked) != noErr || unpacked.Size() != out.Size() ||
            !std::equal(unpacked.Data(), unpacked.Data() + unpacked.Size(), out.Data()))
            std::abort();
    }
    return 0;
}
