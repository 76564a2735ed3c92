#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/adpcm.h"
#include "audio/soundinput.h"
#include "moviedb/chunk.h"
#include "tests/movie_builder.h"

namespace {

// A sound-only writer for a format, rate, channels and samples per record.
OwnedMovieWriter SoundWriter(std::int32_t code, std::uint32_t rate, std::uint16_t channels, std::uint32_t perRecord,
                             std::uint16_t bits = 16) {
    auto w = NewWriter();
    WaveFormat format;
    format.channels = channels;
    format.sampleRate = rate;
    format.bitsPerSample = bits;
    EXPECT_EQ(SetSoundFormat(w.get(), format), noErr);
    EXPECT_EQ(SetAudioFormatCode(w.get(), code), noErr);
    EXPECT_EQ(SetWriterParameter(w.get(), kWriterSamplesPerRecord, perRecord), noErr);
    EXPECT_EQ(AttachSoundInput(w.get()), noErr);
    EXPECT_EQ(BeginMovie(w.get()), noErr);
    return w;
}

std::vector<std::uint8_t> ToneBytes(std::size_t frames, std::uint16_t channels, double rate) {
    std::vector<std::uint8_t> bytes(frames * channels * 2);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::uint16_t c = 0; c < channels; ++c) {
            const auto s = static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * (440 + 220 * c) * i / rate));
            bytes[(i * channels + c) * 2] = static_cast<std::uint8_t>(s);
            bytes[(i * channels + c) * 2 + 1] = static_cast<std::uint8_t>(s >> 8);
        }
    return bytes;
}

std::int16_t ReadLE16Sample(const std::uint8_t* p) { return static_cast<std::int16_t>(p[0] | p[1] << 8); }

struct AudioRecord {
    std::uint32_t frames, first, length;
    std::vector<std::uint8_t> data;
};

std::vector<AudioRecord> Records(const std::vector<std::uint8_t>& bytes) {
    Inspection in = InspectDatabase(bytes);
    EXPECT_TRUE(in.Valid()) << in.problem;
    std::vector<AudioRecord> out;
    for (const auto& r : in.records)
        for (const auto& c : r.chunks)
            if (c.tag == ChunkTag("au")) {
                const std::uint8_t* p = bytes.data() + c.offset;
                out.push_back({ReadBE32(p + 4), ReadBE32(p + 8), c.length, std::vector<std::uint8_t>(p + 16, p + c.length)});
            }
    return out;
}

// Feeds the samples in pieces of awkward sizes.
void Feed(MovieWriter* w, const std::vector<std::uint8_t>& bytes, std::uint32_t frameBytes) {
    const std::uint32_t frames = static_cast<std::uint32_t>(bytes.size() / frameBytes);
    std::uint32_t at = 0, piece = 1;
    while (at < frames) {
        const std::uint32_t n = std::min(piece, frames - at);
        ASSERT_EQ(WriteAudioSamples(w, bytes.data() + std::size_t{at} * frameBytes, n * frameBytes, n), noErr);
        at += n;
        piece = piece * 7 % 3001 + 13;
    }
}

} // namespace

TEST(SoundInput, AdpcmRecordsHoldWholeBlocksUpToTheRecordSize) {
    // 44100 Hz: a fifth of a second per record, not a multiple of 256: 35 blocks.
    auto w = SoundWriter(626, 44100, 1, 44100 / 5);
    Feed(w.get(), ToneBytes(44100, 1, 44100), 2);
    const auto records = Records(Finish(w.get()));
    ASSERT_GE(records.size(), 5u);
    EXPECT_EQ(records[0].frames, 8960u);
    EXPECT_EQ(records[0].length, 16u + 35 * 130);
    EXPECT_EQ(records[1].first, 8960u);
    // The last holds the rest, its padded block counted: 44100 = 172 blocks + 68 frames.
    std::uint32_t total = 0;
    for (const auto& r : records) total += r.frames;
    EXPECT_EQ(total, 173u * 256);
    EXPECT_EQ(records.back().frames % 256, 0u);

    // 8192 Hz: one second, 32 blocks.
    auto one = SoundWriter(628, 8192, 1, 8192);
    Feed(one.get(), ToneBytes(8192 * 2, 1, 8192), 2);
    const auto second = Records(Finish(one.get()));
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].frames, 8192u);
    EXPECT_EQ(second[0].length, 16u + 32 * 66);
}

