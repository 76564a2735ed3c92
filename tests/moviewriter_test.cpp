#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "moviedb/chunk.h"
#include "moviedb/pdb.h"
#include "tests/movie_builder.h"
#include "tests/test_folder.h"

namespace {

constexpr std::uint16_t kFr = ChunkTag("fr");
constexpr std::uint16_t kAu = ChunkTag("au");

Inspection InspectValid(const std::vector<std::uint8_t>& bytes, std::span<const std::uint8_t> key = {}) {
    Inspection in = InspectDatabase(bytes, key);
    EXPECT_TRUE(in.Valid()) << in.problem;
    return in;
}

} // namespace

TEST(MovieWriter, RecordListNameAndDates) {
    // Frames too big to share a record: three records, the name cut to 31 bytes.
    auto w = BegunVideoWriter("A name of exactly forty characters long!");
    for (std::uint32_t i = 0; i < 3; ++i) ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(40000, i), 8, false, 10), noErr);
    const std::uint32_t before = static_cast<std::uint32_t>(std::time(nullptr)) + kPalmEpochOffset;
    const auto bytes = Finish(w.get());
    const std::uint32_t after = static_cast<std::uint32_t>(std::time(nullptr)) + kPalmEpochOffset;
    PdbHeader header;
    std::vector<PdbRecordEntry> list;
    ASSERT_EQ(ParsePdb(bytes, header, list), noErr);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].offset, 104u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(list[i].uniqueID, 0xA48000u + i);
        EXPECT_EQ(list[i].attributes, 0x40);
    }
    EXPECT_EQ(bytes[102], 0); // the gap
    EXPECT_EQ(bytes[103], 0);
    EXPECT_EQ(header.version, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data())), "A name of exactly forty charact");
    const std::uint32_t created = ReadBE32(bytes.data() + 36);
    EXPECT_EQ(ReadBE32(bytes.data() + 40), created);
    EXPECT_GE(created, before);
    EXPECT_LE(created, after);
    EXPECT_EQ(ReadBE32(bytes.data() + 44), 0u); // never backed up
    InspectValid(bytes);
}

TEST(MovieWriter, ReadingInPiecesEqualsReadingWhole) {
    std::array<std::uint8_t, 512> key;
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 13 + 1);
    for (bool scrambled : {false, true}) {
        auto w = NewWriter();
        ConfigureVideo(w.get());
        ConfigureSound(w.get());
        if (scrambled) {
            ASSERT_EQ(SetWriterParameter(w.get(), kWriterScramblingKey, reinterpret_cast<std::intptr_t>(key.data())), noErr);
        }
        ASSERT_EQ(BeginMovie(w.get()), noErr);
        for (std::uint32_t i = 0; i < 60; ++i) {
            ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(3001 + i, i), 8, i % 12 != 0, 10), noErr);
            if (i % 2 == 0) {
                ASSERT_EQ(WriteAudioRecord(w.get(), FrameData(801, i), 1600, 1600 * (i / 2)), noErr);
            }
        }
        const auto whole = Finish(w.get());
        // Backwards, in odd sizes: pieces across every boundary, in any order.
        std::vector<std::uint8_t> backwards(whole.size());
        for (std::uint32_t end = static_cast<std::uint32_t>(whole.size()); end > 0;) {
            const std::uint32_t n = std::min<std::uint32_t>(777, end);
            ASSERT_EQ(ReadDatabase(w.get(), backwards.data() + end - n, end - n, n), noErr);
            end -= n;
        }
        EXPECT_EQ(backwards, whole);
        InspectValid(whole, scrambled ? std::span<const std::uint8_t>(key) : std::span<const std::uint8_t>());
        // Without the key the media bytes are noise to the inspector.
        if (scrambled) {
            EXPECT_FALSE(InspectDatabase(whole).mediaChecked);
        }
    }
}

