#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>

#include "audio/soundinput.h"
#include "engine/audiopump.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"

namespace {

// What the pump should have fed the writer: the source through one converter,
// chunk by chunk, as the pump does (at 8192 Hz where 16 bits at 4096 Hz are
// wanted), widened to 16 bits.
std::vector<std::int16_t> Reference(const std::filesystem::path& path, const AudioOutput& out) {
    Movie movie;
    EXPECT_EQ(Movie::Open(path, movie), noErr);
    std::unique_ptr<SoundSource> source;
    EXPECT_EQ(movie.NewSoundSource(movie.FindTrack(kSoundMediaType), source), noErr);
    SoundConverter converter;
    ByteBlock bytes;
    bool open = false;
    SoundChunk chunk;
    while (source->GetChunk(chunk) == noErr) {
        if (!open) {
            EXPECT_EQ(converter.Open(chunk.description, {out.bitsPerSample == 8 ? kSoundU8 : kSoundS16, out.channels,
                                                         out.sampleRate == 4096 && out.bitsPerSample == 16 ? 8192u : out.sampleRate}),
                      noErr);
            open = true;
        }
        EXPECT_EQ(converter.Convert(chunk.data, bytes), noErr);
    }
    EXPECT_EQ(converter.End(bytes), noErr);
    std::vector<std::int16_t> samples;
    if (out.bitsPerSample == 8) {
        for (std::uint32_t i = 0; i < bytes.Size(); ++i) samples.push_back(static_cast<std::int16_t>((bytes.Data()[i] - 128) * 256));
    } else {
        const auto* s = reinterpret_cast<const std::int16_t*>(bytes.Data());
        samples.assign(s, s + bytes.Size() / 2);
    }
    return samples;
}

// A sound-only database of a source in a format.
std::vector<std::uint8_t> Convert(const std::filesystem::path& path, const ExportSettings& settings, AudioOutput& out) {
    Movie movie;
    EXPECT_EQ(Movie::Open(path, movie), noErr);
    const int track = movie.FindTrack(kSoundMediaType);
    auto w = NewWriter();
    EXPECT_EQ(ConfigureAudio(settings, movie.Track(track).sound.channels, w.get(), out), noErr);
    EXPECT_EQ(AttachSoundInput(w.get()), noErr);
    EXPECT_EQ(BeginMovie(w.get()), noErr);
    std::unique_ptr<SoundSource> source;
    EXPECT_EQ(movie.NewSoundSource(track, source), noErr);
    AudioPump pump(out, movie.Duration());
    OSErr err = noErr;
    while ((err = pump.Pump(*source, w.get())) == noErr) {}
    EXPECT_EQ(err, eofErr);
    EXPECT_NEAR(static_cast<double>(pump.ProgressMs()), static_cast<double>(movie.Duration()), 60);
    return Finish(w.get());
}

// Sound-only settings.
ExportSettings Sound(std::int32_t code, std::uint32_t rate, std::uint16_t channels) {
    return TestSettings(kDepthNoVideo, 0, code, rate, channels);
}

} // namespace

TEST(AudioPump, ConfigurationFollowsTheFormat) {
    struct Case {
        std::int32_t code;
        std::uint32_t rate;
        std::uint32_t perRecord;
        std::uint16_t bits;
    };
    for (const Case c : {Case{626, 44100, 8820, 16}, Case{626, 8192, 8192, 16}, Case{628, 22050, 4410, 16},
                         Case{629, 8000, 1600, 16}, Case{630, 22050, 5512, 16}, Case{630, 8192, 8192, 16},
                         Case{627, 8192, 8192, 8}}) {
        auto w = NewWriter();
        AudioOutput out;
        ASSERT_EQ(ConfigureAudio(Sound(c.code, c.rate, 2), 2, w.get(), out), noErr);
        EXPECT_EQ(out.samplesPerRecord, c.perRecord) << c.code << " " << c.rate;
        EXPECT_EQ(out.bitsPerSample, c.bits);
        EXPECT_EQ(GetAudioConfig(w.get()).samplesPerRecord, c.perRecord);
    }
    // A stereo setting over a mono source stays mono.
    auto w = NewWriter();
    AudioOutput out;
    ASSERT_EQ(ConfigureAudio(Sound(630, 22050, 2), 1, w.get(), out), noErr);
    EXPECT_EQ(out.channels, 1);
}

