// The rate control of "Cinepak Mobile": a frame's byte budget, the data-rate
// history it comes from, and the search for the codebook size and λ that make
// a frame fit its budget.
//
// The data-rate history holds the sizes and durations of the last 100 frames,
// primed with one second at the target rate; they give what the last second
// spent and so the overrun the next frame must make up for.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>

// A frame's byte budget: its share of the rate over its duration, less its
// share of what the last second overspent; at least 256 bytes, at most
// `largest`.
std::size_t FrameBudget(std::uint32_t bytesPerSecond, std::int64_t overrun, std::uint32_t milliseconds,
                        std::size_t largest);

// The byte budget of a key frame that starts a new picture: every
// macroblock is coded afresh, which the ordinary share cannot pay for, so it
// borrows from the frames that follow (the overrun the history then shows
// takes it back from them). It takes what brings the second that ends with it
// to `second` times the rate; never less than the ordinary budget, at most
// `largest`.
std::size_t KeyFrameBudget(std::uint32_t bytesPerSecond, std::int64_t overrun, std::uint32_t milliseconds,
                           double second, std::size_t largest);

// The bytes of the rate that frames left unspent: a frame seldom fills its
// budget exactly (λ is whole, the codebook sizes few), which left the mean
// rate 2 to 3 % under the target. The ordinary frames that follow get it back
// over about a second. At most a tenth of a second's bytes are kept, so that
// a scene too simple to spend its share cannot save up for a burst; a frame
// beyond its share (a key frame's borrowing) leaves nothing, as the overrun
// takes that back.
class UnspentRate {
public:
    void Add(std::uint32_t bytesPerSecond, std::uint32_t milliseconds, std::size_t bytes);
    // This frame's part of what is kept: its duration's share of a second.
    std::size_t Share(std::uint32_t milliseconds) const;

private:
    double kept_ = 0;
};

class RateHistory {
public:
    static constexpr std::size_t kLength = 100;

    // One second at `bytesPerSecond`: 100 frames of 100 ms.
    void Prime(std::uint32_t bytesPerSecond);
    void Add(std::uint32_t milliseconds, std::uint32_t bytes, bool key);
    // The bytes of the newest frames that fit into the last 1000 ms, the
    // frame crossing that second counted in proportion.
    std::int64_t SpentInLastSecond() const;

private:
    struct Entry {
        std::uint32_t milliseconds;
        std::uint32_t bytes;
        bool key;
    };
    std::deque<Entry> entries_;
};

namespace cinepak {

// Codebook sizes tried per frame, largest first: small budgets cannot pay
// for 256 entries of 6 bytes.
inline constexpr std::size_t kBookSizes[] = {256, 128, 64, 32, 16};

// A frame coded with λ weighing each bit against squared error: its bytes and
// its distortion (the squared error summed over the picture).
struct RateTrial {
    double lambda = 0;
    std::size_t bytes = 0;
    std::int64_t distortion = 0;
};

// What the rate control asks of the frame's coder.
class FrameTrials {
public:
    virtual ~FrameTrials() = default;
    // Makes the strips' codebooks of `bookSize` entries: quickly while the
    // sizes are compared, refined for the size chosen.
    virtual void Plan(std::size_t bookSize, bool refine) = 0;
    // The frame at λ with the codebooks planned last, the coder's state left
    // as it was. The search takes it that bytes never grow with λ.
    virtual RateTrial Try(double lambda) = 0;
};

struct RatePlan {
    std::size_t bookSize = 0;
    RateTrial fit;
};

// Chooses each frame's codebook size and λ. It lives as long as the encoder:
// where the last frame's search for each size ended is where the next one's
// starts, which on a steady movie takes about half the trials.
class RateControl {
public:
    // The size whose best fit of `budget` has the least distortion (or, when
    // nothing fits, the smallest frame), with its λ: the smallest whole λ up
    // to 2¹⁶ (the best quality) that fits with the size's codebooks refined.
    // The frame's codebooks are left planned for that size, refined.
    [[nodiscard]] RatePlan Choose(std::size_t budget, FrameTrials& frame);

private:
    std::array<double, std::size(kBookSizes)> lastLambda_{};
};

} // namespace cinepak
