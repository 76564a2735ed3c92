#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <vector>

#include "audio/adpcm.h"
#include "platform/media.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"

namespace {

std::vector<std::int16_t> Tone(std::size_t n, double hz, double rate, double amplitude) {
    std::vector<std::int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * hz * i / rate));
    return s;
}

// Codes every block of 256 and decodes it again.
std::vector<std::int16_t> AdpcmRoundTrip(std::vector<std::int16_t> samples, int bits) {
    std::vector<std::int16_t> out(samples.size());
    std::uint8_t block[162];
    for (std::size_t at = 0; at + 256 <= samples.size(); at += 256) {
        const std::uint32_t n = EncodeAdpcmBlock(samples.data() + at, 256, bits, block, 1.0f);
        EXPECT_EQ(n, AdpcmBlockBytes(256, bits));
        EXPECT_EQ(DecodeAdpcmBlock({block, n}, 256, out.data() + at), noErr);
    }
    return out;
}

} // namespace

TEST(Adpcm, BlockLayoutAndInitialIndex) {
    std::vector<std::int16_t> same(256, 1000);
    std::uint8_t block[162] = {};
    ASSERT_EQ(EncodeAdpcmBlock(same.data(), 256, 4, block, 1.0f), 130u);
    EXPECT_EQ(block[0], 0x80);                 // width 4 - 2 = 2, index 0
    EXPECT_EQ(block[1], static_cast<std::uint8_t>(1000 >> 8));
    for (int i = 2; i < 130; ++i) EXPECT_EQ(block[i], 0) << i; // step 7 >> 3 is 0: the predictor never moves
    EXPECT_EQ(EncodeAdpcmBlock(same.data(), 256, 2, block, 1.0f), 66u);
    EXPECT_EQ(block[0] >> 6, 0);

    // A falling second sample: the index follows the size of the drop (50 -> step 50 at 20).
    std::vector<std::int16_t> falling(256, 0);
    falling[0] = 100, falling[1] = 50;
    (void)EncodeAdpcmBlock(falling.data(), 256, 4, block, 1.0f);
    EXPECT_EQ(block[0] & 0x3F, 20);
    // Larger than every step up to index 62: 63.
    std::vector<std::int16_t> leap(256, 0);
    leap[0] = -32768, leap[1] = 32767;
    (void)EncodeAdpcmBlock(leap.data(), 256, 4, block, 1.0f);
    EXPECT_EQ(block[0] & 0x3F, 63);
    // A first sample of -1 stores the high byte 0xFF.
    std::vector<std::int16_t> minusOne(256, -1);
    (void)EncodeAdpcmBlock(minusOne.data(), 256, 4, block, 1.0f);
    EXPECT_EQ(block[1], 0xFF);
    EXPECT_EQ(EncodeAdpcmBlock(minusOne.data(), 0, 4, block, 1.0f), 0u);
}

TEST(Adpcm, FullScaleSquareNeverWrapsAround) {
    // A predictor that overflowed instead of saturating would flip to the
    // other extreme: once each half period has settled, the decoded sound
    // keeps the square's sign and reaches full scale.
    std::vector<std::int16_t> square(256 * 8);
    for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 16) % 2 ? 32767 : -32768;
    for (int bits : {2, 4}) {
        SCOPED_TRACE(bits);
        const auto decoded = AdpcmRoundTrip(square, bits);
        ASSERT_EQ(decoded.size(), square.size());
        int loudest = 0;
        for (std::size_t i = 256; i < square.size(); ++i) {
            loudest = std::max(loudest, std::abs(int{decoded[i]}));
            if (i % 16 >= 12 && i % 256 >= 64) {
                EXPECT_EQ(decoded[i] > 0, square[i] > 0) << i;
            }
        }
        EXPECT_GT(loudest, 30000);
    }
    EXPECT_GT(Snr(square, AdpcmRoundTrip(square, 4)), 5.0);
}

TEST(Adpcm, BoostClipsBeforeQuantising) {
    EXPECT_EQ(BoostSample(20000, 2.5f), 32767);
    EXPECT_EQ(BoostSample(-20000, 2.5f), -32768);
    EXPECT_EQ(BoostSample(1001, 1.5f), 1501);
    EXPECT_EQ(BoostSample(-1001, 1.5f), -1501); // truncated toward zero
    std::vector<std::int16_t> loud = Tone(256, 440, 8000, 32767);
    std::uint8_t block[162];
    (void)EncodeAdpcmBlock(loud.data(), 256, 4, block, 4.0f);
    for (std::size_t i = 1; i < loud.size(); ++i) {
        // A boosted full-scale sine never wraps: it keeps its sign.
        const double original = 32767 * std::sin(2 * M_PI * 440 * i / 8000);
        if (std::abs(original) > 100) {
            EXPECT_EQ(loud[i] > 0, original > 0) << i;
        }
    }
}

