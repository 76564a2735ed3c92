// The vectors of the "Cinepak Mobile" encoder and their kernels: a 2 × 2
// block in Cinepak's colour space, the distance between two (plain and
// SSE2, which tests hold to each other bit for bit), luma sums and their
// ordering, a block built from pixels and an entry as the stream carries it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace cinepak {

// A 2 × 2 block in Cinepak's colour space: four luma values and one pair of
// colour differences. The decoder shows R = Y + 2V, G = Y − U/2 − V, B = Y + 2U.
// Two spare lanes, always zero, make a vector 16 bytes: one SSE2 register.
struct alignas(16) Vec {
    std::array<std::int16_t, 8> c{}; // Y0 Y1 Y2 Y3 U V 0 0
};

// Errors count luma and colour differences alike. Weighing the colour
// differences more (each drives a whole 2 × 2 block) was tried: it buys a
// little overall PSNR for more luma PSNR lost, and luma is what the eye sees.
// Weighing them half was tried too: 0.1 to 0.6 dB more luma PSNR, but 0.2 to
// 0.85 dB less over the three colours, which then fell below libavcodec's.
inline int DistancePlain(const Vec& a, const Vec& b) {
    int d = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const int e = a.c[i] - b.c[i];
        d += e * e;
    }
    return d;
}

#ifdef __SSE2__
// Differences stay within ±510 and their squares' pairwise sums within
// int32, so pmaddwd gives the exact sum of squares (the spare lanes are 0).
inline int DistanceSse2(const Vec& a, const Vec& b) {
    const __m128i d = _mm_sub_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(a.c.data())),
                                    _mm_load_si128(reinterpret_cast<const __m128i*>(b.c.data())));
    __m128i s = _mm_madd_epi16(d, d);
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(s);
}
#endif

// The distance the encoder uses: the fastest kernel the build has. It is
// called in the innermost loops, so it is chosen when compiling (and
// inlined) rather than through a table; the table below lists every kernel
// so that tests hold them to one another.
inline int Distance(const Vec& a, const Vec& b) {
#ifdef __SSE2__
    return DistanceSse2(a, b);
#else
    return DistancePlain(a, b);
#endif
}

struct DistanceKernel {
    const char* name;
    int (*distance)(const Vec&, const Vec&);
};
inline constexpr DistanceKernel kDistanceKernels[] = {
    {"plain", DistancePlain},
#ifdef __SSE2__
    {"sse2", DistanceSse2},
#endif
};

// The luma sum of a vector: (Σ ΔY)² / 4 is a lower bound of the luma part
// of any distance (Cauchy–Schwarz), so entries sorted by it can be searched
// outward from the closest sum and the search stopped early.
inline int LumaSum(const Vec& v) { return v.c[0] + v.c[1] + v.c[2] + v.c[3]; }
constexpr int kLargestSum = 4 * 255;
using SumStarts = std::array<int, kLargestSum + 2>;

// Orders the entries that `take` accepts by luma sum, then number (a counting
// sort: luma sums of entries run from 0 to 1020). `order` receives their
// numbers; `firstWithSum[s]` is where those of sum s start in it.
template <typename Take>
inline void OrderByLumaSum(std::span<const Vec> entries, Take take, SumStarts& firstWithSum, std::uint8_t* order) {
    firstWithSum.fill(0);
    for (std::size_t e = 0; e < entries.size(); ++e)
        if (take(e)) ++firstWithSum[static_cast<std::size_t>(LumaSum(entries[e])) + 1];
    for (std::size_t sum = 1; sum < firstWithSum.size(); ++sum) firstWithSum[sum] += firstWithSum[sum - 1];
    SumStarts next = firstWithSum;
    for (std::size_t e = 0; e < entries.size(); ++e)
        if (take(e)) order[next[static_cast<std::size_t>(LumaSum(entries[e]))]++] = static_cast<std::uint8_t>(e);
}

// num / den rounded to nearest, halves away from zero (den > 0), in integers:
// means are taken millions of times a second.
inline std::int64_t RoundDiv(std::int64_t num, std::int64_t den) {
    return num >= 0 ? (2 * num + den) / (2 * den) : -((2 * -num + den) / (2 * den));
}

// The block of four 'BGRA' pixels: two from `top`, two from `bottom`.
inline Vec BlockVector(const std::uint8_t* top, const std::uint8_t* bottom) {
    Vec v;
    int u = 0, w = 0;
    const std::uint8_t* px[4] = {top, top + 4, bottom, bottom + 4};
    for (std::size_t i = 0; i < 4; ++i) {
        const int b = px[i][0], g = px[i][1], r = px[i][2];
        const int y = (2 * r + 4 * g + b + 3) / 7;
        v.c[i] = static_cast<std::int16_t>(y);
        u += b - y;
        w += r - y;
    }
    // U = (B − Y) / 2 and V = (R − Y) / 2, averaged over the block.
    v.c[4] = static_cast<std::int16_t>(std::clamp(static_cast<int>(RoundDiv(u, 8)), -128, 127));
    v.c[5] = static_cast<std::int16_t>(std::clamp(static_cast<int>(RoundDiv(w, 8)), -128, 127));
    return v;
}

// An entry as the bit stream carries it.
inline Vec Clamped(const Vec& v) {
    Vec c;
    for (std::size_t i = 0; i < 4; ++i) c.c[i] = static_cast<std::int16_t>(std::clamp<int>(v.c[i], 0, 255));
    for (std::size_t i = 4; i < 6; ++i) c.c[i] = static_cast<std::int16_t>(std::clamp<int>(v.c[i], -128, 127));
    return c;
}

} // namespace cinepak
