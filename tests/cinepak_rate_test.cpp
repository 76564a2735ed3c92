// The slope the Cinepak encoder codes its frames at, the nearest-entry
// search its codebooks are built with, and the entries it drops.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "video/cinepakcodebook.h"
#include "video/cinepakprune.h"
#include "video/cinepakrate.h"

using cinepak::SlopeControl;
using Kind = cinepak::SlopeControl::Kind;

TEST(CinepakRate, TheSlopeSpendsTheSharesOfTheFramesRemembered) {
    // 10 frames a second of 10000 bytes a second: a share of 1000 bytes.
    constexpr std::uint32_t kRate = 10000, kMs = 100;
    constexpr std::size_t kLargest = 65000;
    SlopeControl slope;
    // The first frame has no slope yet: it is coded to the budget that
    // brings its primed second to 1.2 times the rate.
    SlopeControl::Frame first = slope.Next(kRate, 0, kMs, Kind::Key, 500, kLargest);
    EXPECT_EQ(first.lambda, 0);
    EXPECT_EQ(first.most, 3000u);

    // Frames that spend twice their share at λ 50, and half that at λ 100:
    // at λ 100 they would have spent their shares. The first second is
    // coded to its shares; after it, the slope is that λ, raised by the
    // debt they ran up: 5 seconds' frames of a share too many, which 2
    // seconds of debt double.
    double debt = 0;
    for (int n = 0; n < 50; ++n) {
        const SlopeControl::Frame frame = slope.Next(kRate, 0, kMs, Kind::Difference, 500, kLargest);
        EXPECT_EQ(frame.lambda == 0, n < 10) << n;
        slope.Add(kRate, kMs, n == 0, 2000, 50, 1000);
        debt += 2000 - 1000;
    }
    SlopeControl::Frame next = slope.Next(kRate, 0, kMs, Kind::Difference, 500, kLargest);
    EXPECT_NEAR(next.lambda, 100 * std::exp2(debt / kRate / SlopeControl::kDebtSeconds), 0.01 * next.lambda);
    // Every second spent twice the rate: nothing is left for the next frame.
    EXPECT_EQ(next.most, 256u);

    // Then a still scene: 200 bytes a frame at λ 250, whose shares λ 50
    // would have spent. Its savings pay the debt back and are kept up to
    // kMostSaved seconds' worth, every kSavedSeconds of them halving the
    // slope. The slope spends the shares of all 150 frames remembered, the
    // busy ones counted at most at the peak (1250 bytes): 50 × 1250 +
    // 100 × 200 × 250 / λ = 150 × 1000 gives λ 400 / 7; counted in full,
    // they would give λ 66.7.
    for (int n = 0; n < 100; ++n) slope.Add(kRate, kMs, false, 200, 250, 100);
    next = slope.Next(kRate, 0, kMs, Kind::Difference, 500, kLargest);
    EXPECT_NEAR(next.lambda, 400.0 / 7 * std::exp2(-SlopeControl::kMostSaved / SlopeControl::kSavedSeconds), 0.01 * next.lambda);
    // Frames older than the memory are forgotten: a minute of the still
    // scene leaves only it, whose shares λ 50 spends.
    for (int n = 0; n < 600; ++n) slope.Add(kRate, kMs, false, 200, 250, 100);
    next = slope.Next(kRate, 0, kMs, Kind::Difference, 500, kLargest);
    EXPECT_NEAR(next.lambda, 50 * std::exp2(-SlopeControl::kMostSaved / SlopeControl::kSavedSeconds), 0.01 * next.lambda);
    // A key frame may take the rest of the second (here 12500 less 9 × 200);
    // a difference frame its part of what the peak leaves beside the
    // smallest key frame: a tenth of 12500 − 500, evenly, so that the last
    // frames of a busy second are not the ones that keep the key frame's
    // room. When that key frame would need 10200 bytes, the part is less
    // than the least frame.
    EXPECT_EQ(slope.Next(kRate, 0, kMs, Kind::Key, 10200, kLargest).most, static_cast<std::size_t>(SlopeControl::kPeak * kRate - 9 * 200));
    EXPECT_EQ(next.most, 1200u);
    EXPECT_EQ(slope.Next(kRate, 0, kMs, Kind::Difference, 10200, kLargest).most, 256u);
    // A cut's key frame takes the smallest key frame and a difference
    // frame's part, never more than the rest of the second.
    EXPECT_EQ(slope.Next(kRate, 0, kMs, Kind::Cut, 500, kLargest).most, 500u + 1200);
    EXPECT_EQ(slope.Next(kRate, 0, kMs, Kind::Cut, 10200, kLargest).most, 10200u + 230);
    EXPECT_EQ(slope.Next(kRate, 0, kMs, Kind::Cut, 11000, kLargest).most, static_cast<std::size_t>(SlopeControl::kPeak * kRate - 9 * 200));
    // Key frames in the second leave the difference frames their parts
    // while the second's whole spending stays within the peak.
    slope.Add(kRate, kMs, true, 5000, 250, 2500);
    EXPECT_EQ(slope.Next(kRate, 0, kMs, Kind::Difference, 500, kLargest).most, 1200u);
    slope.Add(kRate, kMs, true, 5000, 250, 2500);
    EXPECT_EQ(slope.Next(kRate, 0, kMs, Kind::Difference, 500, kLargest).most, 12500u - 10000 - 7 * 200);
    slope.Add(kRate, kMs, true, 9000, 250, 4500);
    EXPECT_EQ(slope.Next(kRate, 0, kMs, Kind::Difference, 500, kLargest).most, 256u); // the key frames filled it: the least frame
}

