// How many bits a subband's mantissas take in either coding.
#include "audio/atrac3/at3internal.h"

namespace {
// Constant-length code sizes per selector; selector 1 packs a pair in four bits.
constexpr int kClcBits[8] = {0, 4, 3, 3, 4, 4, 5, 6};
} // namespace

int At3ClcBits(int selector, int count) {
    if (selector == 1) return kClcBits[1] * (count / 2);
    return kClcBits[selector] * count;
}

int At3VlcBits(int selector, const int* mantissas, int count) {
    int bits = 0;
    if (selector == 1) {
        for (int i = 0; i < count; i += 2) bits += At3HuffPairCode(mantissas[i], mantissas[i + 1]).bits;
        return bits;
    }
    for (int i = 0; i < count; ++i) bits += At3HuffCode(selector, mantissas[i]).bits;
    return bits;
}
