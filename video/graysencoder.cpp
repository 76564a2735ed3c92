// The "16 Grays" encoder.
#include "video/graysencoder.h"

#include "video/graysblock.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The dither strength: how much of each step's quantisation error the next
// level of the 2 × 2 tile makes up for.
constexpr float kDitherStrength = 0.5f;

// "Not possible" for the unchanged choice.
constexpr int kImpossible = 32767;

// Errors above this (about one level per pixel) make a block raw, unless it
// lies near the picture's edges where detail matters less.
constexpr int kRawError = 17;
constexpr int kRawWeight = 5;

using DitherTable = std::array<std::array<std::uint8_t, 4>, 256>;

DitherTable BuildDitherTable() {
    DitherTable table{};
    for (int g = 0; g < 256; ++g) {
        auto clamp = [](int v) { return std::clamp(v, 0, 255); };
        int q[4];
        int v = g;
        q[0] = clamp(v) >> 4;
        for (int i = 1; i < 4; ++i) {
            v += static_cast<int>(std::trunc(static_cast<float>(g - 17 * q[i - 1]) * kDitherStrength));
            q[i] = clamp(v) >> 4;
        }
        std::sort(q, q + 4, [](int a, int b) { return a > b; });
        // Spread equal levels across the tile's diagonal.
        if (q[0] == q[1] || q[2] == q[3]) std::swap(q[1], q[3]);
        for (int i = 0; i < 4; ++i) table[g][i] = static_cast<std::uint8_t>(q[i]);
    }
    return table;
}

const DitherTable& Dither() {
    static const DitherTable table = BuildDitherTable();
    return table;
}

// The same table by tile position: four tables of 256 levels.
const std::array<std::array<std::uint8_t, 256>, 4>& DitherByTile() {
    static const auto tables = [] {
        std::array<std::array<std::uint8_t, 256>, 4> t{};
        for (int g = 0; g < 256; ++g)
            for (int i = 0; i < 4; ++i) t[i][g] = Dither()[g][i];
        return t;
    }();
    return tables;
}

enum class Kind : std::uint8_t { Unchanged, Flat, TwoLevel, Raw };

struct Block {
    Kind kind;
    std::uint8_t level;      // flat
    std::uint8_t code[3];    // two-level: mask high, mask low, levels
    std::uint8_t raw[8];
};

std::uint32_t TwoLevelValue(const Block& b) {
    return std::uint32_t{b.code[0]} << 16 | std::uint32_t{b.code[1]} << 8 | b.code[2];
}

} // namespace

void GrayDitherLevels(std::uint8_t darkness, std::uint8_t levels[4]) {
    const auto& t = Dither()[darkness];
    std::copy(t.begin(), t.end(), levels);
}

struct GraysEncoder::State {
    std::uint32_t width = 0, height = 0, exactWidth = 0, exactHeight = 0;
    std::uint32_t blocksWide = 0, blocksHigh = 0, rowBytes = 0;
    std::vector<std::uint8_t> levels;   // this frame, one level per pixel
    std::vector<std::uint8_t> previous; // the reconstructed picture, one level per pixel
    std::vector<std::uint8_t> packed;   // the same, packed, made on request
    std::vector<std::int16_t> countdown;
    std::vector<std::uint8_t> columnWeight, rowWeight; // centre weights by block column and row
    std::vector<Block> blocks;
    // Counts of the frame's two-level codes: an open-addressing table keyed
    // by the 24-bit code, emptied per frame by a generation stamp.
    struct PatternSlot {
        std::uint32_t code;
        std::uint32_t count;
        std::uint32_t generation;
    };
    std::vector<PatternSlot> patterns;
    std::uint32_t generation = 0;
    std::uint32_t bestCount = 0, bestCode = 0;

    void CountPattern(std::uint32_t code) {
        const std::size_t mask = patterns.size() - 1;
        for (std::size_t i = (code * 2654435761u) & mask;; i = (i + 1) & mask) {
            PatternSlot& slot = patterns[i];
            if (slot.generation != generation) {
                slot = {code, 0, generation};
            } else if (slot.code != code) {
                continue;
            }
            ++slot.count;
            // The most frequent code; the larger one on equal counts.
            if (slot.count > bestCount || (slot.count == bestCount && code > bestCode))
                bestCount = slot.count, bestCode = code;
            return;
        }
    }
    std::uint64_t framesWritten = 0;
    std::uint32_t random = 0x2545F491;

