// Quantising the spectrum and writing a channel's sound unit.
//
// A sound unit: the id 0x28 (6 bits), the number of coded QMF bands less one
// (2), per coded band its gain points (3-bit count, then 4-bit level and
// 5-bit location each), the number of tonal components (5 bits; always 0
// here), then the spectrum: the number of subbands less one (5), the coding
// (1 = constant length, 0 = Huffman), a 3-bit selector per subband, a 6-bit
// scale factor per coded subband, and the mantissas subband by subband.
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

float At3Quantise(const float* lines, int count, int selector, int scaleIndex, int* mantissas) {
    const float scale = kAt3ScaleFactor[scaleIndex];
    const float step = scale / kAt3MaxQuant[selector];
    const float inverse = kAt3MaxQuant[selector] / scale;
    const int top = kAt3MaxMantissa[selector];
    float error = 0;
    for (int i = 0; i < count; ++i) {
        int q = static_cast<int>(std::lrint(lines[i] * inverse));
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
    int bits = 6 + 2 + 5 + 5 + 1;
    for (int b = 0; b <= bandsCoded; ++b) bits += 3 + 9 * gains[b].count;
    return bits;
}

bool At3WriteSoundUnit(const float* spectrum, int bandsCoded, const At3GainInfo* gains,
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
    ok = ok && w.Put(0, 5) && w.Put(static_cast<std::uint32_t>(subbands - 1), 5) && w.Put(allocation.clc ? 1 : 0, 1);
    for (int i = 0; ok && i < subbands; ++i) ok = w.Put(static_cast<std::uint32_t>(allocation.selector[i]), 3);
    for (int i = 0; ok && i < subbands; ++i)
        if (allocation.selector[i] != 0) ok = w.Put(static_cast<std::uint32_t>(allocation.scaleIndex[i]), 6);
    int mantissas[128];
    for (int i = 0; ok && i < subbands; ++i) {
        const int selector = allocation.selector[i];
        if (selector == 0) continue;
        const int first = kAt3SubbandStart[i];
        const int count = kAt3SubbandStart[i + 1] - first;
        (void)At3Quantise(spectrum + first, count, selector, allocation.scaleIndex[i], mantissas);
        if (allocation.clc) {
            if (selector == 1) {
                // Two 2-bit codes, indexes into {0, 1, -2, -1}.
                for (int j = 0; ok && j < count; j += 2)
                    ok = w.Put(static_cast<std::uint32_t>(((mantissas[j] & 3) << 2) | (mantissas[j + 1] & 3)), 4);
            } else {
                const int bits = At3ClcBits(selector, 1);
                for (int j = 0; ok && j < count; ++j)
                    ok = w.Put(static_cast<std::uint32_t>(mantissas[j]) & ((1u << bits) - 1), bits);
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
    }
    return ok;
}
