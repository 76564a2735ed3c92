#include <gtest/gtest.h>

#include "platform/bytes.h"

TEST(ByteReader, NeverReadsPastTheEnd) {
    const std::uint8_t bytes[] = {0x00, 0x02, 0x03, 'a', 'b', 'c', 0xFF, 0xFE, 0x05};
    ByteReader r(bytes);
    std::uint16_t count;
    ASSERT_TRUE(r.U16(count));
    EXPECT_EQ(count, 2);
    std::string s;
    ASSERT_TRUE(r.PString(s));
    EXPECT_EQ(s, "abc");
    std::int16_t negative;
    ASSERT_TRUE(r.I16(negative));
    EXPECT_EQ(negative, -2);
    std::uint32_t big;
    EXPECT_FALSE(r.U32(big)); // one byte left
    EXPECT_EQ(r.Remaining(), 1u);
    // A length byte that promises more than there is fails and consumes nothing.
    EXPECT_FALSE(r.PString(s));
    EXPECT_EQ(r.Remaining(), 1u);
    std::uint8_t last;
    ASSERT_TRUE(r.U8(last));
    EXPECT_FALSE(r.U8(last));
    EXPECT_FALSE(r.Skip(1));
}

TEST(FourCharCodes, RoundTripThroughText) {
    EXPECT_EQ(Fcc("sean"), 0x7365616Eu);
    EXPECT_EQ(FourCharCodeFromText("pdb"), Fcc("pdb "));
    EXPECT_EQ(FourCharCodeFromText("SVQ3"), Fcc("SVQ3"));
    EXPECT_EQ(FourCharCodeToText(Fcc("cvid")), "cvid");
    EXPECT_EQ(FourCharCodeToText(0x00000001u), "\\x00\\x00\\x00\\x01");
}

TEST(FixedPoint, ConvertsAndRoundsToNearestHalvesAwayFromZero) {
    EXPECT_EQ(IntToFixed(6), 0x00060000);
    EXPECT_EQ(IntToFixed(-1), static_cast<Fixed>(0xFFFF0000u));
    EXPECT_EQ(DoubleToFixed(11025.5), 0x2B118000);
    EXPECT_EQ(FixedIntegerPart(DoubleToFixed(11025.5)), 11025);
    EXPECT_EQ(FixedTruncate(DoubleToFixed(11025.5)), IntToFixed(11025));
    EXPECT_EQ(FixedIntegerPart(DoubleToFixed(-1.5)), -2); // floor
    EXPECT_DOUBLE_EQ(FixedToDouble(0x00018000), 1.5);

    EXPECT_EQ(FixRound(0x00018000), 2);   // 1.5 -> 2
    EXPECT_EQ(FixRound(-0x00018000), -2); // -1.5 -> -2
    EXPECT_EQ(FixRound(0x00017FFF), 1);

    EXPECT_EQ(FixMul(IntToFixed(3), DoubleToFixed(0.5)), DoubleToFixed(1.5));
    EXPECT_EQ(FixMul(1, 0x8000), 1);     // 1/65536 * 0.5 rounds up to 1/65536
    EXPECT_EQ(FixMul(-1, 0x8000), -1);   // and away from zero when negative
    EXPECT_EQ(FixMul(1, 0x7FFF), 0);
    EXPECT_EQ(FixDiv(IntToFixed(1), IntToFixed(3)), 0x5555);
    EXPECT_EQ(FixDiv(IntToFixed(2), IntToFixed(3)), 0xAAAB);
    EXPECT_EQ(FixRatio(1000, 1001), 0xFFBF); // 65470.53 rounds up
    EXPECT_EQ(FixRatio(30000, 1001), DoubleToFixed(30000.0 / 1001.0));
}

TEST(FixedPoint, SampleRatesNeedTheUnsignedForm) {
    EXPECT_EQ(UIntToUnsignedFixed(44100), 0xAC440000u);
    EXPECT_EQ(UnsignedFixedIntegerPart(DoubleToUnsignedFixed(44100.5)), 44100u);
    EXPECT_EQ(UnsignedFixedTruncate(DoubleToUnsignedFixed(22050.75)), UIntToUnsignedFixed(22050));
    EXPECT_DOUBLE_EQ(UnsignedFixedToDouble(0xAC448000u), 44100.5);
    EXPECT_EQ(DoubleToUnsignedFixed(-3), 0u);
    EXPECT_EQ(DoubleToUnsignedFixed(70000), 0xFFFFFFFFu);
}

TEST(FixedPoint, SaturatesInsteadOfWrapping) {
    EXPECT_EQ(FixMul(IntToFixed(30000), IntToFixed(30000)), fixed1Max);
    EXPECT_EQ(FixMul(IntToFixed(-30000), IntToFixed(30000)), fixed1Min);
    EXPECT_EQ(FixMul(fixed1Min, fixed1Min), fixed1Max);
    EXPECT_EQ(FixDiv(IntToFixed(1), 0), fixed1Max);
    EXPECT_EQ(FixDiv(IntToFixed(-1), 0), fixed1Min);
    EXPECT_EQ(FixRatio(0, 0), fixed1Max);
    EXPECT_EQ(FixDiv(fixed1Max, 1), fixed1Max);
    EXPECT_EQ(DoubleToFixed(1e12), fixed1Max);
    EXPECT_EQ(DoubleToFixed(-1e12), fixed1Min);
}

TEST(TimeScales, ConvertRoundingTowardMinusInfinity) {
    EXPECT_EQ(ConvertTimeScale(1, 600, 100), 0);         // 1/600 s is inside hundredth 0
    EXPECT_EQ(ConvertTimeScale(599, 600, 100), 99);
    EXPECT_EQ(ConvertTimeScale(600, 600, 100), 100);
    EXPECT_EQ(ConvertTimeScale(-1, 600, 100), -1);
    EXPECT_EQ(ConvertTimeScale(1001, 30000, 100), 3);
    EXPECT_EQ(ConvertTimeScale(44100, 44100, 8000), 8000);
    EXPECT_EQ(ConvertTimeScale(5, 0, 100), 0);
    // No overflow for long movies in fine time scales.
    EXPECT_EQ(ConvertTimeScale(INT64_MAX / 2, 1000000, 1000), INT64_MAX / 2 / 1000);
}