    // A private generator, so that output does not depend on the C library:
    // only the range 500 to 999 of the refresh countdown matters.
    int RefreshCountdown() {
        random = random * 1103515245u + 12345u;
        return static_cast<int>((random >> 16) % 500) + 500;
    }

    // The 16 levels of block (bx, by) of a one-level-per-pixel picture.
    void LoadBlock(const std::vector<std::uint8_t>& picture, std::uint32_t bx, std::uint32_t by, std::uint8_t out[16]) const {
        for (int row = 0; row < 4; ++row)
            std::memcpy(out + 4 * row, picture.data() + std::size_t{by * 4 + row} * width + bx * 4, 4);
    }
    void StoreBlock(std::uint32_t bx, std::uint32_t by, const std::uint8_t in[16]) {
        for (int row = 0; row < 4; ++row)
            std::memcpy(previous.data() + std::size_t{by * 4 + row} * width + bx * 4, in + 4 * row, 4);
    }
};

GraysEncoder::GraysEncoder() = default;
GraysEncoder::~GraysEncoder() = default;
GraysEncoder::GraysEncoder(GraysEncoder&&) noexcept = default;
GraysEncoder& GraysEncoder::operator=(GraysEncoder&&) noexcept = default;

OSErr GraysEncoder::Begin(std::uint16_t width, std::uint16_t height, std::uint16_t exactWidth, std::uint16_t exactHeight) {
    if (width == 0 || height == 0 || width % 4 != 0 || height % 4 != 0 || exactWidth > width || exactHeight > height)
        return paramErr;
    auto s = std::unique_ptr<State>(new (std::nothrow) State);
    if (!s) return memFullErr;
    s->width = width, s->height = height, s->exactWidth = exactWidth, s->exactHeight = exactHeight;
    s->blocksWide = width / 4;
    s->blocksHigh = height / 4;
    s->rowBytes = grays::RowBytes(width);
    try {
        s->levels.assign(std::size_t{width} * height, 0);
        s->previous.assign(std::size_t{width} * height, 0); // white
        s->packed.assign(std::size_t{s->rowBytes} * height, 0);
        s->countdown.assign(std::size_t{s->blocksWide} * s->blocksHigh, 0);
        // Detail in the middle of the picture matters most: full weight at
        // the centre, falling to 0 at the edges (16 where a picture has a
        // single block column or row and the centre is undefined).
        auto weights = [](std::uint32_t blocks) {
            std::vector<std::uint8_t> w(blocks);
            const int centre = static_cast<int>(blocks / 2);
            for (std::uint32_t b = 0; b < blocks; ++b)
                w[b] = static_cast<std::uint8_t>(centre == 0 ? 16 : 16 - std::abs(static_cast<int>(b) - centre) * 16 / centre);
            return w;
        };
        s->columnWeight = weights(s->blocksWide);
        s->rowWeight = weights(s->blocksHigh);
        s->blocks.resize(s->countdown.size());
        std::size_t slots = 16;
        while (slots < 2 * s->countdown.size()) slots *= 2;
        s->patterns.assign(slots, State::PatternSlot{0, 0, 0});
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    Dither(); // the table is built here rather than inside the first frame
    state_ = std::move(s);
    return noErr;
}

std::span<const std::uint8_t> GraysEncoder::Reconstructed() const {
    if (!state_) return {};
    State& s = *state_;
    for (std::uint32_t y = 0; y < s.height; ++y)
        for (std::uint32_t x = 0; x < s.width; x += 2) {
            const std::uint8_t* p = s.previous.data() + std::size_t{y} * s.width + x;
            s.packed[std::size_t{y} * s.rowBytes + x / 2] = static_cast<std::uint8_t>(p[0] << 4 | p[1]);
        }
    return s.packed;
}

OSErr GraysEncoder::Encode(const std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t duration,
                           bool differenceAllowed, ByteBlock& out, bool& difference) {
    if (!state_ || pixels == nullptr) return paramErr;
    State& s = *state_;

    // Darkness and dither: 0 is white, 15 black; padding stays white. Two
    // pixels at a time, each column of the tile with its own table.
    const auto& byTile = DitherByTile();
    for (std::uint32_t y = 0; y < s.height; ++y) {
        std::uint8_t* row = s.levels.data() + std::size_t{y} * s.width;
        const std::uint8_t* even = byTile[2 * (y % 2)].data();
        const std::uint8_t* odd = byTile[2 * (y % 2) + 1].data();
        std::uint32_t x = 0;
        if (y < s.exactHeight) {
            const std::uint8_t* p = pixels + static_cast<std::ptrdiff_t>(y) * rowBytes;
            auto darkness = [](const std::uint8_t* q) { return 255 - ((q[1] * 601 + q[2] * 306 + q[0] * 117) >> 10); };
#if defined(__SSE2__)
            // Four pixels at a time: the weighted sums in 32-bit lanes.
            const __m128i weights = _mm_setr_epi16(117, 601, 306, 0, 117, 601, 306, 0);
            const __m128i zero = _mm_setzero_si128();
            for (; x + 3 < s.exactWidth; x += 4, p += 16) {
                const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i a = _mm_madd_epi16(_mm_unpacklo_epi8(px, zero), weights); // b0g0 r0 b1g1 r1
                const __m128i b = _mm_madd_epi16(_mm_unpackhi_epi8(px, zero), weights); // b2g2 r2 b3g3 r3
                // Add each pixel's two halves: lanes (0+1), (2+3).
                const __m128i sums = _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), 0x88)),
                                                   _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), 0xDD)));
                alignas(16) std::int32_t d[4];
                _mm_store_si128(reinterpret_cast<__m128i*>(d), _mm_srli_epi32(sums, 10));
                row[x] = even[255 - d[0]];
                row[x + 1] = odd[255 - d[1]];
                row[x + 2] = even[255 - d[2]];
                row[x + 3] = odd[255 - d[3]];
            }
