// Gain control: a sudden attack inside a band's frame would spread its
// quantisation noise over the quiet stretch before it (pre-echo). The
// encoder raises the quiet stretch before coding and sends a gain point; the
// decoder lowers it again after the inverse transform, and the noise with it.
//
// The decoder's curve over 256 samples: level 2^(4 - code) up to 8 × location,
// then over 8 samples towards the next point's level (the last point towards
// code 4, level 1), then 1.
#include <cmath>

#include "audio/atrac3/at3internal.h"

namespace {

constexpr int kBlocks = 32;              // gain locations, 8 samples each
constexpr float kAttackRatio = 8.0f;     // an attack: a block 18 dB above everything before it
constexpr float kAttackFloor = 64.0f;    // quieter attacks leave little noise to hide
constexpr int kMaxRaise = 11;            // code 15: 2^-11

} // namespace

void At3DetectGain(const float* band, float previousPeak, At3GainInfo& gain) {
    gain = At3GainInfo{};
    float before = previousPeak;
    for (int j = 0; j < kBlocks; ++j) {
        float peak = 0;
        for (int i = 0; i < 8; ++i) peak = std::max(peak, std::fabs(band[j * 8 + i]));
        if (j > 0 && peak >= kAttackFloor && peak > kAttackRatio * std::max(before, 1.0f)) {
            // Raise everything before the attack so that it stays at most
            // half the attack's peak; the rise back happens in block j - 1.
            const int raise = std::min(kMaxRaise, static_cast<int>(std::floor(std::log2(peak / std::max(before, 1.0f)))) - 1);
            if (raise < 1) return;
            gain.count = 1;
            gain.level[0] = 4 + raise;
            gain.location[0] = j - 1;
            return;
        }
        before = std::max(before, peak);
    }
}

void At3GainCurve(const At3GainInfo& gain, float* curve) {
    int pos = 0;
    for (int p = 0; p < gain.count; ++p) {
        float level = std::exp2(static_cast<float>(4 - gain.level[p]));
        const int next = p + 1 < gain.count ? gain.level[p + 1] : 4;
        const float step = std::exp2(-static_cast<float>(next - gain.level[p]) / 8.0f);
        for (; pos < gain.location[p] * 8; ++pos) curve[pos] = level;
        for (; pos < gain.location[p] * 8 + 8; ++pos) {
            curve[pos] = level;
            level *= step;
        }
    }
    for (; pos < kAt3BandLines; ++pos) curve[pos] = 1.0f;
}