TEST(MovieWriter, OddFrameGetsAPadByteAndFlagAndBlankMetadataNoChunk) {
    auto w = NewWriter();
    ConfigureVideo(w.get());
    ASSERT_EQ(SetMetadataString(w.get(), 1, "   "), noErr);
    ASSERT_EQ(SetMetadataString(w.get(), 2, nullptr), noErr);
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    ASSERT_EQ(WriteVideoChunk(w.get(), std::vector<std::uint8_t>(1001, 0xFF), 8, true, 10), noErr);
    const auto bytes = Finish(w.get());
    Inspection in = InspectValid(bytes);
    const InspectedChunk* fr = FindChunk(in, kFr);
    ASSERT_NE(fr, nullptr);
    EXPECT_EQ(fr->length, 1010u);
    EXPECT_EQ(bytes[fr->offset + 4], 8);    // encoding
    EXPECT_EQ(bytes[fr->offset + 5], 0x5);  // pad byte and difference frame
    EXPECT_EQ(bytes[fr->offset + 1009], 0); // the pad byte
    EXPECT_EQ(bytes[fr->offset + 1008], 0xFF);
    EXPECT_EQ(in.movieKind, 4); // one frame, no sound
    EXPECT_EQ(FindChunk(in, ChunkTag("md")), nullptr);
    EXPECT_TRUE(in.metadata.empty());
}

TEST(MovieWriter, SeekTablesFollowTheStepRule) {
    struct Case {
        std::uint32_t keyFrames, step, entries;
    };
    for (Case c : {Case{999, 1, 999}, Case{1000, 2, 500}, Case{2500, 3, 833}}) {
        auto w = BegunVideoWriter();
        // A difference frame after each key frame: the table must skip them.
        for (std::uint32_t i = 0; i < c.keyFrames; ++i) {
            ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(2, i), 8, false, 10), noErr);
            ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(4, i), 8, true, 10), noErr);
        }
        const auto bytes = Finish(w.get());
        Inspection in = InspectValid(bytes);
        ASSERT_EQ(in.streams[0].seek.size(), c.entries) << c.keyFrames;
        // Entry k points at key frame k * step, which starts at 20 × that in hundredths.
        EXPECT_EQ(in.streams[0].seek[1].time, 20u * c.step);
        EXPECT_EQ(in.streams[0].seek.back().time, 20u * c.step * (c.entries - 1));
        EXPECT_EQ(in.streams[1].seek.size(), 0u);
    }
}

TEST(MovieWriter, OversizeSoundChunkStartsAFreshRecord) {
    auto w = NewWriter();
    ConfigureSound(w.get(), 22050, 630, 2);
    // About 2000 bytes of header: a long title.
    const std::string title(1900, 'T');
    ASSERT_EQ(SetMetadataString(w.get(), 1, title.c_str()), noErr);
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    ASSERT_EQ(WriteAudioRecord(w.get(), FrameData(63000 - 16, 1), 15746, 0), noErr);
    const auto bytes = Finish(w.get());
    Inspection in = InspectValid(bytes);
    const auto sound = PlacedChunks(in, bytes);
    ASSERT_EQ(sound.size(), 1u);
    EXPECT_EQ(sound[0].record, 1u); // record number 2
    EXPECT_EQ(sound[0].offsetInRecord, 0u);
    ASSERT_EQ(in.streams[1].seek.size(), 1u);
    EXPECT_EQ(in.streams[1].seek[0].record, 2);
    EXPECT_EQ(in.streams[1].seek[0].offset, 0);
    EXPECT_EQ(sound[0].length, 63000u);
    EXPECT_EQ(in.records.size(), 2u);

    // A lone chunk larger than the record limit is never split.
    auto big = NewWriter();
    ConfigureSound(big.get(), 22050, 630, 2);
    ASSERT_EQ(BeginMovie(big.get()), noErr);
    ASSERT_EQ(WriteAudioRecord(big.get(), FrameData(65000, 2), 16250, 0), noErr);
    ASSERT_EQ(WriteAudioRecord(big.get(), FrameData(100, 3), 25, 16250), noErr);
    Inspection bigIn = InspectValid(Finish(big.get()));
    ASSERT_EQ(bigIn.records.size(), 3u);
    EXPECT_EQ(bigIn.records[1].size, 65016u + 4u);
}

