// Video files and PNG pictures written for people to look at: read back by
// the media layer as any other movie, never replacing a file, nothing left
// of one not finished.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/moviefilewriter.h"
#include "tests/test_folder.h"

namespace {

// Colour bars that move a little with `shift`, so that every picture differs.
FrameBuffer Bars(std::int32_t width, std::int32_t height, int shift) {
    FrameBuffer f;
    EXPECT_EQ(f.Create(width, height), noErr);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = f.Pixels() + y * f.RowBytes() + 4 * x;
            const int bar = ((x + shift) / 20) % 4;
            p[0] = bar == 0 ? 230 : 20, p[1] = bar == 1 ? 200 : 40, p[2] = bar >= 2 ? 210 : 30, p[3] = 255;
        }
    return f;
}

double MeanDifference(const FrameBuffer& a, const FrameBuffer& b) {
    double sum = 0;
    for (std::int32_t y = 0; y < a.Height(); ++y)
        for (std::int32_t x = 0; x < a.Width(); ++x)
            for (int c = 0; c < 3; ++c) sum += std::abs(a.Pixel(x, y)[c] - b.Pixel(x, y)[c]);
    return sum / (3.0 * a.Width() * a.Height());
}

} // namespace

TEST(MovieFileWriter, PicturesAndSoundReadBackAsAMovie) {
    TestFolder folder;
    const FileSpec path = folder.Path() / "screen.mp4";
    {
        MovieFileWriter w;
        // 8192 Hz (a handheld's rate) is no rate AAC takes: it is resampled.
        ASSERT_EQ(w.Create(path, 160, 120, 100, 8192, 1), noErr);
        std::vector<std::int16_t> tone(8192 / 10);
        for (int frame = 0; frame < 20; ++frame) { // 10 pictures a second for two seconds
            ASSERT_EQ(w.WritePicture(Bars(160, 120, frame), frame * 10), noErr);
            for (std::size_t i = 0; i < tone.size(); ++i)
                tone[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * (frame * tone.size() + i) / 8192.0));
            ASSERT_EQ(w.WriteSound(tone), noErr);
        }
        // Until it is finished the movie has no name of its own.
        EXPECT_FALSE(std::filesystem::exists(path));
        ASSERT_EQ(w.Finish(), noErr);
    }
    EXPECT_EQ(FolderNames(folder.Path()), std::vector<std::string>{"screen.mp4"});

    Movie movie;
    ASSERT_EQ(Movie::Open(path, movie), noErr);
    EXPECT_NEAR(static_cast<double>(movie.Duration()) / movie.TimeScale(), 2.0, 0.15);
    const TrackInfo video = movie.Track(movie.FindTrack(kVideoMediaType));
    EXPECT_EQ(video.image.width, 160);
    EXPECT_EQ(video.image.height, 120);
    const TrackInfo sound = movie.Track(movie.FindTrack(kSoundMediaType));
    EXPECT_EQ(sound.sound.channels, 1);
    EXPECT_EQ(sound.sound.sampleRate >> 16, 11025u);
    FrameBuffer first;
    ASSERT_EQ(first.Create(160, 120), noErr);
    ASSERT_EQ(movie.PosterFrame(first), noErr);
    EXPECT_LT(MeanDifference(first, Bars(160, 120, 0)), 4.0);
}

TEST(MovieFileWriter, NamesTakenAndFilesNotFinished) {
    TestFolder folder;
    std::ofstream(folder.Path() / "taken.mp4") << "mine";
    MovieFileWriter w;
    EXPECT_EQ(w.Create(folder.Path() / "taken.mp4", 160, 120, 100, 0, 0), dupFNErr);
    EXPECT_EQ(FileText(folder.Path() / "taken.mp4"), "mine");
    EXPECT_EQ(w.Create(folder.Path() / "odd.mp4", 161, 120, 100, 0, 0), paramErr);
    EXPECT_EQ(w.Create(folder.Path() / "movie.unknown-format", 160, 120, 100, 0, 0), noCodecErr);
    {
        MovieFileWriter dropped;
        ASSERT_EQ(dropped.Create(folder.Path() / "dropped.mkv", 160, 120, 100, 0, 0), noErr);
        ASSERT_EQ(dropped.WritePicture(Bars(160, 120, 0), 0), noErr);
    }
    EXPECT_EQ(FolderNames(folder.Path()), std::vector<std::string>{"taken.mp4"});

    // A PNG is exact, and never written over a file either.
    const FrameBuffer bars = Bars(64, 48, 3);
    ASSERT_EQ(WritePng(folder.Path() / "bars.png", bars), noErr);
    EXPECT_EQ(WritePng(folder.Path() / "bars.png", bars), dupFNErr);
    Movie picture;
    ASSERT_EQ(Movie::Open(folder.Path() / "bars.png", picture), noErr);
    FrameBuffer read;
    ASSERT_EQ(read.Create(64, 48), noErr);
    ASSERT_EQ(picture.PosterFrame(read), noErr);
    EXPECT_EQ(MeanDifference(read, bars), 0.0);
}
