// Our MPEG-1 Layer I/II decoder against libavcodec's on the same frames.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <thread>

#include "import/mpegaudio.h"
#include "import/mpegsystem.h"
#include "platform/media.h"
#include "platform/resources.h"
#include "resources/application_resources.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"

namespace {

// The bit-rate and sampling-rate tables as the export component keeps them.
std::vector<std::uint32_t> Tables() {
    EXPECT_EQ(OpenApplicationResources(), noErr);
    std::vector<std::uint32_t> t(kMpegTableEntries);
    EXPECT_EQ(ReadMpegRateTables(std::span<std::uint32_t, kMpegTableEntries>(t.data(), kMpegTableEntries)), noErr);
    return t;
}

std::vector<std::vector<std::uint8_t>> Frames(const std::filesystem::path& file, const std::vector<std::uint32_t>& tables) {
    const std::vector<std::uint8_t> bytes = FileBytes(file);
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t at = 0; at + 4 <= bytes.size();) {
        MpegHeader h;
        if (!ParseMpegHeader(ReadBE32(bytes.data() + at), tables, h) || at + static_cast<std::size_t>(h.frameLength) > bytes.size()) {
            ++at;
            continue;
        }
        frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + h.frameLength));
        at += static_cast<std::size_t>(h.frameLength);
    }
    return frames;
}

std::filesystem::path Mp2Stereo48k() {
    return MakeFixture("mp2-stereo-48k.mp2", "-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=1 -ac 2 -c:a mp2 -b:a 384k -f mp2 %o");
}

// Frames of one stream decoded by us and by libavcodec: our samples at most
// two steps from theirs anywhere, and far closer on average (compared where
// libavcodec's output did not clip).
void DecodesLikeLibavcodec(const std::vector<std::vector<std::uint8_t>>& frames, const std::vector<std::uint32_t>& tables) {
    MpegHeader first;
    ASSERT_TRUE(ParseMpegHeader(ReadBE32(frames.at(0).data()), tables, first));
    MpegAudioDecoder decoder; // one per stream, as one per conversion
    ASSERT_EQ(decoder.Start(), noErr);
    SoundDecompressor reference;
    ASSERT_EQ(reference.Open(first.layer == 0 ? Fcc(".mp1") : Fcc(".mp2"), static_cast<std::uint32_t>(first.sampleRate),
                             static_cast<std::uint16_t>(first.channels), 0, {}), noErr);
    std::vector<float> theirs;
    std::vector<std::int16_t> ours, pcm(1152 * 2);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        ASSERT_EQ(reference.Decode(frames[f], theirs), noErr) << f;
        int count = 0;
        ASSERT_EQ(decoder.DecodeFrame(frames[f], tables, count, pcm.data()), noErr) << f;
        ASSERT_EQ(count, first.layer == 0 ? 384 : 1152);
        ours.insert(ours.end(), pcm.begin(), pcm.begin() + count * first.channels);
    }
    ASSERT_EQ(theirs.size(), ours.size());
    double worst = 0, sum = 0;
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const double d = std::fabs(std::clamp(theirs[i] * 32768.0, -32768.0, 32767.0) - ours[i]);
        worst = std::max(worst, d);
        sum += d * d;
    }
    EXPECT_LE(worst, 2.0);
    EXPECT_LT(std::sqrt(sum / static_cast<double>(ours.size())) / 32768.0, 1.5e-5);
}

} // namespace

TEST(MpegAudio, HeadersAndFrameLengths) {
    const auto tables = Tables();
    MpegHeader h;
    // Layer II, MPEG-1, 128 kbit/s, 44100 Hz, stereo, no padding: 417 bytes.
    ASSERT_TRUE(ParseMpegHeader(0xFFFD8000u, tables, h));
    EXPECT_EQ(h.layer, 1);
    EXPECT_EQ(h.version, 0);
    EXPECT_EQ(h.bitRate, 128);
    EXPECT_EQ(h.sampleRate, 44100);
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(h.frameLength, 417);
    EXPECT_EQ(h.samplesPerFrame, 1152);
    ASSERT_TRUE(ParseMpegHeader(0xFFFD8200u, tables, h)); // the padding bit
    EXPECT_EQ(h.frameLength, 418);
    ASSERT_TRUE(ParseMpegHeader(0xFFFFC0C0u, tables, h)); // Layer I, 384 kbit/s, 44100, mono
    EXPECT_EQ(h.layer, 0);
    EXPECT_EQ(h.channels, 1);
    EXPECT_EQ(h.frameLength, (12 * 384000 / 44100) * 4);
    EXPECT_FALSE(ParseMpegHeader(0xFFFD0000u, tables, h)); // free format: no bit rate
    EXPECT_FALSE(ParseMpegHeader(0xFFFDF000u, tables, h)); // bit-rate index 15
    EXPECT_FALSE(ParseMpegHeader(0xFFFD8C00u, tables, h)); // sampling index 3
    EXPECT_FALSE(ParseMpegHeader(0x7FFD9000u, tables, h)); // no sync
}

