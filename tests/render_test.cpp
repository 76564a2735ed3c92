// Rendering databases for people to look at: the video read back as any
// movie, pictures upright and pixel-exact on the sheet, never over a file.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "engine/render.h"
#include "tests/cli_runner.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"
#include "video/cinepakpalette.h"
#include "video/moviepictures.h"

namespace {

FileSpec Database(const TestFolder& folder, const std::string& name, const ExportSettings& s) {
    const Converted c = ConvertTo(Mp4(), s);
    EXPECT_EQ(c.err, noErr);
    std::ofstream(folder.Path() / name, std::ios::binary).write(reinterpret_cast<const char*>(c.bytes.data()), c.bytes.size());
    return folder.Path() / name;
}

ExportSettings Video(std::int16_t depth) { return TestSettings(depth, IntToFixed(10), kSoundAdpcm2to1); }

} // namespace

TEST(Render, VideoReadsBackWithItsLengthPicturesAndSound) {
    TestFolder folder;
    RenderJob job;
    job.database = Database(folder, "grays.pdb", Video(kDepthSixteenGrays));
    job.video = folder.Path() / "grays.mp4";
    job.scale = 1;
    RenderReport report;
    ASSERT_EQ(RenderMovie(job, report), noErr) << report.detail;
    EXPECT_EQ(report.pictures, 20u);
    EXPECT_TRUE(report.sound);

    Movie movie;
    ASSERT_EQ(Movie::Open(job.video, movie), noErr);
    EXPECT_NEAR(static_cast<double>(movie.Duration()) / movie.TimeScale(), 2.0, 0.1); // within a picture
    EXPECT_NE(movie.FindTrack(kSoundMediaType), 0);
    FrameBuffer first, expected;
    ASSERT_EQ(first.Create(160, 120), noErr);
    ASSERT_EQ(movie.PosterFrame(first), noErr);
    ByteBlock bytes;
    ASSERT_EQ(ReadWholeFile(job.database, bytes), noErr);
    const MovieReader reader(bytes.Span());
    MoviePictureDecoder pictures;
    ASSERT_EQ(pictures.Open(reader), noErr);
    ASSERT_EQ(pictures.Decode(0, expected), noErr);
    double difference = 0;
    for (std::int32_t y = 0; y < 120; ++y)
        for (std::int32_t x = 0; x < 160; ++x) difference += std::abs(first.Pixel(x, y)[1] - expected.Pixel(x, y)[1]);
    EXPECT_LT(difference / (160 * 120), 3.0);

    // A sound-only movie: its sound under a blank screen, as long as the sound.
    ExportSettings soundOnly = Video(kDepthNoVideo);
    const Converted tone = ConvertTo(ToneWav(), soundOnly);
    ASSERT_EQ(tone.err, noErr);
    std::ofstream(folder.Path() / "tone.pdb", std::ios::binary).write(reinterpret_cast<const char*>(tone.bytes.data()), tone.bytes.size());
    RenderJob sound{folder.Path() / "tone.pdb", {}, folder.Path() / "tone.mp4"};
    ASSERT_EQ(RenderMovie(sound, report), noErr) << report.detail;
    Movie heard;
    ASSERT_EQ(Movie::Open(sound.video, heard), noErr);
    EXPECT_NEAR(static_cast<double>(heard.Duration()) / heard.TimeScale(), 2.0, 0.15);
    EXPECT_NE(heard.FindTrack(kSoundMediaType), 0);

    // A second render never replaces the first.
    const auto before = FileBytes(job.video);
    EXPECT_EQ(RenderMovie(job, report), dupFNErr);
    EXPECT_EQ(FileBytes(job.video), before);
}

TEST(Render, SheetPicturesAreExactEnlargedAndUpright) {
    TestFolder home;
    const auto colour = Database(home, "colour.pdb", Video(kDepthCinepakMobile));
    const VantroResult r = RunVantro(home.Path(), {"render", colour.string(), "--sheet", (home.Path() / "sheet.png").string(),
                                                   "--pictures", "4", "--scale", "2"});
    ASSERT_EQ(r.status, 0) << r.errors;
    Movie sheet;
    ASSERT_EQ(Movie::Open(home.Path() / "sheet.png", sheet), noErr);
    EXPECT_EQ(sheet.Box().right - sheet.Box().left, 4 * (320 + 8) + 8);
    FrameBuffer drawn, picture;
    ASSERT_EQ(drawn.Create(sheet.Box().right, sheet.Box().bottom), noErr);
    ASSERT_EQ(sheet.PosterFrame(drawn), noErr);
    ByteBlock bytes;
    ASSERT_EQ(ReadWholeFile(colour, bytes), noErr);
    const MovieReader reader(bytes.Span());
    MoviePictureDecoder pictures;
    ASSERT_EQ(pictures.Open(reader), noErr);
    ASSERT_EQ(pictures.Decode(0, picture), noErr);
    for (std::int32_t y = 0; y < 240; y += 7)
        for (std::int32_t x = 0; x < 320; x += 5)
            ASSERT_TRUE(std::equal(drawn.Pixel(8 + x, 8 + y), drawn.Pixel(8 + x, 8 + y) + 3, picture.Pixel(x / 2, y / 2))) << x << "," << y;

    // Each picture's time is written under it.
    ASSERT_GE(drawn.Height(), 8 + 240 + 14);
    int dark = 0;
    for (std::int32_t y = 8 + 240; y < 8 + 240 + 14; ++y)
        for (std::int32_t x = 8; x < 8 + 64; ++x) dark += drawn.Pixel(x, y)[0] < 0x80;
    EXPECT_GT(dark, 20);

    // A 256-colour screen shows nothing but the movie palette's colours.
    ASSERT_EQ(RunVantro(home.Path(), {"render", colour.string(), "--sheet", (home.Path() / "8bit.png").string(),
                                      "--pictures", "1", "--screen", "8bit"}).status, 0);
    Movie eightBit;
    ASSERT_EQ(Movie::Open(home.Path() / "8bit.png", eightBit), noErr);
    FrameBuffer eight;
    ASSERT_EQ(eight.Create(eightBit.Box().right, eightBit.Box().bottom), noErr);
    ASSERT_EQ(eightBit.PosterFrame(eight), noErr);
    std::set<std::array<std::uint8_t, 3>> palette;
    for (std::size_t e = 0; e < 256; ++e)
        palette.insert(CinepakPixel({reader.Palette()[3 * e], reader.Palette()[3 * e + 1], reader.Palette()[3 * e + 2]}));
    for (std::int32_t y = 8; y < 8 + 240; y += 11)
        for (std::int32_t x = 8; x < 8 + 320; x += 13)
            ASSERT_TRUE(palette.contains({eight.Pixel(x, y)[0], eight.Pixel(x, y)[1], eight.Pixel(x, y)[2]})) << x << "," << y;

    // A wide movie stored turned for a tall screen comes out wide.
    TestFolder wide;
    const VantroResult made = RunVantro(wide.Path(), {"convert", Mp4().string(), "--out", wide.Path().string(), "-p",
                                                      "Tungsten T3", "--layout", "480x320"});
    ASSERT_EQ(made.status, 0) << made.errors;
    const VantroResult turned = RunVantro(wide.Path(), {"render", (wide.Path() / "clip.pdb").string(), "-o",
                                                        (wide.Path() / "clip.mkv").string(), "--scale", "1"});
    ASSERT_EQ(turned.status, 0) << turned.errors;
    EXPECT_NE(turned.output.find("at 320x240"), std::string::npos) << turned.output;
}
