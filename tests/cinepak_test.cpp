#include <gtest/gtest.h>

#include <set>

#include <random>
#include <vector>

#include "video/cinepakpalette.h"
#include "video/cinepakrate.h"
#include "video/cinepakrepack.h"

namespace {

std::vector<std::uint8_t> Bytes(const ByteBlock& b) { return {b.Data(), b.Data() + b.Size()}; }

std::vector<std::uint8_t> Repack(const std::vector<std::uint8_t>& frame, bool& packed) {
    ByteBlock out;
    EXPECT_EQ(RepackCinepakFrame(frame, out, packed), noErr);
    return Bytes(out);
}

const std::vector<std::uint8_t> kHeader = {0x00, 0x00, 0x12, 0x34};

} // namespace

TEST(CinepakRepack, CodesRunsAndLiteralsAsTheTableSays) {
    bool packed = false;
    auto zeros = kHeader;
    zeros.insert(zeros.end(), 100, 0x00);
    EXPECT_EQ(Repack(zeros, packed), (std::vector<std::uint8_t>{0x80, 0x00, 0x12, 0x34, 0x3F, 0x3F, 0x3F, 0x23}));
    EXPECT_TRUE(packed);

    auto ones = kHeader;
    ones.insert(ones.end(), 9, 0xFF);
    EXPECT_EQ(Repack(ones, packed), (std::vector<std::uint8_t>{0x80, 0x00, 0x12, 0x34, 0x0F, 0x08}));

    auto literal = kHeader;
    for (int i = 0; i < 200; ++i) literal.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    literal.insert(literal.end(), 300, 0x00); // so that packing pays
    const auto packedLiteral = Repack(literal, packed);
    ASSERT_TRUE(packed);
    EXPECT_EQ(packedLiteral[4], 0x10);
    EXPECT_EQ(packedLiteral[5], 0xC7);
    EXPECT_EQ(packedLiteral[6], 1);
    EXPECT_EQ(packedLiteral[6 + 199], static_cast<std::uint8_t>(199 * 7 + 1));

    auto repeats = kHeader;
    repeats.insert(repeats.end(), 70, 0x42);
    EXPECT_EQ(Repack(repeats, packed), (std::vector<std::uint8_t>{0x80, 0x00, 0x12, 0x34, 0x7F, 0x42, 0x45, 0x42}));
}

TEST(CinepakRepack, PackingStartsWhereItSavesTwoPercent) {
    // The same 1000 bytes without runs and more and more zeros after them:
    // the saving grows by about a tenth of a percent a zero, and the first
    // frame that is packed saves 2 % and hardly more; until then each
    // frame is passed on exactly as it came.
    for (std::size_t zeros = 0; zeros < 400; ++zeros) {
        auto frame = kHeader;
        for (int i = 0; i < 1000; ++i) frame.push_back(static_cast<std::uint8_t>(i % 251 + 1));
        frame.insert(frame.end(), zeros, 0x00);
        bool packed = true; // must be cleared while packing does not pay
        const auto out = Repack(frame, packed);
        if (!packed) {
            ASSERT_EQ(out, frame) << zeros;
            continue;
        }
        const double saving = 1.0 - static_cast<double>(out.size()) / static_cast<double>(frame.size());
        EXPECT_GE(saving, 0.02) << zeros;
        EXPECT_LT(saving, 0.023) << zeros;
        return;
    }
    ADD_FAILURE() << "no frame was packed";
}

TEST(CinepakRepack, UnpackRestoresRandomFrames) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> frame = kHeader;
        const int pieces = 1 + static_cast<int>(rng() % 40);
        for (int p = 0; p < pieces; ++p) {
            const int kind = static_cast<int>(rng() % 4);
            const std::size_t n = 1 + rng() % (kind == 0 ? 5000 : 150);
            const std::uint8_t value = kind == 1 ? 0 : kind == 2 ? 0xFF : static_cast<std::uint8_t>(rng());
            for (std::size_t i = 0; i < n; ++i) frame.push_back(kind == 0 ? static_cast<std::uint8_t>(rng()) : value);
        }
        bool packed = false;
        ByteBlock out, back;
        ASSERT_EQ(RepackCinepakFrame(frame, out, packed), noErr);
        ASSERT_EQ(UnpackCinepakFrame(out.Span(), back), noErr);
        ASSERT_EQ(Bytes(back), frame) << round;
        if (packed) {
            EXPECT_LT(out.Size(), frame.size() * 0.98 + 1);
        }
    }
    ByteBlock out;
    EXPECT_EQ(UnpackCinepakFrame(std::vector<std::uint8_t>{0x80, 0, 0, 0, 0x85, 1}, out), paramErr); // literal cut short
    EXPECT_EQ(UnpackCinepakFrame(std::vector<std::uint8_t>{0x80, 0, 0, 0, 0x03}, out), paramErr);    // no such code
}

