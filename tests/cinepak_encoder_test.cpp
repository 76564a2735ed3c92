#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "moviedb/chunk.h"
#include "platform/bytes.h"
#include "platform/media.h"
#include "tests/movie_builder.h"
#include "video/cinepakencoder.h"
#include "video/cinepakrate.h"
#include "video/cinepakvectors.h"
#include "video/cinepakrepack.h"
#include "video/frameinput.h"

namespace {

// Moving colour content: a drifting colour gradient and a moving disc.
std::vector<std::uint8_t> ColourFrame(int width, int height, int n) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4, 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = static_cast<std::uint8_t>((x * 2 + n * 4) % 256);       // blue
            p[1] = static_cast<std::uint8_t>((y * 3 + n) % 256);           // green
            p[2] = static_cast<std::uint8_t>(128 + 100 * std::sin((x + y + n * 3) / 20.0)); // red
            const double dx = x - (width / 4.0 + n * 2), dy = y - height / 2.0;
            if (dx * dx + dy * dy < (height / 5.0) * (height / 5.0)) p[0] = 20, p[1] = 200, p[2] = 240;
        }
    return pixels;
}

double Psnr(const std::vector<std::uint8_t>& source, const FrameBuffer& decoded, int width, int height) {
    double squared = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = source[(static_cast<std::size_t>(y) * width + x) * 4 + c] - decoded.Pixel(x, y)[c];
                squared += d * d;
            }
    return 10 * std::log10(255.0 * 255.0 / (squared / (3.0 * width * height)));
}

// A Cinepak decoder of one picture size that keeps its state frame to frame.
struct CvidDecoder {
    ImageDecompressor decoder;
    FrameBuffer picture;
    CvidDecoder(int width, int height) { EXPECT_EQ(decoder.Open(Fcc("cvid"), width, height), noErr); }
    const FrameBuffer& Decode(std::span<const std::uint8_t> frame) {
        EXPECT_EQ(decoder.Decode(frame, picture), noErr);
        return picture;
    }
};

} // namespace

TEST(CinepakEncoder, EveryFrameDecodesNearItsSource) {
    for (auto [width, height] : {std::pair{160, 120}, std::pair{320, 240}}) {
        CinepakEncoder encoder;
        ASSERT_EQ(encoder.Begin(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height),
                                static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)), noErr);
        CvidDecoder decoder(width, height);
        std::size_t bytes = 0;
        double worst = 100;
        for (int n = 0; n < 30; ++n) {
            const auto source = ColourFrame(width, height, n);
            CinepakFrameParams params;
            params.dataRate = (width > 160 ? 1500 : 640) * 1024 / 8;
            params.milliseconds = 66;
            ByteBlock frame;
            bool difference = true;
            ASSERT_EQ(encoder.Encode(source.data(), width * 4, params, frame, difference), noErr);
            EXPECT_EQ(difference, n != 0);
            // A key frame may overrun; the rate control pays it back later.
            if (difference) {
                EXPECT_LE(frame.Size(), encoder.LastBudget()) << n;
            }
            bytes += frame.Size();
            worst = std::min(worst, Psnr(source, decoder.Decode(frame.Span()), width, height));
        }
        EXPECT_GT(worst, 24.0) << width;
        EXPECT_GT(bytes, 0u);
    }
}

// The chunk identifiers of a Cinepak frame, strip by strip.
std::vector<int> ChunkIds(const ByteBlock& frame) {
    std::vector<int> ids;
    const std::uint8_t* f = frame.Data();
    std::size_t pos = 10;
    for (int strip = 0; strip < ReadBE16(f + 8) && pos + 12 <= frame.Size(); ++strip) {
        const std::size_t stripEnd = pos + ((f[pos + 1] << 16) | (f[pos + 2] << 8) | f[pos + 3]);
        for (std::size_t at = pos + 12; at + 4 <= stripEnd;) {
            ids.push_back(f[at]);
            at += (f[at + 1] << 16) | (f[at + 2] << 8) | f[at + 3];
        }
        pos = stripEnd;
    }
    return ids;
}

