// The ATRAC3 encoder, played back by libavcodec's ATRAC3 decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/atrac3/at3internal.h"
#include "tests/atrac3_harness.h"

namespace {

struct Combination {
    int code, mode, frameBytes, bytes1, limit1, bytes2, limit2;
};
constexpr Combination kTable[] = {
    {12, 1, 34, 34, 2000, 0, 0},      {16, 1, 48, 48, 3100, 0, 0},       {24, 1, 68, 68, 6800, 0, 0},
    {24, 2, 68, 34, 2000, 34, 2000},  {33, 1, 96, 96, 8200, 0, 0},       {33, 2, 96, 48, 3100, 48, 3100},
    {33, 18, 96, 91, 5500, 5, 100},   {47, 1, 136, 136, 11000, 0, 0},    {47, 2, 136, 68, 5500, 68, 5500},
    {47, 18, 136, 131, 6800, 5, 100}, {66, 1, 192, 192, 16500, 0, 0},    {66, 2, 192, 96, 8200, 96, 8200},
    {66, 18, 192, 146, 12400, 46, 3100},
};

// Interleaved stereo: a sum of tones per channel plus a little noise.
std::vector<std::int16_t> TwoTones(int frames, int channels) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(frames) * channels);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 30);
    for (int i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        const double v = 6000 * std::sin(2 * M_PI * 440 * t) + 4000 * std::sin(2 * M_PI * 1250 * t);
        for (int ch = 0; ch < channels; ++ch)
            s[static_cast<std::size_t>(i) * channels + ch] = static_cast<std::int16_t>(std::lrint((ch ? 0.6 : 1.0) * v + noise(random)));
    }
    return s;
}

std::vector<double> Channel(const std::vector<std::int16_t>& s, int channels, int ch) {
    std::vector<double> out(s.size() / channels);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = s[i * channels + ch];
    return out;
}

std::vector<std::int16_t> Noise(int samples, double sigma, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> n(0, sigma);
    std::vector<std::int16_t> s(static_cast<std::size_t>(samples));
    for (auto& v : s) v = static_cast<std::int16_t>(std::clamp(std::lrint(n(random)), -32768L, 32767L));
    return s;
}

// Power at `hz` of a Hann-windowed stretch, by a direct transform.
double PowerAt(const std::vector<float>& x, std::size_t from, std::size_t length, double hz) {
    double re = 0, im = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * M_PI * i / length);
        const double a = 2 * M_PI * hz * i / 44100.0;
        re += w * x[from + i] * std::cos(a);
        im += w * x[from + i] * std::sin(a);
    }
    return re * re + im * im;
}