TEST(CinepakPalette, FixedGraysAndASingleColour) {
    ColourHistogram histogram;
    ASSERT_EQ(histogram.Create(), noErr);
    // A 16 × 16 picture of gray 128.
    std::vector<std::uint8_t> pixels(16 * 16 * 4, 128);
    histogram.Count(pixels.data(), 64, 16, 16);
    std::vector<std::uint8_t> palette(768), map(8192);
    ASSERT_EQ(BuildMoviePalette(histogram.Counts(), palette, map), noErr);
    auto entry = [&](int i) { return std::vector<int>{palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]}; };
    EXPECT_EQ(entry(0), (std::vector<int>{235, 128, 128}));
    EXPECT_EQ(entry(1), (std::vector<int>{191, 128, 128}));
    EXPECT_EQ(entry(6), (std::vector<int>{45, 128, 128}));
    EXPECT_EQ(entry(255), (std::vector<int>{16, 128, 128}));
    // Gray 128 is Y 126, Cb = Cr = 128: one bin, whose centre is the colour.
    EXPECT_EQ(entry(16), (std::vector<int>{126, 132, 132}));
    EXPECT_EQ(entry(17), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(entry(7), (std::vector<int>{0, 0, 0}));
    // The cell of that gray maps to it; the cell of white to entry 0.
    EXPECT_EQ(map[(126 >> 3) * 256 + (128 >> 4) * 16 + (128 >> 4)], 16);
    EXPECT_EQ(map[(235 >> 3) * 256 + (128 >> 4) * 16 + (128 >> 4)], 0);
    // Every cell maps to the nearest entry, the lower index on ties.
    for (int cell = 0; cell < 8192; cell += 97) {
        const int y = (cell >> 8) * 8 + 4, cb = ((cell >> 4) & 15) * 16 + 8, cr = (cell & 15) * 16 + 8;
        int best = 0, bestDistance = 1 << 30;
        for (int e = 0; e < 256; ++e) {
            const int d = (y - palette[3 * e]) * (y - palette[3 * e]) + (cb - palette[3 * e + 1]) * (cb - palette[3 * e + 1]) +
                          (cr - palette[3 * e + 2]) * (cr - palette[3 * e + 2]);
            if (d < bestDistance) bestDistance = d, best = e;
        }
        EXPECT_EQ(map[static_cast<std::size_t>(cell)], best) << cell;
    }
}

TEST(CinepakPalette, APaletteScreenShowsOnlyPaletteColours) {
    // Pure colours come back from their Cinepak colour within rounding.
    for (const auto& bgr : {std::array<int, 3>{0, 0, 255}, {255, 0, 0}, {0, 200, 0}, {128, 128, 128}, {255, 255, 255}}) {
        const auto back = CinepakPixel(CinepakColour(static_cast<std::uint8_t>(bgr[0]), static_cast<std::uint8_t>(bgr[1]),
                                                     static_cast<std::uint8_t>(bgr[2])));
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(back[c], bgr[c], 2) << c;
    }
    // A picture of red and blue on a palette cut from it: each pixel shows
    // its own colour's entry, and nothing but palette colours appears.
    std::vector<std::uint8_t> pixels(8 * 4 * 4, 255);
    for (std::size_t i = 0; i < pixels.size(); i += 4) pixels[i] = i < 64 ? 0 : 255, pixels[i + 1] = 0, pixels[i + 2] = i < 64 ? 255 : 0;
    ColourHistogram histogram;
    ASSERT_EQ(histogram.Create(), noErr);
    histogram.Count(pixels.data(), 32, 8, 4);
    std::vector<std::uint8_t> palette(768), map(8192);
    ASSERT_EQ(BuildMoviePalette(histogram.Counts(), palette, map), noErr);
    const std::vector<std::uint8_t> before = pixels;
    ShowOnPaletteScreen(pixels.data(), 32, 8, 4, palette, map);
    std::set<std::array<std::uint8_t, 3>> shown;
    for (int e = 0; e < 256; ++e) shown.insert(CinepakPixel({palette[3 * e], palette[3 * e + 1], palette[3 * e + 2]}));
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        EXPECT_TRUE(shown.contains({pixels[i], pixels[i + 1], pixels[i + 2]})) << i;
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(pixels[i + k], before[i + k], 24) << i; // red stays red, blue blue
    }
}