TEST(CinepakEncoder, DifferenceFramesUpdateCodebooksInPart) {
    // A still background with one small moving square: later frames find
    // most of the entries they need already in the decoder.
    const int width = 160, height = 120;
    CinepakEncoder encoder;
    ASSERT_EQ(encoder.Begin(width, height, width, height), noErr);
    CvidDecoder decoder(width, height);
    const auto background = ColourFrame(width, height, 0);
    int partial = 0;
    for (int n = 0; n < 20; ++n) {
        auto source = background;
        for (int y = 40; y < 60; ++y)
            for (int x = 10 + 4 * n; x < 30 + 4 * n; ++x) {
                std::uint8_t* p = &source[(static_cast<std::size_t>(y) * width + x) * 4];
                p[0] = static_cast<std::uint8_t>(x * 5), p[1] = 30, p[2] = static_cast<std::uint8_t>(y * 4);
            }
        CinepakFrameParams params;
        params.dataRate = 320 * 1024 / 8;
        ByteBlock frame;
        bool difference = false;
        ASSERT_EQ(encoder.Encode(source.data(), width * 4, params, frame, difference), noErr);
        for (int id : ChunkIds(frame)) partial += id == 0x21 || id == 0x23;
        EXPECT_GT(Psnr(source, decoder.Decode(frame.Span()), width, height), 24.0) << n;
    }
    EXPECT_GT(partial, 0);
}

TEST(CinepakEncoder, ForcedKeyFrameDecodesAlone) {
    const int width = 160, height = 120;
    CinepakEncoder encoder;
    ASSERT_EQ(encoder.Begin(width, height, width, height), noErr);
    ByteBlock frame;
    bool difference = false;
    for (int n = 0; n < 12; ++n) {
        CinepakFrameParams params;
        params.forceKeyFrame = n == 10;
        ASSERT_EQ(encoder.Encode(ColourFrame(width, height, n).data(), width * 4, params, frame, difference), noErr);
        EXPECT_EQ(difference, n != 0 && n != 10) << n;
        if (n == 10) {
            CvidDecoder fresh(width, height);
            EXPECT_GT(Psnr(ColourFrame(width, height, n), fresh.Decode(frame.Span()), width, height), 22.0);
        }
    }
}

// A movie driven the way the writer's video input drives the encoder: 15
// frames a second under `kbps`, the overrun taken from the rate history.
struct RatedMovie {
    static constexpr std::uint32_t kMilliseconds = 66;
    CinepakEncoder encoder;
    RateHistory history;
    std::uint32_t rate;
    std::vector<std::size_t> sizes;
    RatedMovie(int width, int height, std::uint32_t kbps) : rate(kbps * 1024 / 8) {
        EXPECT_EQ(encoder.Begin(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height),
                                static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)), noErr);
        history.Prime(rate);
    }
    bool Encode(const std::vector<std::uint8_t>& pixels, int width, ByteBlock& frame) {
        CinepakFrameParams params;
        params.dataRate = rate;
        params.milliseconds = kMilliseconds;
        params.overrun = history.SpentInLastSecond() - rate;
        bool difference = true;
        EXPECT_EQ(encoder.Encode(pixels.data(), width * 4, params, frame, difference), noErr);
        history.Add(kMilliseconds, frame.Size(), !difference);
        sizes.push_back(frame.Size());
        return difference;
    }
    // The most any 15 frames after the first second spent, in times the rate.
    double PeakSecond() const {
        double peak = 0;
        for (std::size_t start = 15; start + 15 <= sizes.size(); ++start) {
            std::size_t window = 0;
            for (std::size_t n = start; n < start + 15; ++n) window += sizes[n];
            peak = std::max(peak, window / static_cast<double>(rate));
        }
        return peak;
    }
};

// The moving colour content in negative: another scene, cut to.
std::vector<std::uint8_t> NegativeFrame(int width, int height, int n) {
    auto pixels = ColourFrame(width, height, n);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        if (i % 4 != 3) pixels[i] = static_cast<std::uint8_t>(255 - pixels[i]);
    return pixels;
}