// The nearest-entry search bounds its search by luma sums; it must find what
// measuring every entry finds, the lowest-numbered entry among equals.
TEST(CinepakCodebook, EveryVectorGoesToItsNearestEntry) {
    using cinepak::Vec;
    std::mt19937 rng(7);
    auto random = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    auto vector = [&](int spread, int centre) {
        Vec v;
        for (std::size_t i = 0; i < 4; ++i) v.c[i] = static_cast<std::int16_t>(std::clamp(centre + random(-spread, spread), 0, 255));
        for (std::size_t i = 4; i < 6; ++i) v.c[i] = static_cast<std::int16_t>(random(-spread / 2, spread / 2));
        return v;
    };
    // Entries and vectors spread over everything, bunched at one grey (many
    // entries at nearly equal distances), repeated entries, and the corners.
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(trial);
        const int spread = trial % 4 == 0 ? 255 : trial % 4 == 1 ? 3 : 40;
        cinepak::Codebook book;
        book.entries.resize(static_cast<std::size_t>(random(1, 256)));
        for (Vec& e : book.entries) e = vector(spread, 128);
        if (trial % 5 == 0)
            for (std::size_t e = 1; e < book.entries.size(); e += 3) book.entries[e] = book.entries[e - 1];
        std::vector<Vec> vectors(500);
        for (Vec& v : vectors) v = vector(spread, random(0, 255));
        Vec low, high;
        for (std::size_t i = 0; i < 6; ++i) low.c[i] = static_cast<std::int16_t>(i < 4 ? 0 : -128), high.c[i] = static_cast<std::int16_t>(i < 4 ? 255 : 127);
        vectors.push_back(low), vectors.push_back(high);
        book.Assign(vectors);
        ASSERT_EQ(book.assignment.size(), vectors.size());
        for (std::size_t i = 0; i < vectors.size(); ++i) {
            std::size_t nearest = 0;
            for (std::size_t e = 1; e < book.entries.size(); ++e)
                if (cinepak::DistancePlain(vectors[i], book.entries[e]) < cinepak::DistancePlain(vectors[i], book.entries[nearest])) nearest = e;
            ASSERT_EQ(book.assignment[i], nearest) << i;
        }
    }
}