TEST(CinepakPalette, MedianCutSeparatesColoursAndSaturates) {
    ColourHistogram histogram;
    ASSERT_EQ(histogram.Create(), noErr);
    const YCbCr red = CinepakColour(0, 0, 255), blue = CinepakColour(255, 0, 0);
    for (int i = 0; i < 10; ++i) histogram.CountColour(red);
    for (int i = 0; i < 30; ++i) histogram.CountColour(blue);
    std::vector<std::uint8_t> palette(768), map(8192);
    ASSERT_EQ(BuildMoviePalette(histogram.Counts(), palette, map), noErr);
    // Two boxes: the lower half of the longest axis keeps entry 16.
    std::vector<std::vector<int>> cut = {{palette[48], palette[49], palette[50]}, {palette[51], palette[52], palette[53]}};
    auto centre = [](const YCbCr& c) { return std::vector<int>{(c.y >> 2) * 4 + 2, (c.cb >> 3) * 8 + 4, (c.cr >> 3) * 8 + 4}; };
    EXPECT_TRUE((cut[0] == centre(red) && cut[1] == centre(blue)) || (cut[0] == centre(blue) && cut[1] == centre(red)));
    EXPECT_EQ(palette[54], 0); // no third box
    // Many colours give all 224 boxes.
    ColourHistogram many;
    ASSERT_EQ(many.Create(), noErr);
    for (int r = 0; r < 256; r += 8)
        for (int g = 0; g < 256; g += 8)
            for (int b = 0; b < 256; b += 8) many.CountColour(CinepakColour(static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r)));
    ASSERT_EQ(BuildMoviePalette(many.Counts(), palette, map), noErr);
    EXPECT_NE(palette[3 * 239] + palette[3 * 239 + 1] + palette[3 * 239 + 2], 0);
    // A count does not wrap.
    ColourHistogram full;
    ASSERT_EQ(full.Create(), noErr);
    const YCbCr c{100, 100, 100};
    const_cast<std::uint32_t&>(full.Counts()[ColourHistogram::Bin(c)]) = 0xFFFFFFFEu;
    full.CountColour(c);
    full.CountColour(c);
    EXPECT_EQ(full.Counts()[ColourHistogram::Bin(c)], 0xFFFFFFFFu);
}

TEST(CinepakPalette, CountingPicturesMatchesCountingColourByColour) {
    // The fast count (four pixels at a time) against the colour-by-colour
    // reference: every colour of a coarse cube, the extremes, random
    // pixels, and widths that leave pixels over, with rows that do not
    // start on the picture's first byte.
    std::mt19937 random(17);
    std::vector<std::uint8_t> pixels;
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 15)
            for (int b = 0; b < 256; b += 15) pixels.insert(pixels.end(), {static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(r), 0});
    for (int v : {0, 255})
        for (int i = 0; i < 8; ++i) pixels.insert(pixels.end(), {static_cast<std::uint8_t>(i & 1 ? v : 255 - v), static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(i & 2 ? v : 255 - v), 255});
    while (pixels.size() < 4u * 7 * 1500) pixels.push_back(static_cast<std::uint8_t>(random()));
    for (std::uint32_t width : {1u, 3u, 4u, 7u, 13u}) {
        const std::uint32_t height = static_cast<std::uint32_t>(pixels.size() / 4 / 7 * 7 / width / 2);
        const std::int32_t rowBytes = static_cast<std::int32_t>(width * 4 + 8);
        ColourHistogram fast, plain;
        ASSERT_EQ(fast.Create(), noErr);
        ASSERT_EQ(plain.Create(), noErr);
        fast.Count(pixels.data(), rowBytes, width, height);
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint8_t* p = pixels.data() + y * static_cast<std::uint32_t>(rowBytes) + 4 * x;
                plain.CountColour(CinepakColour(p[0], p[1], p[2]));
            }
        EXPECT_TRUE(std::equal(fast.Counts().begin(), fast.Counts().end(), plain.Counts().begin())) << width;
    }
}

TEST(CinepakRate, PrimedHistoryAndTheLastSecond) {
    RateHistory history;
    history.Prime(40000);
    EXPECT_EQ(history.SpentInLastSecond(), 40000); // the first frame's overrun is 0
    history.Add(66, 5000, true);
    // 66 ms of 5000, nine primed frames of 4000, then 34 ms of the tenth.
    EXPECT_EQ(history.SpentInLastSecond(), 5000 + 36000 + 1360);
    for (int i = 0; i < 200; ++i) history.Add(50, 1000, false);
    EXPECT_EQ(history.SpentInLastSecond(), 20000);
}