TEST(SoundInput, StereoAdpcmIsLeftBlockThenRightBlock) {
    auto w = SoundWriter(626, 22050, 2, 22050);
    const auto tone = ToneBytes(512, 2, 22050);
    Feed(w.get(), tone, 4);
    const auto records = Records(Finish(w.get()));
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].data.size(), 4u * 130);
    for (int c = 0; c < 2; ++c) {
        std::vector<std::int16_t> channel(256);
        for (int i = 0; i < 256; ++i) channel[i] = ReadLE16Sample(tone.data() + (i * 2 + c) * 2);
        std::uint8_t expected[130];
        ASSERT_EQ(EncodeAdpcmBlock(channel.data(), 256, 4, expected, 1.0f), 130u);
        EXPECT_TRUE(std::equal(expected, expected + 130, records[0].data.begin() + 130 * c)) << c;
    }
}

TEST(SoundInput, UncompressedIsCopiedAndOddDataPadded) {
    // 8-bit mono of an odd length.
    auto w = SoundWriter(627, 8192, 1, 8192, 8);
    std::vector<std::uint8_t> bytes(1001);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 3);
    Feed(w.get(), bytes, 1);
    const auto records = Records(Finish(w.get()));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].frames, 1001u);
    EXPECT_EQ(records[0].length, 16u + 1001 + 1); // and a pad byte
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), records[0].data.begin()));
    // 16-bit stereo, a quarter second per record at 22050 Hz: bit-exact.
    auto stereo = SoundWriter(630, 22050, 2, 22050 / 4);
    const auto tone = ToneBytes(22050, 2, 22050);
    Feed(stereo.get(), tone, 4);
    std::vector<std::uint8_t> back;
    for (const auto& r : Records(Finish(stereo.get()))) {
        EXPECT_LE(r.frames, 5512u);
        back.insert(back.end(), r.data.begin(), r.data.end());
    }
    EXPECT_EQ(back, tone);
}

TEST(SoundInput, YamahaStateBelongsToEachConversion) {
    // Two conversions side by side give the same stream as one alone.
    const auto tone = ToneBytes(8000, 1, 8000);
    auto alone = SoundWriter(629, 8000, 1, 1600);
    Feed(alone.get(), tone, 2);
    const auto reference = Records(Finish(alone.get()));
    auto a = SoundWriter(629, 8000, 1, 1600);
    auto b = SoundWriter(629, 8000, 1, 1600);
    for (std::size_t at = 0; at < 8000; at += 800) {
        ASSERT_EQ(WriteAudioSamples(a.get(), tone.data() + at * 2, 1600, 800), noErr);
        ASSERT_EQ(WriteAudioSamples(b.get(), tone.data() + at * 2, 1600, 800), noErr);
    }
    const auto ra = Records(Finish(a.get())), rb = Records(Finish(b.get()));
    ASSERT_EQ(ra.size(), reference.size());
    for (std::size_t i = 0; i < ra.size(); ++i) {
        EXPECT_EQ(ra[i].data, reference[i].data);
        EXPECT_EQ(rb[i].data, reference[i].data);
    }
    EXPECT_EQ(reference[0].frames, 1600u);
    EXPECT_EQ(reference[0].length, 16u + 800);
}

TEST(SoundInput, RefusesWhatItCannotTake) {
    auto w = NewWriter();
    std::uint8_t byte = 0;
    EXPECT_EQ(WriteAudioSamples(w.get(), &byte, 1, 1), paramErr); // not begun
    auto s = SoundWriter(626, 8192, 1, 8192);
    EXPECT_EQ(WriteAudioSamples(s.get(), nullptr, 2, 1), paramErr);
    EXPECT_EQ(WriteAudioSamples(s.get(), &byte, 0, 1), paramErr);
    EXPECT_EQ(WriteAudioSamples(s.get(), &byte, 2, 0), paramErr);
    // "CLIÉ Audio" waits for its encoder.
    auto clie = NewWriter();
    WaveFormat format;
    format.sampleRate = 44100;
    ASSERT_EQ(SetSoundFormat(clie.get(), format), noErr);
    ASSERT_EQ(SetAudioFormatCode(clie.get(), 624), noErr);
    ASSERT_EQ(AttachSoundInput(clie.get()), noErr);
    EXPECT_EQ(BeginMovie(clie.get()), paramErr);
    EXPECT_EQ(SettleAtracBitRate(70000, true), 66000u);
    EXPECT_EQ(SettleAtracBitRate(40000, true), 33000u);
    EXPECT_EQ(SettleAtracBitRate(23501, true), 23500u);
    EXPECT_EQ(SettleAtracBitRate(16000, true), 11750u);
    EXPECT_EQ(SettleAtracBitRate(0, true), 33000u);
    EXPECT_EQ(SettleAtracBitRate(0, false), 66000u);
}