TEST(MovieWriter, SoundOnlyMovieUsesThePresentationSize) {
    auto w = NewWriter();
    ConfigureSound(w.get(), 8000, 627);
    const std::uint16_t presentation[2] = {320, 320};
    ASSERT_EQ(SetWriterParameter(w.get(), kWriterPresentationSize, reinterpret_cast<std::intptr_t>(presentation)), noErr);
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    for (std::uint32_t i = 0; i < 10; ++i) ASSERT_EQ(WriteAudioRecord(w.get(), FrameData(8000, i), 8000, 8000 * i), noErr);
    const auto bytes = Finish(w.get());
    Inspection in = InspectValid(bytes);
    EXPECT_EQ(in.noPicture, 1);
    EXPECT_EQ(in.pictureWidth, 320);
    EXPECT_EQ(in.depth, 0);
    EXPECT_FALSE(in.streams[0].present);
    EXPECT_EQ(in.streams[0].seek.size(), 0u);
    EXPECT_EQ(in.streams[1].sxDuration, 1000u); // ten seconds
    EXPECT_EQ(in.streams[1].seek.size(), 10u);
}

TEST(MovieWriter, InterleavesSoundAheadOfPicturesPassByPass) {
    // Against a picture period of 1 s, after two seconds of sound lead-in:
    // frames of 0.4 s place three a pass (1.2 s), so each sound pass takes
    // 0.2 s more; frames of 0.3 s also place three (0.9 s: a fourth would
    // overshoot further), and the sound passes are not compensated.
    struct Case {
        std::int32_t duration;
        std::uint32_t frames, soundChunks;
        std::vector<int> soundPerPass; // after each pass of three frames
    };
    for (const Case& c : {Case{40, 12, 80, {12, 12, 12, 24}}, Case{30, 6, 40, {10, 10}}}) {
        auto w = NewWriter();
        ConfigureVideo(w.get());
        ConfigureSound(w.get(), 8000, 626);
        ASSERT_EQ(BeginMovie(w.get()), noErr);
        for (std::uint32_t i = 0; i < c.frames; ++i) ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(500, i), 8, false, c.duration), noErr);
        for (std::uint32_t i = 0; i < c.soundChunks; ++i) ASSERT_EQ(WriteAudioRecord(w.get(), FrameData(400, i), 800, 800 * i), noErr);
        Inspection in = InspectValid(Finish(w.get()));
        std::vector<std::uint16_t> expected(20, kAu); // lead-in: two seconds
        for (int sound : c.soundPerPass) {
            expected.insert(expected.end(), 3, kFr);
            expected.insert(expected.end(), sound, kAu);
        }
        EXPECT_EQ(MediaOrder(in), expected) << c.duration;
        EXPECT_EQ(in.movieKind, 6);
        EXPECT_EQ(in.leadIn, 16000u);
    }
}

TEST(MovieWriter, LongMoviesCapTheShortDuration) {
    auto w = BegunVideoWriter();
    for (std::uint32_t i = 0; i < 70; ++i) ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(20, i), 8, false, 1000), noErr);
    Inspection in = InspectValid(Finish(w.get()));
    EXPECT_EQ(in.streams[0].shDuration, 65500u);
    EXPECT_EQ(in.streams[0].sxDuration, 70000u);
}