// Entries whose users lose less moving to their next nearest entry than the
// entry costs go; the users' new entries stay even when they too would go
// alone; entries the decoder holds cost nothing; a V1 entry's users count
// four times over.
TEST(CinepakCodebook, EntriesThatCostMoreThanTheySaveAreDropped) {
    using cinepak::Vec;
    auto grey = [](int y, int u = 0) {
        Vec v;
        for (std::size_t i = 0; i < 4; ++i) v.c[i] = static_cast<std::int16_t>(y);
        v.c[4] = static_cast<std::int16_t>(u);
        return v;
    };
    // Entries: 0 a crowd's, 1 a lone vector's two levels from it, 2 a far
    // crowd's, 3 and 4 one vector's each, near each other and far from the
    // rest, 5 a lone vector's two levels from entry 2, which the decoder
    // holds.
    const std::vector<Vec> entries = {grey(100), grey(102), grey(200), grey(30), grey(31), grey(198)};
    std::vector<Vec> vectors;
    std::vector<std::uint8_t> assignment;
    std::vector<bool> users;
    auto add = [&](const Vec& v, std::uint8_t entry, bool user) {
        vectors.push_back(v), assignment.push_back(entry), users.push_back(user);
    };
    for (int i = 0; i < 10; ++i) add(grey(100, i % 3 - 1), 0, true);
    add(grey(102), 1, true);
    add(grey(103), 1, false); // drawn by another mode: follows its entry
    for (int i = 0; i < 10; ++i) add(grey(200, i % 3 - 1), 2, true);
    add(grey(30), 3, true);
    add(grey(31), 4, true);
    add(grey(198), 5, true);
    const std::vector<int> reuse = {-1, -1, -1, -1, -1, 7};
    auto prune = [&](int weight, double cost) {
        cinepak::Codebook book;
        book.entries = entries;
        book.assignment = assignment;
        const bool dropped = cinepak::PruneEntries(book, vectors, users, reuse, weight, cost);
        return std::pair{dropped, book.assignment};
    };
    // Moving the lone vector to entry 0 costs 16 (two levels, squared, in
    // four lumas); the crowd around entry 0 would lose 10 × 16 and more.
    const auto [dropped, kept] = prune(1, 40);
    EXPECT_TRUE(dropped);
    const std::uint8_t pair = kept[22];
    EXPECT_TRUE(pair == 3 || pair == 4);
    for (std::size_t j = 0; j < vectors.size(); ++j) {
        SCOPED_TRACE(j);
        const std::uint8_t expected = j < 10 ? 0 : j < 12 ? 0 : j < 22 ? 2 : j < 24 ? pair : 5;
        EXPECT_EQ(kept[j], expected);
    }
    // Counted four times over, the lone vector's 16 outweighs 40.
    const auto [droppedV1, keptV1] = prune(4, 40);
    EXPECT_TRUE(droppedV1); // one of the near pair (4 × 4 = 16) still goes
    EXPECT_EQ(keptV1[10], 1);
    EXPECT_EQ(keptV1[11], 1);
    // At no cost nothing goes.
    const auto [droppedFree, keptFree] = prune(1, 0);
    EXPECT_FALSE(droppedFree);
    EXPECT_EQ(keptFree, assignment);
}

