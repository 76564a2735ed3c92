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

std::int64_t RateHistory::SpentInLast(std::uint32_t milliseconds, bool keyFrames) const {
    std::int64_t spent = 0;
    std::uint32_t before = 0;
    for (auto it = entries_.rbegin(); it != entries_.rend() && before < milliseconds; ++it) {
        const std::int64_t bytes = keyFrames || !it->key ? it->bytes : 0;
        if (before + it->milliseconds <= milliseconds) {
            spent += bytes;
            before += it->milliseconds;
            continue;
        }
        spent += static_cast<std::int64_t>(
            std::trunc(static_cast<double>(milliseconds - before) / it->milliseconds * static_cast<double>(bytes)));
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

namespace cinepak {
namespace {

// λ weighs a bit against squared error; the search tries whole λ from 0,
// every macroblock at its best, up to this.
constexpr double kTopLambda = 1 << 16;

// Passes that make the codebooks anew for the macroblocks that use them: a
// second pass gained about 0.5 % in bytes for a sixth more time, which two
// more refinement passes spend better.
constexpr int kSpecialisePasses = 1;

} // namespace

SlopeControl::Frame SlopeControl::Next(std::uint32_t bytesPerSecond, std::int64_t overrun, std::uint32_t milliseconds,
                                       Kind kind, std::size_t smallestKey, std::size_t largest) const {
    const double rate = bytesPerSecond;
    if (elapsed_ == 0) return {0, KeyFrameBudget(bytesPerSecond, overrun, milliseconds, kFirstSecond, largest)};
    // The second that ends with this frame: the frames of the rest of it
    // spent what they spent.
    const std::uint32_t rest = 1000 - std::min(milliseconds, 1000u);
    const double before = static_cast<double>(window_.SpentInLast(rest));
    double most = kPeak * rate - before;
    const double differencesMay = kPeak * rate - static_cast<double>(smallestKey);
    const double part = differencesMay * milliseconds / 1000.0;
    if (kind == Kind::Difference) {
        const double differences = static_cast<double>(window_.SpentInLast(rest, false));
        most = std::min({most, differencesMay - differences, part});
    }
    if (kind == Kind::Cut) most = std::min(most, static_cast<double>(smallestKey) + part);
    most = std::clamp(most, 256.0, static_cast<double>(largest));
    if (elapsed_ < 1000)
        return {0, std::min(static_cast<std::size_t>(most), FrameBudget(bytesPerSecond, overrun, milliseconds, largest))};
    const double lambda = Slope(bytesPerSecond) * std::exp2(debt_ / rate / (debt_ > 0 ? kDebtSeconds : kSavedSeconds));
    return {std::clamp(lambda, 1.0, kTopLambda), static_cast<std::size_t>(most)};
}

void SlopeControl::Add(std::uint32_t bytesPerSecond, std::uint32_t milliseconds, bool key, std::size_t bytes, double lambda,
                       std::size_t bytesAtTwice) {
    const double rate = bytesPerSecond, share = rate * milliseconds / 1000.0;
    window_.Add(milliseconds, static_cast<std::uint32_t>(bytes), key);
    debt_ = std::max(debt_ + static_cast<double>(bytes) - share, -kMostSaved * rate);
    elapsed_ += milliseconds;
    // How fast the frame's bytes fall as λ grows.
    const double at = std::max(static_cast<double>(bytes), 1.0), twice = std::max(static_cast<double>(bytesAtTwice), 1.0);
    const double power = std::clamp(std::log2(at / twice), 0.05, 2.0);
    recent_.push_back({milliseconds, at, std::log(std::max(lambda, 1.0)), power});
    remembered_ += milliseconds;
    while (remembered_ - recent_.front().milliseconds >= kMemory * 1000) {
        remembered_ -= recent_.front().milliseconds;
        recent_.pop_front();
    }
}

double SlopeControl::Slope(std::uint32_t bytesPerSecond) const {
    const double rate = bytesPerSecond, shares = rate * remembered_ / 1000.0;
    // No frame can spend beyond the peak: counting a busy frame's bytes at a
    // small λ in full would set the slope too high for the rest.
    auto spent = [&](double logLambda) {
        double sum = 0;
        for (const Coded& f : recent_)
            sum += std::min(f.bytes * std::exp(f.power * (f.logLambda - logLambda)), kPeak * rate * f.milliseconds / 1000.0);
        return sum;
    };
    // The sum falls as λ grows: halve the range of log λ.
    double low = 0, high = std::log(kTopLambda);
    if (spent(low) <= shares) return 1;
    if (spent(high) >= shares) return kTopLambda;
    for (int step = 0; step < 30; ++step) {
        const double mid = (low + high) / 2;
        (spent(mid) > shares ? low : high) = mid;
    }
    return std::exp((low + high) / 2);
}

namespace {

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

// The frame at λ when it fits in `most` bytes; else at the smallest λ that
// fits.
RateTrial FitFrom(FrameTrials& frame, std::size_t most, double lambda) {
    const RateTrial trial = frame.Try(lambda);
    if (trial.bytes <= most) return trial;
    return LambdaSearch(frame, most).From(lambda);
}

// A frame's cost at λ: its error plus λ per bit.
double Cost(const RateTrial& trial, double lambda) {
    return static_cast<double>(trial.distortion) + lambda * 8 * static_cast<double>(trial.bytes);
}

// Codebooks made for the macroblocks that use them, pass by pass, while a
// pass lowers the frame's cost at the λ it fits at; `fit` fits the frame
// again after a pass.
template <typename Fit>
void Specialise(FrameTrials& frame, RatePlan& plan, Fit fit) {
    for (int pass = 0; pass < kSpecialisePasses; ++pass) {
        const double lambda = plan.fit.lambda;
        if (!frame.Specialise(plan.bookSize, plan.v4Size, lambda)) return;
        if (Cost(frame.Try(lambda), lambda) >= Cost(plan.fit, lambda)) {
            frame.Unspecialise();
            return;
        }
        plan.fit = fit();
    }
}

// Only the entries worth sending kept, and the frame fitted again. A frame
// coded to a budget then fits at a smaller λ, which keeps more entries: it
// is trimmed once more at that λ and fitted again (on the synthetic movie
// at 160 × 120, a single trim left budgeted frames coded at λ 0 with the
// codebooks of a larger λ, 0.4 dB worse).
template <typename Fit>
void TrimAndFit(FrameTrials& frame, RatePlan& plan, Fit fit) {
    const double trimmedAt = plan.fit.lambda;
    if (!frame.Trim(trimmedAt)) return;
    plan.fit = fit();
    if (plan.fit.lambda >= trimmedAt) return;
    (void)frame.Trim(plan.fit.lambda);
    plan.fit = fit();
}

// The chosen sizes' codebooks refined near λ and the frame fitted again,
// then made for the macroblocks that use them; `fit` fits the frame to what
// it may spend (it reads `plan` as it stands).
template <typename Fit>
void Finish(FrameTrials& frame, RatePlan& plan, double lambda, Fit fit) {
    frame.Plan(plan.bookSize, plan.v4Size, true, lambda);
    plan.fit = fit();
    Specialise(frame, plan, fit);
    TrimAndFit(frame, plan, fit);
    plan.bytesAtTwice = frame.Try(2 * std::max(plan.fit.lambda, 1.0)).bytes;
}

// Whether one size's fit beats the best so far: a frame that fits beats one
// that does not; between frames that fit, the least distortion wins; between
// frames that do not, the fewest bytes.
bool Beats(const RateTrial& fit, const RateTrial& best, std::size_t budget) {
    const bool fits = fit.bytes <= budget, bestFits = best.bytes <= budget;
    if (fits != bestFits) return fits;
    return fits ? fit.distortion < best.distortion : fit.bytes < best.bytes;
}

} // namespace

RatePlan RateControl::ChooseAt(double lambda, std::size_t most, FrameTrials& frame) {
    RatePlan best = CheapestSizes(lambda, frame);
    // A frame the peak holds back is coded to what it may spend, at the
    // smallest λ that fits, rather than at λ with codebooks small enough to
    // fit: those cost it far more error for the bytes they save. On real
    // footage this gave about 6 % fewer bytes for the same quality, most in
    // the busy scenes. A frame of one strip then takes the largest
    // codebooks: trimmed at the λ it fits at, they keep the entries that
    // pay, where comparing sizes on the untrimmed codebooks of the cut
    // chose smaller ones. That gave 3.5 % fewer bytes again, and spared the
    // search over sizes. With several strips (the highest rates) 256
    // entries in each cost too much: at 1800 kbit/s the busiest scene then
    // spent a sixth less than it could.
    if (best.fit.bytes <= most) {
        Finish(frame, best, lambda, [&] { return FitFrom(frame, most, lambda); });
        return best;
    }
    if (frame.Strips() == 1) {
        const RatePlan largest = ChooseAmong(most, frame, 1);
        if (largest.fit.bytes <= most) return largest;
    }
    return Choose(most, frame);
}

RatePlan RateControl::CheapestSizes(double lambda, FrameTrials& frame) {
    // Pairs of sizes on codebooks of the cut alone, the V4 codebook no
    // larger than the V1 (a V4 macroblock sends four indexes, so its
    // entries are the dearer to use). The cost falls and then rises as
    // either codebook grows, so the search steps from where the last
    // frame's ended to the cheapest neighbour (one size up or down in
    // either codebook, or both) until none is cheaper. On real footage
    // coded at one slope it gave the bytes and quality of trying all 15
    // pairs within 0.1 %, and the encoder about a sixth more speed.
    constexpr std::size_t kSizes = std::size(kBookSizes);
    std::array<std::array<bool, kSizes>, kSizes> tried{};
    RatePlan best;
    double bestCost = std::numeric_limits<double>::infinity();
    // Whether the pair (indexes into kBookSizes) is new, allowed and cheaper.
    auto cheaper = [&](std::size_t v1, std::size_t v4) {
        if (v1 >= kSizes || v4 >= kSizes || v4 < v1 || tried[v1][v4]) return false;
        tried[v1][v4] = true;
        frame.Plan(kBookSizes[v1], kBookSizes[v4], false, lambda);
        const RateTrial trial = frame.Try(lambda);
        const double cost = Cost(trial, lambda);
        if (cost >= bestCost) return false;
        best = {kBookSizes[v1], kBookSizes[v4], trial}, bestCost = cost;
        return true;
    };
    auto [v1, v4] = lastSizes_;
    (void)cheaper(v1, v4);
    constexpr int kSteps[][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, 1}};
    for (bool moved = true; moved;) {
        moved = false;
        const auto from = std::pair{v1, v4};
        for (const auto& step : kSteps) {
            const std::size_t n1 = from.first + static_cast<std::size_t>(step[0]), n4 = from.second + static_cast<std::size_t>(step[1]);
            if (cheaper(n1, n4)) v1 = n1, v4 = n4, moved = true;
        }
    }
    lastSizes_ = {v1, v4};
    return best;
}

RatePlan RateControl::Choose(std::size_t budget, FrameTrials& frame) {
    return ChooseAmong(budget, frame, std::size(kBookSizes));
}

RatePlan RateControl::ChooseAmong(std::size_t budget, FrameTrials& frame, std::size_t count) {
    // Each size's fit, on codebooks of the cut alone.
    RatePlan best;
    for (std::size_t n = 0; n < count; ++n) {
        frame.Plan(kBookSizes[n], kBookSizes[n], false, 0);
        const RateTrial fit = LambdaSearch(frame, budget).From(lastLambda_[n]);
        lastLambda_[n] = fit.lambda;
        if (best.bookSize == 0 || Beats(fit, best.fit, budget)) best = {kBookSizes[n], kBookSizes[n], fit};
        // The frame fits with every macroblock at its best: a smaller
        // codebook cannot do better.
        if (fit.bytes <= budget && fit.lambda == 0) break;
    }
    // Refining the chosen size's codebooks moves its fit a little.
    Finish(frame, best, best.fit.lambda, [&] { return LambdaSearch(frame, budget).From(best.fit.lambda); });
    return best;
}

} // namespace cinepak
