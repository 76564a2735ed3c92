// Pictures made ahead on their own thread: the same databases as pictures
// made in turn, in order, with the maker's end where it came; stopping early
// never waits for pictures nobody takes.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "engine/convert.h"
#include "engine/picturepipeline.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"

namespace {

// Pictures whose first byte counts them, `count` of them, then `end`.
PicturePipeline::Maker Counting(int count, OSErr end, std::atomic<int>& made) {
    return [count, end, &made](MadePicture& p) -> OSErr {
        if (made == count) return end;
        if (p.pixels.Width() == 0)
            if (OSErr err = p.pixels.Create(4, 4)) return err;
        p.pixels.Pixels()[0] = static_cast<std::uint8_t>(made);
        p.step.duration = static_cast<std::uint32_t>(made++);
        return noErr;
    };
}

std::vector<std::uint8_t> ConvertedBytes(const std::filesystem::path& source, const ExportSettings& settings, std::size_t ahead) {
    TestFolder folder;
    ConversionJob job;
    job.source = source;
    EXPECT_EQ(CopyExportSettings(settings, job.settings), noErr);
    job.destination = folder.Path() / "movie.pdb";
    job.picturesAhead = ahead;
    ConversionReport report;
    EXPECT_EQ(Convert(job, report), noErr) << report.detail;
    return WithoutClockTimes(FileBytes(job.destination));
}

} // namespace

TEST(PicturePipeline, PicturesComeInOrderThenTheMakersEnd) {
    for (const std::size_t ahead : {0u, 1u, 3u}) {
        std::atomic<int> made = 0;
        PicturePipeline pipeline(Counting(7, ioErr, made), ahead);
        const MadePicture* p = nullptr;
        for (int n = 0; n < 7; ++n) {
            ASSERT_EQ(pipeline.Next(p), noErr) << ahead;
            EXPECT_EQ(p->pixels.Pixels()[0], n);
            EXPECT_EQ(p->step.duration, static_cast<std::uint32_t>(n));
        }
        EXPECT_EQ(pipeline.Next(p), ioErr);
        EXPECT_EQ(pipeline.Next(p), ioErr); // and it stays so
    }
    // Never more than the pictures ahead and the one held are made; leaving
    // with the rest unmade stops the maker.
    std::atomic<int> made = 0;
    {
        PicturePipeline pipeline(Counting(1000, eofErr, made), 2);
        const MadePicture* p = nullptr;
        ASSERT_EQ(pipeline.Next(p), noErr);
        while (made < 3) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(made, 3);
    }
    EXPECT_EQ(made, 3);
}

TEST(PicturePipeline, DatabasesMadeAheadEqualDatabasesMadeInTurn) {
    const auto turned = [] {
        ExportSettings s = TestSettings(kDepthCinepakMobile, IntToFixed(10));
        s.angle = 90;
        return s;
    };
    const std::function<ExportSettings()> settings[] = {
        [] { return TestSettings(kDepthCinepakMobile, IntToFixed(15), kSoundAdpcm2to1, 22050); }, // Cinepak with sound
        [] { return TestSettings(kDepthSixteenGrays, 0, kSoundAdpcm2to1); }, // every source frame; chapters' key pictures
        turned,                                                               // stored turned, no sound
    };
    const std::filesystem::path sources[] = {Mp4(), MovWithChapters(), Mp4()};
    for (std::size_t i = 0; i < std::size(sources); ++i) {
        const auto inTurn = ConvertedBytes(sources[i], settings[i](), 0);
        ASSERT_GT(inTurn.size(), 1000u);
        EXPECT_EQ(ConvertedBytes(sources[i], settings[i](), kPicturesAhead), inTurn) << i;
        EXPECT_EQ(ConvertedBytes(sources[i], settings[i](), 1), inTurn) << i;
    }
}
