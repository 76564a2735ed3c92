// Bit allocation: which subbands are coded, with which selector and scale
// factor, so that the sound unit fills the channel's budget with the least
// squared error.
//
// Each subband's error and bits are measured for every selector (with the
// scale factor that just covers its peak, or one step below it when clipping
// the peak costs less error). A Lagrangian choice per subband, D + λR, with λ
// found by bisection, gives an allocation within the budget; bits still left
// then go, one upgrade at a time, where they remove the most error per bit.
// This is done for Huffman and for constant-length codes; the unit takes the
// coding with the smaller error.
#include <cmath>
#include <cstdlib>

#include "audio/atrac3/at3internal.h"

namespace {

struct Choice {
    float error[8] = {};
    int scale[8] = {};
    int bits[2][8] = {}; // [Huffman, constant length][selector], scale factor included
};

// Subbands signalled for an allocation: up to the last coded one, and one
// more when that one starts a QMF band, so that decoders which size their
// synthesis from the last signalled subband's start still synthesise it.
int Signalled(const int* selector, int candidates) {
    int last = -1;
    for (int i = 0; i < candidates; ++i)
        if (selector[i] != 0) last = i;
    if (last < 0) return 1;
    if (last > 0 && kAt3SubbandStart[last] % kAt3BandLines == 0) return last + 2;
    return last + 1;
}

int Bits(const Choice* choices, const int* selector, int candidates, int coding) {
    int bits = 3 * Signalled(selector, candidates);
    for (int i = 0; i < candidates; ++i) bits += choices[i].bits[coding][selector[i]];
    return bits;
}

float Error(const Choice* choices, const int* selector, int candidates) {
    float error = 0;
    for (int i = 0; i < candidates; ++i) error += choices[i].error[selector[i]];
    return error;
}

void Choose(const Choice* choices, int candidates, int coding, double lambda, int* selector) {
    for (int i = 0; i < candidates; ++i) {
        int best = 0;
        double bestCost = choices[i].error[0];
        for (int s = 1; s < 8; ++s) {
            const double cost = choices[i].error[s] + lambda * choices[i].bits[coding][s];
            if (cost < bestCost) {
                bestCost = cost;
                best = s;
            }
        }
        selector[i] = best;
    }
}

// The best allocation for one coding: its error, or a negative number when
// not even an empty spectrum fits.
float AllocateFor(const Choice* choices, int candidates, int coding, int budget, int* selector) {
    for (int i = 0; i < candidates; ++i) selector[i] = 0;
    if (Bits(choices, selector, candidates, coding) > budget) return -1;
    // Bisection on log λ: large λ codes nothing, small λ codes everything.
    double low = -12, high = 24;
    for (int step = 0; step < 36; ++step) {
        const double mid = 0.5 * (low + high);
        Choose(choices, candidates, coding, std::exp2(mid), selector);
        if (Bits(choices, selector, candidates, coding) <= budget) high = mid;
        else low = mid;
    }
    Choose(choices, candidates, coding, std::exp2(high), selector);
    if (Bits(choices, selector, candidates, coding) > budget)
        for (int i = 0; i < candidates; ++i) selector[i] = 0;

    // Spend what is left on the upgrades that remove the most error per bit.
    int used = Bits(choices, selector, candidates, coding);
    while (true) {
        int bestBand = -1, bestSelector = 0, bestBits = 0;
        float bestGain = 0;
        for (int i = 0; i < candidates; ++i) {
            const int current = selector[i];
            for (int s = 1; s < 8; ++s) {
                const float gain = choices[i].error[current] - choices[i].error[s];
                if (gain <= 0) continue;
                selector[i] = s;
                const int bits = Bits(choices, selector, candidates, coding);
                selector[i] = current;
                if (bits > budget) continue;
                const float perBit = gain / static_cast<float>(std::max(bits - used, 1));
                if (perBit > bestGain) {
                    bestGain = perBit;
                    bestBand = i;
                    bestSelector = s;
                    bestBits = bits;
                }
            }
        }
        if (bestBand < 0) break;
        selector[bestBand] = bestSelector;
        used = bestBits;
    }
    return Error(choices, selector, candidates);
}

} // namespace

void At3AllocateBits(const float* spectrum, int limitLine, int budgetBits, At3Allocation& allocation) {
    allocation = At3Allocation{};
    int candidates = 0;
    while (candidates < kAt3Subbands && kAt3SubbandStart[candidates] < limitLine) ++candidates;

    Choice choices[kAt3Subbands];
    int mantissas[128];
    for (int i = 0; i < candidates; ++i) {
        const float* lines = spectrum + kAt3SubbandStart[i];
        const int count = kAt3SubbandStart[i + 1] - kAt3SubbandStart[i];
        float peak = 0, energy = 0;
        for (int j = 0; j < count; ++j) {
            peak = std::max(peak, std::fabs(lines[j]));
            energy += lines[j] * lines[j];
        }
        Choice& c = choices[i];
        c.error[0] = energy;
        if (peak == 0) {
            // Nothing to code: every selector is worse than none.
            for (int s = 1; s < 8; ++s) {
                c.error[s] = 0;
                c.bits[0][s] = c.bits[1][s] = 1 << 20;
            }
            continue;
        }
        const int cover = At3ScaleIndexFor(peak);
        for (int s = 1; s < 8; ++s) {
            int scale = cover;
            float error = At3Quantise(lines, count, s, scale, mantissas);
            if (cover > 0) {
                int trial[128];
                const float lower = At3Quantise(lines, count, s, cover - 1, trial);
                if (lower < error) {
                    error = lower;
                    scale = cover - 1;
                }
            }
            (void)At3Quantise(lines, count, s, scale, mantissas);
            c.error[s] = error;
            c.scale[s] = scale;
            c.bits[0][s] = 6 + At3VlcBits(s, mantissas, count);
            c.bits[1][s] = 6 + At3ClcBits(s, count);
        }
    }

    int best[2][kAt3Subbands] = {};
    const float vlc = AllocateFor(choices, candidates, 0, budgetBits, best[0]);
    const float clc = AllocateFor(choices, candidates, 1, budgetBits, best[1]);
    const int coding = (clc >= 0 && (vlc < 0 || clc < vlc)) ? 1 : 0;
    allocation.clc = coding == 1;
    for (int i = 0; i < candidates; ++i) {
        allocation.selector[i] = best[coding][i];
        allocation.scaleIndex[i] = choices[i].scale[best[coding][i]];
    }
    allocation.codedSubbands = Signalled(allocation.selector, candidates);
}
