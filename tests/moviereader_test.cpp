#include <gtest/gtest.h>

#include <algorithm>

#include "moviedb/chunk.h"
#include "moviedb/moviereader.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"
#include "video/graysdecoder.h"
#include "video/graysencoder.h"
#include "video/moviepictures.h"

namespace {

// Over 1000 key pictures and 1000 sound chunks, so each seek table holds
// every second one only; some pictures last no time (sharing their start
// with the next) and some sound chunks hold no frames.
std::vector<std::uint8_t> LongTableMovie(std::span<const std::uint8_t> imageBlock) {
    auto w = NewWriter();
    ConfigureVideo(w.get());
    ConfigureSound(w.get());
    LayoutItem image;
    image.kind = 3;
    image.imageBlock = imageBlock;
    EXPECT_EQ(SetLayoutItem(w.get(), image), noErr);
    EXPECT_EQ(SetWriterParameter(w.get(), kWriterRotation, 90), noErr);
    EXPECT_EQ(BeginMovie(w.get()), noErr);
    std::uint32_t frames = 0;
    for (std::uint32_t i = 0; i < 2100; ++i) {
        EXPECT_EQ(WriteVideoChunk(w.get(), FrameData(10, i), 8, i % 2 == 1, i % 7 == 3 ? 0 : 10), noErr);
        if (i % 2 == 0) {
            const std::uint32_t count = i % 9 == 4 ? 0 : 16;
            EXPECT_EQ(WriteAudioRecord(w.get(), FrameData(8, i), count, frames), noErr);
            frames += count;
        }
    }
    return Finish(w.get());
}

// A picture decoded from `from` up to `index`, onto a blank one.
std::vector<std::uint8_t> DecodeRun(const MovieReader& reader, std::size_t from, std::size_t index) {
    const MovieDatabase& db = reader.Database();
    std::vector<std::uint8_t> picture(std::size_t{grays::RowBytes(db.pictureWidth)} * db.pictureHeight, 0);
    for (std::size_t i = from; i <= index; ++i)
        EXPECT_EQ(DecodeGraysFrame(reader.Pictures()[i].payload, db.pictureWidth, db.pictureHeight, picture), noErr);
    return picture;
}

} // namespace

TEST(MovieReader, SeekingToAKeyPictureThenDecodingForwardShowsWhatPlayingFromTheStartShows) {
    // A scrambled conversion: the pictures are read from the unscrambled bytes.
    ExportSettings s = TestSettings(kDepthSixteenGrays, IntToFixed(10), kSoundAdpcm2to1);
    ASSERT_EQ(s.scramblingKey.Resize(512), noErr);
    for (std::size_t i = 0; i < 512; ++i) s.scramblingKey.Data()[i] = static_cast<std::uint8_t>(i * 37 + 11);
    s.hasScramblingKey = true;
    const auto converted = ConvertTo(Mp4(), s);
    ASSERT_EQ(converted.err, noErr);
    const std::span<const std::uint8_t> key(s.scramblingKey.Data(), 512);
    const MovieReader reader(converted.bytes, key);
    ASSERT_TRUE(reader.Playable()) << reader.Database().problem;
    ASSERT_EQ(reader.Pictures().size(), 20u);

    std::vector<std::uint8_t> playing(std::size_t{grays::RowBytes(160)} * 120, 0);
    bool skipped = false;
    for (std::size_t n = 0; n < reader.Pictures().size(); ++n) {
        ASSERT_EQ(DecodeGraysFrame(reader.Pictures()[n].payload, 160, 120, playing), noErr);
        std::size_t from = 0;
        ASSERT_EQ(reader.KeyFrameAtOrBefore(n, from), noErr);
        ASSERT_LE(from, n);
        skipped = skipped || from > 0;
        EXPECT_EQ(DecodeRun(reader, from, n), playing) << "picture " << n;
        std::vector<std::uint8_t> gray(160 * 120), expected(160 * 120);
        std::uint32_t width = 0, height = 0;
        ASSERT_EQ(DecodeGraysFrameOf(converted.bytes, key, static_cast<std::uint32_t>(n), gray, width, height), noErr);
        GraysToGrayBytes(playing, 160, 120, expected);
        EXPECT_EQ(gray, expected) << "picture " << n;
    }
    // The player's decoder shows the same grays, whichever picture it is asked for first.
    MoviePictureDecoder decoder;
    ASSERT_EQ(decoder.Open(reader), noErr);
    for (std::size_t n : {17u, 4u, 5u, 19u}) {
        FrameBuffer shown;
        ASSERT_EQ(decoder.Decode(n, shown), noErr);
        std::vector<std::uint8_t> gray(160 * 120);
        std::uint32_t width = 0, height = 0;
        ASSERT_EQ(DecodeGraysFrameOf(converted.bytes, key, static_cast<std::uint32_t>(n), gray, width, height), noErr);
        for (std::size_t i = 0; i < gray.size(); i += 97) EXPECT_EQ(shown.Pixels()[4 * i + 1], gray[i]) << n << " " << i;
    }
    EXPECT_TRUE(skipped); // a later key picture, not always the first
}

