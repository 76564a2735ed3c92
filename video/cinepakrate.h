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
#include <utility>

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

class RateHistory {
public:
    static constexpr std::size_t kLength = 100;

    // One second at `bytesPerSecond`: 100 frames of 100 ms.
    void Prime(std::uint32_t bytesPerSecond);
    void Add(std::uint32_t milliseconds, std::uint32_t bytes, bool key);
    // The bytes of the newest frames that fit into the last 1000 ms, the
    // frame crossing that second counted in proportion.
    std::int64_t SpentInLastSecond() const { return SpentInLast(1000); }
    // The same over the last `milliseconds`; without `keyFrames`, what the
    // difference frames among them spent.
    std::int64_t SpentInLast(std::uint32_t milliseconds, bool keyFrames = true) const;

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
    // Makes the strips' V1 and V4 codebooks of the sizes given: quickly
    // while the sizes are compared, refined for the sizes chosen, which are
    // coded near λ (the slope decides which of the decoder's entries serve).
    virtual void Plan(std::size_t v1Size, std::size_t v4Size, bool refine, double lambda) = 0;
    // Makes the codebooks of those sizes anew, each from the macroblocks
    // that would use it at λ; false when the coder does not.
    virtual bool Specialise(std::size_t v1Size, std::size_t v4Size, double lambda) = 0;
    // Puts back the codebooks the last Specialise() replaced.
    virtual void Unspecialise() = 0;
    // Keeps, of the codebooks as planned, only the entries worth sending at
    // λ (a second call starts again from the planned ones); false when all
    // stay as they were.
    virtual bool Trim(double lambda) = 0;
    // How many strips the frame is cut into, each with its own codebooks.
    virtual std::size_t Strips() const = 0;
    // The frame at λ with the codebooks planned last, the coder's state left
    // as it was. The search takes it that bytes never grow with λ.
    virtual RateTrial Try(double lambda) = 0;
};

struct RatePlan {
    std::size_t bookSize = 0; // of the V1 codebooks
    std::size_t v4Size = 0;   // of the V4 codebooks: at most the V1 size
    RateTrial fit;
    std::size_t bytesAtTwice = 0; // the frame's bytes at twice the fit's λ (at least 1)
};

// The slope every frame is coded at, and the most it may spend.
//
// A frame coded to its share of the rate spends as much on a still sky as
// on a crowd in motion, yet the movie's summed error is least when every
// frame is coded at one slope λ (error against bits): the still frames then
// spend little and the busy ones much. So after the first second, which is
// coded to its shares, frames are coded at a common λ: the one at which the
// frames of the last kMemory seconds would have spent their shares (each
// frame's bytes taken to vary as a power of λ, the power measured on the
// frame, and never beyond the peak), raised by the debt (what the movie
// spent beyond its shares, a debt of kDebtSeconds of the rate doubling it)
// or lowered by the savings (kSavedSeconds halving it). Two rules bound a
// frame: no second spends more than kPeak times the rate (the encoder keeps
// its own record of its frames, which the writer's overrun summarises), and
// the difference frames of a second leave room for the smallest key frame
// (one byte a macroblock), which a cut may need at any time: no difference
// frame spends more than its part of what is left of the peak. A scene
// too simple to spend its shares saves at most kMostSaved seconds of the
// rate for the next busy one. A cut's key frame takes at most the smallest
// key frame and one difference frame's part: nothing yet tells whether the
// new scene is still, when a large key frame pays for itself over the
// frames that keep its blocks, or busy, when the frames of its second
// would pay for it.
//
// On real footage (bench/cinepak_footage.cpp: six scenes of 4 seconds) a
// memory of 4 seconds gave 0.2 to 0.3 dB over coding every frame to its
// share: each scene then spends about its shares again. Remembering the
// last minute, with the busy frames counted at most at the peak, gave 6 %
// fewer bytes for the same quality besides (the busy scenes take what the
// still ones leave), with the mean rate 3.5 % under the target. Counted in
// full, the busy frames set the slope too high for the others, and a
// memory of 8 seconds then spent 10 % under the target. A weaker pull from
// the savings lets a still scene near the end keep what nothing after it
// spends (7 % under). A difference frame may spend no more of the peak than
// its part of the second: 2 % fewer bytes than letting it take 1.6 times
// its share, 3.5 % fewer than 2.2 times, since a busy frame that takes more
// leaves the frames after it in the second too little (at 1.1 times the
// busy scenes could not spend what the still ones saved, 5 % under the
// target). Its part of the whole peak was still too much: the last frames
// of every second then paid for the key frame's room, and at 1400 kbit/s
// the zoom's worst frame fell 1.2 dB below the others. A higher peak
// gained nothing either. Taking what the peak left, a cut's key frame
// into the zoom at 620 kbit/s spent 3.7 shares and came out 6.4 dB better
// than the frames after it, which fell 0.5 dB below the rest of the scene.
// Held to the smallest key frame and one part, the worst frames from 450 to
// 1000 kbit/s gained 0.4 to 0.9 dB and the clip took 0.8 % fewer bytes for
// the same quality (with 1.5 or 2 parts 0.7 % and 0.4 % fewer, with 0.75
// of a part 0.7 %; with half a part 0.1 % more, the key frames then being
// the worst frames at the highest rates).
class SlopeControl {
public:
    static constexpr double kPeak = 1.25;       // of the rate, in any second: 1.3 with a margin
    static constexpr double kFirstSecond = 1.2; // what the second ending with the first frame may spend
    static constexpr double kMemory = 60;       // seconds
    static constexpr double kDebtSeconds = 2;
    static constexpr double kSavedSeconds = 0.4;
    static constexpr double kMostSaved = 1.5; // seconds of the rate

