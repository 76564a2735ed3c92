// The movie palette and inverse colour map of "Cinepak Mobile".
#include "video/cinepakpalette.h"

#include <algorithm>
#include <limits>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kFirstCutEntry = 16; // entries 16 to 239 hold the cut colours
constexpr int kMaxBoxes = 224;

// A box of histogram bins: Y 0 to 63, Cb and Cr 0 to 31, both ends included.
struct Box {
    int lo[3], hi[3];    // Y, Cb, Cr
    std::int64_t diagonal = 0;
    int occupied = 0;    // nonzero bins
};

// Bin widths in colour units: Y bins are 4 values wide, Cb and Cr 8.
constexpr int kScale[3] = {4, 8, 8};

std::uint32_t Count(std::span<const std::uint32_t> h, int y, int cb, int cr) { return h[(y * 32 + cb) * 32 + cr]; }

// Shrinks a box to the smallest range holding all its nonzero bins and
// recomputes its statistics.
void Shrink(Box& box, std::span<const std::uint32_t> h) {
    int lo[3] = {64, 32, 32}, hi[3] = {-1, -1, -1};
    int occupied = 0;
    for (int y = box.lo[0]; y <= box.hi[0]; ++y)
        for (int cb = box.lo[1]; cb <= box.hi[1]; ++cb)
            for (int cr = box.lo[2]; cr <= box.hi[2]; ++cr)
                if (Count(h, y, cb, cr) != 0) {
                    ++occupied;
                    const int v[3] = {y, cb, cr};
                    for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], v[a]), hi[a] = std::max(hi[a], v[a]);
                }
    box.occupied = occupied;
    if (occupied == 0) { // nothing left to cut
        box.diagonal = 0;
        return;
    }
    for (int a = 0; a < 3; ++a) box.lo[a] = lo[a], box.hi[a] = hi[a];
    std::int64_t d = 0;
    for (int a = 0; a < 3; ++a) {
        const std::int64_t extent = std::int64_t{box.hi[a] - box.lo[a]} * kScale[a];
        d += extent * extent;
    }
    box.diagonal = d;
}

YCbCr BoxColour(const Box& box, std::span<const std::uint32_t> h) {
    if (box.occupied == 0) return {0, 0, 0};
    std::uint64_t total = 0, sum[3] = {};
    for (int y = box.lo[0]; y <= box.hi[0]; ++y)
        for (int cb = box.lo[1]; cb <= box.hi[1]; ++cb)
            for (int cr = box.lo[2]; cr <= box.hi[2]; ++cr) {
                const std::uint64_t c = Count(h, y, cb, cr);
                total += c;
                sum[0] += c * static_cast<std::uint64_t>(y * 4 + 2);
                sum[1] += c * static_cast<std::uint64_t>(cb * 8 + 4);
                sum[2] += c * static_cast<std::uint64_t>(cr * 8 + 4);
            }
    auto mean = [&](std::uint64_t s) { return static_cast<std::uint8_t>((s + total / 2) / total); };
    return {mean(sum[0]), mean(sum[1]), mean(sum[2])};
}

} // namespace

YCbCr CinepakColour(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    const int b = blue, g = green, r = red;
    return {static_cast<std::uint8_t>(((g * 516 + r * 263 + b * 100 + 512) >> 10) + 16),
            static_cast<std::uint8_t>(((b * 450 - g * 298 - r * 152 + 512) >> 10) + 128),
            static_cast<std::uint8_t>(((r * 450 - g * 377 - b * 73 + 512) >> 10) + 128)};
}

