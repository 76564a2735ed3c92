#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/movie_builder.h"
#include "video/frameinput.h"
#include "video/graysblock.h"
#include "video/graysdecoder.h"
#include "video/graysencoder.h"

namespace {

// A 32-bit picture (bytes blue, green, red, alpha) filled by a function of
// (x, y) giving a gray value, 255 white.
struct Picture {
    int width, height;
    std::vector<std::uint8_t> pixels;
    Picture(int w, int h, std::uint8_t gray = 255) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 4, gray) {}
    void Set(int x, int y, std::uint8_t gray) {
        std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
        p[0] = p[1] = p[2] = gray;
        p[3] = 255;
    }
    std::int32_t RowBytes() const { return width * 4; }
};

std::vector<std::uint8_t> Encode(GraysEncoder& encoder, const Picture& picture, bool allowed, bool* difference = nullptr) {
    ByteBlock out;
    bool diff = false;
    EXPECT_EQ(encoder.Encode(picture.pixels.data(), picture.RowBytes(), 100, allowed, out, diff), noErr);
    if (difference) *difference = diff;
    return {out.Data(), out.Data() + out.Size()};
}

GraysEncoder Started(int width, int height) {
    GraysEncoder encoder;
    EXPECT_EQ(encoder.Begin(static_cast<std::uint16_t>((width + 3) / 4 * 4), static_cast<std::uint16_t>((height + 3) / 4 * 4),
                            static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)),
              noErr);
    return encoder;
}

// Moving synthetic content: a drifting gradient, a moving dark disc and a
// bright bar.
Picture MovingFrame(int width, int height, int n) {
    Picture p(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int g = (x * 2 + y + n * 3) % 256;
            const double dx = x - (20 + n * 1.5), dy = y - (height / 2.0 + 10 * std::sin(n / 7.0));
            if (dx * dx + dy * dy < 18 * 18) g = 20;
            if (std::abs(y - (n * 2) % height) < 3) g = 250;
            p.Set(x, y, static_cast<std::uint8_t>(g));
        }
    return p;
}

int CountUnchangedCodes(const std::vector<std::uint8_t>& payload, int width, int height) {
    // Walk the codes properly: a byte inside a two-level code may look like one.
    int runs = 0;
    std::size_t pos = 0;
    int blocks = 0;
    const int total = (width / 4) * (height / 4);
    while (blocks < total && pos < payload.size()) {
        const std::uint8_t c = payload[pos];
        if (c < 0x80) pos += 3, ++blocks;
        else if (c < 0xC0) pos += 1, blocks += ((c >> 4) & 3) + 1;
        else if (c < 0xE0) pos += 1, blocks += (c & 0x1F) + 1, ++runs;
        else if (c == 0xE0) pos += 4, ++blocks;
        else if (c == 0xE1) pos += 1, ++blocks;
        else pos += 9, ++blocks;
    }
    return runs;
}

} // namespace

TEST(Grays, DitherTableEndsAndMiddle) {
    std::uint8_t t[4];
    GrayDitherLevels(0, t);
    EXPECT_EQ(std::vector<int>(t, t + 4), (std::vector<int>{0, 0, 0, 0}));
    GrayDitherLevels(255, t);
    EXPECT_EQ(std::vector<int>(t, t + 4), (std::vector<int>{15, 15, 15, 15}));
    // 128: levels 8, 7, 8, 7, sorted 8 8 7 7, and the equal pair spread to the diagonal.
    GrayDitherLevels(128, t);
    EXPECT_EQ(std::vector<int>(t, t + 4), (std::vector<int>{8, 7, 7, 8}));
    // Every darkness gives levels that average to about darkness / 17.
    for (int g = 0; g < 256; ++g) {
        GrayDitherLevels(static_cast<std::uint8_t>(g), t);
        const double mean = (t[0] + t[1] + t[2] + t[3]) / 4.0;
        EXPECT_NEAR(mean * 17, g, 12) << g;
        EXPECT_GE(t[0], t[1]);
    }
}

TEST(Grays, FastBlockAnalysisMatchesThePlainRules) {
    auto same = [](const GraysBlockStats& a, const GraysBlockStats& b) {
        return a.mean == b.mean && a.flatError == b.flatError && a.twoError == b.twoError && a.lo == b.lo &&
               a.hi == b.hi && a.threshold == b.threshold && a.mask == b.mask && a.skipError == b.skipError;
    };
    std::uint32_t seed = 99;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    std::uint8_t p[16], r[16];
    for (int round = 0; round < 200000; ++round) {
        // Random levels, few distinct levels, and extremes.
        const int kind = round % 4;
        for (int i = 0; i < 16; ++i) {
            const std::uint32_t x = next() >> 8;
            p[i] = static_cast<std::uint8_t>(kind == 0 ? x % 16 : kind == 1 ? (x % 2) * 15 : kind == 2 ? 7 + x % 3 : (x % 16 < 2 ? 15 : 0));
            r[i] = static_cast<std::uint8_t>((next() >> 8) % 16);
        }
        const bool withPrevious = round % 3 != 0;
        ASSERT_TRUE(same(AnalyzeGraysBlockPlain(p, withPrevious ? r : nullptr, 32767),
                         AnalyzeGraysBlockFast(p, withPrevious ? r : nullptr, 32767)))
            << "round " << round;
    }
    // Worst cases: all equal at both ends of the range, one odd pixel.
    for (int level : {0, 15}) {
        std::fill(p, p + 16, static_cast<std::uint8_t>(level));
        EXPECT_TRUE(same(AnalyzeGraysBlockPlain(p, p, 1), AnalyzeGraysBlockFast(p, p, 1)));
        p[0] = static_cast<std::uint8_t>(15 - level);
        EXPECT_TRUE(same(AnalyzeGraysBlockPlain(p, nullptr, 1), AnalyzeGraysBlockFast(p, nullptr, 1)));
    }
}