    // A difference frame; a key frame where the picture did not cut (a
    // periodic one, or one a chapter's start forces); a key frame where it
    // cut, forced or not.
    enum class Kind { Difference, Key, Cut };

    struct Frame {
        double lambda = 0;    // 0 in the first second: the frame is coded to `most`
        std::size_t most = 0; // bytes
    };
    // The next frame's slope and most bytes; `overrun` is the writer's,
    // `smallestKey` the fewest bytes a key frame takes.
    Frame Next(std::uint32_t bytesPerSecond, std::int64_t overrun, std::uint32_t milliseconds, Kind kind,
               std::size_t smallestKey, std::size_t largest) const;
    // A frame coded: its bytes at the λ it was coded at, and at twice that λ.
    void Add(std::uint32_t bytesPerSecond, std::uint32_t milliseconds, bool key, std::size_t bytes, double lambda,
             std::size_t bytesAtTwice);

private:
    // The λ at which the remembered frames would have spent their shares.
    double Slope(std::uint32_t bytesPerSecond) const;

    struct Coded {
        std::uint32_t milliseconds;
        double bytes, logLambda, power; // at λ: bytes × e^(power × (logLambda − log λ))
    };
    std::deque<Coded> recent_;
    std::uint32_t remembered_ = 0; // milliseconds in recent_
    RateHistory window_;
    double debt_ = 0;           // bytes
    std::uint64_t elapsed_ = 0; // milliseconds
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
    // The V1 and V4 sizes whose frame costs least at λ (error plus λ per
    // bit), at λ; when that frame does not fit in `most` bytes, the frame
    // Choose() makes of `most` (of one strip: with the largest codebooks
    // when they fit).
    // The frame's codebooks are left planned for it, refined and made for
    // the macroblocks that use them.
    [[nodiscard]] RatePlan ChooseAt(double lambda, std::size_t most, FrameTrials& frame);

private:
    // Choose() among the first `count` sizes of kBookSizes.
    RatePlan ChooseAmong(std::size_t budget, FrameTrials& frame, std::size_t count);
    // The pair of sizes whose frame costs least at λ, with that frame.
    RatePlan CheapestSizes(double lambda, FrameTrials& frame);

    std::array<double, std::size(kBookSizes)> lastLambda_{};
    std::pair<std::size_t, std::size_t> lastSizes_{0, 0}; // indexes into kBookSizes
};

} // namespace cinepak
