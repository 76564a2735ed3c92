#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "moviedb/chunk.h"
#include "tests/movie_builder.h"

namespace {

// A small valid movie with pictures and sound over several records.
std::vector<std::uint8_t> SampleMovie() {
    auto w = NewWriter();
    ConfigureVideo(w.get());
    ConfigureSound(w.get());
    EXPECT_EQ(BeginMovie(w.get()), noErr);
    for (std::uint32_t i = 0; i < 40; ++i) {
        EXPECT_EQ(WriteVideoChunk(w.get(), FrameData(6000 + i, i), 8, i % 5 != 0, 10), noErr);
        if (i % 2 == 0) {
            EXPECT_EQ(WriteAudioRecord(w.get(), FrameData(800, i), 1600, 1600 * (i / 2)), noErr);
        }
    }
    return Finish(w.get());
}

// The file offset of the chunk with the tag (the nth of them, from 0).
std::size_t Locate(const std::vector<std::uint8_t>& bytes, std::uint16_t tag, int nth = 0) {
    const Inspection in = InspectDatabase(bytes);
    const InspectedChunk* chunk = FindChunk(in, tag, nth);
    EXPECT_NE(chunk, nullptr) << "no such chunk";
    return chunk ? chunk->offset : 0;
}

} // namespace

TEST(Inspector, AcceptsWhatTheWriterMakes) {
    const auto bytes = SampleMovie();
    Inspection in = InspectDatabase(bytes);
    EXPECT_TRUE(in.Valid()) << in.problem;
    EXPECT_GE(in.records.size(), 4u);
    EXPECT_EQ(in.streams[0].chunks, 40u);
    EXPECT_EQ(in.streams[0].keyChunks, 8u);
    EXPECT_EQ(in.streams[1].chunks, 20u);
    const std::string report = DescribeInspection(in, true);
    EXPECT_NE(report.find("Check: valid"), std::string::npos);
    EXPECT_NE(report.find("mb   length     4"), std::string::npos);
}

TEST(Inspector, NamesTheFirstProblemOfHandBrokenFiles) {
    const auto good = SampleMovie();
    struct Breakage {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> apply;
        const char* expect; // part of the problem text
    };
    const std::vector<Breakage> cases = {
        {"truncated header", [](auto& b) { b.resize(50); }, "too short"},
        {"wrong creator", [](auto& b) { b[64] = 'X'; }, "VMOV/VTRO"},
        {"record offsets out of order", [](auto& b) { WriteBE32(b.data() + 78 + 8, ReadBE32(b.data() + 78) - 2); },
         "does not start where"},
        {"record shortened", [](auto& b) { WriteBE32(b.data() + 78 + 8, ReadBE32(b.data() + 78 + 8) - 2); },
         "outside any chunk"},
        {"unique ID", [](auto& b) { b[78 + 8 + 7] ^= 1; }, "unique ID"},
        {"odd chunk length", [&](auto& b) { WriteBE16(b.data() + Locate(good, ChunkTag("mt")), 7); }, "odd chunk length"},
        {"chunk past its record",
         [&](auto& b) { WriteBE16(b.data() + Locate(good, ChunkTag("fr"), 3), 0xFFF0); }, "past the end"},
        {"wrong stream duration", [&](auto& b) { b[Locate(good, ChunkTag("sx")) + 13] ^= 1; }, "not the sum"},
        {"seek entry off target", [&](auto& b) { b[Locate(good, ChunkTag("pt")) + 4 + 8 + 7] += 2; },
         "does not point"},
        {"seek time wrong", [&](auto& b) { b[Locate(good, ChunkTag("at")) + 4 + 8 + 3] ^= 4; }, "start time"},
        {"movie kind", [&](auto& b) { b[Locate(good, ChunkTag("mt")) + 5] = 1; }, "movie kind"},
        {"missing end marker", [&](auto& b) { b[Locate(good, ChunkTag("me")) + 3] = 'x'; }, "unexpected chunk"},
        {"record end moved", [&](auto& b) { b[Locate(good, ChunkTag("re")) + 2] = 'f'; }, ""},
        {"sound frame index", [&](auto& b) { b[Locate(good, ChunkTag("au"), 5) + 11] ^= 1; }, "running total"},
        {"header order", [&](auto& b) {
             const std::size_t mt = Locate(good, ChunkTag("mt"));
             b[mt + 2] = 'a'; // "an" has the length of "mt" but comes after the streams
             b[mt + 3] = 'n';
         }, "out of order"},
    };
    for (const Breakage& c : cases) {
        auto bytes = good;
        c.apply(bytes);
        Inspection in = InspectDatabase(bytes);
        EXPECT_FALSE(in.Valid()) << c.name;
        EXPECT_NE(in.problem.find(c.expect), std::string::npos) << c.name << ": " << in.problem;
    }
}

