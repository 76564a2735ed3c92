// Quantising the spectrum and writing a channel's sound unit.
//
// A sound unit: the id 0x28 (6 bits), the number of coded QMF bands less one
// (2), per coded band its gain points (3-bit count, then 4-bit level and
// 5-bit location each), the tonal components (a 5-bit group count, here 0
// or 1; per group the coding, a flag per coded band, values per component,
// the selector, and per 64-line block of a flagged band a 3-bit count of
// components, each a 6-bit scale factor, a 6-bit position and its
// mantissas), then the spectrum: the number of subbands less one (5), the coding
// (1 = constant length, 0 = Huffman), a 3-bit selector per subband, a 6-bit
// scale factor per coded subband, and the mantissas subband by subband.
#include <algorithm>
#include <cmath>

#include "audio/atrac3/at3internal.h"

const std::uint16_t kAt3SubbandStart[kAt3Subbands + 1] = {
    0,   8,   16,  24,  32,  40,  48,  56,  64,  80,  96,  112, 128, 144, 160, 176, 192,
    224, 256, 288, 320, 352, 384, 416, 448, 480, 512, 576, 640, 704, 768, 896, 1024};

// 2^((i - 15) / 3), rounded to float.
const float kAt3ScaleFactor[64] = {
    0.03125f, 0.0393725336f, 0.0496062823f, 0.0625f, 0.0787450671f, 0.0992125645f,
    0.125f, 0.157490134f, 0.198425129f, 0.25f, 0.314980268f, 0.396850258f,
    0.5f, 0.629960537f, 0.793700516f, 1.0f, 1.25992107f, 1.58740103f,
    2.0f, 2.51984215f, 3.17480206f, 4.0f, 5.0396843f, 6.34960413f,
    8.0f, 10.0793686f, 12.6992083f, 16.0f, 20.1587372f, 25.3984165f,
    32.0f, 40.3174744f, 50.796833f, 64.0f, 80.6349487f, 101.593666f,
    128.0f, 161.269897f, 203.187332f, 256.0f, 322.539795f, 406.374664f,
    512.0f, 645.07959f, 812.749329f, 1024.0f, 1290.15918f, 1625.49866f,
    2048.0f, 2580.31836f, 3250.99731f, 4096.0f, 5160.63672f, 6501.99463f,
    8192.0f, 10321.2734f, 13003.9893f, 16384.0f, 20642.5469f, 26007.9785f,
    32768.0f, 41285.0938f, 52015.957f, 65536.0f,
};

const float kAt3MaxQuant[8] = {0.0f, 1.5f, 2.5f, 3.5f, 4.5f, 7.5f, 15.5f, 31.5f};

float At3Quantise(const float* lines, int count, int selector, int scaleIndex, int* mantissas, bool deadZone) {
    const float scale = kAt3ScaleFactor[scaleIndex];
    const float step = scale / kAt3MaxQuant[selector];
    const float inverse = kAt3MaxQuant[selector] / scale;
    const int top = kAt3MaxMantissa[selector];
    float error = 0;
    for (int i = 0; i < count; ++i) {
        // The dead zone rounds values just past a half down: smaller codes
        // for a little more error, which the allocation may prefer.
        int q = deadZone ? static_cast<int>(std::copysign(std::floor(std::fabs(lines[i] * inverse) + 0.35f), lines[i]))
                         : static_cast<int>(std::lrint(lines[i] * inverse));
        q = q > top ? top : q < -top ? -top : q;
        mantissas[i] = q;
        const float e = lines[i] - static_cast<float>(q) * step;
        error += e * e;
    }
    return error;
}

int At3ScaleIndexFor(float peak) {
    int index = 0;
    while (index < 63 && kAt3ScaleFactor[index] < peak) ++index;
    return index;
}

int At3FixedBits(int bandsCoded, const At3GainInfo* gains) {
    int bits = 6 + 2 + 5 + 1;
    for (int b = 0; b <= bandsCoded; ++b) bits += 3 + 9 * gains[b].count;
    return bits;
}

