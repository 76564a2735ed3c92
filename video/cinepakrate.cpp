// The data-rate history of "Cinepak Mobile".
#include "video/cinepakrate.h"

#include <algorithm>
#include <cmath>

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
