#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/adpcm.h"
#include "audio/soundinput.h"
#include "moviedb/chunk.h"
#include "tools/inspect.h"
#include "tests/movie_builder.h"

namespace {

// A sound-only writer, begun (or its beginning answering `began`), for a
// format, rate, channels and samples per record, and any further parameters.
OwnedMovieWriter SoundWriter(std::int32_t code, std::uint32_t rate, std::uint16_t channels, std::uint32_t perRecord,
                             std::uint16_t bits = 16, std::initializer_list<std::pair<int, std::intptr_t>> parameters = {},
                             OSErr began = noErr) {
    auto w = NewWriter();
    WaveFormat format;
    format.channels = channels;
    format.sampleRate = rate;
    format.bitsPerSample = bits;
    EXPECT_EQ(SetSoundFormat(w.get(), format), noErr);
    EXPECT_EQ(SetAudioFormatCode(w.get(), code), noErr);
    EXPECT_EQ(SetWriterParameter(w.get(), kWriterSamplesPerRecord, perRecord), noErr);
    for (const auto& [selector, value] : parameters) EXPECT_EQ(SetWriterParameter(w.get(), selector, value), noErr);
    EXPECT_EQ(AttachSoundInput(w.get()), noErr);
    EXPECT_EQ(BeginMovie(w.get()), began);
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
    // The boost reaches the encoder: level 1 is times 1.5.
    auto boosted = SoundWriter(626, 22050, 1, 22050, 16, {{kWriterBoost, 1}});
    const auto mono = ToneBytes(256, 1, 22050);
    Feed(boosted.get(), mono, 2);
    std::vector<std::int16_t> channel(256);
    for (int i = 0; i < 256; ++i) channel[i] = ReadLE16Sample(mono.data() + i * 2);
    std::uint8_t louder[130];
    ASSERT_EQ(EncodeAdpcmBlock(channel.data(), 256, 4, louder, 1.5f), 130u);
    const auto loud = Records(Finish(boosted.get()));
    ASSERT_EQ(loud.size(), 1u);
    EXPECT_TRUE(std::equal(louder, louder + 130, loud[0].data.begin()));
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
    // A "CLIÉ Audio" channel mode the encoder does not know fails begin.
    (void)SoundWriter(624, 44100, 2, 7350, 16, {{kWriterAtracChannelMode, 3}}, paramErr);
    // No bit rate asked for: 33000 with pictures, else 66000 (others: ClieAudioSettlesModeAndBitRate).
    EXPECT_EQ(SettleAtracBitRate(0, true), 33000u);
    EXPECT_EQ(SettleAtracBitRate(0, false), 66000u);
}

namespace {

// A "CLIÉ Audio" writer: channels, channel mode and bit rate as configured.
OwnedMovieWriter ClieWriter(std::uint16_t channels, std::uint16_t mode, std::uint32_t bitRate, std::intptr_t boostLevel = 0) {
    return SoundWriter(624, 44100, channels, 7350, 16,
                       {{kWriterAtracChannelMode, mode}, {kWriterAtracBitRate, bitRate}, {kWriterBoost, boostLevel}});
}

} // namespace

TEST(SoundInput, ClieAudioRecordsHoldEightFramesOfTheTableSize) {
    // Mono at 33000 bit/s: 96-byte frames, 7350 samples a record makes 8
    // frames (8192 sample frames, a 768-byte body); the last record's
    // frames padded to a whole frame.
    auto w = ClieWriter(1, 1, 33000);
    Feed(w.get(), ToneBytes(3 * 8192 + 100, 1, 44100), 2);
    const auto bytes = Finish(w.get());
    const auto records = Records(bytes);
    ASSERT_EQ(records.size(), 4u);
    for (std::size_t r = 0; r < 3; ++r) {
        EXPECT_EQ(records[r].frames, 8192u);
        EXPECT_EQ(records[r].first, 8192u * r);
        EXPECT_EQ(records[r].data.size(), 768u);
    }
    EXPECT_EQ(records[3].frames, 1024u);
    EXPECT_EQ(records[3].data.size(), 96u);

    // The database's sound decodes back to the tone, delayed by the codec's
    // filter banks only.
    const auto samples = SoundOf(bytes).samples;
    EXPECT_EQ(samples.size(), 4u * 8192u - 7u * 1024u);
    double signal = 0, noise = 0;
    const auto tone = ToneBytes(3 * 8192, 1, 44100);
    for (std::size_t i = 4096; i < 3 * 8192 - 2048; ++i) {
        const double ref = ReadLE16Sample(tone.data() + 2 * i);
        const double got = samples[i + 1162];
        signal += ref * ref;
        noise += (got - ref) * (got - ref);
    }
    EXPECT_GT(10 * std::log10(signal / noise), 20.0);
}

TEST(SoundInput, ClieAudioSettlesModeAndBitRate) {
    struct Case {
        std::uint16_t channels, mode;
        std::uint32_t bitRate;
        std::uint16_t encodingChannels, settledMode, code, frameBytes;
    };
    const Case cases[] = {
        {2, 1, 66000, 1, 1, 66, 192},   // stereo mixed down into mono
        {2, 1, 70000, 1, 1, 66, 192},   // above the table: its top
        {2, 2, 16500, 2, 2, 24, 68},    // stereo needs at least 23500
        {2, 18, 23500, 2, 18, 33, 96},  // "Dual" needs at least 33000
        {2, 0, 47000, 2, 18, 47, 136},  // mode 0 with two channels: "Dual"
        {1, 2, 40000, 1, 1, 33, 96},    // one channel is always mono
        {1, 0, 16000, 1, 1, 12, 34},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, mode " << c.mode << ", " << c.bitRate);
        auto w = ClieWriter(c.channels, c.mode, c.bitRate);
        Feed(w.get(), ToneBytes(2048, c.channels, 44100), 2u * c.channels);
        const auto bytes = Finish(w.get());
        const Inspection in = InspectDatabase(bytes);
        ASSERT_TRUE(in.atrac);
        EXPECT_EQ(in.audioChannels, c.encodingChannels);
        EXPECT_EQ(in.atrac->first, c.settledMode);
        EXPECT_EQ(in.atrac->second, c.code);
        const auto records = Records(bytes);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].data.size(), 2u * c.frameBytes);
    }
}