TEST(MpegAudio, LayerTwoDecodesLikeLibavcodec) {
    const auto tables = Tables();
    // Each sampling rate, and bit rates per channel that choose each
    // allocation table.
    const std::filesystem::path files[] = {
        MakeFixture("mp2-mono-32k.mp2", "-f lavfi -i sine=frequency=300:sample_rate=32000:duration=1 -c:a mp2 -b:a 64k -ac 1 -f mp2 %o"),
        MakeFixture("mp2-stereo-44k.mp2", "-f lavfi -i anoisesrc=r=44100:a=0.3:d=1 -f lavfi -i sine=frequency=660:sample_rate=44100:duration=1 "
                                          "-filter_complex amerge=inputs=2 -c:a mp2 -b:a 128k -f mp2 %o"),
        Mp2Stereo48k(),
        MakeFixture("mp2-mono-48k-low.mp2", "-f lavfi -i sine=frequency=500:sample_rate=48000:duration=1 -ac 1 -c:a mp2 -b:a 32k -f mp2 %o"),
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename());
        const auto frames = Frames(file, tables);
        ASSERT_GT(frames.size(), 10u);
        DecodesLikeLibavcodec(frames, tables);
    }
}

TEST(MpegAudio, LayerThreeGivesNoSamplesAndTheTablesLeaveNoFiles) {
    const auto tables = Tables();
    const auto mp3 = Frames(MakeFixture("tone.mp3", std::string(kTestTone) + " -c:a libmp3lame %o"), tables);
    const auto frames = Frames(Mp2Stereo48k(), tables);
    ASSERT_FALSE(mp3.empty());
    ASSERT_FALSE(frames.empty());
    auto decodeFirst = [&] {
        MpegAudioDecoder one;
        std::vector<std::int16_t> out(2304, 0);
        int n = 0;
        EXPECT_EQ(one.Start(), noErr);
        EXPECT_EQ(one.DecodeFrame(frames[0], tables, n, out.data()), noErr);
        EXPECT_EQ(n, 1152);
        return out;
    };
    const auto alone = decodeFirst();
    EXPECT_NE(*std::max_element(alone.begin(), alone.end()), 0);
    // Entries another user or run left under the tables' names are neither
    // read nor in the way.
    TestFolder temporary;
    ASSERT_EQ(setenv("TMPDIR", temporary.Path().c_str(), 1), 0);
    const std::vector<std::string> planted = {"alloc_0", "alloc_1", "alloc_2", "alloc_3", "dewindow"};
    for (const std::string& name : planted) std::ofstream(temporary.Path() / name) << "0 0 0\n";
    EXPECT_EQ(decodeFirst(), alone);
    MpegAudioDecoder decoder;
    ASSERT_EQ(decoder.Start(), noErr);
    std::vector<std::int16_t> pcm(2304, 7);
    int count = -1;
    EXPECT_EQ(decoder.DecodeFrame(mp3.back(), tables, count, pcm.data()), noErr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(pcm[0], 7);
    // The tables went through files named after them in the temporary
    // folder, which are gone again; what was planted stays.
    EXPECT_EQ(temporary.Names(), planted);
    unsetenv("TMPDIR");
    // A frame cut short cannot be decoded.
    EXPECT_EQ(decoder.DecodeFrame(std::span<const std::uint8_t>(frames[0].data(), 40), tables, count, pcm.data()), paramErr);
}

namespace {

// An MPEG-1 system stream written by hand: a pack, the system header and
// packets of the given streams and payloads.
std::vector<std::uint8_t> SystemStream(const std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>>& packets) {
    std::vector<std::uint8_t> out = {0, 0, 1, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x00, 0x01,
                                     0, 0, 1, 0xBB, 0x00, 0x06, 0x80, 0x00, 0x01, 0x04, 0xE1, 0xFF};
    for (const auto& [id, payload] : packets) {
        const std::size_t length = payload.size() + 1;
        out.insert(out.end(), {0, 0, 1, id, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0x0F});
        out.insert(out.end(), payload.begin(), payload.end());
    }
    out.insert(out.end(), {0, 0, 1, 0xB9});
    return out;
}

} // namespace

TEST(MpegSystem, FramesComeThroughPacketsAndGarbage) {
    const auto tables = Tables();
    const auto frames = Frames(Mp2Stereo48k(), tables);
    ASSERT_GE(frames.size(), 6u);
    // The sound stream cut across packets at odd places, garbage between
    // two frames, and packets of other streams between.
    std::vector<std::uint8_t> sound;
    for (std::size_t i = 0; i < 6; ++i) {
        sound.insert(sound.end(), frames[i].begin(), frames[i].end());
        if (i == 2) sound.insert(sound.end(), {0xFF, 0xF0, 0x12, 0x00, 0xFF, 0x33});
    }
    std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> packets;
    packets.push_back({0xE0, std::vector<std::uint8_t>(100, 0x55)});
    for (std::size_t at = 0; at < sound.size(); at += 1000) {
        packets.push_back({0xC0, std::vector<std::uint8_t>(sound.begin() + static_cast<std::ptrdiff_t>(at),
                                                           sound.begin() + static_cast<std::ptrdiff_t>(std::min(sound.size(), at + 1000)))});
        packets.push_back({0xBE, std::vector<std::uint8_t>(7, 0xFF)});
    }
    TestFolder folder;
    const auto path = folder.Path() / "hand.mpg";
    const auto stream = SystemStream(packets);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));

    std::unique_ptr<MpegAudioSource> source;
    ASSERT_EQ(OpenMpegAudio(path, tables, source), noErr);
    EXPECT_EQ(source->stream, 0xC0);
    EXPECT_EQ(source->description.channels, 2);
    EXPECT_EQ(source->description.sampleRate, UIntToUnsignedFixed(48000));
    for (std::size_t i = 0; i < 6; ++i) {
        std::span<const std::uint8_t> frame;
        ASSERT_EQ(ReadMpegFrame(*source, frame), noErr) << i;
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), frames[i].begin(), frames[i].end())) << i;
    }
    std::span<const std::uint8_t> none;
    EXPECT_EQ(ReadMpegFrame(*source, none), eofErr);
    CloseMpegAudio(source);
    EXPECT_FALSE(source);
}

