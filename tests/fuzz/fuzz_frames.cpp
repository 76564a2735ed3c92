// Feeds arbitrary bytes to the frame decoders of the inspector and preview:
// the "16 Grays" block decoder and the Cinepak unpacker.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/byteblock.h"
#include "video/cinepakrepack.h"
#include "video/graysdecoder.h"
#include "video/graysencoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return 0;
    // The first two bytes choose a picture size of up to 64 × 64.
    const std::uint32_t width = 4 * (1 + bytes[0] % 16), height = 4 * (1 + bytes[1] % 16);
    std::vector<std::uint8_t> picture(grays::RowBytes(width) * height, 0);
    (void)DecodeGraysFrame({bytes + 2, size - 2}, width, height, picture);
    ByteBlock out;
    (void)UnpackCinepakFrame({bytes, size}, out);
    return 0;
}