TEST(CinepakEncoder, ACutStartsAKeyFrameThatPaysForItselfWithinTheRate) {
    // Two scenes of two seconds in motion, cut between at frame 30.
    const int width = 160, height = 120, cut = 30;
    RatedMovie movie(width, height, 320);
    CvidDecoder decoder(width, height);
    double cutPsnr = 0, sceneSquared = 0;
    for (int n = 0; n < 2 * cut; ++n) {
        const auto source = n < cut ? ColourFrame(width, height, n) : NegativeFrame(width, height, n);
        ByteBlock frame;
        const bool difference = movie.Encode(source, width, frame);
        // Motion within a scene is no cut; the cut is, and its key frame
        // decodes alone: nothing from the last scene survives it.
        EXPECT_EQ(difference, n != 0 && n != cut) << n;
        const double psnr = Psnr(source, decoder.Decode(frame.Span()), width, height);
        if (n == cut) {
            CvidDecoder fresh(width, height);
            cutPsnr = Psnr(source, fresh.Decode(frame.Span()), width, height);
            EXPECT_NEAR(cutPsnr, psnr, 1e-9);
        }
        if (n >= cut) sceneSquared += std::pow(10.0, -psnr / 10);
    }
    // The cut is about as good as the scene it starts, and what it borrowed
    // keeps every second after the first within 1.3 times the rate.
    const double scenePsnr = -10 * std::log10(sceneSquared / cut);
    EXPECT_GT(cutPsnr, scenePsnr - 1.5);
    EXPECT_LE(movie.PeakSecond(), 1.3);
}

TEST(CinepakEncoder, ACutIntoABusySceneLeavesTheFramesOfItsSecondTheirPart) {
    // Three seconds of a still picture, which the slope codes for little,
    // then a cut into three of moving content under new grain every frame.
    // At the still scene's slope the cut's key frame would take much of
    // the peak, and the frames of its second would pay for it.
    const int width = 160, height = 120, cut = 45;
    RatedMovie movie(width, height, 200);
    CvidDecoder decoder(width, height);
    std::mt19937 rng(5);
    std::vector<double> psnr;
    for (int n = 0; n < 2 * cut; ++n) {
        auto source = n < cut ? ColourFrame(width, height, 0) : NegativeFrame(width, height, n);
        if (n >= cut)
            for (std::size_t i = 0; i < source.size(); ++i)
                if (i % 4 != 3) source[i] = static_cast<std::uint8_t>(std::clamp<int>(source[i] + static_cast<int>(rng() % 41) - 20, 0, 255));
        ByteBlock frame;
        EXPECT_EQ(movie.Encode(source, width, frame), n != 0 && n != cut) << n;
        psnr.push_back(Psnr(source, decoder.Decode(frame.Span()), width, height));
    }
    // No frame of the busy scene, its key frame's second included, falls
    // 2 dB below the scene (taking what the peak left, the key frame was
    // 1 dB better than the rest and two frames of its second about 5 dB
    // worse).
    double squared = 0;
    for (int n = cut; n < 2 * cut; ++n) squared += std::pow(10.0, -psnr[static_cast<std::size_t>(n)] / 10);
    const double scene = -10 * std::log10(squared / cut);
    for (int n = cut; n < 2 * cut; ++n) EXPECT_GT(psnr[static_cast<std::size_t>(n)], scene - 2) << n;
    EXPECT_LE(movie.PeakSecond(), 1.3);
}

TEST(CinepakEncoder, ABusySceneSpendsWhatAStillOneSaves) {
    // Three seconds of a picture under new grain every frame, three of one
    // that moves every third frame, and the grain again; each cut is a key
    // frame.
    const int width = 160, height = 120, scene = 45;
    RatedMovie movie(width, height, 200);
    std::mt19937 rng(3);
    for (int n = 0; n < 3 * scene; ++n) {
        const bool busy = n / scene != 1;
        auto source = busy ? NegativeFrame(width, height, n) : ColourFrame(width, height, n / 3);
        if (busy)
            for (std::size_t i = 0; i < source.size(); ++i)
                if (i % 4 != 3) source[i] = static_cast<std::uint8_t>(std::clamp<int>(source[i] + static_cast<int>(rng() % 41) - 20, 0, 255));
        ByteBlock frame;
        (void)movie.Encode(source, width, frame);
    }
    // Coded at one slope, the still scene spends less than its shares and
    // the busy one after it more, and no second after the first breaks the
    // peak.
    const double share = movie.rate * RatedMovie::kMilliseconds / 1000.0;
    auto mean = [&](int from, int to) {
        double sum = 0;
        for (int n = from; n < to; ++n) sum += static_cast<double>(movie.sizes[static_cast<std::size_t>(n)]);
        return sum / (to - from) / share;
    };
    EXPECT_LT(mean(scene + 1, 2 * scene), 0.9);
    EXPECT_GT(mean(2 * scene + 1, 3 * scene), 1.05);
    EXPECT_LE(movie.PeakSecond(), 1.3);
}