TEST(MovieReader, SeekTablesOfEverySecondChunkFindWhatALinearWalkFinds) {
    const std::vector<std::uint8_t> block = {0, 0, 0, 10, 1, 2, 3, 4, 5, 6};
    const MovieReader reader(LongTableMovie(block));
    ASSERT_TRUE(reader.Playable()) << reader.Database().problem;
    ASSERT_EQ(reader.Database().streams[0].seek.size(), 525u);
    ASSERT_EQ(reader.Database().streams[1].seek.size(), 525u);
    EXPECT_EQ(reader.Rotation(), 90);
    ASSERT_EQ(reader.LayoutItems().size(), 1u);
    EXPECT_EQ(reader.LayoutItems()[0].values[5], 3);
    EXPECT_TRUE(std::ranges::equal(reader.LayoutItems()[0].picture, std::span(block).subspan(4)));

    const auto pictures = reader.Pictures();
    ASSERT_EQ(pictures.size(), 2100u);
    std::size_t lastKey = 0;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        if (pictures[i].key) lastKey = i;
        std::size_t key = 0, at = 0;
        ASSERT_EQ(reader.KeyFrameAtOrBefore(i, key), noErr);
        EXPECT_EQ(key, lastKey) << "picture " << i;
        if (pictures[i].duration == 0) continue; // never shows
        ASSERT_EQ(reader.PictureAt(pictures[i].start, at), noErr);
        EXPECT_EQ(at, i);
        ASSERT_EQ(reader.PictureAt(pictures[i].start + pictures[i].duration - 1, at), noErr);
        EXPECT_EQ(at, i);
    }

    const auto sounds = reader.Sounds();
    std::size_t holding = 0;
    for (std::uint64_t frame = 0; frame < reader.Database().streams[1].durationSum; frame += 5) {
        while (sounds[holding].firstFrame + sounds[holding].frames <= frame) ++holding;
        std::size_t at = 0;
        ASSERT_EQ(reader.SoundChunkAt(frame, at), noErr);
        EXPECT_EQ(at, holding) << "frame " << frame;
    }
    std::size_t at = 0;
    EXPECT_EQ(reader.SoundChunkAt(reader.Database().streams[1].durationSum, at), paramErr);
}

TEST(MovieReader, ADamagedSeekEntryIsAProblemNotAPlace) {
    const std::vector<std::uint8_t> block = {0, 0, 0, 4};
    const auto good = LongTableMovie(block);
    const MovieReader plain(good);
    std::size_t pt = 0, at = 0;
    for (const MovieChunk& c : plain.Database().records[0].chunks) {
        if (c.tag == ChunkTag("pt")) pt = c.offset + kChunkHeaderSize;
        if (c.tag == ChunkTag("at")) at = c.offset + kChunkHeaderSize;
    }
    ASSERT_NE(pt * at, 0u);
    const struct {
        const char* name;
        std::size_t at; // of the 16-bit value in the file
        std::uint16_t value;
    } cases[] = {
        {"picture entry inside a chunk", pt + 8 * 7 + 6, static_cast<std::uint16_t>(ReadBE16(good.data() + pt + 8 * 7 + 6) + 2)},
        {"picture entry past the last record", pt + 8 * 7 + 4, 0x7FFF},
        {"sound entry past its record's end", at + 8 * 3 + 6, 0xFFFE},
    };
    for (const auto& c : cases) {
        auto bytes = good;
        WriteBE16(bytes.data() + c.at, c.value);
        const MovieReader reader(bytes);
        EXPECT_NE(reader.Database().problem.find("does not point at a chunk"), std::string::npos) << c.name;
        EXPECT_FALSE(reader.Playable());
        EXPECT_TRUE(reader.Pictures().empty());
        std::size_t index = 0;
        EXPECT_EQ(reader.KeyFrameAtOrBefore(0, index), paramErr) << c.name;
        EXPECT_EQ(reader.PictureAt(0, index), paramErr) << c.name;
        EXPECT_EQ(reader.SoundChunkAt(0, index), paramErr) << c.name;
    }
}

TEST(MovieReader, CinepakPicturesDecodeAlikeInAnyOrder) {
    const ExportSettings s = TestSettings(kDepthCinepakMobile, IntToFixed(10));
    // The second chapter starts with a key picture: seeking past it starts there.
    const auto converted = ConvertTo(MovWithChapters(), s);
    ASSERT_EQ(converted.err, noErr);
    const MovieReader reader(converted.bytes);
    std::size_t key = 0;
    ASSERT_EQ(reader.KeyFrameAtOrBefore(19, key), noErr);
    EXPECT_EQ(key, 10u);
    MoviePictureDecoder playing, seeking;
    ASSERT_EQ(playing.Open(reader), noErr);
    ASSERT_EQ(seeking.Open(reader), noErr);
    std::vector<std::vector<std::uint8_t>> shown;
    for (std::size_t n = 0; n < playing.Count(); ++n) {
        FrameBuffer picture;
        ASSERT_EQ(playing.Decode(n, picture), noErr);
        shown.emplace_back(picture.Pixels(), picture.Pixels() + picture.RowBytes() * picture.Height());
    }
    ASSERT_EQ(shown.size(), 20u);
    EXPECT_NE(shown[0], shown[19]);
    for (std::size_t n : {12u, 3u, 4u, 19u, 0u}) {
        FrameBuffer picture;
        ASSERT_EQ(seeking.Decode(n, picture), noErr);
        EXPECT_EQ(std::vector<std::uint8_t>(picture.Pixels(), picture.Pixels() + picture.RowBytes() * picture.Height()), shown[n]) << n;
    }
    FrameBuffer none;
    EXPECT_EQ(seeking.Decode(20, none), paramErr);
}
