#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"

TEST(Conversion, ColourWithTheSourcesChannels) {
    // Stereo asked for over a mono source: the database's sound is mono.
    const auto colour = ConvertTo(Mp4(), TestSettings(kDepthCinepakMobile, IntToFixed(15), kSoundUncompressedStereo, 22050, 2));
    ASSERT_EQ(colour.err, noErr);
    EXPECT_EQ(colour.inspection.depth, 16);
    EXPECT_TRUE(colour.inspection.colourTables);
    EXPECT_EQ(colour.inspection.streams[0].chunks, 30u); // 2 s at 15 frames a second
    EXPECT_EQ(colour.inspection.audioChannels, 1);
}

TEST(Conversion, BestRateSizesCropsAndTurns) {
    // "Best": every source frame once, lasting as long as it does there.
    for (const auto& source : {Mp4(), MovWithChapters()}) {
        const auto all = ConvertTo(source, TestSettings());
        ASSERT_EQ(all.err, noErr);
        EXPECT_EQ(all.inspection.streams[0].chunks, 50u) << source;
        EXPECT_EQ(all.inspection.streams[0].sxDuration, 200u) << source;
        EXPECT_EQ(all.inspection.movieKind, 1);
    }

    // Width, height and turn for a size code, an angle and a frame size.
    auto picture = [](std::uint16_t sizeCode, std::int16_t angle, std::uint16_t width = kFrameSizeNotSet,
                      std::uint16_t height = kFrameSizeNotSet) {
        ExportSettings s = TestSettings();
        s.sizeCode = sizeCode, s.angle = angle, s.frameWidth = width, s.frameHeight = height;
        const Inspection in = ConvertTo(Mp4(), s).inspection;
        return std::vector<int>{in.pictureWidth, in.pictureHeight, in.rotation};
    };
    EXPECT_EQ(picture(7, 0), (std::vector<int>{160, 160, 0})); // "Full" 160 × 160: the 4:3 picture cropped
    EXPECT_EQ(picture(4, 90), (std::vector<int>{120, 160, 90}));
    EXPECT_EQ(picture(1, 0), (std::vector<int>{160, 120, 0})); // the source's size within the limit: 320 × 240 exceeds it
    EXPECT_EQ(picture(1, 0, 240, 180), (std::vector<int>{240, 180, 0}));
}

TEST(Conversion, ChaptersAndMetadata) {
    const auto c = ConvertTo(MovWithChapters(), TestSettings(kDepthSixteenGrays, IntToFixed(10)));
    ASSERT_EQ(c.err, noErr);
    ASSERT_EQ(c.inspection.chapters.size(), 2u);
    EXPECT_EQ(c.inspection.chapters[0].second, "Opening");
    EXPECT_EQ(c.inspection.chapters[1].first, 100u);
    EXPECT_EQ(c.inspection.chapters[1].second, "Finale");
    EXPECT_EQ(c.inspection.metadata, (std::vector<std::string>{"The Title", "About it", "(c) Vantro"}));
}

TEST(Conversion, FailuresAnswerTheirCodesAndLeaveNoTemporaryFiles) {
    TestFolder temporary;
    ASSERT_EQ(setenv("TMPDIR", temporary.Path().c_str(), 1), 0);
    EXPECT_EQ(ConvertTo(FixtureFolder() / "missing.mov", TestSettings()).err, noMovieFound);
    EXPECT_EQ(ConvertTo(WriteTextFixture("words.mov", "no movie here\n"), TestSettings()).err, noMovieFound);
    // The codec nobody decodes, as the media tests make it.
    TestFolder folder;
    ConversionResult result;
    EXPECT_EQ(ConvertMovie(UnknownCodecAvi(), TestSettings(), folder.Path() / "x.pdb", nullptr, nullptr, &result), noCodecErr);
    EXPECT_EQ(result.missingDecoder, Fcc("ZZZZ"));
    // An existing destination is never replaced.
    const auto taken = folder.Path() / "taken.pdb";
    std::ofstream(taken) << "mine";
    EXPECT_EQ(ConvertMovie(Mp4(), TestSettings(), taken, nullptr, nullptr), dupFNErr);
    // Cancelling through progress ends with the answer.
    auto cancel = [](std::int16_t message, Fixed fraction, void*) -> std::int16_t {
        return message == kProgressUpdate && fraction > 0x4000 ? -128 : 0;
    };
    EXPECT_EQ(ConvertTo(Mp4(), TestSettings(kDepthCinepakMobile, IntToFixed(15), kSoundAdpcm2to1), cancel).err, -128);
    for (const auto& name : temporary.Names()) EXPECT_NE(name.rfind("lxmv", 0), 0u) << name; // no spool file left
    unsetenv("TMPDIR");
}