TEST(MpegSystem, TheFirstAudioStreamOfARealFileAndNoMpeg2) {
    const auto tables = Tables();
    const auto two = MakeFixture("two-audio.mpg", "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 "
                                                  "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
                                                  "-f lavfi -i sine=frequency=1500:sample_rate=44100:duration=2 "
                                                  "-map 0:v -map 1:a -map 2:a -c:v mpeg1video -c:a mp2 -b:a 128k -ac 2 -f mpeg %o");
    std::unique_ptr<MpegAudioSource> source;
    ASSERT_EQ(OpenMpegAudio(two, tables, source), noErr);
    MpegSoundSource sound(std::move(source), 0);
    std::vector<std::int16_t> pcm;
    SoundChunk chunk;
    while (sound.GetChunk(chunk) == noErr) {
        const auto* s = reinterpret_cast<const std::int16_t*>(chunk.data.data());
        pcm.insert(pcm.end(), s, s + chunk.sampleCount * 2);
        EXPECT_LE(chunk.sampleCount, 44100 / 4 + 1152);
    }
    EXPECT_NEAR(static_cast<double>(pcm.size()) / 2 / 44100, 2.0, 0.1);
    EXPECT_NEAR(TonePitch(pcm, 2, 44100), 440.0, 5.0); // the first stream only

    const auto dvd = MakeFixture("program.vob", "-f lavfi -i testsrc2=size=160x120:rate=25:duration=1 "
                                                "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
                                                "-c:v mpeg2video -c:a mp2 -f vob %o");
    EXPECT_EQ(OpenMpegAudio(dvd, tables, source), paramErr);
    MpegDemuxer demuxer;
    ASSERT_EQ(demuxer.Open(dvd), noErr);
    std::uint8_t id = 0;
    std::span<const std::uint8_t> payload;
    EXPECT_EQ(demuxer.NextPacket(id, payload), kDemuxNotMpeg1);
}