TEST(Inspector, FlagsARecordOverTheLimit) {
    // Three frames of 40000 bytes make three records. Joining the first two
    // (dropping record 0's "re" and record 1's list entry) gives a record
    // with two frames in it: more than the writer ever puts in one record.
    auto w = BegunVideoWriter();
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(WriteVideoChunk(w.get(), FrameData(40000, i), 8, false, 10), noErr);
    }
    const auto bytes = Finish(w.get());
    PdbHeader header;
    std::vector<PdbRecordEntry> list;
    ASSERT_EQ(ParsePdb(bytes, header, list), noErr);
    ASSERT_EQ(list.size(), 3u);

    std::vector<std::uint8_t> joined(bytes.begin(), bytes.begin() + 78);
    WriteBE16(joined.data() + 76, 2);
    const std::uint32_t first = 80 + 8 * 2;
    const std::uint32_t size0 = list[1].offset - list[0].offset - 4;
    const std::uint32_t size1 = list[2].offset - list[1].offset;
    ByteBlock entries;
    ASSERT_EQ(AppendPdbRecordEntry(entries, first, 0), noErr);
    ASSERT_EQ(AppendPdbRecordEntry(entries, first + size0 + size1, 1), noErr);
    joined.insert(joined.end(), entries.Data(), entries.Data() + entries.Size());
    joined.push_back(0);
    joined.push_back(0);
    joined.insert(joined.end(), bytes.begin() + list[0].offset, bytes.begin() + list[0].offset + size0);
    joined.insert(joined.end(), bytes.begin() + list[1].offset, bytes.end());
    Inspection in = InspectDatabase(joined);
    EXPECT_FALSE(in.Valid());
    EXPECT_NE(in.problem.find("over the limit"), std::string::npos) << in.problem;
}

TEST(Inspector, DescribesAHalfReadHeader) {
    // A metadata chunk whose second text lacks its NUL: the inspector stops
    // there, and describing what it read must not touch the missing texts.
    auto w = NewWriter();
    ConfigureVideo(w.get());
    ASSERT_EQ(SetMetadataString(w.get(), 1, "Title"), noErr);
    ASSERT_EQ(SetMetadataString(w.get(), 2, "Info"), noErr);
    ASSERT_EQ(BeginMovie(w.get()), noErr);
    ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(10, 0), 8, false, 10), noErr);
    auto bytes = Finish(w.get());
    const std::size_t md = Locate(bytes, ChunkTag("md"));
    // "Title\0Info\0\0" -> "Title\0InfoXXX"
    for (std::size_t i = md + 4 + 10; i < md + ReadBE16(bytes.data() + md); ++i) bytes[i] = 'X';
    Inspection in = InspectDatabase(bytes);
    EXPECT_FALSE(in.Valid());
    EXPECT_NE(in.problem.find("NUL"), std::string::npos) << in.problem;
    EXPECT_EQ(DescribeInspection(in, true).find("Title \""), std::string::npos);
}