TEST(Conversion, ProgressRisesInItsPhases) {
    static std::vector<std::pair<std::int16_t, Fixed>> seen;
    seen.clear();
    auto record = [](std::int16_t message, Fixed fraction, void*) -> std::int16_t {
        seen.push_back({message, fraction});
        return 0;
    };
    ASSERT_EQ(ConvertTo(Mp4(), TestSettings(kDepthSixteenGrays, IntToFixed(10), kSoundAdpcm2to1), record).err, noErr);
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen.front().first, kProgressOpen);
    EXPECT_EQ(seen.back().first, kProgressClose);
    EXPECT_EQ(seen[seen.size() - 2].second, fixed1);
    Fixed last = 0;
    for (std::size_t i = 1; i + 2 < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, kProgressUpdate);
        EXPECT_GE(seen[i].second, last);
        EXPECT_LE(seen[i].second, 0xFEB8); // 0.995
        last = seen[i].second;
    }
}

TEST(Conversion, ScramblingKeyOfExactly512Bytes) {
    const auto settings = [] { return TestSettings(kDepthSixteenGrays, IntToFixed(10), kSoundAdpcm2to1); };
    const auto plain = ConvertTo(Mp4(), settings());
    ASSERT_EQ(plain.err, noErr);
    EXPECT_FALSE(plain.inspection.scrambled);

    ExportSettings keyed = settings();
    ASSERT_EQ(keyed.scramblingKey.Resize(512), noErr);
    for (std::size_t i = 0; i < 512; ++i) keyed.scramblingKey.Data()[i] = static_cast<std::uint8_t>(i * 37 + 11);
    keyed.hasScramblingKey = true;
    const auto scrambled = ConvertTo(Mp4(), keyed);
    ASSERT_EQ(scrambled.err, noErr);
    ASSERT_TRUE(scrambled.inspection.scrambled);
    const std::span<const std::uint8_t> key(keyed.scramblingKey.Data(), 512);
    // XOR with the key from the media's start gives back the plain movie's
    // media bytes (the keyed header record is a marker chunk longer).
    const std::uint32_t start = scrambled.inspection.mediaStart, plainStart = plain.inspection.mediaStart;
    ASSERT_EQ(scrambled.bytes.size() - start, plain.bytes.size() - plainStart);
    std::vector<std::uint8_t> unscrambled(scrambled.bytes.begin() + start, scrambled.bytes.end());
    for (std::size_t p = 0; p < unscrambled.size(); ++p) unscrambled[p] ^= key[p % 512];
    EXPECT_EQ(unscrambled, std::vector<std::uint8_t>(plain.bytes.begin() + plainStart, plain.bytes.end()));
    const Inspection withKey = InspectDatabase(scrambled.bytes, key);
    EXPECT_TRUE(withKey.Valid()) << withKey.problem;
    EXPECT_TRUE(withKey.mediaChecked);

    // Any other length is no key at all.
    ExportSettings shortKey = settings();
    ASSERT_EQ(shortKey.scramblingKey.Resize(511), noErr);
    shortKey.hasScramblingKey = true;
    const auto unkeyed = ConvertTo(Mp4(), shortKey);
    ASSERT_EQ(unkeyed.err, noErr);
    EXPECT_FALSE(unkeyed.inspection.scrambled);
}