TEST(Atrac3, EveryCombinationGivesFramesOfItsSizeThatTheDecoderPlays) {
    const auto stereo = TwoTones(44100 / 2, 2);
    for (const Combination& c : kTable) {
        SCOPED_TRACE(testing::Message() << "code " << c.code << " mode " << c.mode);
        At3EncContext context;
        ASSERT_EQ(At3EncOpen(c.code, c.mode, context), kAt3Ok);
        EXPECT_EQ((std::vector<int>{context.frameBytes, context.clearBytes, context.channels, context.channelBytes[0],
                                    context.bandLimit[0], context.channelBytes[1], context.bandLimit[1], context.sampleRate}),
                  (std::vector<int>{c.frameBytes, c.frameBytes, c.mode == 1 ? 1 : 2, c.bytes1, c.limit1, c.bytes2, c.limit2, 44100}));

        // The frame fills exactly its area: a guard byte after it stays.
        std::vector<std::uint8_t> out(static_cast<std::size_t>(c.frameBytes) + 1, 0xEE);
        ASSERT_EQ(At3EncFrame(stereo.data(), out.data(), context, 2048, 2, 0), kAt3Ok);
        EXPECT_EQ(out.back(), 0xEE);
        At3EncClose(context);

        const auto encoded = at3test::Encode(stereo, 2, c.code, c.mode);
        ASSERT_EQ(encoded.status, kAt3Ok);
        for (int ch = 0; ch < encoded.channels; ++ch) {
            const auto decoded = at3test::DecodeChannel(encoded, ch);
            ASSERT_EQ(decoded.size(), encoded.frames.size() / static_cast<std::size_t>(c.frameBytes) * 1024) << "channel " << ch;
            // The tones come back wherever the band limit lets them through.
            if ((ch == 0 ? c.limit1 : c.limit2) >= 2000) {
                const auto reference = encoded.channels == 1 ? Channel(TwoTones(44100 / 2, 1), 1, 0)
                                                             : Channel(stereo, 2, ch);
                EXPECT_GT(at3test::Snr(reference, decoded, at3test::kLag, 4096, reference.size()), 12.0) << "channel " << ch;
            }
        }
        if (c.mode == 2) {
            // Equal halves: the decoder's own stereo framing reads them too.
            SoundDecompressor decoder;
            ASSERT_EQ(OpenAtracDecoder(decoder, 2, static_cast<std::uint32_t>(c.frameBytes)), noErr);
            std::vector<float> both;
            for (std::size_t at = 0; at < encoded.frames.size(); at += static_cast<std::size_t>(c.frameBytes))
                ASSERT_EQ(decoder.Decode(ScrambledAtracPacket({encoded.frames.data() + at, static_cast<std::size_t>(c.frameBytes)}), both), noErr);
            EXPECT_EQ(both.size(), 2 * encoded.frames.size() / static_cast<std::size_t>(c.frameBytes) * 1024);
        }
    }
}

TEST(Atrac3, RefusesWhatTheTableLacks) {
    At3EncContext context;
    const std::pair<int, int> refused[] = {{12, 2}, {12, 18}, {16, 2}, {16, 18}, {24, 18}, {33, 3}, {0, 1},
                                           {11, 1}, {13, 1},  {32, 1}, {48, 1},  {65, 1},  {67, 1}, {132, 1}};
    for (const auto& [code, mode] : refused) EXPECT_EQ(At3EncOpen(code, mode, context), kAt3Refused) << code << "/" << mode;
    EXPECT_FALSE(context.state);
}

TEST(Atrac3, TheNarrowDualChannelCarriesTheBass) {
    // Five bytes and 100 Hz: after the unit's fixed fields, the selectors of
    // two subbands (the coded one and the empty one after it, without which
    // decoders would not synthesise the band) and a scale factor, six bits
    // are left for eight mantissas: enough for a tone on line 3 (75 Hz).
    std::vector<std::int16_t> s(2 * 44100);
    for (int i = 0; i < 44100; ++i) {
        s[2 * static_cast<std::size_t>(i)] = static_cast<std::int16_t>(std::lrint(6000 * std::sin(2 * M_PI * 1000 * i / 44100.0)));
        s[2 * static_cast<std::size_t>(i) + 1] = static_cast<std::int16_t>(std::lrint(8000 * std::sin(2 * M_PI * 75 * i / 44100.0)));
    }
    for (int code : {33, 47}) {
        const auto encoded = at3test::Encode(s, 2, code, 18);
        ASSERT_EQ(encoded.channelBytes[1], 5);
        const auto bass = at3test::DecodeChannel(encoded, 1);
        const double snr = at3test::Snr(Channel(s, 2, 1), bass, at3test::kLag, 4096, 40000);
        EXPECT_GT(snr, 2.0) << code;
    }
}

