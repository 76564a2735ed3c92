// Codebook entries that do not pay for themselves, dropped.
#include "video/cinepakprune.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

namespace cinepak {

namespace {

// Dropping is decided from each user's next nearest entry, which a drop in
// the same round may take away; a second round settles what the first
// leaves (a third changed the bytes by under 0.1 %).
constexpr int kRounds = 2;

// The entries still in the book, ordered by luma sum for a bounded search.
class LivingEntries {
public:
    LivingEntries(const std::vector<Vec>& entries, const std::array<bool, 256>& alive) : entries_(entries) {
        std::array<std::uint8_t, 256> order{};
        OrderByLumaSum(entries, [&](std::size_t e) { return alive[e]; }, firstWithSum_, order.data());
        count_ = static_cast<std::size_t>(firstWithSum_.back());
        for (std::size_t at = 0; at < count_; ++at) sorted_[at] = {LumaSum(entries[order[at]]), order[at]};
    }

    // The nearest living entry to v other than `other` (the lowest number
    // among equals), or −1 when there is none; its distance in `distance`.
    int Nearest(const Vec& v, int other, int& distance) const {
        int best = -1;
        distance = std::numeric_limits<int>::max();
        if (count_ == 0) return best;
        const int sum = LumaSum(v);
        const auto start = static_cast<std::ptrdiff_t>(
            std::min<std::size_t>(static_cast<std::size_t>(firstWithSum_[static_cast<std::size_t>(sum)]), count_ - 1));
        // Outward from the nearest luma sum while (Δ sum)² / 4 can still beat the best.
        auto consider = [&](std::ptrdiff_t at) {
            const auto [entrySum, e] = sorted_[static_cast<std::size_t>(at)];
            const int gap = entrySum - sum;
            if (best >= 0 && gap * gap > 4 * distance) return false;
            if (e == other) return true;
            const int d = Distance(v, entries_[e]);
            if (d < distance || (d == distance && e < best)) distance = d, best = e;
            return true;
        };
        for (auto up = start; up < static_cast<std::ptrdiff_t>(count_) && consider(up); ++up) {}
        for (auto down = start - 1; down >= 0 && consider(down); --down) {}
        return best;
    }

private:
    const std::vector<Vec>& entries_;
    SumStarts firstWithSum_{};
    std::array<std::pair<int, std::uint8_t>, 256> sorted_{};
    std::size_t count_ = 0;
};

} // namespace

bool PruneEntries(Codebook& book, std::span<const Vec> vectors, const std::vector<bool>& users,
                  std::span<const int> reuse, int weight, double entryCost) {
    const std::size_t k = book.entries.size();
    if (k < 2) return false;
    std::array<bool, 256> alive{};
    std::fill_n(alive.begin(), k, true);
    // Each user's next nearest entry and what moving there loses. Entries
    // only ever go, so they stay right until the user's own entry or its
    // next one goes.
    std::vector<int> next(vectors.size(), -1);
    std::vector<double> moveLoss(vectors.size(), 0);
    std::vector<bool> stale = users;
    std::vector<std::uint8_t> receivers;
    bool dropped = false;
    for (int round = 0; round < kRounds; ++round) {
        // What each entry's users would lose, each moved to its next nearest.
        const LivingEntries living(book.entries, alive);
        std::array<double, 256> loss{};
        std::array<int, 257> firstReceiver{};
        for (std::size_t j = 0; j < vectors.size(); ++j) {
            if (!users[j]) continue;
            const std::uint8_t e = book.assignment[j];
            if (stale[j] || (next[j] >= 0 && !alive[static_cast<std::size_t>(next[j])])) {
                int distance = 0;
                next[j] = living.Nearest(vectors[j], e, distance);
                moveLoss[j] = next[j] < 0 ? std::numeric_limits<double>::infinity()
                                          : static_cast<double>(weight) * (distance - Distance(vectors[j], book.entries[e]));
                stale[j] = false;
            }
            loss[e] += moveLoss[j];
            ++firstReceiver[std::size_t{e} + 1];
        }
        std::array<std::uint8_t, 256> order{};
        std::size_t count = 0;
        for (std::size_t e = 0; e < k; ++e)
            if (firstReceiver[e + 1] > 0 && reuse[e] < 0 && loss[e] < entryCost) order[count++] = static_cast<std::uint8_t>(e);
        if (count == 0) break;
        std::sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count),
                  [&](std::uint8_t a, std::uint8_t b) { return loss[a] < loss[b]; });
        // The entries each entry's users would move to, entry by entry.
        for (std::size_t e = 0; e < k; ++e) firstReceiver[e + 1] += firstReceiver[e];
        receivers.resize(static_cast<std::size_t>(firstReceiver[k]));
        std::array<int, 256> at = {};
        for (std::size_t j = 0; j < vectors.size(); ++j) {
            if (!users[j] || next[j] < 0) continue;
            const std::uint8_t e = book.assignment[j];
            receivers[static_cast<std::size_t>(firstReceiver[e] + at[e]++)] = static_cast<std::uint8_t>(next[j]);
        }
        // Cheapest first; an entry that a dropped one's users move to stays
        // this round, since its loss was counted without them.
        std::array<bool, 256> dropNow{}, receives{};
        for (std::size_t o = 0; o < count; ++o) {
            const std::uint8_t e = order[o];
            if (receives[e]) continue;
            dropNow[e] = true;
            alive[e] = false;
            dropped = true;
            for (int r = firstReceiver[e]; r < firstReceiver[std::size_t{e} + 1]; ++r) receives[receivers[static_cast<std::size_t>(r)]] = true;
        }
        // Every vector of a dropped entry to its nearest living one.
        const LivingEntries remaining(book.entries, alive);
        for (std::size_t j = 0; j < vectors.size(); ++j) {
            if (!dropNow[book.assignment[j]]) continue;
            int distance = 0;
            // Never −1: a dropped entry's users' next entries stay.
            const int nearest = remaining.Nearest(vectors[j], -1, distance);
            if (nearest >= 0) book.assignment[j] = static_cast<std::uint8_t>(nearest);
            stale[j] = true;
        }
    }
    return dropped;
}

} // namespace cinepak