TEST(Grays, WhiteFirstFrameIsFlatRunsAcrossRows) {
    GraysEncoder encoder = Started(160, 120);
    bool difference = true;
    const auto payload = Encode(encoder, Picture(160, 120), true, &difference);
    EXPECT_EQ(payload, std::vector<std::uint8_t>(300, 0xB0)); // 1200 blocks, four to a run
    EXPECT_FALSE(difference);
    // Three blocks: one run of three.
    GraysEncoder small = Started(12, 4);
    EXPECT_EQ(Encode(small, Picture(12, 4), true), std::vector<std::uint8_t>{0xA0});
}

TEST(Grays, SecondOfTwoIdenticalFramesIsAllUnchanged) {
    GraysEncoder encoder = Started(160, 120);
    const Picture picture = MovingFrame(160, 120, 3);
    (void)Encode(encoder, picture, true);
    bool difference = false;
    const auto second = Encode(encoder, picture, true, &difference);
    std::vector<std::uint8_t> expected(37, 0xDF); // 37 × 32 = 1184 blocks
    expected.push_back(0xCF);                     // and the last 16
    EXPECT_EQ(second, expected);
    EXPECT_TRUE(difference);
    // The same frame when differences are not allowed: no unchanged runs.
    const auto forced = Encode(encoder, picture, false, &difference);
    EXPECT_EQ(CountUnchangedCodes(forced, 160, 120), 0);
    EXPECT_FALSE(difference);
}

TEST(Grays, TwoLevelMasksAndTheCommonPattern) {
    // Each 4 × 4 block: the left half black, the right half white. Its
    // top-left pixel is dark, so the mask 0xCCCC is inverted to 0x3333.
    auto halves = [](int blocks, int patterned) {
        Picture p(4 * blocks, 4);
        for (int b = 0; b < patterned; ++b)
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 2; ++x) p.Set(4 * b + x, y, 0);
        return p;
    };
    GraysEncoder three = Started(16, 4);
    EXPECT_EQ(Encode(three, halves(4, 3), true),
              (std::vector<std::uint8_t>{0x33, 0x33, 0xF0, 0x33, 0x33, 0xF0, 0x33, 0x33, 0xF0, 0x80}));
    GraysEncoder four = Started(16, 4);
    EXPECT_EQ(Encode(four, halves(4, 4), true), (std::vector<std::uint8_t>{0xE0, 0x33, 0x33, 0xF0, 0xE1, 0xE1, 0xE1}));
    // A block whose top-left pixel is light keeps its mask as it is.
    Picture light(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 2; x < 4; ++x) light.Set(x, y, 0);
    GraysEncoder one = Started(4, 4);
    EXPECT_EQ(Encode(one, light, true), (std::vector<std::uint8_t>{0x33, 0x33, 0x0F}));
}

TEST(Grays, PaddingIsWhite) {
    // A black picture of 158 × 118 in a 160 × 120 frame: the last two columns
    // and rows are white.
    GraysEncoder encoder = Started(158, 118);
    Picture black(158, 118, 0);
    (void)Encode(encoder, black, true);
    const auto picture = encoder.Reconstructed();
    std::vector<std::uint8_t> gray(160 * 120);
    GraysToGrayBytes(picture, 160, 120, gray);
    EXPECT_EQ(gray[0], 0);
    EXPECT_EQ(gray[157], 0);
    EXPECT_EQ(gray[159], 255);
    EXPECT_EQ(gray[119 * 160 + 10], 255);
    EXPECT_EQ(gray[117 * 160 + 10], 0);
}

