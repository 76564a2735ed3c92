// Bit allocation: which subbands are coded, with which selector and scale
// factor, so that the sound unit fills the channel's budget with the least
// squared error.
//
// Each subband's error and bits are measured for every selector (with the
// scale factor that just covers its peak, or one step below it when clipping
// the peak costs less error), rounded to the nearest step and with a dead
// zone that trades a little error for smaller codes. A Lagrangian choice per subband, D + λR, with λ
// found by bisection, gives an allocation within the budget; bits still left
// then go, one upgrade at a time, where they remove the most error per bit.
// This is done for Huffman and for constant-length codes; the unit takes the
// coding with the smaller error.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/atrac3/at3internal.h"

namespace {

// Options per subband: selectors 0 to 7 rounded to the nearest step, then
// 9 to 15 the same selectors with a dead zone (8 is not used).
constexpr int kOptions = 16;
constexpr int Selector(int option) { return option & 7; }

struct Choice {
    float error[kOptions] = {};
    int scale[kOptions] = {};
    int bits[2][kOptions] = {}; // [Huffman, constant length][option], scale factor included
    std::uint8_t front[2][kOptions] = {};
    int frontCount[2] = {};
};

// Subbands signalled for an allocation: up to the last coded one, and one
// more when that one starts a QMF band (subband 0 included), so that
// decoders which size their synthesis from the last signalled subband's
// start still synthesise it.
int SignalledAfter(int last) {
    if (last < 0) return 1;
    if (kAt3SubbandStart[last] % kAt3BandLines == 0) return last + 2;
    return last + 1;
}

int Signalled(const int* selector, int candidates) {
    int last = -1;
    for (int i = 0; i < candidates; ++i)
        if (selector[i] != 0) last = i;
    return SignalledAfter(last);
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

// The options worth weighing in one coding: each costs more bits than the
// one before and leaves less error (an option beaten on both counts by
// another never wins, whatever λ). Worked out once per subband.
void BuildFront(Choice& c) {
    for (int coding = 0; coding < 2; ++coding) {
        std::uint8_t order[kOptions];
        int n = 0;
        for (int s = 0; s < kOptions; ++s)
            if (s != 8) order[n++] = static_cast<std::uint8_t>(s);
        std::sort(order, order + n, [&](int a, int b) {
            return c.bits[coding][a] != c.bits[coding][b] ? c.bits[coding][a] < c.bits[coding][b] : c.error[a] < c.error[b];
        });
        c.frontCount[coding] = 0;
        float last = 0;
        for (int k = 0; k < n; ++k) {
            const int o = order[k];
            if (c.frontCount[coding] > 0 && !(c.error[o] < last)) continue;
            c.front[coding][c.frontCount[coding]++] = static_cast<std::uint8_t>(o);
            last = c.error[o];
        }
    }
}

void Choose(const Choice* choices, int candidates, int coding, double lambda, int* selector) {
    for (int i = 0; i < candidates; ++i) {
        int best = 0;
        double bestCost = choices[i].error[0];
        for (int k = 0; k < choices[i].frontCount[coding]; ++k) {
            const int s = choices[i].front[coding][k];
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
    for (int step = 0; step < 20; ++step) {
        const double mid = 0.5 * (low + high);
        Choose(choices, candidates, coding, std::exp2(mid), selector);
        if (Bits(choices, selector, candidates, coding) <= budget) high = mid;
        else low = mid;
    }
    Choose(choices, candidates, coding, std::exp2(high), selector);
    if (Bits(choices, selector, candidates, coding) > budget)
        for (int i = 0; i < candidates; ++i) selector[i] = 0;

    // Spend what is left on the upgrades that remove the most error per bit.
    // A subband past the last coded one also pays the selectors up to it.
    int used = Bits(choices, selector, candidates, coding);
    int last = -1;
    for (int i = 0; i < candidates; ++i)
        if (selector[i] != 0) last = i;
    while (true) {
        const int signalled = SignalledAfter(last);
        int bestBand = -1, bestSelector = 0, bestBits = 0;
        float bestGain = 0;
        for (int i = 0; i < candidates; ++i) {
            const int current = selector[i];
            const int overhead = i > last ? 3 * (SignalledAfter(i) - signalled) : 0;
            for (int k = 0; k < choices[i].frontCount[coding]; ++k) {
                const int s = choices[i].front[coding][k];
                const float gain = choices[i].error[current] - choices[i].error[s];
                if (gain <= 0) continue;
                const int bits = used + choices[i].bits[coding][s] - choices[i].bits[coding][current] + overhead;
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
        last = std::max(last, bestBand);
    }
    return Error(choices, selector, candidates);
}

} // namespace

namespace {

int Candidates(int limitLine) {
    int candidates = 0;
    while (candidates < kAt3Subbands && kAt3SubbandStart[candidates] < limitLine) ++candidates;
    return candidates;
}

// Error and bits of one subband at every selector.
void Measure(const float* spectrum, int subband, Choice& c) {
    const float* lines = spectrum + kAt3SubbandStart[subband];
    const int count = kAt3SubbandStart[subband + 1] - kAt3SubbandStart[subband];
    float peak = 0, energy = 0;
    for (int j = 0; j < count; ++j) {
        peak = std::max(peak, std::fabs(lines[j]));
        energy += lines[j] * lines[j];
    }
    c.error[0] = energy;
    if (peak == 0) {
        // Nothing to code: every selector is worse than none.
        for (int s = 1; s < kOptions; ++s) {
            c.error[s] = 0;
            c.bits[0][s] = c.bits[1][s] = 1 << 20;
        }
        c.frontCount[0] = c.frontCount[1] = 0; // nothing to weigh
        return;
    }
    const int cover = At3ScaleIndexFor(peak);
    int mantissas[128], trial[128];
    for (int s = 1; s < 8; ++s) {
        int scale = cover;
        float error = At3Quantise(lines, count, s, scale, mantissas);
        if (cover > 0) {
            const float lower = At3Quantise(lines, count, s, cover - 1, trial);
            if (lower < error) {
                error = lower;
                scale = cover - 1;
                std::copy(trial, trial + count, mantissas);
            }
        }
        c.error[s] = error;
        c.scale[s] = scale;
        c.bits[0][s] = 6 + At3VlcBits(s, mantissas, count);
        c.bits[1][s] = 6 + At3ClcBits(s, count);
        // The same selector and scale factor with a dead zone.
        const int z = s + 8;
        c.error[z] = At3Quantise(lines, count, s, scale, mantissas, true);
        c.scale[z] = scale;
        c.bits[0][z] = 6 + At3VlcBits(s, mantissas, count);
        c.bits[1][z] = 6 + At3ClcBits(s, count);
    }
    c.error[8] = c.error[0];
    c.bits[0][8] = c.bits[1][8] = 1 << 20;
    BuildFront(c);
}

float AllocateFromChoices(const float* spectrum, const Choice* choices, int candidates, int budgetBits,
                          At3Allocation& allocation) {
    allocation = At3Allocation{};
    int best[2][kAt3Subbands] = {};
    const float vlc = AllocateFor(choices, candidates, 0, budgetBits, best[0]);
    const float clc = AllocateFor(choices, candidates, 1, budgetBits, best[1]);
    const int coding = (clc >= 0 && (vlc < 0 || clc < vlc)) ? 1 : 0;
    allocation.clc = coding == 1;
    for (int i = 0; i < candidates; ++i) {
        allocation.selector[i] = Selector(best[coding][i]);
        allocation.deadZone[i] = best[coding][i] >= 8;
        allocation.scaleIndex[i] = choices[i].scale[best[coding][i]];
    }
    allocation.codedSubbands = Signalled(allocation.selector, candidates);
    float error = coding == 1 ? clc : vlc;
    if (error < 0) {
        // Not even an empty spectrum fits: everything is lost.
        error = 0;
        for (int i = 0; i < candidates; ++i) error += choices[i].error[0];
    }
    for (int line = kAt3SubbandStart[candidates]; line < kAt3Lines; ++line) error += spectrum[line] * spectrum[line];
    return error;
}

} // namespace

float At3AllocateBits(const float* spectrum, int limitLine, int budgetBits, At3Allocation& allocation) {
    const int candidates = Candidates(limitLine);
    Choice choices[kAt3Subbands];
    for (int i = 0; i < candidates; ++i) Measure(spectrum, i, choices[i]);
    return AllocateFromChoices(spectrum, choices, candidates, budgetBits, allocation);
}

void At3ChooseCoding(const float* spectrum, int limitLine, int bandsCoded, int budgetBits, At3Tonal& tonal,
                     float* residual, At3Allocation& allocation) {
    tonal = At3Tonal{};
    std::copy(spectrum, spectrum + kAt3Lines, residual);
    const int candidates = Candidates(limitLine);
    Choice plain[kAt3Subbands];
    for (int i = 0; i < candidates; ++i) Measure(spectrum, i, plain[i]);
    const int plainBudget = budgetBits - At3TonalBits(tonal, bandsCoded);
    float best = AllocateFromChoices(spectrum, plain, candidates, plainBudget, allocation);
    // Tonal components cost some 40 bits each: worth trying only where the
    // budget leaves room for a few beside the spectrum.
    At3Tonal trial;
    alignas(16) float trialResidual[kAt3Lines];
    At3Allocation trialAllocation;
    for (int wanted = budgetBits / 160; wanted >= 1; wanted /= 4) {
        At3ExtractTonal(spectrum, limitLine, wanted, trial, trialResidual);
        if (trial.count == 0) break;
        const int left = budgetBits - At3TonalBits(trial, bandsCoded);
        if (left < 16) continue;
        // Only the subbands the components touch change.
        Choice choices[kAt3Subbands];
        std::copy(plain, plain + candidates, choices);
        for (int i = 0; i < candidates; ++i)
            for (int k = 0; k < trial.count; ++k)
                if (trial.position[k] < kAt3SubbandStart[i + 1] && trial.position[k] + kAt3TonalValues > kAt3SubbandStart[i]) {
                    Measure(trialResidual, i, choices[i]);
                    break;
                }
        const float error = AllocateFromChoices(trialResidual, choices, candidates, left, trialAllocation);
        if (error < best) {
            best = error;
            tonal = trial;
            allocation = trialAllocation;
            std::copy(trialResidual, trialResidual + kAt3Lines, residual);
        }
    }
}
