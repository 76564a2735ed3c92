// The codebooks of the "Cinepak Mobile" encoder: the encoder's own, made by
// a cut of boxes and refinement from a strip's vectors, and the one a decoder
// holds, whose entries a difference frame reuses where sending new ones costs more.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "video/cinepakvectors.h"

namespace cinepak {

// Vector quantisation by a cut of boxes: the box with the largest error is
// split across its widest dimension (at the cut that leaves the least error
// in it) until there are k boxes; each box's mean is an entry. Refinement
// passes then move every vector to its nearest entry and recompute the means.
//
// The cut to k boxes passes through every smaller count of boxes, and a
// split only reorders vectors inside the box it splits, so one cut to the
// largest size keeps the boxes of each smaller size as they stood: Cut()
// runs once per set of vectors and Take() picks any of its sizes.
class Codebook {
public:
    // Lloyd passes over a codebook that is kept. On real footage four
    // passes gave about 2 % fewer bytes for the same quality than two, and
    // eight passes or passes until under 2 % of the vectors move little more
    // for much more time.
    static constexpr int kRefinePasses = 4;

    void Cut(const std::vector<Vec>& vectors, std::span<const std::size_t> sizes) {
        snapshots_.clear();
        std::size_t largest = 0;
        for (std::size_t k : sizes) largest = std::max(largest, std::min(k, vectors.size()));
        // The cut reorders copies of the vectors, not indexes to them, so the
        // cut's search and the box statistics read memory in order; each
        // copy carries its index in the spare lanes.
        order_.resize(vectors.size());
        for (std::size_t i = 0; i < vectors.size(); ++i) {
            order_[i] = vectors[i];
            order_[i].c[6] = static_cast<std::int16_t>(i & 0xFFFF);
            order_[i].c[7] = static_cast<std::int16_t>(i >> 16);
        }
        boxes_.clear();
        if (vectors.empty() || largest == 0) return;
        boxes_.push_back(Measure(0, vectors.size()));
        auto keep = [&] {
            if (std::any_of(sizes.begin(), sizes.end(), [&](std::size_t k) { return std::min(k, vectors.size()) == boxes_.size(); }))
                Snapshot();
        };
        keep();
        // The box to split next: the largest error, the earliest box among
        // equals. Each box has one place in the heap; boxes without error
        // are never split and stay out of it.
        heap_.clear();
        auto offer = [&](std::size_t i) {
            if (boxes_[i].error <= 0) return;
            heap_.push_back({boxes_[i].error, i});
            std::push_heap(heap_.begin(), heap_.end(), SplitsFirst);
        };
        offer(0);
        while (boxes_.size() < largest && !heap_.empty()) {
            std::pop_heap(heap_.begin(), heap_.end(), SplitsFirst);
            const std::size_t chosen = heap_.back().second;
            heap_.pop_back();
            const Box box = boxes_[chosen];
            const std::size_t mid = Split(box);
            // Sums add up: only the smaller half is measured, the other's
            // sums are the box's less its.
            const bool firstSmaller = mid - box.begin <= box.end - mid;
            const Box measured = firstSmaller ? Measure(box.begin, mid) : Measure(mid, box.end);
            Box derived{firstSmaller ? mid : box.begin, firstSmaller ? box.end : mid, 0, 0, Vec{}, {}, {}};
            for (std::size_t d = 0; d < 6; ++d) {
                derived.sum[d] = box.sum[d] - measured.sum[d];
                derived.squares[d] = box.squares[d] - measured.squares[d];
            }
            Summarise(derived);
            boxes_[chosen] = firstSmaller ? measured : derived;
            boxes_.push_back(firstSmaller ? derived : measured);
            offer(chosen);
            offer(boxes_.size() - 1);
            keep();
        }
        if (snapshots_.empty() || snapshots_.back().first != boxes_.size()) Snapshot();
    }

    // The cut's boxes at size k (or, when the vectors could not be split
    // that far, as far as they went) as the codebook, refined by `passes`.
    void Take(const std::vector<Vec>& vectors, std::size_t k, int passes) {
        entries.clear();
        assignment.assign(vectors.size(), 0);
        if (vectors.empty() || k == 0) return;
        k = std::min(k, vectors.size());
        const std::vector<Part>* boxes = &snapshots_.back().second;
        for (const auto& snapshot : snapshots_)
            if (snapshot.first == k) boxes = &snapshot.second;
        entries.resize(boxes->size());
        for (std::size_t b = 0; b < boxes->size(); ++b) {
            const Part& box = (*boxes)[b];
            entries[b] = box.mean;
            for (std::size_t i = box.begin; i < box.end; ++i) assignment[IndexOf(order_[i])] = static_cast<std::uint8_t>(b);
        }
        for (int pass = 0; pass < passes; ++pass) Refine(vectors);
    }

    // Moves every vector to its nearest entry (the lowest-numbered among
    // equals): the assignment of vectors the codebook was not made from.
    void Assign(const std::vector<Vec>& vectors) { Assign(vectors, false); }

