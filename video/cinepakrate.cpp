// The rate control of "Cinepak Mobile": the data-rate history, the frame
// budget and the search for each frame's codebook size and λ.
#include "video/cinepakrate.h"

#include <algorithm>
#include <cmath>
#include <limits>

void RateHistory::Prime(std::uint32_t bytesPerSecond) {
    entries_.assign(kLength, Entry{100, bytesPerSecond / 10, true});
}

void RateHistory::Add(std::uint32_t milliseconds, std::uint32_t bytes, bool key) {
    if (entries_.size() == kLength) entries_.pop_front();
    entries_.push_back({milliseconds, bytes, key});
}

std::int64_t RateHistory::SpentInLastSecond() const {
    std::int64_t spent = 0;
    std::uint32_t before = 0;
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (before + it->milliseconds <= 1000) {
            spent += it->bytes;
            before += it->milliseconds;
            if (before == 1000) break;
            continue;
        }
        spent += static_cast<std::int64_t>(std::trunc(static_cast<double>(1000 - before) / it->milliseconds * it->bytes));
        break;
    }
    return spent;
}

std::size_t FrameBudget(std::uint32_t bytesPerSecond, std::int64_t overrun, std::uint32_t milliseconds, std::size_t largest) {
    const double share = (static_cast<double>(bytesPerSecond) - static_cast<double>(overrun)) * milliseconds / 1000.0;
    return static_cast<std::size_t>(std::clamp(share, 256.0, static_cast<double>(largest)));
}

std::size_t KeyFrameBudget(std::uint32_t bytesPerSecond, std::int64_t overrun, std::uint32_t milliseconds,
                           double second, std::size_t largest) {
    const double rate = bytesPerSecond, spent = rate + static_cast<double>(overrun);
    // The part of the last second that stays in the second ending with this frame.
    const double kept = spent * (1000.0 - std::min(milliseconds, 1000u)) / 1000.0;
    const double key = std::clamp(second * rate - kept, 256.0, static_cast<double>(largest));
    return std::max(static_cast<std::size_t>(key), FrameBudget(bytesPerSecond, overrun, milliseconds, largest));
}

void UnspentRate::Add(std::uint32_t bytesPerSecond, std::uint32_t milliseconds, std::size_t bytes) {
    const double share = static_cast<double>(bytesPerSecond) * milliseconds / 1000.0;
    kept_ = std::clamp(kept_ + share - static_cast<double>(bytes), 0.0, bytesPerSecond / 10.0);
}

std::size_t UnspentRate::Share(std::uint32_t milliseconds) const {
    return static_cast<std::size_t>(kept_ * std::min(milliseconds, 1000u) / 1000.0);
}

namespace cinepak {
namespace {

// λ weighs a bit against squared error; the search tries whole λ from 0,
// every macroblock at its best, up to this.
constexpr double kTopLambda = 1 << 16;

// The smallest whole λ whose frame fits the budget, for the codebooks
// planned; when nothing fits, the frame at the top λ, the smallest there is.
// Bytes never grow with λ, so the search starts from a guess and gallops
// away from it until the answer is bracketed, then halves: the answer
// halving the whole range would give, in about half the steps when the
// guess is near.
class LambdaSearch {
public:
    LambdaSearch(FrameTrials& frame, std::size_t budget) : frame_(frame), budget_(budget) {}

    RateTrial From(double guess) {
        fit_ = frame_.Try(0);
        if (Fits(fit_)) return fit_;
        if (!Bracket(std::clamp(std::round(guess), 1.0, kTopLambda))) return fit_;
        Halve();
        return fit_;
    }

private:
    bool Fits(const RateTrial& trial) const { return trial.bytes <= budget_; }

    // Brackets the answer: lo_ does not fit, hi_ does and fit_ is its frame.
    // False when even the top λ does not fit; fit_ is then its frame.
    bool Bracket(double start) {
        const RateTrial trial = frame_.Try(start);
        if (Fits(trial)) {
            hi_ = start, fit_ = trial;
            GallopDown();
            return true;
        }
        lo_ = start;
        return GallopUp();
    }

    void GallopDown() {
        for (double step = 1; hi_ - step > lo_; step *= 2) {
            const RateTrial trial = frame_.Try(hi_ - step);
            if (!Fits(trial)) {
                lo_ = hi_ - step;
                return;
            }
            hi_ -= step, fit_ = trial;
        }
    }

    bool GallopUp() {
        for (double step = 1;; step *= 2) {
            const double at = std::min(kTopLambda, lo_ + step);
            const RateTrial trial = frame_.Try(at);
            if (Fits(trial)) {
                hi_ = at, fit_ = trial;
                return true;
            }
            if (at == kTopLambda) {
                fit_ = trial;
                return false;
            }
            lo_ = at;
        }
    }

    void Halve() {
        while (hi_ - lo_ > 1) {
            const double mid = std::floor((lo_ + hi_) / 2);
            const RateTrial trial = frame_.Try(mid);
            if (Fits(trial)) hi_ = mid, fit_ = trial;
            else lo_ = mid;
        }
    }

    FrameTrials& frame_;
    const std::size_t budget_;
    double lo_ = 0, hi_ = kTopLambda; // λ 0 does not fit once the search brackets
    RateTrial fit_;
};

// Whether one size's fit beats the best so far: a frame that fits beats one
// that does not; between frames that fit, the least distortion wins; between
// frames that do not, the fewest bytes.
bool Beats(const RateTrial& fit, const RateTrial& best, std::size_t budget) {
    const bool fits = fit.bytes <= budget, bestFits = best.bytes <= budget;
    if (fits != bestFits) return fits;
    return fits ? fit.distortion < best.distortion : fit.bytes < best.bytes;
}

} // namespace

RatePlan RateControl::Choose(std::size_t budget, FrameTrials& frame) {
    // Each size's fit, on codebooks of the median cut alone.
    RatePlan best;
    for (std::size_t n = 0; n < std::size(kBookSizes); ++n) {
        frame.Plan(kBookSizes[n], false);
        const RateTrial fit = LambdaSearch(frame, budget).From(lastLambda_[n]);
        lastLambda_[n] = fit.lambda;
        if (best.bookSize == 0 || Beats(fit, best.fit, budget)) best = {kBookSizes[n], fit};
        // The frame fits with every macroblock at its best: a smaller
        // codebook cannot do better.
        if (fit.bytes <= budget && fit.lambda == 0) break;
    }
    // Refining the chosen size's codebooks moves its fit a little.
    frame.Plan(best.bookSize, true);
    best.fit = LambdaSearch(frame, budget).From(best.fit.lambda);
    return best;
}

} // namespace cinepak