namespace {

// Mantissas at a selector, constant-length or Huffman coded.
bool PutMantissas(At3BitWriter& w, const int* mantissas, int count, int selector, bool clc) {
    bool ok = true;
    if (clc) {
        if (selector == 1) {
            // Two 2-bit codes, indexes into {0, 1, -2, -1}.
            for (int j = 0; ok && j < count; j += 2)
                ok = w.Put(static_cast<std::uint32_t>(((mantissas[j] & 3) << 2) | (mantissas[j + 1] & 3)), 4);
        } else {
            const int bits = At3ClcBits(selector, 1);
            for (int j = 0; ok && j < count; ++j) ok = w.Put(static_cast<std::uint32_t>(mantissas[j]) & ((1u << bits) - 1), bits);
        }
    } else if (selector == 1) {
        for (int j = 0; ok && j < count; j += 2) {
            const At3Code c = At3HuffPairCode(mantissas[j], mantissas[j + 1]);
            ok = w.Put(c.code, c.bits);
        }
    } else {
        for (int j = 0; ok && j < count; ++j) {
            const At3Code c = At3HuffCode(selector, mantissas[j]);
            ok = w.Put(c.code, c.bits);
        }
    }
    return ok;
}

// The tonal part: one group of components, all of kAt3TonalValues lines
// at kAt3TonalSelector, listed per 64-line block of the coded bands.
bool PutTonal(At3BitWriter& w, const At3Tonal& tonal, int bandsCoded) {
    if (tonal.count == 0) return w.Put(0, 5);
    bool ok = w.Put(1, 5) && w.Put(tonal.clc ? 1 : 0, 2);
    bool used[kAt3Bands] = {};
    for (int i = 0; i < tonal.count; ++i) used[tonal.position[i] / kAt3BandLines] = true;
    for (int b = 0; ok && b <= bandsCoded; ++b) ok = w.Put(used[b] ? 1 : 0, 1);
    ok = ok && w.Put(kAt3TonalValues - 1, 3) && w.Put(kAt3TonalSelector, 3);
    int next = 0;
    for (int block = 0; ok && block < (bandsCoded + 1) * 4; ++block) {
        if (!used[block / 4]) continue;
        int count = 0;
        while (next + count < tonal.count && tonal.position[next + count] / 64 == block) ++count;
        ok = w.Put(static_cast<std::uint32_t>(count), 3);
        for (int k = 0; ok && k < count; ++k, ++next)
            ok = w.Put(static_cast<std::uint32_t>(tonal.scaleIndex[next]), 6) &&
                 w.Put(static_cast<std::uint32_t>(tonal.position[next] % 64), 6) &&
                 PutMantissas(w, tonal.mantissa[next], kAt3TonalValues, kAt3TonalSelector, tonal.clc);
    }
    return ok;
}

} // namespace

int At3TonalBits(const At3Tonal& tonal, int bandsCoded) {
    if (tonal.count == 0) return 5;
    bool used[kAt3Bands] = {};
    for (int i = 0; i < tonal.count; ++i) used[tonal.position[i] / kAt3BandLines] = true;
    int bits = 5 + 2 + (bandsCoded + 1) + 3 + 3;
    for (int b = 0; b <= bandsCoded; ++b) bits += used[b] ? 4 * 3 : 0;
    for (int i = 0; i < tonal.count; ++i)
        bits += 12 + (tonal.clc ? At3ClcBits(kAt3TonalSelector, kAt3TonalValues)
                                : At3VlcBits(kAt3TonalSelector, tonal.mantissa[i], kAt3TonalValues));
    return bits;
}