#endif
            for (; x + 1 < s.exactWidth; x += 2, p += 8) {
                row[x] = even[darkness(p)];
                row[x + 1] = odd[darkness(p + 4)];
            }
            if (x < s.exactWidth) row[x] = (x % 2 == 0 ? even : odd)[darkness(p)], ++x;
        }
        for (; x < s.width; ++x) row[x] = (x % 2 == 0 ? even : odd)[0];
    }

    const bool skipPossible = differenceAllowed && s.framesWritten > 0;
    const auto frameDuration = static_cast<std::int16_t>(duration & 0xFFFF);
    ++s.generation;
    s.bestCount = s.bestCode = 0;

    for (std::uint32_t by = 0; by < s.blocksHigh; ++by) {
        for (std::uint32_t bx = 0; bx < s.blocksWide; ++bx) {
            const std::size_t index = std::size_t{by} * s.blocksWide + bx;
            Block& block = s.blocks[index];
            std::uint8_t p[16];
            s.LoadBlock(s.levels, bx, by, p);
            std::uint8_t r[16];
            if (skipPossible) s.LoadBlock(s.previous, bx, by, r);
            const GraysBlockStats stats = AnalyzeGraysBlockFast(p, skipPossible ? r : nullptr, kImpossible);
            const int mean = stats.mean, eFlat = stats.flatError, eTwo = stats.twoError;
            const int lo = stats.lo, hi = stats.hi;
            int eSkip = stats.skipError;
            // A block unchanged for long enough is refreshed when a real code
            // would do better, so that static areas do not drift forever.
            std::int16_t& countdown = s.countdown[index];
            if (eSkip != kImpossible && countdown <= 0) {
                if (eFlat < eSkip || eTwo < eSkip) eSkip = kImpossible;
                countdown = 0;
            }

            const int weight = std::min(s.columnWeight[bx], s.rowWeight[by]);

            if (std::min({eFlat, eSkip, eTwo}) > kRawError && weight > kRawWeight) {
                block.kind = Kind::Raw;
            } else {
                const int F = 15 * eFlat, S = 10 * eSkip, T = 20 * eTwo;
                if (S <= F && S <= T) block.kind = Kind::Unchanged;
                else if (F < S && F <= T) block.kind = Kind::Flat;
                else block.kind = Kind::TwoLevel;
            }

            if (block.kind == Kind::Unchanged) {
                countdown = static_cast<std::int16_t>(countdown - frameDuration);
                continue;
            }
            countdown = static_cast<std::int16_t>(s.RefreshCountdown());
            switch (block.kind) {
            case Kind::Flat: {
                block.level = static_cast<std::uint8_t>(mean);
                std::uint8_t flat[16];
                std::memset(flat, block.level, sizeof flat);
                s.StoreBlock(bx, by, flat);
                break;
            }
            case Kind::TwoLevel: {
                std::uint16_t mask = stats.mask;
                std::uint8_t levels = static_cast<std::uint8_t>(lo << 4 | hi);
                // The first byte stays below 0x80: invert a mask that starts dark.
                if (mask & 0x8000) {
                    mask = static_cast<std::uint16_t>(~mask);
                    levels = static_cast<std::uint8_t>(hi << 4 | lo);
                }
                block.code[0] = static_cast<std::uint8_t>(mask >> 8);
                block.code[1] = static_cast<std::uint8_t>(mask);
                block.code[2] = levels;
                std::uint8_t drawn[16];
                for (int i = 0; i < 16; ++i)
                    drawn[i] = (mask & (0x8000 >> i)) ? (levels & 0x0F) : static_cast<std::uint8_t>(levels >> 4);
                s.StoreBlock(bx, by, drawn);
                s.CountPattern(TwoLevelValue(block));
                break;
            }
            case Kind::Raw:
                for (int row = 0; row < 4; ++row) {
                    block.raw[2 * row] = static_cast<std::uint8_t>(p[4 * row] << 4 | p[4 * row + 1]);
                    block.raw[2 * row + 1] = static_cast<std::uint8_t>(p[4 * row + 2] << 4 | p[4 * row + 3]);
                }
                s.StoreBlock(bx, by, p);
                break;
            default: break;
            }
        }
    }

    // The most frequent two-level code gets a one-byte code when it occurs
    // more than three times.
    const std::uint32_t common = s.bestCode;
    const bool promote = s.bestCount > 3;

    // Output, with unchanged and flat runs.
    ByteBlock payload;
    if (OSErr err = payload.Reserve(static_cast<std::uint32_t>(s.blocks.size() * 3 + 16))) return err;
    bool patternDefined = false;
    difference = false;
    OSErr err = noErr;
    for (std::size_t i = 0; i < s.blocks.size() && err == noErr;) {
        const Block& b = s.blocks[i];
        switch (b.kind) {
        case Kind::Unchanged: {
            std::size_t n = 1;
            while (n < 32 && i + n < s.blocks.size() && s.blocks[i + n].kind == Kind::Unchanged) ++n;
            err = payload.AppendByte(static_cast<std::uint8_t>(grays::kUnchangedRun | (n - 1)));
            difference = true;
            i += n;
            break;
        }
        case Kind::Flat: {
            std::size_t n = 1;
            while (n < 4 && i + n < s.blocks.size() && s.blocks[i + n].kind == Kind::Flat &&
                   s.blocks[i + n].level == b.level)
                ++n;
            err = payload.AppendByte(static_cast<std::uint8_t>(grays::kFlatRun | (n - 1) << 4 | b.level));
            i += n;
            break;
        }
        case Kind::TwoLevel:
            if (promote && TwoLevelValue(b) == common) {
                if (patternDefined) {
                    err = payload.AppendByte(grays::kCommonPattern);
                } else {
                    const std::uint8_t define[4] = {grays::kDefinePattern, b.code[0], b.code[1], b.code[2]};
                    err = payload.Append(define);
                    patternDefined = true;
                }
            } else {
                err = payload.Append(b.code);
            }
            ++i;
            break;
        case Kind::Raw: {
            err = payload.AppendByte(grays::kRawBlock);
            if (!err) err = payload.Append(b.raw);
            ++i;
            break;
        }
        }
    }
    if (err) return err;
    out = std::move(payload);
    ++s.framesWritten;
    return noErr;
}
