// The Bjøntegaard deltas the footage benchmark reports, on curves whose
// answer is known in closed form.
#include "bench/bjontegaard.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using bjontegaard::DeltaPsnr;
using bjontegaard::DeltaRate;
using bjontegaard::Fit;
using bjontegaard::Point;

// A bent curve, as encoders give: each doubling of the rate buys less.
const std::vector<Point> kReference = {{100, 30}, {200, 33}, {400, 35.5}, {800, 37.5}, {1600, 39}, {3200, 40}};

std::vector<Point> Scaled(std::vector<Point> points, double rateFactor, double psnrOffset) {
    for (Point& p : points) p.rate *= rateFactor, p.psnr += psnrOffset;
    return points;
}

TEST(Bjontegaard, SameQualityForFourFifthsOfTheRateIsMinusTwentyPerCent) {
    for (Fit fit : {Fit::Cubic, Fit::PiecewiseCubic}) {
        EXPECT_NEAR(*DeltaRate(kReference, Scaled(kReference, 0.8, 0), fit), -20.0, 1e-9);
        EXPECT_NEAR(*DeltaRate(Scaled(kReference, 0.8, 0), kReference, fit), 25.0, 1e-9);
    }
}

TEST(Bjontegaard, HalfADecibelMoreAtEveryRateIsPlusHalfADecibel) {
    for (Fit fit : {Fit::Cubic, Fit::PiecewiseCubic})
        EXPECT_NEAR(*DeltaPsnr(kReference, Scaled(kReference, 1, 0.5), fit), 0.5, 1e-9);
}

TEST(Bjontegaard, AveragesOnlyOverTheQualityBothCurvesReach) {
    // log10 rate = 0.1 × PSNR for the reference over 30–40 dB; the test curve
    // spans 35–45 dB and spends 0.01 × (PSNR − 35) more in log10 rate.
    // Over the shared 35–40 dB the mean excess is 0.025: 10^0.025 − 1.
    std::vector<Point> reference, test;
    for (double p = 30; p <= 40; p += 2.5) reference.push_back({std::pow(10.0, 0.1 * p), p});
    for (double p = 35; p <= 45; p += 2.5) test.push_back({std::pow(10.0, 0.1 * p + 0.01 * (p - 35)), p});
    for (Fit fit : {Fit::Cubic, Fit::PiecewiseCubic})
        EXPECT_NEAR(*DeltaRate(reference, test, fit), (std::pow(10.0, 0.025) - 1) * 100, 1e-9);
}

TEST(Bjontegaard, ACurveThatBendsAwayGivesItsExactMeanExcess) {
    // The test curve spends 0.004 × (PSNR − 30)² more in log10 rate over
    // 30–40 dB, at unevenly spaced points: a mean of 0.4 / 3. A cubic holds
    // the parabola exactly; the piecewise cubic follows it to within 0.003
    // percentage points here, where a slip in its slopes or in integrating
    // across its pieces costs 0.007 or more.
    std::vector<Point> reference, test;
    for (double p : {30.0, 31.0, 32.5, 34.5, 37.0, 40.0}) {
        reference.push_back({std::pow(10.0, 0.1 * p), p});
        test.push_back({std::pow(10.0, 0.1 * p + 0.004 * (p - 30) * (p - 30)), p});
    }
    const double exact = (std::pow(10.0, 0.4 / 3) - 1) * 100;
    EXPECT_NEAR(*DeltaRate(reference, test, Fit::Cubic), exact, 1e-9);
    EXPECT_NEAR(*DeltaRate(reference, test, Fit::PiecewiseCubic), exact, 0.004);
}

TEST(Bjontegaard, UnorderedPointsGiveTheSameAnswer) {
    std::vector<Point> shuffled = Scaled(kReference, 0.8, 0);
    std::swap(shuffled[0], shuffled[4]);
    std::swap(shuffled[1], shuffled[3]);
    for (Fit fit : {Fit::Cubic, Fit::PiecewiseCubic})
        EXPECT_NEAR(*DeltaRate(kReference, shuffled, fit), -20.0, 1e-9);
}

TEST(Bjontegaard, NothingWithoutOverlapOrWithTooFewPoints) {
    EXPECT_FALSE(DeltaRate(kReference, Scaled(kReference, 1, 20), Fit::PiecewiseCubic));
    const std::vector<Point> three(kReference.begin(), kReference.begin() + 3);
    EXPECT_FALSE(DeltaRate(kReference, three, Fit::Cubic));
    EXPECT_TRUE(DeltaRate(kReference, three, Fit::PiecewiseCubic));
}

} // namespace
