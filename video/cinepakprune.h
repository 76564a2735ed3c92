// Codebook entries that do not pay for themselves. Sending an entry costs
// six bytes; an entry that a few blocks use, each nearly as well served by
// another entry, costs more bits than it saves error. Codebook sizes are
// chosen among powers of two, so every codebook carries some: dropping them
// at the frame's slope gave about 1.5 % fewer bytes for the same quality on
// real footage.
#pragma once

#include <span>
#include <vector>

#include "video/cinepakcodebook.h"

namespace cinepak {

// Drops the entries of `book` whose users (the vectors marked in `users`,
// which the frame codes with this book) would lose less error moving to
// their next nearest entry than `entryCost` (λ times an entry's bits).
// Entries the decoder already holds (`reuse` ≥ 0) cost nothing and stay.
// `weight` scales a vector's distance: a V1 entry is drawn over four blocks.
// Every vector of a dropped entry, user or not, then moves to its nearest
// remaining entry. Answers whether any entry was dropped.
[[nodiscard]] bool PruneEntries(Codebook& book, std::span<const Vec> vectors, const std::vector<bool>& users,
                                std::span<const int> reuse, int weight, double entryCost);

} // namespace cinepak
