// Our MPEG-1 Layer I/II decoder against libavcodec's on the same frames.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "import/mpegaudio.h"
#include "platform/files.h"
#include "platform/media.h"
#include "platform/resources.h"
#include "resources/application_resources.h"
#include "tests/media_fixtures.h"

namespace {

// The bit-rate and sampling-rate tables as the export component keeps them.
std::vector<std::uint32_t> Tables() {
    Resource probe;
    std::int16_t ref = 0;
    if (GetIndResource(Fcc("MPBR"), 1, probe) != noErr) EXPECT_EQ(OpenResourceFile(kApplicationResources, ref), noErr);
    Resource rates, samples;
    EXPECT_EQ(GetIndResource(Fcc("MPBR"), 1, rates), noErr);
    EXPECT_EQ(GetIndResource(Fcc("MPSR"), 1, samples), noErr);
    std::vector<std::uint32_t> t;
    for (std::size_t i = 0; i < 144; ++i) t.push_back(ReadBE32(rates.data.data() + 4 * i));
    for (std::size_t i = 0; i < 12; ++i) t.push_back(ReadBE32(samples.data.data() + 4 * i));
    return t;
}

std::vector<std::vector<std::uint8_t>> Frames(const std::filesystem::path& file, const std::vector<std::uint32_t>& tables) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
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
    struct Case {
        const char* name;
        const char* arguments;
    };
    const Case cases[] = {
        {"mp2-mono-32k.mp2", "-f lavfi -i sine=frequency=300:sample_rate=32000:duration=1 -c:a mp2 -b:a 64k -ac 1 -f mp2 %o"},
        {"mp2-stereo-44k.mp2", "-f lavfi -i anoisesrc=r=44100:a=0.3:d=1 -f lavfi -i sine=frequency=660:sample_rate=44100:duration=1 "
                               "-filter_complex amerge=inputs=2 -c:a mp2 -b:a 128k -f mp2 %o"},
        {"mp2-stereo-48k.mp2", "-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=1 -ac 2 -c:a mp2 -b:a 384k -f mp2 %o"},
        {"mp2-mono-48k-low.mp2", "-f lavfi -i sine=frequency=500:sample_rate=48000:duration=1 -ac 1 -c:a mp2 -b:a 32k -f mp2 %o"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MpegAudioDecoder decoder; // one per stream, as one per conversion
        ASSERT_EQ(decoder.Start(), noErr);
        const auto frames = Frames(MakeFixture(c.name, c.arguments), tables);
        ASSERT_GT(frames.size(), 10u);
        MpegHeader first;
        ASSERT_TRUE(ParseMpegHeader(ReadBE32(frames[0].data()), tables, first));
        SoundDecompressor reference;
        ASSERT_EQ(reference.Open(Fcc(".mp2"), static_cast<std::uint32_t>(first.sampleRate), static_cast<std::uint16_t>(first.channels), 0, {}), noErr);
        std::vector<float> theirs;
        std::vector<std::int16_t> ours;
        std::vector<std::int16_t> pcm(1152 * 2);
        for (const auto& f : frames) {
            ASSERT_EQ(reference.Decode(f, theirs), noErr);
            int count = 0;
            ASSERT_EQ(decoder.DecodeFrame(f, tables, count, pcm.data()), noErr);
            ASSERT_EQ(count, 1152);
            ours.insert(ours.end(), pcm.begin(), pcm.begin() + count * first.channels);
        }
        ASSERT_EQ(theirs.size(), ours.size());
        double worst = 0, sum = 0;
        for (std::size_t i = 0; i < ours.size(); ++i) {
            const double d = std::fabs(theirs[i] * 32768.0 - ours[i]);
            worst = std::max(worst, d);
            sum += d * d;
        }
        const double rms = std::sqrt(sum / static_cast<double>(ours.size())) / 32768.0;
        EXPECT_LE(worst, 2.0);
        EXPECT_LT(rms, 1.5e-5);
    }
}

TEST(MpegAudio, LayerThreeGivesNoSamplesAndTheTablesLeaveNoFiles) {
    const auto tables = Tables();
    const auto mp3 = Frames(MakeFixture("tone.mp3", std::string(kTestTone) + " -c:a libmp3lame %o"), tables);
    ASSERT_FALSE(mp3.empty());
    MpegAudioDecoder decoder;
    ASSERT_EQ(decoder.Start(), noErr);
    std::vector<std::int16_t> pcm(2304, 7);
    int count = -1;
    EXPECT_EQ(decoder.DecodeFrame(mp3.back(), tables, count, pcm.data()), noErr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(pcm[0], 7);
    // The tables went through files of their names in the temporary folder,
    // which are gone again.
    for (const char* name : {"alloc_0", "alloc_1", "alloc_2", "alloc_3", "dewindow"})
        EXPECT_FALSE(std::filesystem::exists(TemporaryFolder() / name)) << name;
    // A frame cut short cannot be decoded.
    const auto frames = Frames(MakeFixture("mp2-stereo-48k.mp2", "-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=1 -ac 2 -c:a mp2 -b:a 384k -f mp2 %o"), tables);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(decoder.DecodeFrame(std::span<const std::uint8_t>(frames[0].data(), 40), tables, count, pcm.data()), paramErr);
}