TEST(CinepakEncoder, TheFirstKeyFrameGrowsWithTheRate) {
    // A first frame whose key frame no low rate pays for in one frame's
    // share: more rate, more bytes and a better picture.
    const int width = 320, height = 240;
    const auto source = ColourFrame(width, height, 0);
    double lastPsnr = 0;
    std::size_t lastBytes = 0;
    for (std::uint32_t kbps : {200u, 400u, 800u}) {
        RatedMovie movie(width, height, kbps);
        ByteBlock frame;
        EXPECT_FALSE(movie.Encode(source, width, frame));
        CvidDecoder decoder(width, height);
        const double psnr = Psnr(source, decoder.Decode(frame.Span()), width, height);
        EXPECT_GT(frame.Size(), lastBytes) << kbps;
        EXPECT_GT(psnr, lastPsnr + 0.3) << kbps;
        lastPsnr = psnr, lastBytes = frame.Size();
    }
}

TEST(CinepakEncoder, AGivenSlopeDecidesWhateverTheRate) {
    // The benchmark's measure of the coding alone: at a given λ the frames
    // are what that λ makes of them, however small the data rate, and a
    // smaller λ spends more for a better picture.
    const int width = 160, height = 120;
    double lastPsnr = 0;
    std::size_t lastBytes = 0;
    for (double slope : {4000.0, 200.0, 10.0}) {
        CinepakEncoder encoder;
        ASSERT_EQ(encoder.Begin(width, height, width, height), noErr);
        CinepakFrameParams params;
        params.dataRate = 1000; // a key frame's least, 256 bytes a frame, were the rate to decide
        params.milliseconds = 66;
        params.slope = slope;
        CvidDecoder decoder(width, height);
        std::size_t bytes = 0;
        double psnr = 0;
        for (int n = 0; n < 3; ++n) {
            const auto source = ColourFrame(width, height, n);
            ByteBlock frame;
            bool difference = false;
            ASSERT_EQ(encoder.Encode(source.data(), width * 4, params, frame, difference), noErr);
            bytes += frame.Size();
            psnr = Psnr(source, decoder.Decode(frame.Span()), width, height);
        }
        EXPECT_GT(bytes, lastBytes) << slope;
        EXPECT_GT(psnr, lastPsnr) << slope;
        lastBytes = bytes, lastPsnr = psnr;
    }
    EXPECT_GT(lastBytes, 3 * 2000u);
}

TEST(CinepakEncoder, ExactSizeNotAMultipleOfFourIsPaddedWhite) {
    CinepakEncoder encoder;
    ASSERT_EQ(encoder.Begin(160, 120, 158, 118), noErr);
    std::vector<std::uint8_t> black(158 * 118 * 4, 0);
    ByteBlock frame;
    bool difference = false;
    ASSERT_EQ(encoder.Encode(black.data(), 158 * 4, CinepakFrameParams{}, frame, difference), noErr);
    CvidDecoder decoder(160, 120);
    const FrameBuffer& picture = decoder.Decode(frame.Span());
    EXPECT_LT(picture.Pixel(10, 10)[1], 40);
    EXPECT_GT(picture.Pixel(159, 60)[1], 200);
    EXPECT_GT(picture.Pixel(60, 119)[1], 200);
}

TEST(CinepakEncoder, LayoutImageBlock) {
    const auto picture = ColourFrame(100, 60, 0);
    ByteBlock block;
    ASSERT_EQ(MakeCinepakImageBlock(picture.data(), 100 * 4, 100, 60, block), noErr);
    const std::uint8_t* b = block.Data();
    EXPECT_EQ(ReadBE32(b), block.Size());
    EXPECT_EQ(ReadBE16(b + 4), 100);
    EXPECT_EQ(ReadBE16(b + 6), 60);
    EXPECT_EQ(ReadBE16(b + 8), 200);
    EXPECT_EQ(ReadBE16(b + 10), 0x0400);
    EXPECT_EQ(b[12], 16);
    EXPECT_EQ(b[13], 2);
    EXPECT_EQ(b[14], 0x0B);
    EXPECT_EQ(b[15], 0x01);
    EXPECT_EQ(std::vector<int>(b + 20, b + 23), (std::vector<int>{5, 6, 5}));
    EXPECT_EQ(std::vector<int>(b + 23, b + 28), std::vector<int>(5, 0));
    // The picture after the header is a Cinepak key frame of the best quality.
    CvidDecoder decoder(100, 60);
    EXPECT_GT(Psnr(picture, decoder.Decode(block.Span().subspan(28)), 100, 60), 28.0);
}