TEST(AudioPump, SoundOnlyDatabasesInEveryFormat) {
    const auto wav = ToneWav();
    const auto mp3 = MakeFixture("tone.mp3", std::string(kTestTone) + " -c:a libmp3lame %o");
    const auto aac = MakeFixture("mono.m4a", std::string(kTestTone) + " -c:a aac %o");
    const auto stereo = MakeFixture("stereo.wav", "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
                                                  "-f lavfi -i sine=frequency=660:sample_rate=44100:duration=2 "
                                                  "-filter_complex amerge=inputs=2 -c:a pcm_s16le %o");
    struct Case {
        std::filesystem::path source;
        std::int32_t code;
        std::uint32_t rate;
        std::uint16_t channels;
        double floor;
    };
    // Every format from every kind of source (AAC decodes to floating point);
    // floors in dB of the decoded sound against what was fed (0: bit-exact).
    struct Format {
        std::int32_t code;
        std::uint32_t rate;
        double floor;
    };
    const Format formats[] = {{626, 22050, 20}, {628, 11025, 8}, {629, 8000, 12}, {627, 8192, 0}, {630, 22050, 0}};
    std::vector<Case> cases;
    for (const auto& source : {wav, mp3, aac})
        for (const Format& f : formats) cases.push_back({source, f.code, f.rate, static_cast<std::uint16_t>(f.code == 630 ? 2 : 1), f.floor});
    cases.push_back({stereo, 626, 44100, 2, 20});
    cases.push_back({wav, 626, 4096, 1, 20}); // 16-bit at 4096 Hz: converted at 8192 Hz and halved
    cases.push_back({aac, 627, 4096, 1, 0});
    for (const Case& c : cases) {
        AudioOutput out;
        const auto bytes = Convert(c.source, Sound(c.code, c.rate, c.channels), out);
        Inspection in = InspectDatabase(bytes);
        ASSERT_TRUE(in.Valid()) << c.source << " " << c.code << ": " << in.problem;
        EXPECT_EQ(in.movieKind, 5);
        EXPECT_EQ(in.audioFormat, static_cast<std::uint32_t>(c.code));
        EXPECT_EQ(in.sampleRate, c.rate);
        const DecodedSound decoded = SoundOf(bytes);
        ASSERT_EQ(decoded.err, noErr);
        EXPECT_EQ(decoded.channels, out.channels);
        std::vector<std::int16_t> fed = Reference(c.source, out);
        if (out.sampleRate == 4096 && out.bitsPerSample == 16) {
            // The reference at 8192 Hz, halved as the pump does.
            std::vector<std::int16_t> halved;
            for (std::size_t i = 0; i + 2 * out.channels <= fed.size(); i += 2 * out.channels)
                for (std::uint16_t ch = 0; ch < out.channels; ++ch)
                    halved.push_back(static_cast<std::int16_t>((fed[i + ch] + fed[i + out.channels + ch]) >> 1));
            fed = halved;
        }
        // Two seconds of the tone (the last block's padding aside) went in...
        EXPECT_NEAR(TonePitch(fed, out.channels, out.sampleRate), 440.0, 2.0) << c.source << " " << c.code;
        EXPECT_NEAR(decoded.Seconds(), 2.0, 0.1) << c.code;
        // ...and came out as it went in.
        if (c.floor == 0) {
            ASSERT_GE(decoded.samples.size(), fed.size());
            EXPECT_TRUE(std::equal(fed.begin(), fed.end(), decoded.samples.begin())) << c.source << " " << c.code;
        } else {
            EXPECT_GT(Snr(fed, decoded.samples), c.floor) << c.source << " " << c.code << " " << c.rate;
        }
    }
}

TEST(AudioPump, ADescriptionChangeMidStreamKeepsThePendingFrames) {
    // An MP3 stream whose second half changes rate and channels (44100 Hz
    // mono, then 22050 Hz stereo): the pump opens a second converter, and
    // the frames the writer holds towards its next block stay.
    const auto first = MakeFixture("first-half.mp3", "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 "
                                                     "-c:a libmp3lame -write_xing 0 -id3v2_version 0 %o");
    const auto second = MakeFixture("second-half.mp3", "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1 "
                                                       "-ac 2 -c:a libmp3lame -write_xing 0 -id3v2_version 0 %o");
    const auto changing = FixtureFolder() / "changing.mp3";
    {
        std::ofstream out(changing, std::ios::binary);
        out << std::ifstream(first, std::ios::binary).rdbuf() << std::ifstream(second, std::ios::binary).rdbuf();
    }
    Movie movie;
    ASSERT_EQ(Movie::Open(changing, movie), noErr);
    std::unique_ptr<SoundSource> source;
    ASSERT_EQ(movie.NewSoundSource(movie.FindTrack(kSoundMediaType), source), noErr);
    SoundChunk chunk;
    std::set<std::int32_t> seeds;
    double seconds = 0;
    while (source->GetChunk(chunk) == noErr) {
        seeds.insert(chunk.seed);
        seconds += chunk.sampleCount / UnsignedFixedToDouble(chunk.description.sampleRate);
    }
    ASSERT_GE(seeds.size(), 2u) << "the fixture should change its description";

    AudioOutput out;
    const auto bytes = Convert(changing, Sound(626, 11025, 1), out);
    const DecodedSound decoded = SoundOf(bytes);
    ASSERT_EQ(decoded.err, noErr);
    // Both halves whole: as long as the source, less at most the resamplers'
    // slack and plus at most the last block's padding; and the tone's pitch
    // on either side of the change.
    const double extra = static_cast<double>(decoded.samples.size()) - seconds * decoded.rate;
    EXPECT_GE(extra, -32.0);
    EXPECT_LE(extra, 256.0 + 32.0);
    const std::span<const std::int16_t> all(decoded.samples);
    EXPECT_NEAR(TonePitch(all.subspan(1000, 9000), 1, decoded.rate), 440.0, 5.0);
    EXPECT_NEAR(TonePitch(all.subspan(12500, 8500), 1, decoded.rate), 440.0, 5.0);
}