// A frame at a slope: the V1 and V4 sizes it costs least with, and, when the
// peak holds it back, its budget spent at a larger λ rather than on
// codebooks too small for it (of one strip, on the largest codebooks).
TEST(CinepakRate, ASlopeTakesTheCheapestSizesOrTheBudgetThePeakLeaves) {
    using cinepak::RateTrial;
    // Entries cost 6 bytes and save error (the V1 codebook's the more);
    // indexes shrink as λ grows, each step of λ costing 64 of error.
    struct Frame final : cinepak::FrameTrials {
        std::size_t v1 = 0, v4 = 0, strips = 2;
        void Plan(std::size_t v1Size, std::size_t v4Size, bool, double) override { v1 = v1Size, v4 = v4Size; }
        bool Specialise(std::size_t, std::size_t, double) override { return false; }
        void Unspecialise() override {}
        bool Trim(double) override { return false; }
        std::size_t Strips() const override { return strips; }
        RateTrial Try(double lambda) override { return At(v1, v4, lambda); }
        static RateTrial At(std::size_t v1, std::size_t v4, double lambda) {
            const auto bytes = 6 * (v1 + v4) + static_cast<std::size_t>(4000 / (1 + lambda / 16));
            return {lambda, bytes, static_cast<std::int64_t>(64 * lambda + 2e6 / static_cast<double>(v1) + 1e6 / static_cast<double>(v4))};
        }
    };
    auto cost = [](const RateTrial& t, double lambda) { return static_cast<double>(t.distortion) + 8 * lambda * static_cast<double>(t.bytes); };
    // Every pair, the V4 codebook no larger: the cheapest at λ, and the
    // cheapest of those that fit in `most` at λ.
    auto cheapest = [&](double lambda, std::size_t most) {
        std::pair<std::size_t, std::size_t> best{0, 0};
        double bestCost = 1e300;
        for (std::size_t v1 : cinepak::kBookSizes)
            for (std::size_t v4 : cinepak::kBookSizes) {
                const RateTrial t = Frame::At(v1, v4, lambda);
                if (v4 <= v1 && t.bytes <= most && cost(t, lambda) < bestCost) best = {v1, v4}, bestCost = cost(t, lambda);
            }
        return best;
    };
    cinepak::RateControl rate;
    Frame frame;
    // Slopes far apart, so that the search walks from one corner of the
    // sizes to the other, and back.
    for (double lambda : {1.0, 400.0, 10.0, 2.0, 60.0}) {
        SCOPED_TRACE(lambda);
        const cinepak::RatePlan plan = rate.ChooseAt(lambda, 1 << 20, frame);
        EXPECT_EQ(std::pair(plan.bookSize, plan.v4Size), cheapest(lambda, 1 << 20));
        EXPECT_EQ(plan.fit.lambda, lambda);
        EXPECT_TRUE(frame.v1 == plan.bookSize && frame.v4 == plan.v4Size); // left planned for it
    }
    // 300 bytes fewer than the cheapest frame at λ 10: smaller codebooks
    // would fit at λ 10, but a larger λ costs far less error.
    const RateTrial unheld = Frame::At(cheapest(10, 1 << 20).first, cheapest(10, 1 << 20).second, 10);
    const std::size_t most = unheld.bytes - 300;
    const auto [small1, small4] = cheapest(10, most);
    ASSERT_NE(small1, 0u);
    const cinepak::RatePlan held = rate.ChooseAt(10, most, frame);
    EXPECT_LE(held.fit.bytes, most);
    EXPECT_GT(held.fit.lambda, 10);
    EXPECT_LT(held.fit.distortion, Frame::At(small1, small4, 10).distortion);
    // A frame of one strip held back takes the largest codebooks (which it
    // trims) at the smallest λ that fits them, when any does; here 256 + 256
    // entries alone take more than `most`, so the sizes are searched.
    frame.strips = 1;
    const std::size_t largestBooks = 6 * 2 * cinepak::kBookSizes[0];
    ASSERT_LT(most, largestBooks);
    const cinepak::RatePlan searched = rate.ChooseAt(10, most, frame);
    EXPECT_EQ(std::pair(searched.bookSize, searched.v4Size), std::pair(held.bookSize, held.v4Size));
    const std::size_t roomier = largestBooks + 100;
    ASSERT_GT(unheld.bytes, roomier);
    const cinepak::RatePlan largest = rate.ChooseAt(10, roomier, frame);
    EXPECT_EQ(std::pair(largest.bookSize, largest.v4Size), std::pair(cinepak::kBookSizes[0], cinepak::kBookSizes[0]));
    double smallest = 0;
    while (Frame::At(cinepak::kBookSizes[0], cinepak::kBookSizes[0], smallest).bytes > roomier) ++smallest;
    EXPECT_EQ(largest.fit.lambda, smallest);
}