OSErr ColourHistogram::Create() {
    try {
        counts_.assign(65536, 0);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

void ColourHistogram::CountColour(const YCbCr& c) {
    std::uint32_t& n = counts_[Bin(c)];
    if (n != std::numeric_limits<std::uint32_t>::max()) ++n; // saturates instead of wrapping to 0
}

void ColourHistogram::Count(const std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t width, std::uint32_t height) {
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* p = pixels + static_cast<std::ptrdiff_t>(y) * rowBytes;
        std::uint32_t x = 0;
#if defined(__SSE2__)
        // Four pixels at a time: the same integer arithmetic as CinepakColour,
        // as multiply-adds of (green, red) and (blue, 1) pairs.
        const __m128i mask = _mm_set1_epi32(0xFF);
        const __m128i yGR = _mm_set1_epi32(263 << 16 | 516), yB1 = _mm_set1_epi32(512 << 16 | 100);
        const __m128i cbGR = _mm_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(-152) << 16 | static_cast<std::uint16_t>(-298)));
        const __m128i cbB1 = _mm_set1_epi32(512 << 16 | 450);
        const __m128i crGR = _mm_set1_epi32(static_cast<std::int32_t>(450u << 16 | static_cast<std::uint16_t>(-377)));
        const __m128i crB1 = _mm_set1_epi32(static_cast<std::int32_t>(512u << 16 | static_cast<std::uint16_t>(-73)));
        alignas(16) std::uint32_t bins[4];
        for (; x + 4 <= width; x += 4, p += 16) {
            const __m128i bgra = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i b = _mm_and_si128(bgra, mask);
            const __m128i g = _mm_and_si128(_mm_srli_epi32(bgra, 8), mask);
            const __m128i r = _mm_and_si128(_mm_srli_epi32(bgra, 16), mask);
            const __m128i gr = _mm_or_si128(g, _mm_slli_epi32(r, 16));              // low: green, high: red
            const __m128i b1 = _mm_or_si128(b, _mm_set1_epi32(1 << 16));            // low: blue, high: 1
            const __m128i y8 = _mm_and_si128(
                _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(gr, yGR), _mm_madd_epi16(b1, yB1)), 10), _mm_set1_epi32(16)), mask);
            const __m128i cb8 = _mm_and_si128(
                _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(gr, cbGR), _mm_madd_epi16(b1, cbB1)), 10), _mm_set1_epi32(128)), mask);
            const __m128i cr8 = _mm_and_si128(
                _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(gr, crGR), _mm_madd_epi16(b1, crB1)), 10), _mm_set1_epi32(128)), mask);
            // ((y >> 2) × 32 + (cb >> 3)) × 32 + (cr >> 3)
            const __m128i bin = _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(_mm_srli_epi32(y8, 2), 10), _mm_slli_epi32(_mm_srli_epi32(cb8, 3), 5)),
                                              _mm_srli_epi32(cr8, 3));
            _mm_store_si128(reinterpret_cast<__m128i*>(bins), bin);
            for (std::uint32_t bin4 : bins) {
                std::uint32_t& n = counts_[bin4];
                if (n != std::numeric_limits<std::uint32_t>::max()) ++n;
            }
        }
#endif
        for (; x < width; ++x, p += 4) CountColour(CinepakColour(p[0], p[1], p[2]));
    }
}