TEST(Inspector, HostileDatabasesNeitherReadPastTheirBytesNorAskForGigabytes) {
    // Run under AddressSanitizer (./build.sh asan) the first two cases read
    // past the file's end if a bound is missing.
    {
        // A layout item at the very end whose image part is two bytes long.
        auto bytes = LayoutOnlyMovie();
        const std::size_t bi = Locate(bytes, ChunkTag("bi"));
        WriteBE16(bytes.data() + bi, 28);
        bytes.resize(bi + 28, 0);
        bytes.shrink_to_fit();
        const Inspection in = InspectDatabase(bytes);
        EXPECT_FALSE(in.Valid());
        EXPECT_NE(in.problem.find("image part"), std::string::npos) << in.problem;
    }
    // "16 Grays" movies: one 8-byte frame whose flags claim a pad byte, and
    // one whose header claims a picture of 65535 x 65535.
    const auto grays = [](std::size_t frameBytes) {
        auto w = NewWriter();
        ConfigureVideo(w.get(), 160, 120, 4, 100);
        EXPECT_EQ(BeginMovie(w.get()), noErr);
        // 256 hundredths: the duration's low byte, where a pad byte would be, is zero.
        EXPECT_EQ(WriteVideoChunk(w.get(), FrameData(frameBytes, 0), 8, false, 256), noErr);
        return Finish(w.get());
    };
    std::vector<std::uint8_t> gray;
    std::uint32_t width = 0, height = 0;
    {
        auto bytes = grays(0);
        bytes[Locate(bytes, ChunkTag("fr")) + 5] |= 1;
        const Inspection in = InspectDatabase(bytes);
        EXPECT_FALSE(in.Valid());
        EXPECT_NE(in.problem.find("pad byte"), std::string::npos) << in.problem;
        EXPECT_EQ(DecodeGraysFrameOf(bytes, {}, 0, gray, width, height), paramErr);
    }
    {
        auto bytes = grays(40);
        const std::size_t mv = Locate(bytes, ChunkTag("mv"));
        WriteBE16(bytes.data() + mv + 4, 0xFFFF);
        WriteBE16(bytes.data() + mv + 6, 0xFFFF);
        const Inspection in = InspectDatabase(bytes);
        EXPECT_NE(in.problem.find("picture larger"), std::string::npos) << in.problem;
        EXPECT_EQ(DecodeGraysFrameOf(bytes, {}, 0, gray, width, height), paramErr);
    }
    // A sound chunk (and the stream's duration) claiming 0xFFFFFFFF frames
    // in 800 bytes: the structure holds together, the count cannot be coded.
    for (std::int32_t format : {626, 628, 627, 630, 629}) {
        SCOPED_TRACE(format);
        auto w = NewWriter();
        ConfigureSound(w.get(), format == 629 ? 8000 : 8192, format, format == 630 ? 2 : 1);
        ASSERT_EQ(BeginMovie(w.get()), noErr);
        ASSERT_EQ(WriteAudioRecord(w.get(), FrameData(800, 0), 400, 0), noErr);
        auto bytes = Finish(w.get());
        WriteBE32(bytes.data() + Locate(bytes, ChunkTag("au")) + 4, 0xFFFFFFFF);
        const std::uint32_t rate = format == 629 ? 8000 : 8192;
        const auto hundredths = static_cast<std::uint32_t>(std::llround(4294967295.0 * 100 / rate));
        WriteBE32(bytes.data() + Locate(bytes, ChunkTag("sx"), 0) + 4 + 6, hundredths);
        WriteBE16(bytes.data() + Locate(bytes, ChunkTag("sh"), 0) + 4 + 4, 65500);
        const Inspection in = InspectDatabase(bytes);
        EXPECT_TRUE(in.Valid()) << in.problem;
        const DecodedSound decoded = SoundOf(bytes);
        EXPECT_EQ(decoded.err, paramErr);
        EXPECT_TRUE(decoded.samples.empty());
    }
}
