// Feeds arbitrary bytes to the movie database inspector, with and without a
// scrambling key, and to what the inspector decodes from a database it
// accepts (a "16 Grays" picture, the sound): whatever the input, it must
// answer, never crash, and never size a buffer by a damaged count.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/inspect.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    Inspection plain = InspectDatabase({bytes, size});
    (void)DescribeInspection(plain, true);
    static const std::uint8_t key[512] = {1, 2, 3};
    if (plain.scrambled) {
        Inspection keyed = InspectDatabase({bytes, size}, key);
        (void)DescribeInspection(keyed, false);
    }
    if (!plain.Valid()) return 0;
    const std::span<const std::uint8_t> keyUsed = plain.scrambled ? std::span<const std::uint8_t>(key) : std::span<const std::uint8_t>();
    std::vector<std::uint8_t> gray;
    std::uint32_t width = 0, height = 0;
    const auto frames = static_cast<std::uint32_t>(plain.streams[0].chunks);
    if (frames > 0) (void)DecodeGraysFrameOf({bytes, size}, keyUsed, frames - 1, gray, width, height);
    std::vector<std::int16_t> samples;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    (void)DecodeSoundOf({bytes, size}, keyUsed, samples, channels, rate);
    return 0;
}
