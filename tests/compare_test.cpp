// The comparison's figures against an independent computation: the
// source's frames scaled and its sound resampled by the ffmpeg tool, the
// database's pictures and sound from the decoders, luma PSNR, the sound's
// delay and SNR worked out here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "engine/compare.h"
#include "tests/cli_runner.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"
#include "video/moviepictures.h"

namespace {

// Two seconds of pink noise, which lines up with itself at one lag only,
// after `delayMs` of silence.
std::filesystem::path Noise(int delayMs) {
    return MakeFixture("noise-" + std::to_string(delayMs) + ".wav",
                       "-f lavfi -i anoisesrc=color=pink:amplitude=0.25:sample_rate=44100:duration=2:seed=7 -af adelay=" +
                           std::to_string(delayMs) + " %o");
}

// A sound file as the ffmpeg tool resamples it to mono at `rate`.
std::vector<std::int16_t> Resampled(const std::filesystem::path& file, std::uint32_t rate, const TestFolder& folder) {
    const auto raw = folder.Path() / "resampled.raw";
    EXPECT_EQ(std::system(("ffmpeg -nostdin -y -loglevel error -i " + file.string() + " -ac 1 -ar " + std::to_string(rate) +
                           " -f s16le " + raw.string()).c_str()), 0);
    const auto bytes = FileBytes(raw);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// The error energy of `sound` against `reference` when it comes `lag`
// frames after it, over the reference's frames [from, to).
double ErrorAt(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& sound, std::ptrdiff_t lag,
               std::ptrdiff_t from, std::ptrdiff_t to) {
    double error = 0;
    for (std::ptrdiff_t t = std::max(from, -lag); t < to && t + lag < static_cast<std::ptrdiff_t>(sound.size()); ++t) {
        const double d = sound[static_cast<std::size_t>(t + lag)] - reference[static_cast<std::size_t>(t)];
        error += d * d;
    }
    return error;
}

// The lag within ±`most` frames where the sound differs least from the
// reference (over a second of it), and the SNR over the whole overlap there.
std::pair<std::ptrdiff_t, double> LeastErrorLag(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& sound,
                                                std::ptrdiff_t most, std::ptrdiff_t second) {
    std::ptrdiff_t best = 0;
    for (std::ptrdiff_t lag = -most; lag <= most; ++lag)
        if (ErrorAt(reference, sound, lag, second / 4, second * 5 / 4) < ErrorAt(reference, sound, best, second / 4, second * 5 / 4))
            best = lag;
    double signal = 0;
    for (std::ptrdiff_t t = std::max<std::ptrdiff_t>(0, -best);
         t < static_cast<std::ptrdiff_t>(reference.size()) && t + best < static_cast<std::ptrdiff_t>(sound.size()); ++t)
        signal += double(reference[static_cast<std::size_t>(t)]) * reference[static_cast<std::size_t>(t)];
    return {best, 10 * std::log10(signal / ErrorAt(reference, sound, best, 0, static_cast<std::ptrdiff_t>(reference.size())))};
}

} // namespace

TEST(Compare, PsnrAgreesWithAnIndependentComputation) {
    TestFolder home;
    const auto pdb = home.Path() / "clip.pdb";
    ASSERT_EQ(RunVantro(home.Path(), {"convert", Mp4().string(), "--out", home.Path().string(), "--video", "color",
                                      "--size", "160x120", "--fps", "10"}).status, 0);
    // Every source frame (25 a second) at the database's size, by the ffmpeg
    // tool with the scaler's settings conversions use (area averaging, exact
    // rounding, full chroma); scaled in YUV 4:2:0 instead, the source looks
    // some 2 dB closer to Cinepak's own 4:2:0 colour.
    const auto raw = home.Path() / "frames.bgra";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -i " + Mp4().string() +
                           " -vf scale=160:120:flags=area+accurate_rnd+full_chroma_int+full_chroma_inp,format=bgra -f rawvideo -pix_fmt bgra " + raw.string()).c_str()), 0);
    const auto frames = FileBytes(raw);
    ASSERT_GE(frames.size(), 50u * 160 * 120 * 4);

    ByteBlock bytes;
    ASSERT_EQ(ReadWholeFile(pdb, bytes), noErr);
    const MovieReader reader(bytes.Span());
    MoviePictureDecoder pictures;
    ASSERT_EQ(pictures.Open(reader), noErr);
    double sum = 0;
    for (std::size_t i = 0; i < pictures.Count(); ++i) {
        FrameBuffer picture;
        ASSERT_EQ(pictures.Decode(i, picture), noErr);
        // The source frame on the screen at the picture's start.
        const std::size_t frame = reader.Pictures()[i].start * 25 / 100;
        const std::uint8_t* source = frames.data() + frame * 160 * 120 * 4;
        double error = 0;
        for (std::size_t p = 0; p < 160 * 120; ++p) {
            const std::uint8_t* a = picture.Pixels() + 4 * p;
            const std::uint8_t* b = source + 4 * p;
            const double d = 0.114 * (a[0] - b[0]) + 0.587 * (a[1] - b[1]) + 0.299 * (a[2] - b[2]);
            error += d * d;
        }
        sum += 10 * std::log10(255.0 * 255.0 / (error / (160 * 120)));
    }
    const double expected = sum / static_cast<double>(pictures.Count());

    CompareReport report;
    ASSERT_EQ(CompareMovie({pdb, Mp4(), {}}, report), noErr) << report.detail;
    EXPECT_EQ(report.pictures, pictures.Count());
    EXPECT_NEAR(report.meanPsnr, expected, 0.5);
    EXPECT_LE(report.worstPsnr, report.meanPsnr);
    EXPECT_NEAR(report.seconds, 2.0, 0.01);
    EXPECT_GT(report.videoKbps, 50);
    EXPECT_GT(report.soundKbps, 10);

    const VantroResult r = RunVantro(home.Path(), {"compare", pdb.string(), Mp4().string()});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.output.find("luma PSNR"), std::string::npos) << r.output;
}

