// The spectral Huffman codes. Selector 1 codes pairs of mantissas from
// {-1, 0, 1}; selectors 2 to 7 code one mantissa each, as symbol 0 for zero,
// 2v - 1 for a positive v and -2v for a negative one. Codes are read most
// significant bit first; these tables are the ones every ATRAC3 decoder
// carries.
#include "audio/atrac3/at3internal.h"

namespace {

constexpr std::uint8_t kCode1[9] = {0x0, 0x4, 0x5, 0xC, 0xD, 0x1C, 0x1D, 0x1E, 0x1F};
constexpr std::uint8_t kBits1[9] = {1, 3, 3, 4, 4, 5, 5, 5, 5};
constexpr std::uint8_t kCode2[5] = {0x0, 0x4, 0x5, 0x6, 0x7};
constexpr std::uint8_t kBits2[5] = {1, 3, 3, 3, 3};
constexpr std::uint8_t kCode3[7] = {0x0, 0x4, 0x5, 0xC, 0xD, 0xE, 0xF};
constexpr std::uint8_t kBits3[7] = {1, 3, 3, 4, 4, 4, 4};
constexpr std::uint8_t kCode4[9] = {0x0, 0x4, 0x5, 0xC, 0xD, 0x1C, 0x1D, 0x1E, 0x1F};
constexpr std::uint8_t kBits4[9] = {1, 3, 3, 4, 4, 5, 5, 5, 5};
constexpr std::uint8_t kCode5[15] = {0x0, 0x2, 0x3, 0x8, 0x9, 0xA, 0xB, 0x1C, 0x1D, 0x3C, 0x3D, 0x3E, 0x3F, 0xC, 0xD};
constexpr std::uint8_t kBits5[15] = {2, 3, 3, 4, 4, 4, 4, 5, 5, 6, 6, 6, 6, 4, 4};
constexpr std::uint8_t kCode6[31] = {0x0,  0x2,  0x3,  0x4,  0x5,  0x6,  0x7,  0x14, 0x15, 0x16, 0x17,
                                     0x18, 0x19, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x78,
                                     0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F, 0x8,  0x9};
constexpr std::uint8_t kBits6[31] = {3, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5, 6, 6, 6,
                                     6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 4, 4};
constexpr std::uint8_t kCode7[63] = {
    0x0,  0x8,  0x9,  0xA,  0xB,  0xC,  0xD,  0xE,  0xF,  0x10, 0x11, 0x24, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33, 0x68, 0x69, 0x6A, 0x6B, 0x6C,
    0x6D, 0x6E, 0x6F, 0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF2,
    0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 0x2,  0x3};
constexpr std::uint8_t kBits7[63] = {3, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
                                     6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8,
                                     8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 4, 4};

const std::uint8_t* const kCodes[8] = {nullptr, kCode1, kCode2, kCode3, kCode4, kCode5, kCode6, kCode7};
const std::uint8_t* const kBits[8] = {nullptr, kBits1, kBits2, kBits3, kBits4, kBits5, kBits6, kBits7};

// Selector 1's symbols in order: the mantissa pairs they stand for.
constexpr int kPairs[9][2] = {{0, 0}, {0, 1}, {0, -1}, {1, 0}, {-1, 0}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

} // namespace

At3Code At3HuffCode(int selector, int mantissa) {
    const int symbol = mantissa > 0 ? 2 * mantissa - 1 : -2 * mantissa;
    return {kBits[selector][symbol], kCodes[selector][symbol]};
}

At3Code At3HuffPairCode(int first, int second) {
    // The symbol of each pair, indexed by (first + 1) * 3 + second + 1.
    static const auto symbols = [] {
        struct Table { std::uint8_t of[9]; } t{};
        for (int symbol = 0; symbol < 9; ++symbol)
            t.of[(kPairs[symbol][0] + 1) * 3 + kPairs[symbol][1] + 1] = static_cast<std::uint8_t>(symbol);
        return t;
    }();
    const int symbol = symbols.of[(first + 1) * 3 + second + 1];
    return {kBits1[symbol], kCode1[symbol]};
}
