// The footage benchmark's estimate of libavcodec's encoder held to our
// data-rate rules: which ways of giving each scene a setting meet the rules,
// and the curve made of the best of them.
#include "bench/held_to_rules.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using held::Encode;
using held::HeldToTheRules;

// Two frames a second; scenes of four frames (two seconds).
constexpr int kRate = 2;

Encode Frames(std::vector<std::size_t> bytes, double error = 1) { return {bytes, std::vector<double>(bytes.size(), error)}; }

std::size_t Meeting(const Encode& first, const Encode& second) {
    return HeldToTheRules({{first}, {second}}, kRate).meeting;
}

TEST(HeldToTheRules, EverySecondButTheFirstIsHeldToTheMeanAcrossCutsToo) {
    // Even spending meets the rules.
    EXPECT_EQ(Meeting(Frames({3, 3, 3, 3}), Frames({3, 3, 3, 3})), 1u);
    // The first second may spend what it likes.
    EXPECT_EQ(Meeting(Frames({30, 30, 3, 3}), Frames({3, 3, 3, 3})), 1u);
    // A later second of 18 bytes against a mean of 9 a second is too much,
    // within a scene or across the cut.
    EXPECT_EQ(Meeting(Frames({3, 3, 9, 9}), Frames({3, 3, 3, 3})), 0u);
    EXPECT_EQ(Meeting(Frames({3, 3, 3, 9}), Frames({9, 3, 3, 3})), 0u);
    // The same frames, the second scene's dear frame at its end: every
    // second holds 12 bytes at most, within 1.3 / 0.95 of the mean of 9.
    EXPECT_EQ(Meeting(Frames({3, 3, 3, 9}), Frames({3, 3, 3, 9})), 1u);
}

TEST(HeldToTheRules, TheCurveIsTheBestQualityAtEachRate) {
    const Encode cheap = Frames({2, 2, 2, 2}, 4), dear = Frames({4, 4, 4, 4}, 1), wasteful = Frames({4, 4, 4, 4}, 4);
    const held::Curve curve = HeldToTheRules({{cheap, dear, wasteful}, {cheap, dear, wasteful}}, kRate);
    EXPECT_EQ(curve.ways, 9u);
    EXPECT_EQ(curve.meeting, 9u);
    // Both cheap, one of each (either way round: one point), both dear; the
    // wasteful setting never gives the best at its rate.
    ASSERT_EQ(curve.points.size(), 3u);
    const double errors[] = {4, 2.5, 1}, bytesPerSecond[] = {4, 6, 8};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(curve.points[i].rate, bytesPerSecond[i] * 8 / 1024);
        EXPECT_DOUBLE_EQ(curve.points[i].psnr, 10 * std::log10(255.0 * 255.0 / errors[i]));
    }
}

} // namespace
