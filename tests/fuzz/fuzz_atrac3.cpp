// Feeds arbitrary sound to the ATRAC3 encoder: every code and mode, any
// samples (full-scale clicks and squares included), any number of frames.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/atrac3/at3enc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    static const int kCodes[] = {12, 16, 24, 33, 47, 66};
    const int code = kCodes[bytes[0] % 6];
    const int mode = bytes[1] % 3 == 0 ? 1 : bytes[1] % 3 == 1 ? 2 : 18;
    At3EncContext context;
    if (At3EncOpen(code, mode, context) != kAt3Ok) return 0;
    const int channels = context.channels;
    std::vector<std::int16_t> block(static_cast<std::size_t>(1024 * channels));
    std::vector<std::uint8_t> out(static_cast<std::size_t>(context.frameBytes));
    const std::uint8_t* data = bytes + 2;
    std::size_t left = size - 2;
    for (int frame = 0; left > 0 && frame < 16; ++frame) {
        const std::size_t take = std::min(left, block.size() * 2);
        std::fill(block.begin(), block.end(), std::int16_t{0});
        std::memcpy(block.data(), data, take);
        data += take;
        left -= take;
        if (At3EncFrame(block.data(), out.data(), context, static_cast<int>(take / 2), channels, frame) != kAt3Ok) break;
    }
    return 0;
}