TEST(MovieWriter, HeaderCarriesTheConfiguration) {
    auto w = NewWriter();
    ConfigureVideo(w.get(), 157, 118, 7);
    ConfigureSound(w.get(), 44100, 624, 2);
    ASSERT_EQ(SetMetadataString(w.get(), 1, "Title"), noErr);
    ASSERT_EQ(SetMetadataString(w.get(), 3, "(c) Us"), noErr);
    ASSERT_EQ(SetMetadataString(w.get(), 2, "   "), noErr); // blanks only: ignored
    ASSERT_EQ(SetMetadataString(w.get(), 4, "x"), paramErr);
    ASSERT_EQ(SetWriterParameter(w.get(), kWriterRotation, 0xFFA6), noErr); // -90
    const std::int16_t rect[4] = {20, 0, 140, 160};
    ASSERT_EQ(SetWriterParameter(w.get(), kWriterMovieRect, reinterpret_cast<std::intptr_t>(rect)), noErr);
    const std::uint8_t colour[3] = {255, 128, 0};
    ASSERT_EQ(SetWriterParameter(w.get(), kWriterBackgroundColor, reinterpret_cast<std::intptr_t>(colour)), noErr);
    ASSERT_EQ(SetWriterParameter(w.get(), kWriterFullScreen, 1), noErr);
    ASSERT_EQ(AddChapter(w.get(), 1234, 6, "Intro\r"), noErr);
    ASSERT_EQ(AddChapter(w.get(), 60000, 4, "Main"), noErr);
    ASSERT_EQ(SetWriterParameter(w.get(), kWriterVideoDataRate, 320), noErr);
    EXPECT_EQ(GetVideoConfig(w.get()).dataRate, 40960u);
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(100, 0), 11, false, 10), noErr);
    ASSERT_EQ(WriteAudioRecord(w.get(), FrameData(192, 0), 1024, 0), noErr);
    Inspection in = InspectValid(Finish(w.get()));
    EXPECT_EQ(in.pictureWidth, 160); // 157 × 118 padded
    EXPECT_EQ(in.pictureHeight, 120);
    EXPECT_EQ(in.depth, 16);
    EXPECT_TRUE(in.colourTables);
    EXPECT_EQ(in.rotation, -90);
    EXPECT_EQ(in.metadata, (std::vector<std::string>{"Title", "", "(c) Us"}));
    ASSERT_EQ(in.chapters.size(), 2u);
    EXPECT_EQ(in.chapters[0].first, 123u);
    EXPECT_EQ(in.chapters[0].second, "Intro");
    EXPECT_EQ(in.chapters[1].first, 6000u);
    ASSERT_TRUE(in.atrac.has_value());
    EXPECT_EQ(in.audioChannels, 2);
    ASSERT_NE(FindChunk(in, ChunkTag("mr")), nullptr);
    ASSERT_NE(FindChunk(in, ChunkTag("bc")), nullptr);
    ASSERT_NE(FindChunk(in, ChunkTag("fs")), nullptr);
    EXPECT_EQ(FindChunk(in, ChunkTag("ap")), nullptr);
}

TEST(MovieWriter, LayoutItemsSpillIntoASecondRecord) {
    auto w = NewWriter();
    ConfigureVideo(w.get());
    std::vector<std::uint8_t> image(20000, 0x11);
    WriteBE32(image.data(), static_cast<std::uint32_t>(image.size()));
    LayoutItem background;
    background.kind = 1;
    background.layer = 1;
    background.width = background.height = 160;
    ASSERT_EQ(SetWriterParameter(w.get(), kWriterLayoutItem, reinterpret_cast<std::intptr_t>(&background)), noErr);
    for (int i = 0; i < 4; ++i) {
        LayoutItem picture;
        picture.kind = 3;
        picture.layer = 2;
        picture.shown = 1;
        picture.left = static_cast<std::int16_t>(4 * i);
        picture.width = picture.height = 100;
        picture.imageBlock = image;
        ASSERT_EQ(SetWriterParameter(w.get(), kWriterLayoutItem, reinterpret_cast<std::intptr_t>(&picture)), noErr);
    }
    LayoutItem broken;
    broken.kind = 3;
    EXPECT_EQ(SetWriterParameter(w.get(), kWriterLayoutItem, reinterpret_cast<std::intptr_t>(&broken)), paramErr);
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    for (std::uint32_t i = 0; i < 5; ++i) ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(3000, i), 8, false, 10), noErr);
    const auto bytes = Finish(w.get());
    Inspection in = InspectValid(bytes);
    ASSERT_EQ(in.layoutItems.size(), 5u);
    EXPECT_EQ(in.layoutItems[4][0], 12);
    ASSERT_GE(in.records.size(), 2u);
    EXPECT_EQ(in.records[0].chunks.back().tag, ChunkTag("re"));
    EXPECT_EQ(in.records[1].chunks.front().tag, ChunkTag("bi"));
    // The frames follow "mb" in the second record, and the seek table says so.
    const auto frames = PlacedChunks(in, bytes);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].record, 1u);
    EXPECT_EQ(in.streams[0].seek[0].record, 2);
}

TEST(MovieWriter, LayoutOnlyMovieEndsWithMeAlone) {
    const auto bytes = LayoutOnlyMovie();
    Inspection in = InspectValid(bytes);
    ASSERT_EQ(in.records.size(), 1u);
    EXPECT_EQ(in.records[0].chunks.back().tag, ChunkTag("me"));
    EXPECT_EQ(in.movieKind, 0);
    EXPECT_EQ(in.depth, 16);
}