TEST(Atrac3, PlainAndFastVariantsGiveIdenticalFrames) {
    // Random input and the worst case for rounding: full-scale square waves
    // and clipped noise, through every mode.
    std::vector<std::int16_t> input = Noise(2 * 44100 / 4, 6000, 3);
    for (int i = 0; i < 8192; ++i) input.push_back(((i / 37) & 1) ? 32767 : -32768);
    const auto loud = Noise(8192, 40000, 4);
    input.insert(input.end(), loud.begin(), loud.end());
    for (int code : {12, 33, 66})
        for (int mode : {1, 2, 18}) {
            const auto plain = at3test::Encode(input, 2, code, mode, At3Cpu::kPlain);
            if (plain.status == kAt3Refused) continue;
            const auto mmx = at3test::Encode(input, 2, code, mode, At3Cpu::kMmx);
            const auto kni = at3test::Encode(input, 2, code, mode, At3Cpu::kKni);
            ASSERT_EQ(plain.status, kAt3Ok);
            EXPECT_TRUE(plain.frames == kni.frames) << code << "/" << mode;
            EXPECT_TRUE(plain.frames == mmx.frames) << code << "/" << mode;
        }

    // And the kernels themselves, bit for bit.
    const At3Kernels fast = At3KernelsFor(At3Cpu::kKni);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> value(-40000.0f, 40000.0f);
    for (int round = 0; round < 50; ++round) {
        alignas(16) float in[1024], lowA[512], highA[512], lowB[512], highB[512];
        float historyA[kAt3QmfHistory], historyB[kAt3QmfHistory], work[1024 + kAt3QmfHistory];
        for (float& v : in) v = value(random);
        for (int i = 0; i < kAt3QmfHistory; ++i) historyA[i] = historyB[i] = value(random);
        At3QmfSplitPlain(in, 1024, lowA, highA, historyA, work);
        fast.qmfSplit(in, 1024, lowB, highB, historyB, work);
        ASSERT_EQ(std::memcmp(lowA, lowB, sizeof lowA), 0);
        ASSERT_EQ(std::memcmp(highA, highB, sizeof highA), 0);
        ASSERT_EQ(std::memcmp(historyA, historyB, sizeof historyA), 0);
        alignas(16) float dctA[256], dctB[256];
        At3Dct4Plain(in, dctA);
        fast.dct4(in, dctB);
        ASSERT_EQ(std::memcmp(dctA, dctB, sizeof dctA), 0);
    }
}

TEST(Atrac3, TheMdctIsTheTransformItsDefinitionGives) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
    float in[512], lines[256];
    for (float& v : in) v = value(random);
    At3Mdct(At3KernelsFor(At3Cpu::kPlain), in, lines);
    double worst = 0;
    for (int k = 0; k < 256; ++k) {
        double x = 0;
        for (int n = 0; n < 512; ++n) {
            const int m = n < 256 ? n : 511 - n;
            const double w = (std::sin(((m + 0.5) / 256 - 0.5) * M_PI) + 1) / 2;
            x += w * in[n] * std::cos(M_PI / 256 * (n + 0.5 + 128) * (k + 0.5));
        }
        worst = std::max(worst, std::fabs(-x * 2 / 256 - lines[k]));
    }
    EXPECT_LT(worst, 0.01);
}

TEST(Atrac3, NothingIsCodedAboveTheBandLimit) {
    const auto noise = Noise(44100, 5000, 9);
    for (const Combination& c : {kTable[0], kTable[4], kTable[10]}) {
        const auto decoded = at3test::DecodeChannel(at3test::Encode(noise, 1, c.code, c.mode), 0);
        double below = 0, above = 0;
        int nBelow = 0, nAbove = 0;
        for (double hz = 100; hz < 21000; hz += 97) {
            double p = 0;
            for (std::size_t from = 8192; from + 4096 <= 40000; from += 8192) p += PowerAt(decoded, from, 4096, hz);
            if (hz < c.limit1 - 300) below += p, ++nBelow;
            else if (hz > c.limit1 + 1500) above += p, ++nAbove;
        }
        // The floor: 45 dB under the coded band, from 1.5 kHz above the limit.
        // Closer in, a limit just under a QMF band edge (16500 Hz, the edge
        // at 16537 Hz) leaves the decoder's QMF mirroring what lies just
        // under the edge to just above it, as with any ATRAC3 stream that
        // leaves the upper band empty.
        EXPECT_LT(10 * std::log10((above / nAbove) / (below / nBelow)), -45.0) << c.code;
    }
}