TEST(MpegSystem, MovieFilesConvertWithTheirSoundThroughEveryLayout) {
    // The same picture and tone multiplexed three ways. The Video CD layout
    // ends each audio sector with zero bytes that belong to no packet; the
    // sound must come through those as through a plain program stream's
    // back-to-back packs, to the end of the movie.
    struct Case {
        std::filesystem::path movie;
        double seconds;
    };
    for (const Case& c : {Case{Mpeg1Program(), 2.0}, Case{VideoCdStreams("vcd"), 3.0}, Case{VideoCdStreams("mpeg"), 3.0}}) {
        SCOPED_TRACE(c.movie.filename());
        ExportSettings settings;
        SetFirstPresetSettings(settings); // ADPCM 8192 Hz mono
        const Converted converted = ConvertTo(c.movie, settings);
        ASSERT_EQ(converted.err, noErr);
        const Inspection& in = converted.inspection;
        ASSERT_TRUE(in.hasAudio);
        EXPECT_NEAR(static_cast<double>(in.streams[0].shDuration), static_cast<double>(in.streams[1].shDuration), 10.0);
        const DecodedSound sound = SoundOf(converted.bytes);
        ASSERT_EQ(sound.err, noErr);
        EXPECT_NEAR(sound.Seconds(), c.seconds, 0.15);
        EXPECT_NEAR(TonePitch(sound.samples, sound.channels, sound.rate), 440.0, 5.0);
    }
}

namespace {

// Writes bits most significant first.
class BitWriter {
public:
    void Put(std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (bits_ % 8 == 0) bytes.push_back(0);
            if ((v >> i) & 1u) bytes.back() |= static_cast<std::uint8_t>(0x80u >> (bits_ % 8));
            ++bits_;
        }
    }
    std::vector<std::uint8_t> bytes;

private:
    std::size_t bits_ = 0;
};

// A valid frame of random content: Layer I (layer 0) at 384 kbit/s or
// Layer II (layer 1) at 192 kbit/s (allocation table B.2b at 44100 Hz),
// mono, stereo or joint stereo; allocations lowered at random until the
// frame holds them.
std::vector<std::uint8_t> RandomFrame(int layer, int mode, int modeExtension, std::mt19937& random,
                                      const std::vector<std::uint32_t>& tables) {
    const std::uint32_t bitRateIndex = layer == 0 ? 12 : 10;
    const std::uint32_t word = 0xFFF00000u | 1u << 19 | static_cast<std::uint32_t>(3 - layer) << 17 | 1u << 16 |
                               bitRateIndex << 12 | static_cast<std::uint32_t>(mode) << 6 | static_cast<std::uint32_t>(modeExtension) << 4;
    MpegHeader h;
    EXPECT_TRUE(ParseMpegHeader(word, tables, h));
    const int channels = h.channels;
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    const int sblimit = layer == 0 ? 32 : 30;
    const int bound = mode == 1 ? 4 + 4 * modeExtension : sblimit;
    const int nbal[30] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2};
    const int steps[4][16] = {{0, 3, 7, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535},
                              {0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 65535},
                              {0, 3, 5, 7, 9, 15, 31, 65535},
                              {0, 3, 5, 65535}};
    auto row = [](int sb) { return sb < 3 ? 0 : sb < 11 ? 1 : sb < 23 ? 2 : 3; };
    auto allocBits = [&](int sb) { return layer == 0 ? 4 : nbal[sb]; };
    // Layer II codes three samples of 3, 5 or 9 levels as one grouped word,
    // other counts as three words of the bits the levels need.
    auto grouped = [](int levels) { return levels == 3 ? 5 : levels == 5 ? 7 : levels == 9 ? 10 : 0; };
    auto bitsFor = [](int levels) { int bits = 0; while ((1 << bits) < levels) ++bits; return bits; };
    // Bits of 12 samples (Layer I) or 12 granules of three (Layer II).
    auto sampleBits = [&](int sb, int a) {
        if (a == 0) return 0;
        if (layer == 0) return 12 * (a + 1);
        const int levels = steps[row(sb)][a];
        return 12 * (grouped(levels) ? grouped(levels) : 3 * bitsFor(levels));
    };
    auto scaleFactors = [](int scfsi) { return scfsi == 0 ? 3 : scfsi == 2 ? 1 : 2; };
    int alloc[2][32] = {}, scfsi[2][32] = {};
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < channels; ++ch) {
            alloc[ch][sb] = sb >= bound && ch == 1 ? alloc[0][sb] : pick(layer == 0 ? 15 : 1 << nbal[sb]);
            scfsi[ch][sb] = pick(4);
        }
    auto total = [&]() {
        int bits = 32;
        for (int sb = 0; sb < sblimit; ++sb)
            for (int ch = 0; ch < channels; ++ch) {
                if (sb < bound || ch == 0) bits += allocBits(sb) + sampleBits(sb, alloc[ch][sb]);
                if (alloc[ch][sb]) bits += layer == 0 ? 6 : 2 + 6 * scaleFactors(scfsi[ch][sb]);
            }
        return bits;
    };
    while (total() > h.frameLength * 8) {
        const int sb = pick(sblimit), ch = pick(channels);
        if (alloc[ch][sb] == 0) continue;
        --alloc[ch][sb];
        if (sb >= bound) alloc[1 - ch][sb] = alloc[ch][sb];
    }
    BitWriter w;
    w.Put(word, 32);
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < (sb < bound ? channels : 1); ++ch) w.Put(static_cast<std::uint32_t>(alloc[ch][sb]), allocBits(sb));
    if (layer == 1)
        for (int sb = 0; sb < sblimit; ++sb)
            for (int ch = 0; ch < channels; ++ch)
                if (alloc[ch][sb]) w.Put(static_cast<std::uint32_t>(scfsi[ch][sb]), 2);
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < channels; ++ch)
            if (alloc[ch][sb])
                for (int k = 0; k < (layer == 0 ? 1 : scaleFactors(scfsi[ch][sb])); ++k) w.Put(static_cast<std::uint32_t>(pick(50) + 8), 6);
    for (int g = 0; g < 12; ++g)
        for (int sb = 0; sb < sblimit; ++sb)
            for (int ch = 0; ch < (sb < bound ? channels : 1); ++ch) {
                const int a = alloc[ch][sb];
                if (a == 0) continue;
                const int levels = layer == 0 ? (1 << (a + 1)) - 1 : steps[row(sb)][a]; // Layer I: never all ones
                if (layer == 0) w.Put(static_cast<std::uint32_t>(pick(levels)), a + 1);
                else if (grouped(levels)) w.Put(static_cast<std::uint32_t>(pick(levels * levels * levels)), grouped(levels));
                else for (int k = 0; k < 3; ++k) w.Put(static_cast<std::uint32_t>(pick(levels)), bitsFor(levels));
            }
    EXPECT_LE(w.bytes.size(), static_cast<std::size_t>(h.frameLength));
    w.bytes.resize(static_cast<std::size_t>(h.frameLength), 0);
    return w.bytes;
}

} // namespace