    std::vector<Vec> entries;
    std::vector<std::uint8_t> assignment;

private:
    struct Box {
        std::size_t begin, end;
        std::int64_t error; // weighted sum of squared deviations from the mean
        int widest;         // the dimension with the largest weighted spread
        Vec mean;
        std::array<std::int64_t, 6> sum, squares; // of the components
    };

    // Splits the box across its widest dimension where the two halves'
    // squared errors in that dimension add up least (Otsu's threshold), and
    // answers where the second half starts. Against a cut at the median this
    // leaves a few outlying vectors (the bright ones of a dark picture) a box
    // of their own: on real footage it gave about 1.5 % fewer bytes for the
    // same quality; minimising the error in all six dimensions gave
    // hardly more for a fifth more time. The error in one dimension is its
    // sum of squares less sum² / n, so the best cut has the largest
    // sum² / n over both halves, found from a count and a sum of each value.
    // Values are small integers; colour differences (dimensions 4 and 5)
    // run from −128, and the byte of a value is its bin either way.
    std::size_t Split(const Box& box) {
        const auto dim = static_cast<std::size_t>(box.widest);
        std::array<std::uint32_t, 256> counts{};
        std::array<std::int32_t, 256> sums{};
        int lowest = 255, highest = -128;
        for (std::size_t i = box.begin; i < box.end; ++i) {
            const int value = order_[i].c[dim];
            const auto bin = static_cast<std::uint8_t>(value);
            ++counts[bin];
            sums[bin] += value;
            lowest = std::min(lowest, value), highest = std::max(highest, value);
        }
        // A cut after each value but the highest: the first half takes the
        // values up to it.
        const auto total = static_cast<std::int64_t>(box.end - box.begin);
        const auto whole = static_cast<double>(box.sum[dim]);
        std::int64_t below = 0, belowSum = 0;
        double bestScore = -1;
        int cut = lowest;
        for (int value = lowest; value < highest; ++value) {
            const auto bin = static_cast<std::uint8_t>(value);
            if (counts[bin] == 0) continue;
            below += counts[bin];
            belowSum += sums[bin];
            const double l = static_cast<double>(belowSum), r = whole - l;
            const double score = l * l / static_cast<double>(below) + r * r / static_cast<double>(total - below);
            if (score > bestScore) bestScore = score, cut = value;
        }
        Vec* first = order_.data() + box.begin;
        return static_cast<std::size_t>(
            Partition(first, order_.data() + box.end, [&](const Vec& v) { return v.c[dim] <= cut; }) - order_.data());
    }

    // Moves the vectors for which `front` holds to the front (in an order of
    // this function's own, so that every build cuts alike); answers where
    // the rest start.
    template <typename Predicate>
    static Vec* Partition(Vec* begin, Vec* end, Predicate front) {
        for (;;) {
            while (begin != end && front(*begin)) ++begin;
            do {
                if (begin == end) return begin;
                --end;
            } while (!front(*end));
            std::swap(*begin, *end);
            ++begin;
        }
    }

    Box Measure(std::size_t begin, std::size_t end) const {
        Box box{begin, end, 0, 0, Vec{}, {}, {}};
        for (std::size_t i = begin; i < end; ++i) {
            const Vec& v = order_[i];
            for (std::size_t d = 0; d < 6; ++d) {
                box.sum[d] += v.c[d];
                box.squares[d] += std::int64_t{v.c[d]} * v.c[d];
            }
        }
        Summarise(box);
        return box;
    }

    // Error, widest dimension and mean from the sums.
    static void Summarise(Box& box) {
        const auto n = static_cast<std::int64_t>(box.end - box.begin);
        std::int64_t widest = -1;
        for (std::size_t d = 0; d < 6; ++d) {
            // n² × variance, kept in integers.
            const std::int64_t spread = box.squares[d] * n - box.sum[d] * box.sum[d];
            box.error += spread / n;
            if (spread > widest) widest = spread, box.widest = static_cast<int>(d);
            box.mean.c[d] = static_cast<std::int16_t>(RoundDiv(box.sum[d], n));
        }
        if (n < 2) box.error = 0;
    }