TEST(Atrac3, QualityRisesWithTheBudget) {
    const auto tones = TwoTones(44100, 1);
    const auto reference = Channel(tones, 1, 0);
    double previous = -100;
    for (int code : {12, 16, 24, 33, 47, 66}) {
        const double snr = at3test::Snr(reference, at3test::DecodeChannel(at3test::Encode(tones, 1, code, 1), 0),
                                        at3test::kLag, 4096, reference.size());
        EXPECT_GT(snr, previous) << code;
        previous = snr;
    }
    // 192-byte mono frames carry the two tones at least 45 dB over the noise:
    // tonal components take the peaks, beyond the 31 steps of the finest
    // selector that would cap a tone near 34 dB.
    EXPECT_GE(previous, 45.0);
}

TEST(Atrac3, GainControlKeepsTheNoiseOutOfTheSilenceBeforeAnAttack) {
    // Silence, then a loud noise burst in the middle of a frame.
    std::vector<std::int16_t> s(44100, 0);
    const auto burst = Noise(6000, 8000, 12);
    std::copy(burst.begin(), burst.end(), s.begin() + 10000 + 600);
    auto preEcho = [&](bool gainControl) {
        At3EncContext context;
        EXPECT_EQ(At3EncOpen(66, 1, context), kAt3Ok);
        context.state->gainControl = gainControl;
        const auto d = at3test::DecodeChannel(at3test::EncodeOpened(context, s, 1, 0), 0);
        At3EncClose(context);
        double energy = 0;
        for (int i = 9000; i < 10500; ++i) energy += d[static_cast<std::size_t>(i + at3test::kLag)] * d[static_cast<std::size_t>(i + at3test::kLag)];
        return 10 * std::log10(energy / 1500 + 1e-9);
    };
    const double with = preEcho(true), without = preEcho(false);
    EXPECT_LT(with, without - 10.0) << "with " << with << " dB, without " << without << " dB";
}

TEST(Atrac3, SilenceStaysSilentAndShortInputEndsTwoFramesLater) {
    At3EncContext context;
    ASSERT_EQ(At3EncOpen(33, 2, context), kAt3Ok);
    const auto e = at3test::EncodeOpened(context, {}, 2, 4); // four frames of silence
    ASSERT_EQ(e.status, kAt3Ok);
    for (int ch = 0; ch < 2; ++ch)
        for (float v : at3test::DecodeChannel(e, ch)) ASSERT_EQ(v, 0.0f);

    std::vector<std::int16_t> zeros(2048, 0);
    std::vector<std::uint8_t> out(96);
    // 882 samples per channel is short: the call after next answers the end.
    ASSERT_EQ(At3EncFrame(zeros.data(), out.data(), context, 2 * 882, 2, 4), kAt3Ok);
    ASSERT_EQ(At3EncFrame(zeros.data(), out.data(), context, 2048, 2, 5), kAt3Ok);
    EXPECT_EQ(At3EncFrame(zeros.data(), out.data(), context, 2048, 2, 6), kAt3EndOfInput);
    // 883 is not.
    ASSERT_EQ(At3EncOpen(33, 2, context), kAt3Ok);
    for (int f = 0; f < 4; ++f) EXPECT_EQ(At3EncFrame(zeros.data(), out.data(), context, f == 0 ? 2 * 883 : 2048, 2, f), kAt3Ok);
    EXPECT_EQ(At3EncFrame(zeros.data(), out.data(), context, 2048, 2, 4), kAt3Ok);
    EXPECT_EQ(At3EncFrame(nullptr, out.data(), context, 2048, 2, 5), kAt3Failed);
    At3EncClose(context);
    EXPECT_EQ(At3EncFrame(zeros.data(), out.data(), context, 2048, 2, 0), kAt3Failed);
}

TEST(Atrac3, ProcessorLevelsFollowTheFeatureBits) {
    EXPECT_EQ(At3CpuFromFeatures(1u << 25 | 1u << 23), At3Cpu::kKni);
    EXPECT_EQ(At3CpuFromFeatures(1u << 23), At3Cpu::kMmx);
    EXPECT_EQ(At3CpuFromFeatures(0), At3Cpu::kPlain);
}

} // namespace