TEST(MpegAudio, RandomFramesOfEveryModeDecodeLikeLibavcodec) {
    // Every allocation, grouping, scale-factor selection and the joint
    // stereo bound, which encoders at hand never all produce: random but
    // valid frames of Layer I (no encoder makes those) and Layer II.
    const auto tables = Tables();
    std::mt19937 random(2026);
    for (int layer : {0, 1})
        for (const auto& [mode, extension] : {std::pair{3, 0}, std::pair{0, 0}, std::pair{1, 0}, std::pair{1, 3}}) {
            SCOPED_TRACE(testing::Message() << "layer " << (layer ? "II" : "I") << " mode " << mode << "/" << extension);
            std::vector<std::vector<std::uint8_t>> frames;
            for (int f = 0; f < 20; ++f) frames.push_back(RandomFrame(layer, mode, extension, random, tables));
            DecodesLikeLibavcodec(frames, tables);
        }
}

TEST(MpegSystem, TwoConversionsAtOnceEachHaveTheirSound) {
    // Two MPEG-1 movies converted on two threads at once: each instance of
    // the engine shares the decoder's tables with the other and reads its
    // table files of its own; both come out as one conversion alone does.
    const auto clip = Mpeg1Program();
    ExportSettings settings;
    SetFirstPresetSettings(settings);
    auto undated = [](Converted c) {
        EXPECT_EQ(c.err, noErr);
        if (c.bytes.size() > 44) std::fill(c.bytes.begin() + 36, c.bytes.begin() + 44, std::uint8_t{0}); // the dates
        return c.bytes;
    };
    const auto alone = undated(ConvertTo(clip, settings));
    Converted together[2];
    std::thread first([&] { together[0] = ConvertTo(clip, settings); });
    std::thread second([&] { together[1] = ConvertTo(clip, settings); });
    first.join();
    second.join();
    for (Converted& c : together) EXPECT_TRUE(undated(std::move(c)) == alone);
}