OSErr BuildMoviePalette(std::span<const std::uint32_t> h, std::span<std::uint8_t> palette, std::span<std::uint8_t> inverseMap) {
    if (h.size() != 65536 || palette.size() != 768 || inverseMap.size() != 8192) return paramErr;
    std::fill(palette.begin(), palette.end(), std::uint8_t{0});
    auto put = [&](int entry, const YCbCr& c) {
        palette[3 * entry] = c.y;
        palette[3 * entry + 1] = c.cb;
        palette[3 * entry + 2] = c.cr;
    };
    // Fixed grays for the player's own interface, and black at the end.
    const std::uint8_t grays[7] = {255, 204, 170, 136, 102, 68, 34};
    for (int i = 0; i < 7; ++i) put(i, CinepakColour(grays[i], grays[i], grays[i]));
    put(255, CinepakColour(0, 0, 0));

    // Median cut.
    std::vector<Box> boxes;
    try {
        boxes.reserve(kMaxBoxes);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    boxes.push_back({{0, 0, 0}, {63, 31, 31}});
    Shrink(boxes[0], h);
    while (static_cast<int>(boxes.size()) < kMaxBoxes) {
        // First the most crowded boxes, then the widest.
        const bool byOccupancy = 2 * boxes.size() <= static_cast<std::size_t>(kMaxBoxes);
        int chosen = -1;
        for (int i = 0; i < static_cast<int>(boxes.size()); ++i) {
            const Box& b = boxes[static_cast<std::size_t>(i)];
            if (b.diagonal == 0) continue;
            if (chosen < 0) {
                chosen = i;
                continue;
            }
            const Box& c = boxes[static_cast<std::size_t>(chosen)];
            if (byOccupancy ? b.occupied > c.occupied : b.diagonal > c.diagonal) chosen = i;
        }
        if (chosen < 0) break;
        Box& box = boxes[static_cast<std::size_t>(chosen)];
        int axis = 0;
        for (int a = 1; a < 3; ++a)
            if ((box.hi[a] - box.lo[a]) * kScale[a] > (box.hi[axis] - box.lo[axis]) * kScale[axis]) axis = a;
        const int mid = (box.lo[axis] + box.hi[axis]) / 2;
        Box upper = box;
        upper.lo[axis] = mid + 1;
        box.hi[axis] = mid;
        Shrink(box, h);
        Shrink(upper, h);
        boxes.push_back(upper);
    }
    for (std::size_t i = 0; i < boxes.size(); ++i) put(kFirstCutEntry + static_cast<int>(i), BoxColour(boxes[i], h));

    // Inverse map: the nearest entry to each cell's centre.
    for (int yc = 0; yc < 32; ++yc)
        for (int bc = 0; bc < 16; ++bc)
            for (int rc = 0; rc < 16; ++rc) {
                const int y = yc * 8 + 4, cb = bc * 16 + 8, cr = rc * 16 + 8;
                int best = 0, bestDistance = std::numeric_limits<int>::max();
                for (int e = 0; e < 256; ++e) {
                    const int dy = y - palette[3 * e], db = cb - palette[3 * e + 1], dr = cr - palette[3 * e + 2];
                    const int d = dy * dy + db * db + dr * dr;
                    if (d < bestDistance) bestDistance = d, best = e;
                }
                inverseMap[static_cast<std::size_t>(yc * 256 + bc * 16 + rc)] = static_cast<std::uint8_t>(best);
            }
    return noErr;
}

std::array<std::uint8_t, 3> CinepakPixel(const YCbCr& c) {
    // 1.164, 1.596, 0.392, 0.813 and 2.017 in 10-bit fixed point.
    const int y = (c.y - 16) * 1192, cb = c.cb - 128, cr = c.cr - 128;
    const auto clamp = [](int v) { return static_cast<std::uint8_t>(std::clamp((v + 512) >> 10, 0, 255)); };
    return {clamp(y + 2066 * cb), clamp(y - 401 * cb - 833 * cr), clamp(y + 1634 * cr)};
}

void ShowOnPaletteScreen(std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t width, std::uint32_t height,
                         std::span<const std::uint8_t> palette, std::span<const std::uint8_t> inverseMap) {
    if (palette.size() < 768 || inverseMap.size() < 8192) return;
    std::array<std::array<std::uint8_t, 3>, 256> shown;
    for (std::size_t e = 0; e < 256; ++e) shown[e] = CinepakPixel({palette[3 * e], palette[3 * e + 1], palette[3 * e + 2]});
    for (std::uint32_t row = 0; row < height; ++row) {
        std::uint8_t* p = pixels + static_cast<std::ptrdiff_t>(row) * rowBytes;
        for (std::uint32_t x = 0; x < width; ++x, p += 4) {
            const YCbCr c = CinepakColour(p[0], p[1], p[2]);
            const auto& entry = shown[inverseMap[(c.y >> 3) * 256u + (c.cb >> 4) * 16u + (c.cr >> 4)]];
            p[0] = entry[0], p[1] = entry[1], p[2] = entry[2];
        }
    }
}