TEST(Conversion, VideoEndingBeforeItsSound) {
    // One second of pictures over two seconds of tone.
    const auto source = MakeFixture("short-video.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=1 " +
                                                           std::string(kTestTone) + " -c:v libx264 -pix_fmt yuv420p -c:a aac %o");
    const auto converted = ConvertTo(source, TestSettings(kDepthSixteenGrays, IntToFixed(10), kSoundAdpcm2to1));
    ASSERT_EQ(converted.err, noErr);
    const Inspection& in = converted.inspection;
    EXPECT_EQ(in.streams[0].chunks, 10u); // the pictures stop at one second
    EXPECT_NEAR(in.streams[1].sxDuration, 200, 5); // the sound plays on to its end
    const DecodedSound sound = SoundOf(converted.bytes);
    ASSERT_EQ(sound.err, noErr);
    EXPECT_NEAR(static_cast<double>(sound.samples.size()), 2.03 * 8192, 0.02 * 8192);
}

TEST(Conversion, APictureOfAnySizeFillsTheMovie) {
    // A mid-gray source at a size that is no whole number of 4 × 4 blocks:
    // no white band may be left at the right or the bottom.
    const auto gray = MakeFixture("gray.mov", "-f lavfi -i color=c=0x808080:size=320x240:rate=10:duration=1 -c:v mpeg4 -q:v 2 %o");
    ExportSettings s = TestSettings(kDepthSixteenGrays, IntToFixed(10));
    s.frameWidth = 161;
    s.frameHeight = 121;
    const auto c = ConvertTo(gray, s);
    ASSERT_EQ(c.err, noErr);
    EXPECT_EQ(c.inspection.pictureWidth, 164);
    EXPECT_EQ(c.inspection.pictureHeight, 124);
    std::vector<std::uint8_t> picture;
    std::uint32_t width = 0, height = 0;
    ASSERT_EQ(DecodeGraysFrameOf(c.bytes, {}, 0, picture, width, height), noErr);
    ASSERT_EQ(picture.size(), std::size_t{width} * height);
    int lightest = 0;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) lightest = std::max<int>(lightest, picture[y * width + x]);
    EXPECT_LT(lightest, 200) << "a white band at the picture's edge";
}

namespace {

// The level in dB below full scale of each channel over the middle of the
// sound (the edges carry the codecs' lead-in), and how many samples clip.
struct Level {
    std::vector<double> rmsDb;
    std::size_t clipped = 0;
};

Level LevelOf(const DecodedSound& sound) {
    Level level;
    const std::size_t frames = sound.samples.size() / sound.channels;
    for (std::uint16_t c = 0; c < sound.channels; ++c) {
        double sum = 0;
        std::size_t n = 0;
        for (std::size_t f = frames / 4; f < frames * 3 / 4; ++f, ++n) {
            const int v = sound.samples[f * sound.channels + c];
            sum += static_cast<double>(v) * v;
            level.clipped += v >= 32767 || v <= -32767;
        }
        level.rmsDb.push_back(10 * std::log10(sum / std::max<std::size_t>(1, n) / (32768.0 * 32768.0)));
    }
    return level;
}

} // namespace