TEST(Compare, SoundSnrAndDelayAgreeWithAnIndependentComputation) {
    TestFolder home;
    // The noise converted with `settings`, written as `name`.
    auto database = [&](const std::string& name, const ExportSettings& settings) {
        const Converted c = ConvertTo(Noise(0), settings);
        EXPECT_EQ(c.err, noErr);
        std::ofstream(home.Path() / name, std::ios::binary).write(reinterpret_cast<const char*>(c.bytes.data()), c.bytes.size());
        return std::pair{FileSpec(home.Path() / name), c.bytes};
    };
    const auto [pdb, bytes] = database("noise.pdb", TestSettings(kDepthNoVideo, 0, kSoundAdpcm2to1, 22050, 1));
    const DecodedSound sound = SoundOf(bytes);
    ASSERT_EQ(sound.err, noErr);

    // The source as it is, and with 20 ms of silence first: the database's
    // sound then comes 441 frames before it.
    std::ptrdiff_t lags[2];
    for (int delayMs : {0, 20}) {
        const auto [lag, snr] = LeastErrorLag(Resampled(Noise(delayMs), 22050, home), sound.samples, 2205, 22050);
        lags[delayMs / 20] = lag;
        CompareReport report;
        ASSERT_EQ(CompareMovie({pdb, Noise(delayMs), {}}, report), noErr) << report.detail;
        ASSERT_TRUE(report.soundCompared) << report.soundDetail;
        EXPECT_EQ(report.soundDelay, lag) << delayMs;
        EXPECT_NEAR(report.soundDelayMs, lag / 22.05, 0.01);
        EXPECT_NEAR(report.soundSnr, snr, 0.5) << delayMs;
        EXPECT_GT(snr, 15) << delayMs; // ADPCM 2:1 keeps pink noise some 20 dB above its error
        EXPECT_EQ(report.pictures, 0u);
        EXPECT_NEAR(report.seconds, 2.0, 0.02);
    }
    EXPECT_EQ(lags[0], 0);
    EXPECT_EQ(lags[1], -441);

    // What conversions are known to do: a "low" boost multiplies by 1.5, a
    // gain and not noise; CLIÉ Audio comes 1162 frames late, the delay of
    // the ATRAC3 filter banks (tests/atrac3_harness.h).
    ExportSettings boosted = TestSettings(kDepthNoVideo, 0, kSoundAdpcm2to1, 22050, 1);
    boosted.boost = 1;
    CompareReport report;
    ASSERT_EQ(CompareMovie({database("louder.pdb", boosted).first, Noise(0), {}}, report), noErr) << report.detail;
    EXPECT_NEAR(report.soundGainDb, 20 * std::log10(1.5), 0.1);
    EXPECT_EQ(report.soundDelay, 0);
    EXPECT_GT(report.soundSnr, 15);
    const auto clie = database("clie.pdb", TestSettings(kDepthNoVideo, 0, kSoundClieAudio, 44100, 1)).first;
    ASSERT_EQ(CompareMovie({clie, Noise(0), {}}, report), noErr) << report.detail;
    EXPECT_EQ(report.soundDelay, 1162);

    const VantroResult r = RunVantro(home.Path(), {"compare", pdb.string(), Noise(20).string()});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.output.find("delay -441 sample frames (-20.00 ms) at 22050 Hz"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Pictures:"), std::string::npos) << r.output;
}