TEST(SoundInput, ClieAudioMixdownAndBoostReachTheEncoder) {
    // Left and right in opposite phase mix down to silence; boosted, a quiet
    // tone decodes louder.
    const auto tone = ToneBytes(8192, 1, 44100);
    std::vector<std::uint8_t> opposite;
    for (std::size_t i = 0; i < 8192; ++i) {
        const auto n = static_cast<std::uint16_t>(-ReadLE16Sample(tone.data() + 2 * i));
        opposite.insert(opposite.end(), {tone[2 * i], tone[2 * i + 1], static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
    }
    auto energyOf = [](const std::vector<std::uint8_t>& bytes) {
        const DecodedSound sound = SoundOf(bytes);
        if (sound.err != noErr || sound.samples.size() < 6144) {
            ADD_FAILURE() << "no sound to measure";
            return 0.0;
        }
        double e = 0;
        for (std::size_t i = 2048; i < 6144; ++i) e += double(sound.samples[i]) * sound.samples[i];
        return e;
    };
    auto mixed = ClieWriter(2, 1, 66000);
    Feed(mixed.get(), opposite, 4);
    EXPECT_EQ(energyOf(Finish(mixed.get())), 0.0);

    auto plain = ClieWriter(1, 1, 66000);
    Feed(plain.get(), tone, 2);
    auto boosted = ClieWriter(1, 1, 66000, 1); // level 1: times 1.5
    Feed(boosted.get(), tone, 2);
    EXPECT_NEAR(std::sqrt(energyOf(Finish(boosted.get())) / energyOf(Finish(plain.get()))), 1.5, 0.05);
}