    // With `fromLast`, each vector's search starts from the entry it had,
    // which is usually near: the bound then stops the search soonest.
    void Assign(const std::vector<Vec>& vectors, bool fromLast) {
        assignment.resize(vectors.size());
        const std::size_t k = entries.size();
        if (k == 0) return;
        std::array<std::uint8_t, 256> order;
        OrderByLumaSum(entries, [](std::size_t) { return true; }, firstWithSum_, order.data());
        std::array<std::pair<int, std::uint8_t>, 256> sorted;
        for (std::size_t at = 0; at < k; ++at) sorted[at] = {LumaSum(entries[order[at]]), order[at]};
        for (std::size_t i = 0; i < vectors.size(); ++i) {
            const Vec& v = vectors[i];
            const int sum = LumaSum(v);
            const std::ptrdiff_t start = firstWithSum_[static_cast<std::size_t>(sum)];
            // Start from the entry of the nearest luma sum, then search
            // outward in both directions while the bound can still beat the
            // best.
            int best = fromLast ? assignment[i]
                                : sorted[static_cast<std::size_t>(std::min<std::ptrdiff_t>(start, static_cast<std::ptrdiff_t>(k) - 1))].second;
            int bestDistance = Distance(v, entries[static_cast<std::size_t>(best)]);
            auto consider = [&](std::size_t at) {
                const int e = sorted[at].second;
                const int d = Distance(v, entries[static_cast<std::size_t>(e)]);
                if (d < bestDistance || (d == bestDistance && e < best)) bestDistance = d, best = e;
            };
            for (auto up = start; up < static_cast<std::ptrdiff_t>(k); ++up) {
                const int gap = sorted[static_cast<std::size_t>(up)].first - sum;
                if (gap * gap > 4 * bestDistance) break;
                consider(static_cast<std::size_t>(up));
            }
            for (auto down = start - 1; down >= 0; --down) {
                const int gap = sum - sorted[static_cast<std::size_t>(down)].first;
                if (gap * gap > 4 * bestDistance) break;
                consider(static_cast<std::size_t>(down));
            }
            assignment[i] = static_cast<std::uint8_t>(best);
        }
    }

    // One pass of Lloyd's refinement: every vector to its nearest entry,
    // every entry to the mean of its vectors.
    void Refine(const std::vector<Vec>& vectors) {
        if (entries.size() < 2) return;
        Assign(vectors, true);
        const std::size_t k = entries.size();
        std::array<std::array<std::int64_t, 6>, 256> sums{};
        std::array<std::int64_t, 256> counts{};
        for (std::size_t i = 0; i < vectors.size(); ++i) {
            auto& sum = sums[assignment[i]];
            for (std::size_t c = 0; c < 6; ++c) sum[c] += vectors[i].c[c];
            ++counts[assignment[i]];
        }
        for (std::size_t e = 0; e < k; ++e)
            if (counts[e] > 0)
                for (std::size_t c = 0; c < 6; ++c) entries[e].c[c] = static_cast<std::int16_t>(RoundDiv(sums[e][c], counts[e]));
    }

    static std::size_t IndexOf(const Vec& copy) {
        return static_cast<std::uint16_t>(copy.c[6]) | (std::size_t{static_cast<std::uint16_t>(copy.c[7])} << 16);
    }

    // Heap order: true when b splits before a.
    static bool SplitsFirst(const std::pair<std::int64_t, std::size_t>& a, const std::pair<std::int64_t, std::size_t>& b) {
        return a.first < b.first || (a.first == b.first && a.second > b.second);
    }

    SumStarts firstWithSum_{}; // Refine's: where each luma sum starts
    std::vector<Vec> order_;
    std::vector<std::pair<std::int64_t, std::size_t>> heap_;
    // What a codebook takes of a box.
    struct Part {
        std::size_t begin, end;
        Vec mean;
    };
    void Snapshot() {
        std::vector<Part> parts(boxes_.size());
        for (std::size_t b = 0; b < boxes_.size(); ++b) parts[b] = {boxes_[b].begin, boxes_[b].end, boxes_[b].mean};
        snapshots_.emplace_back(boxes_.size(), std::move(parts));
    }

    std::vector<Box> boxes_;
    // The boxes at each size asked for, and where the cut ended.
    std::vector<std::pair<std::size_t, std::vector<Part>>> snapshots_;
};

// A new entry this close to one the decoder already holds is not sent: the
// old one serves (about one level off per component at most).
constexpr int kReuseDistance = 8;

// The codebook a decoder holds for one strip, and which entries are known
// to hold what this encoder wrote since the last key frame.
struct DecoderBook {
    std::array<Vec, 256> entries{};
    std::array<bool, 256> valid{};

    // The valid slot nearest to the clamped vector v within `reach` (a
    // squared distance), the lowest among equals, or −1 when none is. Reads
    // the index that Index() built after the last change to the book.
    int Reusable(const Vec& v, int reach) const {
        int best = -1, bestDistance = reach + 1;
        const int sum = LumaSum(v);
        // A slot within reach has a luma sum within √(4 × reach) of v's.
        int sumReach = 0;
        while ((sumReach + 1) * (sumReach + 1) <= 4 * reach) ++sumReach;
        const int low = std::max(0, sum - sumReach), high = std::min(kLargestSum, sum + sumReach);
        for (int at = firstWithSum[static_cast<std::size_t>(low)]; at < firstWithSum[static_cast<std::size_t>(high) + 1]; ++at) {
            const int slot = bySum[static_cast<std::size_t>(at)];
            const int d = Distance(v, entries[static_cast<std::size_t>(slot)]);
            if (d < bestDistance || (d == bestDistance && slot < best)) bestDistance = d, best = slot;
        }
        return best;
    }

    // Sorts the valid slots by luma sum (a counting sort), so that Reusable()
    // looks only at those whose sum is near.
    void Index() { OrderByLumaSum(entries, [&](std::size_t slot) { return valid[slot]; }, firstWithSum, bySum.data()); }

    SumStarts firstWithSum{}; // where each sum's slots start in bySum
    std::array<std::uint8_t, 256> bySum{};
};

} // namespace cinepak