TEST(MovieWriter, EveryCallRefusesTheWrongState) {
    const std::int32_t periods[2] = {8000, 100};
    auto configure = [&](MovieWriter* w) {
        return std::vector<OSErr>{
            SetDatabaseName(w, "x"),
            SetPictureSize(w, 16, 16),
            SetVideoFormat(w, 4),
            SetMetadataString(w, 1, "t"),
            SetWriterParameter(w, kWriterInterleave, reinterpret_cast<std::intptr_t>(periods)),
            SetAudioFormatCode(w, 626),
            SetSoundFormat(w, WaveFormat{}),
            SetTextStream(w, false),
            BeginMovie(w),
        };
    };
    auto w = NewWriter();
    // Configuring: no media, no end, no read-out.
    std::uint32_t size = 0;
    std::uint8_t byte = 0;
    EXPECT_EQ(WriteVideoChunk(w.get(), FrameData(4, 0), 8, false, 10), paramErr);
    EXPECT_EQ(EndMovie(w.get()), paramErr);
    EXPECT_EQ(GetDatabaseSize(w.get(), size), paramErr);
    EXPECT_EQ(ReadDatabase(w.get(), &byte, 0, 1), paramErr);
    // Nothing to write: begin refuses.
    auto empty = NewWriter();
    EXPECT_EQ(BeginMovie(empty.get()), paramErr);
    // No name: begin refuses.
    MovieWriter* unnamed = nullptr;
    ASSERT_EQ(NewMovieWriter(&unnamed), noErr);
    OwnedMovieWriter unnamedOwner(unnamed);
    ConfigureVideo(unnamed);
    EXPECT_EQ(BeginMovie(unnamed), paramErr);
    EXPECT_EQ(SetVideoFormat(w.get(), 9), paramErr);
    EXPECT_EQ(SetAudioFormatCode(w.get(), 625), paramErr);
    EXPECT_EQ(SetWriterParameter(w.get(), 999, 0), paramErr);

    ConfigureVideo(w.get());
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    for (OSErr err : configure(w.get())) EXPECT_EQ(err, paramErr);
    EXPECT_EQ(GetDatabaseSize(w.get(), size), paramErr);
    EXPECT_EQ(WriteAudioRecord(w.get(), FrameData(4, 0), 1, 0), paramErr); // no sound stream
    EXPECT_EQ(SetProgressProc(w.get(), nullptr, 0), noErr);
    ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(4, 0), 8, false, 10), noErr);
    EXPECT_EQ(WriteVideoChunk(w.get(), FrameData(65530, 0), 8, false, 10), paramErr); // too big for a chunk
    ASSERT_EQ(EndMovie(w.get()), noErr);
    for (OSErr err : configure(w.get())) EXPECT_EQ(err, paramErr);
    EXPECT_EQ(EndMovie(w.get()), paramErr);
    EXPECT_EQ(WriteVideoChunk(w.get(), FrameData(4, 0), 8, false, 10), paramErr);
    ASSERT_EQ(GetDatabaseSize(w.get(), size), noErr);
    EXPECT_EQ(ReadDatabase(w.get(), &byte, size, 1), paramErr); // one byte past the end
    EXPECT_EQ(ReadDatabase(w.get(), &byte, size - 1, 1), noErr);
    EXPECT_EQ(ReadDatabase(w.get(), &byte, 0xFFFFFFFFu, 2), paramErr);
    EXPECT_EQ(DisposeMovieWriter(nullptr), paramErr);
}