TEST(Conversion, EverySoundFormatKeepsTheToneAndTheLevelOfLoudSources) {
    // A 1 kHz sine at -3.6 dBFS (RMS -6.6 dBFS), and a chord of three tones
    // whose sum peaks at -1 dBFS, in stereo.
    const auto sine = MakeFixture("sine-3.6dB.wav", "-f lavfi -i aevalsrc='0.661*sin(2*PI*1000*t)|0.661*sin(2*PI*1000*t)"
                                                    ":s=44100:d=3' -c:a pcm_s16le %o");
    const auto chord = MakeFixture("chord-1dB.wav", "-f lavfi -i aevalsrc='0.2971*(sin(2*PI*440*t)+sin(2*PI*554.37*t)"
                                                    "+sin(2*PI*659.25*t))|0.2971*(sin(2*PI*440*t)+sin(2*PI*554.37*t)"
                                                    "+sin(2*PI*659.25*t)):s=44100:d=3' -c:a pcm_s16le %o");
    struct Case {
        std::int32_t format;
        std::uint32_t rate;
        std::uint16_t channels;
        std::uint32_t bitRate = 0; // "CLIÉ Audio"
    };
    std::vector<Case> cases = {{kSoundAdpcm2to1, 22050, 1},         {kSoundAdpcm2to1, 22050, 2},
                               {kSoundAdpcm4to1, 8192, 1},          {kSoundUncompressedMono, 8192, 1},
                               {kSoundUncompressedStereo, 22050, 2}, {kSoundYamahaAdpcm, 8000, 1}};
    for (std::uint32_t bitRate : {11750u, 16500u, 23500u, 33000u, 47000u, 66000u})
        for (std::uint16_t channels : {1, 2})
            if (channels == 1 || bitRate >= 23500) cases.push_back({kSoundClieAudio, 44100, channels, bitRate});
    for (const auto& [source, reference] : {std::pair{sine, 20 * std::log10(0.661 / std::sqrt(2.0))},
                                            std::pair{chord, 10 * std::log10(3 * 0.2971 * 0.2971 / 2)}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << source.filename() << " format " << c.format << " at " << c.rate << " Hz, "
                                            << c.channels << " channels, " << c.bitRate << " bit/s");
            ExportSettings s = TestSettings(kDepthNoVideo, 0, c.format, c.rate, c.channels);
            s.boost = 0; // "None"
            if (c.bitRate != 0) s.bitRate = c.bitRate;
            const auto converted = ConvertTo(source, s);
            ASSERT_EQ(converted.err, noErr);
            EXPECT_EQ(converted.inspection.movieKind, 5); // sound only
            EXPECT_EQ(converted.inspection.audioFormat, static_cast<std::uint32_t>(c.format));
            EXPECT_EQ(converted.inspection.sampleRate, c.rate);
            const DecodedSound sound = SoundOf(converted.bytes);
            ASSERT_EQ(sound.err, noErr);
            ASSERT_GT(sound.channels, 0);
            // Three seconds at the 1 kHz the source has: nothing garbled, lost or mistimed.
            EXPECT_NEAR(sound.Seconds(), 3.0, 0.15);
            if (source == sine) {
                EXPECT_NEAR(TonePitch(sound.samples, sound.channels, sound.rate), 1000.0, 4.0);
            }
            const Level level = LevelOf(sound);
            for (double rms : level.rmsDb) EXPECT_NEAR(rms, reference, 1.0);
            // 2-bit ADPCM's coarse steps overshoot a few peaks of a chord this
            // loud (9 samples in 12,000); nothing else may clip at all.
            EXPECT_LE(level.clipped, c.format == kSoundAdpcm4to1 ? sound.samples.size() / 1000 : 0u);
        }
    }
}

TEST(Conversion, SoundAboveWhatADescriptionHoldsKeepsItsPitchAndLength) {
    // 96 and 192 kHz do not fit a 16.16 rate: they must be resampled, never
    // taken for another rate (96000 read as 30464 plays a third too low).
    for (int rate : {88200, 96000, 192000}) {
        SCOPED_TRACE(rate);
        const auto source = MakeFixture("tone-" + std::to_string(rate) + ".wav",
                                        "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
                                            ":duration=2 -c:a pcm_s16le %o");
        const auto converted = ConvertTo(source, TestSettings(kDepthNoVideo, 0, kSoundAdpcm2to1, 22050, 1));
        ASSERT_EQ(converted.err, noErr);
        const DecodedSound sound = SoundOf(converted.bytes);
        ASSERT_EQ(sound.err, noErr);
        ASSERT_GT(sound.channels, 0);
        EXPECT_NEAR(sound.Seconds(), 2.0, 0.05);
        EXPECT_NEAR(TonePitch(sound.samples, sound.channels, sound.rate), 440.0, 2.0);
    }
}
