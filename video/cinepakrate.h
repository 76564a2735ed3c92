// Data-rate bookkeeping of "Cinepak Mobile": the sizes and durations of the
// last 100 frames, primed with one second at the target rate, give what the
// last second spent and so the overrun the next frame must make up for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

// A frame's byte budget: its share of the rate over its duration, less its
// share of what the last second overspent; at least 256 bytes, at most
// `largest`.
std::size_t FrameBudget(std::uint32_t bytesPerSecond, std::int64_t overrun, std::uint32_t milliseconds,
                        std::size_t largest);

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
