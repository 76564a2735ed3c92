// Per-block measurements of the "16 Grays" encoder.
#include "video/graysblock.h"

#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Candidate pairs of sorted positions for the two levels of a block: the
// extremes first, then pairs that ignore outliers.
constexpr int kPairs[5][2] = {{0, 15}, {2, 12}, {5, 10}, {1, 10}, {5, 14}};

} // namespace

GraysBlockStats AnalyzeGraysBlockPlain(const std::uint8_t p[16], const std::uint8_t* r, int impossible) {
    GraysBlockStats s{};
    int sum = 0, histogram[16] = {};
    for (int i = 0; i < 16; ++i) sum += p[i], ++histogram[p[i]];
    s.mean = (sum + 8) >> 4;
    for (int i = 0; i < 16; ++i) s.flatError += std::abs(s.mean - p[i]);
    std::uint8_t sorted[16];
    for (int v = 0, k = 0; v < 16; ++v)
        for (int n = 0; n < histogram[v]; ++n) sorted[k++] = static_cast<std::uint8_t>(v);
    s.twoError = 0x7FFFFFFF;
    for (const auto& pair : kPairs) {
        const int l = sorted[pair[0]], h = sorted[pair[1]], t = (l + h + 1) / 2;
        int e = 0;
        for (int i = 0; i < 16; ++i) e += p[i] >= t ? std::abs(p[i] - h) : std::abs(p[i] - l);
        // The first pair with the smallest error is kept.
        if (e < s.twoError) s.twoError = e, s.lo = l, s.hi = h, s.threshold = t;
    }
    for (int i = 0; i < 16; ++i)
        if (p[i] >= s.threshold) s.mask |= static_cast<std::uint16_t>(0x8000 >> i);
    s.skipError = impossible;
    if (r != nullptr) {
        s.skipError = 0;
        for (int i = 0; i < 16; ++i) s.skipError += std::abs(p[i] - r[i]);
    }
    return s;
}

#if defined(__SSE2__)

namespace {

int Sad(__m128i a, __m128i b) {
    const __m128i s = _mm_sad_epu8(a, b);
    return _mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
}

// Set bits of a 16-bit mask, without a library call on processors the
// compiler may not assume a population-count instruction for.
int Count16(unsigned m) {
    m = m - ((m >> 1) & 0x5555);
    m = (m & 0x3333) + ((m >> 2) & 0x3333);
    m = (m + (m >> 4)) & 0x0F0F;
    return static_cast<int>((m + (m >> 8)) & 0x1F);
}

// Every level (0 to 15) in all 16 bytes: SSE2 has no cheap byte broadcast,
// and levels, means and thresholds are all 4-bit.
struct LevelVectors {
    __m128i v[16];
    LevelVectors() {
        for (int i = 0; i < 16; ++i) v[i] = _mm_set1_epi8(static_cast<char>(i));
    }
};
const LevelVectors kLevels;

// Bit i of a byte movemask (byte i) becomes bit 15 − i.
std::uint16_t Reverse16(unsigned m) {
    m = ((m & 0x5555) << 1) | ((m >> 1) & 0x5555);
    m = ((m & 0x3333) << 2) | ((m >> 2) & 0x3333);
    m = ((m & 0x0F0F) << 4) | ((m >> 4) & 0x0F0F);
    m = ((m & 0x00FF) << 8) | ((m >> 8) & 0x00FF);
    return static_cast<std::uint16_t>(m);
}

} // namespace

GraysBlockStats AnalyzeGraysBlockFast(const std::uint8_t p[16], const std::uint8_t* r, int impossible) {
    GraysBlockStats s{};
    const __m128i zero = _mm_setzero_si128();
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    s.mean = (Sad(v, zero) + 8) >> 4;
    s.flatError = Sad(v, kLevels.v[s.mean]);

    // The sorted positions from the counts of each level present, found
    // between the block's smallest and largest level.
    __m128i lowest = _mm_min_epu8(v, _mm_srli_si128(v, 8));
    lowest = _mm_min_epu8(lowest, _mm_srli_si128(lowest, 4));
    lowest = _mm_min_epu8(lowest, _mm_srli_si128(lowest, 2));
    lowest = _mm_min_epu8(lowest, _mm_srli_si128(lowest, 1));
    __m128i highest = _mm_max_epu8(v, _mm_srli_si128(v, 8));
    highest = _mm_max_epu8(highest, _mm_srli_si128(highest, 4));
    highest = _mm_max_epu8(highest, _mm_srli_si128(highest, 2));
    highest = _mm_max_epu8(highest, _mm_srli_si128(highest, 1));
    const int lo = _mm_cvtsi128_si32(lowest) & 0xFF, hi = _mm_cvtsi128_si32(highest) & 0xFF;
    std::uint8_t sorted[16];
    for (int level = lo, at = 0; level <= hi; ++level) {
        const int n = Count16(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, kLevels.v[level]))));
        for (int k = 0; k < n; ++k) sorted[at++] = static_cast<std::uint8_t>(level);
    }

    s.twoError = 0x7FFFFFFF;
    __m128i bestTakesHigh = zero;
    for (const auto& pair : kPairs) {
        const int l = sorted[pair[0]], h = sorted[pair[1]], t = (l + h + 1) / 2;
        // Pixels at or above the threshold take the high level: max(p, t) == p.
        const __m128i takesHigh = _mm_cmpeq_epi8(_mm_max_epu8(v, kLevels.v[t]), v);
        const __m128i taken = _mm_or_si128(_mm_and_si128(takesHigh, kLevels.v[h]), _mm_andnot_si128(takesHigh, kLevels.v[l]));
        const int e = Sad(v, taken);
        if (e < s.twoError) s.twoError = e, s.lo = l, s.hi = h, s.threshold = t, bestTakesHigh = takesHigh;
    }
    s.mask = Reverse16(static_cast<unsigned>(_mm_movemask_epi8(bestTakesHigh)));
    s.skipError = r != nullptr ? Sad(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(r))) : impossible;
    return s;
}

#else

GraysBlockStats AnalyzeGraysBlockFast(const std::uint8_t p[16], const std::uint8_t* r, int impossible) {
    return AnalyzeGraysBlockPlain(p, r, impossible);
}

#endif
