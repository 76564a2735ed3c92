// Time to frequency for one channel: three QMF splits into four bands, gain
// control per band, and a windowed MDCT per band.
//
// The decoder gives the last half of each band's previous transform plus the
// first half of the current one, both under the previous frame's gain curve,
// with the current transform scaled by its own first level. So the encoder
// codes the window [previous / (previous curve × first level), newest /
// current curve]: both transforms then see the same signal where they
// overlap, and the aliasing cancels.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/atrac3/at3internal.h"

void At3TimeToFrequency(At3EncState& state, At3ChannelState& channel, const float* input, float* spectrum,
                        At3GainInfo* gains) {
    const At3Kernels& k = state.kernels;
    k.qmfSplit(input, kAt3FrameSamples, state.half[0], state.half[1], channel.qmfHistory[0], state.work);
    k.qmfSplit(state.half[0], kAt3FrameSamples / 2, state.band[0], state.band[1], channel.qmfHistory[1], state.work);
    // The upper half comes out of its split reversed in frequency: its lower
    // output is band 3.
    k.qmfSplit(state.half[1], kAt3FrameSamples / 2, state.band[3], state.band[2], channel.qmfHistory[2], state.work);

    const bool gainControl = state.gainControl && channel.budgetBytes >= 34;
    for (int b = 0; b < kAt3Bands; ++b) {
        gains[b] = At3GainInfo{};
        float* lines = spectrum + b * kAt3BandLines;
        float* previous = channel.previous[b];
        if (b > channel.bandsCoded) {
            std::memset(lines, 0, sizeof(float) * kAt3BandLines);
        } else {
            float* window = state.window;
            At3GainCurve(channel.previousGain[b], state.curve);
            float peak = 0;
            for (int t = 0; t < kAt3BandLines; ++t) {
                window[t] = previous[t] / state.curve[t];
                peak = std::max(peak, std::fabs(window[t]));
            }
            if (gainControl) At3DetectGain(state.band[b], peak, gains[b]);
            At3GainCurve(gains[b], state.curve);
            const float first = state.curve[0];
            for (int t = 0; t < kAt3BandLines; ++t) {
                window[t] /= first;
                window[kAt3BandLines + t] = state.band[b][t] / state.curve[t];
            }
            alignas(16) float transform[kAt3BandLines];
            At3Mdct(k, window, transform);
            // Odd bands are coded in reverse, so that the spectrum rises in
            // frequency from line 0 to line 1023.
            if (b & 1) std::reverse_copy(transform, transform + kAt3BandLines, lines);
            else std::memcpy(lines, transform, sizeof transform);
        }
        std::memcpy(previous, state.band[b], sizeof(float) * kAt3BandLines);
        channel.previousGain[b] = gains[b];
    }
}