void At3ExtractTonal(const float* spectrum, int limitLine, int wanted, At3Tonal& tonal, float* residual) {
    tonal = At3Tonal{};
    std::copy(spectrum, spectrum + kAt3Lines, residual);
    wanted = std::min(wanted, kAt3MaxTonal);
    // The largest local peaks, each taking the line before it and the two
    // after; no two overlap and at most 7 start in one 64-line block.
    bool taken[kAt3Lines] = {};
    int perBlock[kAt3Lines / 64] = {};
    while (tonal.count < wanted) {
        int peak = -1;
        float best = 0;
        for (int i = 1; i + kAt3TonalValues - 1 < limitLine; ++i) {
            const float m = std::fabs(spectrum[i]);
            if (m <= best || taken[i - 1] || taken[i] || taken[i + 1] || taken[i + 2] || perBlock[(i - 1) / 64] == 7) continue;
            if (m < std::fabs(spectrum[i - 1]) || m < std::fabs(spectrum[i + 1])) continue;
            best = m;
            peak = i;
        }
        if (peak < 0 || best < 1.0f) break;
        const int first = peak - 1;
        for (int j = 0; j < kAt3TonalValues; ++j) taken[first + j] = true;
        ++perBlock[first / 64];
        // Keep the positions in rising order.
        int at = tonal.count++;
        while (at > 0 && tonal.position[at - 1] > first) {
            tonal.position[at] = tonal.position[at - 1];
            --at;
        }
        tonal.position[at] = first;
    }
    int vlcBits = 0;
    for (int i = 0; i < tonal.count; ++i) {
        float* lines = residual + tonal.position[i];
        float peak = 0;
        for (int j = 0; j < kAt3TonalValues; ++j) peak = std::max(peak, std::fabs(lines[j]));
        tonal.scaleIndex[i] = At3ScaleIndexFor(peak);
        (void)At3Quantise(lines, kAt3TonalValues, kAt3TonalSelector, tonal.scaleIndex[i], tonal.mantissa[i]);
        const float step = kAt3ScaleFactor[tonal.scaleIndex[i]] / kAt3MaxQuant[kAt3TonalSelector];
        for (int j = 0; j < kAt3TonalValues; ++j) lines[j] -= static_cast<float>(tonal.mantissa[i][j]) * step;
        vlcBits += At3VlcBits(kAt3TonalSelector, tonal.mantissa[i], kAt3TonalValues);
    }
    tonal.clc = At3ClcBits(kAt3TonalSelector, kAt3TonalValues) * tonal.count < vlcBits;
}

bool At3WriteSoundUnit(const float* spectrum, int bandsCoded, const At3GainInfo* gains, const At3Tonal& tonal,
                       const At3Allocation& allocation, std::uint8_t* out, int bytes) {
    At3BitWriter w(out, bytes);
    bool ok = w.Put(0x28, 6) && w.Put(static_cast<std::uint32_t>(bandsCoded), 2);
    for (int b = 0; ok && b <= bandsCoded; ++b) {
        ok = w.Put(static_cast<std::uint32_t>(gains[b].count), 3);
        for (int p = 0; ok && p < gains[b].count; ++p)
            ok = w.Put(static_cast<std::uint32_t>(gains[b].level[p]), 4) &&
                 w.Put(static_cast<std::uint32_t>(gains[b].location[p]), 5);
    }
    const int subbands = allocation.codedSubbands > 0 ? allocation.codedSubbands : 1;
    ok = ok && PutTonal(w, tonal, bandsCoded);
    ok = ok && w.Put(static_cast<std::uint32_t>(subbands - 1), 5) && w.Put(allocation.clc ? 1 : 0, 1);
    for (int i = 0; ok && i < subbands; ++i) ok = w.Put(static_cast<std::uint32_t>(allocation.selector[i]), 3);
    for (int i = 0; ok && i < subbands; ++i)
        if (allocation.selector[i] != 0) ok = w.Put(static_cast<std::uint32_t>(allocation.scaleIndex[i]), 6);
    int mantissas[128];
    for (int i = 0; ok && i < subbands; ++i) {
        const int selector = allocation.selector[i];
        if (selector == 0) continue;
        const int first = kAt3SubbandStart[i];
        const int count = kAt3SubbandStart[i + 1] - first;
        (void)At3Quantise(spectrum + first, count, selector, allocation.scaleIndex[i], mantissas, allocation.deadZone[i]);
        ok = PutMantissas(w, mantissas, count, selector, allocation.clc);
    }
    return ok;
}
