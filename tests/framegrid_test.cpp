// The frame grid over long movies and crowded chapters: durations that add
// up to the source's length in every time scale, and a key frame at every
// chapter start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/framegrid.h"
#include "moviedb/chunk.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"

namespace {

// A source whose frames last `frame` units each, asked at the grid's times
// as the driver asks: the answer lasts to the end of the frame shown.
double AnsweredDuration(double current, double frame, double length = 1e300) {
    const double requested = std::trunc(current);
    return std::min((std::floor(requested / frame) + 1) * frame, length) - requested;
}

// The 1-based frames that are key frames in a finished database.
std::vector<std::size_t> KeyFrames(const std::vector<std::uint8_t>& bytes, const Inspection& inspection) {
    std::vector<std::size_t> keys;
    std::size_t n = 0;
    for (const auto& record : inspection.records)
        for (const auto& chunk : record.chunks)
            if (chunk.tag == ChunkTag("fr")) {
                ++n;
                if ((bytes[chunk.offset + 5] & kDifferenceFrameFlag) == 0) keys.push_back(n);
            }
    return keys;
}

} // namespace

TEST(FrameGrid, TenMinutesOfEveryTimeScaleAddUpToTheirLength) {
    struct Case {
        std::int32_t timeScale;
        double frame; // source frame length in units
        double rate;  // output frames per second, 0 "Best"
    };
    const Case cases[] = {
        {600, 20, 10},      {600, 20, 15},     {600, 25, 0},        // 30 and 24 frames/s
        {12288, 512, 10},   {12288, 512, 15},                       // 24 frames/s in MP4
        {15360, 512, 10},   {15360, 512, 15},  {15360, 512, 12},    // 30 frames/s in MP4
        {90000, 3003, 10},  {90000, 3003, 15},                      // 29.97 in MPEG
        {30000, 1001, 15},  {24000, 1001, 10}, {30000, 1001, 0},    // 1001-based rates
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.timeScale << " units/s, frames of " << c.frame << ", " << c.rate << " frames/s");
        const double length = std::floor(600.0 * c.timeScale / c.frame) * c.frame; // ten minutes of whole frames
        auto w = NewWriter();
        ConfigureVideo(w.get(), 160, 120, 4, c.timeScale);
        ASSERT_EQ(BeginMovie(w.get()), noErr);
        FrameGrid grid(c.timeScale, c.rate, length);
        std::uint64_t units = 0;
        std::vector<double> requests;
        while (grid.Current() < length) {
            requests.push_back(grid.Current());
            const FrameGrid::Step step = grid.Advance(AnsweredDuration(grid.Current(), c.frame, length));
            units += step.duration;
            ASSERT_EQ(WriteVideoChunk(w.get(), FrameData(10, 0), 8, false, step.duration), noErr);
        }
        // Whole units handed over follow the exact grid...
        EXPECT_NEAR(static_cast<double>(units), length, 1.0);
        // ...and a container that understates the length loses no picture:
        // the requests go on, in order, to the real end.
        FrameGrid understated(c.timeScale, c.rate, length - 7.5 * c.frame);
        std::vector<double> asked;
        while (understated.Current() < length) {
            asked.push_back(understated.Current());
            (void)understated.Advance(AnsweredDuration(understated.Current(), c.frame, length));
        }
        EXPECT_TRUE(std::is_sorted(asked.begin(), asked.end()));
        EXPECT_LE(std::abs(static_cast<double>(asked.size()) - static_cast<double>(requests.size())), 1.0);
        EXPECT_GT(asked.back(), length - 2 * std::max(c.frame, c.rate > 0 ? c.timeScale / c.rate : 0.0));
        // ...and so do the hundredths written.
        const auto bytes = Finish(w.get());
        const Inspection in = InspectDatabase(bytes);
        ASSERT_TRUE(in.Valid()) << in.problem;
        const double hundredths = length * 100 / c.timeScale;
        EXPECT_NEAR(static_cast<double>(in.streams[0].durationSum), hundredths, 1.0);
        EXPECT_NEAR(static_cast<double>(in.streams[0].sxDuration), hundredths, 1.0);
    }
}

TEST(FrameGrid, EveryChapterStartIsAKeyFrame) {
    // Chapters at 0, 2.55, 2.58 and 6.00 s, 10 frames/s from a 30 frames/s
    // source: 2.55 and 2.58 fall in frame 26, so the second marks frame 27.
    FrameGrid grid(600, 10, 0, {0, 1530, 1548, 3600});
    std::vector<std::size_t> marked;
    for (std::size_t n = 1; n <= 80; ++n)
        if (grid.Advance(AnsweredDuration(grid.Current(), 20)).chapterStart) marked.push_back(n);
    EXPECT_EQ(marked, (std::vector<std::size_t>{1, 26, 27, 61}));

    // The same through a real movie, in both picture formats.
    const auto chapters = WriteTextFixture("crowded-chapters.txt", ";FFMETADATA1\n"
                                                                   "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2550\ntitle=One\n"
                                                                   "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2550\nEND=2580\ntitle=Two\n"
                                                                   "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2580\nEND=6000\ntitle=Three\n"
                                                                   "[CHAPTER]\nTIMEBASE=1/1000\nSTART=6000\nEND=8000\ntitle=Four\n");
    const auto movie = MakeFixture("crowded-chapters.mov", "-f lavfi -i testsrc2=size=160x120:rate=30:duration=8 -i '" +
                                                               chapters.string() +
                                                               "' -map 0:v -map_chapters 1 -c:v mpeg4 -q:v 4 %o");
    for (std::int16_t depth : {kDepthSixteenGrays, kDepthCinepakMobile}) {
        SCOPED_TRACE(depth);
        const Converted c = ConvertTo(movie, TestSettings(depth, IntToFixed(10)));
        ASSERT_EQ(c.err, noErr);
        const auto keys = KeyFrames(c.bytes, c.inspection);
        for (std::size_t frame : {1, 26, 27, 61})
            EXPECT_NE(std::find(keys.begin(), keys.end(), frame), keys.end()) << "frame " << frame;
    }
}