TEST(Yamaha, SilenceAlternatesAndOddCounts) {
    YamahaState state;
    std::vector<std::int16_t> silence(64, 0);
    std::uint8_t out[32] = {};
    std::uint32_t capacity = 32;
    ASSERT_EQ(EncodeYamahaBlock(silence.data(), 128, out, capacity, true, 1.0f, state), 1);
    EXPECT_EQ(capacity, 32u);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(out[i], 0x80) << i; // codes 0 then 8
    EXPECT_EQ(state.step, 127);
    EXPECT_EQ(state.predictor, 0);
    // Odd counts: the last byte holds one code.
    std::vector<std::int16_t> three = {0, 0, 0};
    std::uint8_t small[2] = {0xAA, 0xAA};
    capacity = 1;
    EXPECT_EQ(EncodeYamahaBlock(three.data(), 6, small, capacity, true, 1.0f, state), 0); // no room
    EXPECT_EQ(small[0], 0xAA);
    capacity = 2;
    ASSERT_EQ(EncodeYamahaBlock(three.data(), 6, small, capacity, true, 1.0f, state), 1);
    EXPECT_EQ(capacity, 2u);
    EXPECT_EQ(small[1], 0x00); // code 0 in the low nibble, high nibble clear
    EXPECT_EQ(state.predictor, 15);
}

TEST(Yamaha, AResetForgetsWhatALoudBlockLeft) {
    // After a loud block the state is far from its start; a reset must bring
    // back both the step and the predictor, so the next block codes exactly
    // as it would from a fresh state.
    std::vector<std::int16_t> loud(64), quiet(64);
    for (int i = 0; i < 64; ++i) {
        loud[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i < 32 ? 30000 : 20000 - 400 * i);
        quiet[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(100 * (i % 7) - 300);
    }
    YamahaState used, fresh;
    std::uint8_t out[32], expected[32];
    std::uint32_t capacity = 32;
    ASSERT_EQ(EncodeYamahaBlock(loud.data(), 128, out, capacity, true, 1.0f, used), 1);
    ASSERT_NE(used.predictor, 0);
    ASSERT_NE(used.step, 127);
    capacity = 32;
    ASSERT_EQ(EncodeYamahaBlock(quiet.data(), 128, out, capacity, true, 1.0f, used), 1);
    capacity = 32;
    ASSERT_EQ(EncodeYamahaBlock(quiet.data(), 128, expected, capacity, true, 1.0f, fresh), 1);
    EXPECT_TRUE(std::equal(out, out + 32, expected));
    EXPECT_EQ(used.predictor, fresh.predictor);
    EXPECT_EQ(used.step, fresh.step);
}

TEST(Yamaha, LibavcodecDecodesOurStream) {
    // Two seconds of a tone at 8000 Hz, coded block by block as the writer does.
    const std::size_t count = 16000;
    const auto source = Tone(count, 440, 8000, 12000);
    std::vector<std::uint8_t> stream(count / 2);
    YamahaState state;
    for (std::size_t at = 0; at < count; at += 64) {
        std::uint32_t capacity = 32;
        ASSERT_EQ(EncodeYamahaBlock(source.data() + at, 128, stream.data() + at / 2, capacity, at == 0, 1.0f, state), 1);
    }
    std::vector<std::int16_t> ours(count);
    YamahaState decoding;
    DecodeYamaha(stream, count, ours.data(), decoding);
    EXPECT_GT(Snr(source, ours), 12.0);

    // The same codes in a WAV file of Yamaha ADPCM (format tag 0x20).
    std::filesystem::create_directories(FixtureFolder()); // this may be the run's first fixture
    const auto wav = FixtureFolder() / "yamaha.wav";
    {
        std::ofstream f(wav, std::ios::binary);
        auto u32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
        f << "RIFF";
        u32(36 + static_cast<std::uint32_t>(stream.size()));
        f << "WAVEfmt ";
        u32(16);
        u16(0x20), u16(1), u32(8000), u32(4000), u16(1), u16(4);
        f << "data";
        u32(static_cast<std::uint32_t>(stream.size()));
        f.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    Movie movie;
    ASSERT_EQ(Movie::Open(wav, movie), noErr);
    std::unique_ptr<SoundSource> sound;
    ASSERT_EQ(movie.NewSoundSource(movie.FindTrack(kSoundMediaType), sound), noErr);
    std::vector<std::int16_t> theirs;
    SoundChunk chunk;
    while (sound->GetChunk(chunk) == noErr) {
        ASSERT_EQ(chunk.description.format, kSoundS16);
        const auto* s = reinterpret_cast<const std::int16_t*>(chunk.data.data());
        theirs.insert(theirs.end(), s, s + chunk.sampleCount);
    }
    ASSERT_EQ(theirs.size(), count);
    // libavcodec computes each step's delta in one rounding, we in four: close,
    // not equal (within 1 % of full scale, and far closer on average).
    int worst = 0;
    for (std::size_t i = 0; i < count; ++i) worst = std::max(worst, std::abs(theirs[i] - ours[i]));
    EXPECT_LE(worst, 328);
    EXPECT_GT(Snr(ours, theirs), 35.0);
    EXPECT_GT(Snr(source, theirs), 12.0);
}