TEST(CinepakMovie, ColourMovieWithPaletteAndRepackedFrames) {
    auto w = NewWriter();
    ConfigureVideo(w.get(), 160, 120, 7, 600);
    ASSERT_EQ(SetWriterParameter(w.get(), kWriterVideoDataRate, 320), noErr);
    ASSERT_EQ(AttachVideoInput(w.get()), noErr);
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    for (int n = 0; n < 45; ++n) {
        const auto source = ColourFrame(160, 120, n);
        ASSERT_EQ(WriteVideoFrame(w.get(), source.data(), 160 * 4, 40, nullptr), noErr); // 15 frames a second
    }
    const auto bytes = Finish(w.get());
    Inspection in = InspectDatabase(bytes);
    ASSERT_TRUE(in.Valid()) << in.problem;
    EXPECT_TRUE(in.colourTables);
    EXPECT_EQ(in.depth, 16);
    // The palette: fixed white first, cut colours from entry 16 on.
    const InspectedChunk* palette = FindChunk(in, ChunkTag("py"));
    ASSERT_NE(palette, nullptr);
    const std::size_t py = palette->offset + 4;
    EXPECT_EQ(bytes[py], 235);
    EXPECT_NE(bytes[py + 48] + bytes[py + 49] + bytes[py + 50], 0);
    // Every frame unpacks and decodes; three seconds at 320 kbit/s.
    CvidDecoder decoder(160, 120);
    int n = 0;
    std::size_t payloadBytes = 0;
    for (const auto& record : in.records)
        for (const auto& c : record.chunks) {
            if (c.tag != ChunkTag("fr")) continue;
            EXPECT_EQ(bytes[c.offset + 4], 11); // Cinepak
            const std::size_t size = c.length - 8 - ((bytes[c.offset + 5] & 1) ? 1 : 0);
            ByteBlock frame;
            ASSERT_EQ(UnpackCinepakFrame({bytes.data() + c.offset + 8, size}, frame), noErr);
            EXPECT_GT(Psnr(ColourFrame(160, 120, n), decoder.Decode(frame.Span()), 160, 120), 22.0) << n;
            payloadBytes += size;
            ++n;
        }
    EXPECT_EQ(n, 45);
    EXPECT_LT(payloadBytes, 3 * 320 * 1024 / 8 * 1.1);
}

TEST(CinepakKernels, EveryDistanceKernelAgreesWithThePlainOneBitForBit) {
    using cinepak::Vec;
    ASSERT_GE(std::size(cinepak::kDistanceKernels), 1u);
    // Vectors as the encoder makes them: luma 0 to 255, colour −128 to 127,
    // the spare lanes zero.
    std::mt19937 rng(11);
    auto random = [&] {
        Vec v;
        for (std::size_t i = 0; i < 4; ++i) v.c[i] = static_cast<std::int16_t>(rng() % 256);
        for (std::size_t i = 4; i < 6; ++i) v.c[i] = static_cast<std::int16_t>(static_cast<int>(rng() % 256) - 128);
        return v;
    };
    std::vector<Vec> vectors;
    for (int i = 0; i < 2000; ++i) vectors.push_back(random());
    // The extremes: every lane at its least and its most, mixed.
    for (int pattern = 0; pattern < 64; ++pattern) {
        Vec v;
        for (std::size_t i = 0; i < 6; ++i) {
            const bool high = (pattern >> i) & 1;
            v.c[i] = static_cast<std::int16_t>(i < 4 ? (high ? 255 : 0) : (high ? 127 : -128));
        }
        vectors.push_back(v);
    }
    for (const auto& kernel : cinepak::kDistanceKernels) {
        SCOPED_TRACE(kernel.name);
        for (std::size_t i = 0; i < vectors.size(); ++i)
            for (std::size_t j = i % 7; j < vectors.size(); j += 7)
                ASSERT_EQ(kernel.distance(vectors[i], vectors[j]), cinepak::DistancePlain(vectors[i], vectors[j]))
                    << i << " " << j;
        // The largest distance there is: every lane as far apart as it goes.
        Vec low, high;
        for (std::size_t i = 0; i < 6; ++i) {
            low.c[i] = static_cast<std::int16_t>(i < 4 ? 0 : -128);
            high.c[i] = static_cast<std::int16_t>(i < 4 ? 255 : 127);
        }
        EXPECT_EQ(kernel.distance(low, high), 4 * 255 * 255 + 2 * 255 * 255);
    }
}

