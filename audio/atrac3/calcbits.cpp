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
    // Code lengths by selector and mantissa + 31; selector 1 by pair,
    // (first + 1) * 3 + second + 1.
    static const auto lengths = [] {
        struct Table { std::uint8_t of[8][63]; } t{};
        for (int s = 2; s < 8; ++s)
            for (int m = -kAt3MaxMantissa[s]; m <= kAt3MaxMantissa[s]; ++m) t.of[s][m + 31] = At3HuffCode(s, m).bits;
        for (int a = -1; a <= 1; ++a)
            for (int b = -1; b <= 1; ++b) t.of[1][(a + 1) * 3 + b + 1] = At3HuffPairCode(a, b).bits;
        return t;
    }();
    int bits = 0;
    const std::uint8_t* of = lengths.of[selector];
    if (selector == 1) {
        for (int i = 0; i < count; i += 2) bits += of[(mantissas[i] + 1) * 3 + mantissas[i + 1] + 1];
        return bits;
    }
    for (int i = 0; i < count; ++i) bits += of[mantissas[i] + 31];
    return bits;
}