TEST(Grays, DecoderReproducesTheEncoderBitForBit) {
    for (auto [width, height] : {std::pair{160, 120}, std::pair{76, 52}}) {
        GraysEncoder encoder = Started(width, height);
        std::vector<std::uint8_t> decoded(grays::RowBytes(static_cast<std::uint32_t>(width)) * static_cast<std::size_t>(height), 0);
        double squaredError = 0;
        std::size_t pixels = 0, bytes = 0;
        for (int n = 0; n < 100; ++n) {
            const Picture frame = MovingFrame(width, height, n);
            const auto payload = Encode(encoder, frame, n % 12 != 0);
            bytes += payload.size();
            ASSERT_EQ(DecodeGraysFrame(payload, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), decoded), noErr) << n;
            const auto reconstructed = encoder.Reconstructed();
            ASSERT_TRUE(std::equal(decoded.begin(), decoded.end(), reconstructed.begin())) << "frame " << n;
            std::vector<std::uint8_t> gray(static_cast<std::size_t>(width) * height);
            GraysToGrayBytes(decoded, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), gray);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const double d = gray[static_cast<std::size_t>(y) * width + x] -
                                     frame.pixels[(static_cast<std::size_t>(y) * width + x) * 4];
                    squaredError += d * d;
                    ++pixels;
                }
        }
        // Quality and size: 16 dithered levels of moving content.
        const double psnr = 10 * std::log10(255.0 * 255.0 / (squaredError / pixels));
        EXPECT_GT(psnr, 20.0) << width;
        EXPECT_LT(bytes / 100.0, width * height / 2.0 * 0.6) << width; // well under the raw 4-bit size
        RecordProperty("psnr_" + std::to_string(width), std::to_string(psnr));
    }
}

TEST(Grays, DecoderRefusesBrokenPayloads) {
    std::vector<std::uint8_t> picture(grays::RowBytes(16) * 4, 0);
    EXPECT_EQ(DecodeGraysFrame(std::vector<std::uint8_t>{0xB0}, 16, 4, picture), noErr);
    EXPECT_EQ(DecodeGraysFrame(std::vector<std::uint8_t>{0xB0, 0x80}, 16, 4, picture), paramErr); // bytes left over
    EXPECT_EQ(DecodeGraysFrame(std::vector<std::uint8_t>{0x80}, 16, 4, picture), paramErr);       // blocks missing
    EXPECT_EQ(DecodeGraysFrame(std::vector<std::uint8_t>{0xC4}, 16, 4, picture), paramErr);       // run past the end
    EXPECT_EQ(DecodeGraysFrame(std::vector<std::uint8_t>{0xE1, 0xA0}, 16, 4, picture), paramErr); // no pattern yet
    EXPECT_EQ(DecodeGraysFrame(std::vector<std::uint8_t>{0xF0, 1, 2}, 16, 4, picture), paramErr); // raw cut short
    EXPECT_EQ(DecodeGraysFrame(std::vector<std::uint8_t>{0xE5, 0xA0}, 16, 4, picture), paramErr); // no such code
}

TEST(GraysMovie, KeyFramesEveryTwelveAndOnRequest) {
    auto w = NewWriter();
    ConfigureVideo(w.get(), 80, 60, 4);
    ASSERT_EQ(AttachVideoInput(w.get()), noErr);
    Picture still = MovingFrame(80, 60, 0);
    std::uint8_t key = 9;
    EXPECT_EQ(WriteVideoFrame(w.get(), still.pixels.data(), still.RowBytes(), 10, &key), paramErr); // not begun
    EXPECT_EQ(RequestKeyFrame(w.get()), paramErr);
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    std::vector<int> keys;
    for (int n = 1; n <= 30; ++n) {
        if (n == 18) {
            ASSERT_EQ(RequestKeyFrame(w.get()), noErr);
        }
        ASSERT_EQ(WriteVideoFrame(w.get(), still.pixels.data(), still.RowBytes(), 10, &key), noErr);
        if (key) keys.push_back(n);
    }
    // Frames 1, 13 and 25 by the interval; 18 by request, after which the
    // count starts again (so 30 rather than 25).
    EXPECT_EQ(keys, (std::vector<int>{1, 13, 18, 30}));
    const auto bytes = Finish(w.get());
    Inspection in = InspectDatabase(bytes);
    ASSERT_TRUE(in.Valid()) << in.problem;
    EXPECT_EQ(in.streams[0].keyChunks, 4u);
    EXPECT_EQ(in.depth, 4);
    EXPECT_EQ(WriteVideoFrame(w.get(), still.pixels.data(), still.RowBytes(), 10, nullptr), paramErr); // finished

    // The inspector shows frame 20 as the picture the encoder reconstructed.
    std::vector<std::uint8_t> gray;
    std::uint32_t width = 0, height = 0;
    ASSERT_EQ(DecodeGraysFrameOf(bytes, {}, 20, gray, width, height), noErr);
    EXPECT_EQ(width, 80u);
    GraysEncoder reference = Started(80, 60);
    (void)Encode(reference, still, true);
    std::vector<std::uint8_t> expected(80 * 60);
    GraysToGrayBytes(reference.Reconstructed(), 80, 60, expected);
    EXPECT_EQ(gray, expected);
    EXPECT_EQ(DecodeGraysFrameOf(bytes, {}, 30, gray, width, height), paramErr);
}

TEST(GraysMovie, FormatsWithoutAnEncoderAreRefusedAtBegin) {
    for (std::int16_t format : {1, 2, 3, 5, 6, 8}) {
        auto w = NewWriter();
        ConfigureVideo(w.get(), 80, 60, format);
        ASSERT_EQ(AttachVideoInput(w.get()), noErr);
        EXPECT_EQ(BeginMovie(w.get()), paramErr) << format;
    }
}