// A frame's codebooks trimmed at the λ it fits at spend less: a frame at a
// slope keeps its λ with the fewer bytes; a frame coded to a budget is
// fitted again at the smaller λ that now fits, trimmed at that λ (which
// keeps more) and fitted once more.
TEST(CinepakRate, TrimmedCodebooksAreFittedAgain) {
    using cinepak::RateTrial;
    // Trimming at λ saves 4 bytes per step of λ, at most half the
    // codebooks, for 24 of error per step; planning anew undoes it.
    struct Frame final : cinepak::FrameTrials {
        std::size_t v1 = 0, v4 = 0;
        double trimmedAt = -1;
        std::vector<double> trims;
        void Plan(std::size_t v1Size, std::size_t v4Size, bool, double) override { v1 = v1Size, v4 = v4Size, trimmedAt = -1; }
        bool Specialise(std::size_t, std::size_t, double) override { return false; }
        void Unspecialise() override {}
        bool Trim(double lambda) override {
            trims.push_back(lambda);
            trimmedAt = lambda;
            return lambda > 0;
        }
        std::size_t Strips() const override { return 2; }
        RateTrial Try(double lambda) override { return At(v1, v4, trimmedAt, lambda); }
        static RateTrial At(std::size_t v1, std::size_t v4, double trimmedAt, double lambda) {
            const double books = 6.0 * static_cast<double>(v1 + v4), saved = std::min(books / 2, 4 * std::max(trimmedAt, 0.0));
            const auto bytes = static_cast<std::size_t>(books - saved) + static_cast<std::size_t>(4000 / (1 + lambda / 16));
            return {lambda, bytes,
                    static_cast<std::int64_t>(64 * lambda + 24 * std::max(trimmedAt, 0.0) + 2e6 / static_cast<double>(v1) +
                                              1e6 / static_cast<double>(v4))};
        }
    };
    cinepak::RateControl rate;
    Frame frame;
    const cinepak::RatePlan atSlope = rate.ChooseAt(10, 1 << 20, frame);
    EXPECT_EQ(frame.trims, std::vector<double>{10});
    EXPECT_EQ(atSlope.fit.lambda, 10);
    EXPECT_EQ(atSlope.fit.bytes, Frame::At(atSlope.bookSize, atSlope.v4Size, 10, 10).bytes);

    frame.trims.clear();
    const std::size_t budget = 2800;
    const cinepak::RatePlan budgeted = rate.Choose(budget, frame);
    ASSERT_EQ(frame.trims.size(), 2u);
    const double first = frame.trims[0], second = frame.trims[1];
    EXPECT_LT(second, first);
    // The smallest whole λ that fits once trimmed at the second λ.
    double smallest = 0;
    while (Frame::At(budgeted.bookSize, budgeted.v4Size, second, smallest).bytes > budget) ++smallest;
    EXPECT_EQ(budgeted.fit.lambda, smallest);
    EXPECT_LE(budgeted.fit.bytes, budget);
    // The untrimmed frame fitted at the first λ, and trimming there freed
    // bytes enough to fit below it.
    EXPECT_LE(Frame::At(budgeted.bookSize, budgeted.v4Size, -1, first).bytes, budget);
    EXPECT_GT(Frame::At(budgeted.bookSize, budgeted.v4Size, -1, first - 1).bytes, budget);
    EXPECT_LE(Frame::At(budgeted.bookSize, budgeted.v4Size, first, second).bytes, budget);
}
