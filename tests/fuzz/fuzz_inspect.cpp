// Feeds arbitrary bytes to the movie database inspector, with and without a
// scrambling key: whatever the input, it must answer, never crash.
#include <cstddef>
#include <cstdint>

#include "tools/inspect.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    Inspection plain = InspectDatabase({bytes, size});
    (void)DescribeInspection(plain, true);
    if (plain.scrambled) {
        static const std::uint8_t key[512] = {1, 2, 3};
        Inspection keyed = InspectDatabase({bytes, size}, key);
        (void)DescribeInspection(keyed, false);
    }
    return 0;
}