TEST(MovieWriter, ProgressRisesFrom0To100DuringEnd) {
    static std::vector<std::int32_t> seen;
    seen.clear();
    auto w = BegunVideoWriter();
    for (std::uint32_t i = 0; i < 50; ++i) ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(30000, i), 8, false, 10), noErr);
    ASSERT_EQ(SetProgressProc(w.get(), [](std::int32_t p, std::intptr_t refcon) {
        EXPECT_EQ(refcon, 77);
        seen.push_back(p);
    }, 77), noErr);
    ASSERT_EQ(EndMovie(w.get()), noErr);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(MovieWriter, SpoolFileIsGoneAfterDisposeInEveryState) {
    TestFolder folder;
    ASSERT_EQ(setenv("TMPDIR", folder.Path().c_str(), 1), 0);
    for (int stopAt = 0; stopAt < 4; ++stopAt) {
        MovieWriter* w = nullptr;
        ASSERT_EQ(NewMovieWriter(&w), noErr);
        ASSERT_EQ(SetDatabaseName(w, "spool"), noErr);
        ConfigureVideo(w);
        if (stopAt >= 1) {
            ASSERT_EQ(BeginMovie(w), noErr);
            ASSERT_EQ(WriteVideoChunk(w, FrameData(20000, 1), 8, false, 10), noErr);
            ASSERT_EQ(WriteVideoChunk(w, FrameData(60000, 2), 8, false, 10), noErr);
            const auto names = folder.Names();
            ASSERT_EQ(names.size(), 1u);
            EXPECT_EQ(names[0].rfind("lxmv", 0), 0u);
        }
        if (stopAt >= 2) {
            ASSERT_EQ(EndMovie(w), noErr);
        }
        if (stopAt >= 3) (void)ReadAll(w);
        EXPECT_EQ(DisposeMovieWriter(w), noErr);
        EXPECT_TRUE(folder.Names().empty()) << stopAt;
    }
    unsetenv("TMPDIR");
}

TEST(PalmPdbReader, AnIndependentParserAgrees) {
    if (std::system("perl -MPalm::PDB -e 1 2>/dev/null") != 0) GTEST_SKIP() << "libpalm-pdb-perl is not installed";
    TestFolder folder;
    auto w = NewWriter("Independent check");
    ConfigureVideo(w.get());
    ConfigureSound(w.get());
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    for (std::uint32_t i = 0; i < 40; ++i) {
        ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(9000, i), 8, false, 10), noErr);
        ASSERT_EQ(WriteAudioRecord(w.get(), FrameData(800, i), 1600, 1600 * i), noErr);
    }
    const auto bytes = Finish(w.get());
    const auto path = folder.Path() / "movie.pdb", out = folder.Path() / "perl.txt";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::string command =
        "perl -MPalm::PDB -MPalm::Raw -e 'my $p = Palm::PDB->new; $p->Load($ARGV[0]); "
        "print \"$p->{name}\\n$p->{type}\\n$p->{creator}\\n\", scalar(@{$p->{records}}), \"\\n\"; "
        "for my $r (@{$p->{records}}) { print \"$r->{offset} \", length($r->{data}), \" $r->{id}\\n\" }' '" +
        path.string() + "' > '" + out.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    PdbHeader header;
    std::vector<PdbRecordEntry> list;
    ASSERT_EQ(ParsePdb(bytes, header, list), noErr);
    std::string expected = "Independent check\nVMOV\nVTRO\n" + std::to_string(list.size()) + "\n";
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::size_t end = i + 1 < list.size() ? list[i + 1].offset : bytes.size();
        expected += std::to_string(list[i].offset) + " " + std::to_string(end - list[i].offset) + " " +
                    std::to_string(list[i].uniqueID) + "\n";
    }
    EXPECT_EQ(FileText(out), expected);
    EXPECT_GT(list.size(), 3u);
}

TEST(MovieWriter, ARecordTakesExactly63998BytesOfContent) {
    // Frame 1 fills the header's record; frames 2 and 3 start the next one
    // and add up to the limit exactly (chunks of 8 header bytes and even
    // payloads), or two bytes over it.
    for (std::size_t over : {0u, 2u}) {
        SCOPED_TRACE(over);
        auto w = BegunVideoWriter();
        ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(50000, 0), 8, false, 10), noErr);
        ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(30000, 1), 8, false, 10), noErr);
        ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(63998 - 16 - 30000 + over, 2), 8, false, 10), noErr);
        const auto bytes = Finish(w.get());
        const auto frames = PlacedChunks(InspectValid(bytes), bytes);
        ASSERT_EQ(frames.size(), 3u);
        EXPECT_EQ(frames[1].offsetInRecord, 0u);
        EXPECT_EQ(frames[2].record, over == 0 ? frames[1].record : frames[1].record + 1);
        EXPECT_EQ(frames[1].length + frames[2].length, 63998u + over);
    }
}