TEST(CinepakRate, EachFrameGetsTheLeastDistortedSizeAtTheSmallestLambdaThatFits) {
    using cinepak::RateTrial;
    // A frame whose codebooks cost 6 bytes an entry and whose indexes shrink
    // as λ grows; refining the codebooks is worth `gain` more λ. λ costs
    // distortion, a small codebook more, so which size wins moves with the
    // budget.
    struct Frame final : cinepak::FrameTrials {
        std::size_t size = 0, trials = 0, strips = 1;
        bool refined = false;
        double gain = 0;
        void Plan(std::size_t v1Size, std::size_t, bool refine, double) override { size = v1Size, refined = refine; }
        bool Specialise(std::size_t, std::size_t, double) override { return false; }
        void Unspecialise() override {}
        bool Trim(double) override { return false; }
        std::size_t Strips() const override { return strips; }
        RateTrial Try(double lambda) override {
            ++trials;
            return At(size, refined ? gain : 0, lambda);
        }
        static RateTrial At(std::size_t size, double gain, double lambda) {
            const double indexes = 60000 / (1 + (lambda + gain) / 16);
            return {lambda, 10 + 6 * size + static_cast<std::size_t>(indexes),
                    static_cast<std::int64_t>(64 * lambda) + static_cast<std::int64_t>(2000000 / size)};
        }
    };
    // Every whole λ from 0 to 2¹⁶ in turn: the first that fits, else the last.
    auto smallestFit = [](std::size_t size, double gain, std::size_t budget) {
        RateTrial trial;
        for (double lambda = 0; lambda <= 65536; ++lambda)
            if ((trial = Frame::At(size, gain, lambda)).bytes <= budget) break;
        return trial;
    };
    cinepak::RateControl rate;
    Frame frame;
    std::size_t lastTrials = 0;
    // Budgets up and down, one where only the smallest codebook fits, one
    // where nothing does, and a steady run; refinement gains that take the
    // search from the unrefined λ a few steps and many.
    for (auto [budget, gain] : {std::pair<std::size_t, double>{3000, 40}, {2000, 3}, {9000, 40}, {70000, 3}, {100, 3},
                                {125, 40}, {1600, 3}, {1600, 3}, {1602, 40}}) {
        SCOPED_TRACE(budget);
        std::size_t bookSize = 0;
        RateTrial best;
        for (std::size_t size : cinepak::kBookSizes) {
            const RateTrial fit = smallestFit(size, 0, budget);
            const bool fits = fit.bytes <= budget, bestFits = bookSize != 0 && best.bytes <= budget;
            if (bookSize == 0 || (fits && (!bestFits || fit.distortion < best.distortion)) ||
                (!fits && !bestFits && fit.bytes < best.bytes))
                best = fit, bookSize = size;
        }
        const RateTrial expected = smallestFit(bookSize, gain, budget);
        frame.trials = 0;
        frame.gain = gain;
        const cinepak::RatePlan plan = rate.Choose(budget, frame);
        EXPECT_EQ(plan.bookSize, bookSize);
        EXPECT_EQ(plan.fit.lambda, expected.lambda);
        EXPECT_EQ(plan.fit.bytes, expected.bytes);
        EXPECT_TRUE(frame.size == bookSize && frame.refined); // the coder is left planned for the choice
        if (budget == 1600 && lastTrials != 0) {
            EXPECT_LT(frame.trials, lastTrials); // started where the last search ended
        }
        lastTrials = budget == 1600 ? frame.trials : 0;
    }
}
