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

FileSpec Database(const TestFolder& folder, const std::string& name, const ExportSettings& s,
                  const std::filesystem::path& source = Mp4()) {
    const Converted c = ConvertTo(source, s);
    EXPECT_EQ(c.err, noErr);
    std::ofstream(folder.Path() / name, std::ios::binary).write(reinterpret_cast<const char*>(c.bytes.data()), c.bytes.size());
    return folder.Path() / name;
}

ExportSettings Video(std::int16_t depth) { return TestSettings(depth, IntToFixed(10), kSoundAdpcm2to1); }

// A picture file's pixels.
FrameBuffer PngPixels(const FileSpec& png) {
    Movie sheet;
    EXPECT_EQ(Movie::Open(png, sheet), noErr);
    FrameBuffer drawn;
    EXPECT_EQ(drawn.Create(sheet.Box().right, sheet.Box().bottom), noErr);
    EXPECT_EQ(sheet.PosterFrame(drawn), noErr);
    return drawn;
}

// A database file read back, and its first picture as the player's decoder
// gives it.
void ReadFirstPicture(const FileSpec& database, MovieReader& reader, FrameBuffer& first) {
    std::string problem;
    ASSERT_EQ(ReadMovieFile(database, {}, reader, problem), noErr) << problem;
    MoviePictureDecoder pictures;
    ASSERT_EQ(pictures.Open(reader), noErr);
    ASSERT_EQ(pictures.Decode(0, first), noErr);
}

// Whether the sheet shows `picture` exactly with its top left at (left, top).
::testing::AssertionResult ShowsExactly(const FrameBuffer& sheet, const FrameBuffer& picture, int left, int top) {
    for (std::int32_t y = 0; y < picture.Height(); ++y)
        for (std::int32_t x = 0; x < picture.Width(); ++x)
            if (!std::equal(picture.Pixel(x, y), picture.Pixel(x, y) + 3, sheet.Pixel(left + x, top + y)))
                return ::testing::AssertionFailure() << "differs at " << x << "," << y;
    return ::testing::AssertionSuccess();
}

// The player's control strips are a dark grey; nothing else on these screens is.
bool InMargin(const FrameBuffer& sheet, int x, int y) {
    const std::uint8_t* p = sheet.Pixel(x, y);
    return p[0] == p[1] && p[1] == p[2] && p[0] >= 0x30 && p[0] <= 0x78;
}

// Black pictures, 30 a second, that flash white for a sixth of a second,
// and silence that clicks (10 ms of 1 kHz), together at 1, 2 and 3 s and
// nowhere else: whole seconds fall on the picture times of every frame rate
// used here, and a sound slipped by a whole second finds no click to match.
std::filesystem::path FlashesAndClicks() {
    return MakeFixture("flashes.mp4", "-f lavfi -i color=black:s=160x120:r=30:d=4 "
                                      "-f lavfi -i \"aevalsrc='0.5*sin(2*PI*1000*t)*gte(n\\,44100)*lt(mod(n\\,44100)\\,441)':s=44100:d=4\" "
                                      "-vf \"drawbox=color=white:t=fill:enable='gte(n\\,30)*lt(mod(n\\,30)\\,5)'\" "
                                      "-c:v libx264 -pix_fmt yuv420p -c:a aac -shortest %o");
}

// Where each flash and click of a rendered video starts, in seconds, as the
// ffmpeg tool decodes it: pictures at 100 a second from time 0, sound at
// 44100 Hz from time 0, both through the tool's own timing of the file.
struct Onsets {
    std::vector<double> flashes, clicks;
};

Onsets OnsetsOf(const std::filesystem::path& video, const TestFolder& folder) {
    const auto pictures = folder.Path() / "pictures.gray", sound = folder.Path() / "sound.raw";
    const std::string ffmpeg = "ffmpeg -nostdin -y -loglevel error -i " + video.string();
    EXPECT_EQ(std::system((ffmpeg + " -map 0:v -vf fps=100:start_time=0,scale=8:6,format=gray -f rawvideo " + pictures.string()).c_str()), 0);
    EXPECT_EQ(std::system((ffmpeg + " -map 0:a -af aresample=async=1:first_pts=0 -ac 1 -ar 44100 -f s16le " + sound.string()).c_str()), 0);
    const auto gray = FileBytes(pictures), pcm = FileBytes(sound);
    auto brightness = [&](std::size_t hundredth) {
        int sum = 0;
        for (std::size_t i = 0; i < 48; ++i) sum += gray[hundredth * 48 + i];
        return sum / 48;
    };
    auto level = [&](std::size_t frame) { return std::abs(static_cast<std::int16_t>(pcm[2 * frame] | pcm[2 * frame + 1] << 8)); };
    Onsets found;
    // Each event looked for within 300 ms of its second: the first bright
    // picture, and the first sample above half the loudest near it.
    for (std::size_t second = 1; second <= 3; ++second) {
        for (std::size_t h = second * 100 - 30; h < second * 100 + 30 && (h + 1) * 48 <= gray.size(); ++h)
            if (brightness(h) > 128) {
                found.flashes.push_back(h / 100.0);
                break;
            }
        const std::size_t from = second * 44100 - 13230, to = std::min(pcm.size() / 2, second * 44100 + 13230);
        int loudest = 0;
        for (std::size_t f = from; f < to; ++f) loudest = std::max(loudest, level(f));
        if (loudest < 4000) continue; // no click here
        for (std::size_t f = from; f < to; ++f)
            if (level(f) > loudest / 2) {
                found.clicks.push_back(f / 44100.0);
                break;
            }
    }
    return found;
}

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
    MovieReader reader{std::span<const std::uint8_t>()};
    ASSERT_NO_FATAL_FAILURE(ReadFirstPicture(job.database, reader, expected));
    double difference = 0;
    for (std::int32_t y = 0; y < 120; ++y)
        for (std::int32_t x = 0; x < 160; ++x) difference += std::abs(first.Pixel(x, y)[1] - expected.Pixel(x, y)[1]);
    EXPECT_LT(difference / (160 * 120), 3.0);

    // A sound-only movie: its sound under a blank screen, as long as the sound.
    ExportSettings soundOnly = Video(kDepthNoVideo);
    const Converted tone = ConvertTo(ToneWav(), soundOnly);
    ASSERT_EQ(tone.err, noErr);
    std::ofstream(folder.Path() / "tone.pdb", std::ios::binary).write(reinterpret_cast<const char*>(tone.bytes.data()), tone.bytes.size());
    RenderJob sound;
    sound.database = folder.Path() / "tone.pdb";
    sound.video = folder.Path() / "tone.mp4";
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
    const FrameBuffer drawn = PngPixels(home.Path() / "sheet.png");
    EXPECT_EQ(drawn.Width(), 4 * (320 + 8) + 8);
    MovieReader reader{std::span<const std::uint8_t>()};
    FrameBuffer picture;
    ASSERT_NO_FATAL_FAILURE(ReadFirstPicture(colour, reader, picture));
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
    const FrameBuffer eight = PngPixels(home.Path() / "8bit.png");
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

TEST(Render, TheHandheldsWholeScreen) {
    // A tall screen: the layout's picture below the movie where the layout
    // put it, the movie moved, the controls' margins above and below.
    TestFolder home;
    const VantroResult made = RunVantro(home.Path(), {"convert", Mp4().string(), "--out", home.Path().string(), "-p", "Tungsten T3",
                                                      "--background", Pattern().string(), "--movie-rect", "40,60,200,150"});
    ASSERT_EQ(made.status, 0) << made.errors;
    const FileSpec tall = home.Path() / "clip.pdb";
    const VantroResult shown = RunVantro(home.Path(), {"render", tall.string(), "--device", "Tungsten T3", "--sheet",
                                                       (home.Path() / "tall.png").string(), "--pictures", "1", "--scale", "1"});
    ASSERT_EQ(shown.status, 0) << shown.errors;
    const FrameBuffer sheet = PngPixels(home.Path() / "tall.png");
    ASSERT_EQ(sheet.Width(), 8 + 320 + 8);
    MovieReader reader{std::span<const std::uint8_t>()};
    FrameBuffer first;
    ASSERT_NO_FATAL_FAILURE(ReadFirstPicture(tall, reader, first));
    EXPECT_TRUE(ShowsExactly(sheet, first, 8 + 40, 8 + 60));
    // 15/160 and 17/160 of 480 rows.
    EXPECT_TRUE(InMargin(sheet, 8 + 100, 8 + 44) && InMargin(sheet, 8 + 100, 8 + 429));
    EXPECT_FALSE(InMargin(sheet, 8 + 100, 8 + 45) || InMargin(sheet, 8 + 100, 8 + 428));
    // The 64 × 48 pattern, centred in the room the margins leave: blue top
    // left, green bottom right, red elsewhere.
    const int left = 8 + (320 - 64) / 2 / 4 * 4, top = 8 + 45 + (384 - 48) / 2;
    const auto near = [&](int x, int y, int r, int g, int b) {
        const std::uint8_t* p = sheet.Pixel(left + x, top + y);
        return std::abs(p[2] - r) < 40 && std::abs(p[1] - g) < 40 && std::abs(p[0] - b) < 40;
    };
    EXPECT_TRUE(near(8, 6, 0, 0, 255) && near(56, 42, 0, 255, 0) && near(56, 6, 255, 0, 0) && near(8, 42, 255, 0, 0));

    // A wide layout on the same handheld: the movie stored turned shows
    // upright where the layout put it, the margins across the wide screen.
    TestFolder wide;
    ASSERT_EQ(RunVantro(wide.Path(), {"convert", Mp4().string(), "--out", wide.Path().string(), "-p", "Tungsten T3", "--layout",
                                      "480x320"}).status, 0);
    const FileSpec turned = wide.Path() / "clip.pdb";
    ASSERT_EQ(RunVantro(wide.Path(), {"render", turned.string(), "--device", "Tungsten T3", "--sheet", (wide.Path() / "wide.png").string(),
                                      "--pictures", "1", "--scale", "1"}).status, 0);
    const FrameBuffer wideSheet = PngPixels(wide.Path() / "wide.png");
    ASSERT_EQ(wideSheet.Width(), 8 + 480 + 8);
    MovieReader wideReader{std::span<const std::uint8_t>()};
    FrameBuffer stored, upright;
    ASSERT_NO_FATAL_FAILURE(ReadFirstPicture(turned, wideReader, stored));
    ASSERT_EQ(ShowUpright(stored, wideReader.Rotation(), 1, upright), noErr);
    ASSERT_EQ(upright.Width(), 320);
    // The layout's video item, stored on the turned screen with its row
    // counted below the 30-row control strip, turned back upright.
    const auto item = std::find_if(wideReader.LayoutItems().begin(), wideReader.LayoutItems().end(),
                                   [](const MovieLayoutItem& i) { return i.values[5] == 2; });
    ASSERT_NE(item, wideReader.LayoutItems().end());
    EXPECT_TRUE(ShowsExactly(wideSheet, upright, 8 + item->values[1] + 30, 8 + 320 - (item->values[0] + 240)));
    EXPECT_TRUE(InMargin(wideSheet, 8 + 400, 8 + 29) && InMargin(wideSheet, 8 + 400, 8 + 286));
    EXPECT_FALSE(InMargin(wideSheet, 8 + 400, 8 + 30) || InMargin(wideSheet, 8 + 400, 8 + 285));

    // A device no preset names is refused before anything is written.
    const VantroResult unknown = RunVantro(wide.Path(), {"render", turned.string(), "--device", "Newton", "--sheet",
                                                         (wide.Path() / "none.png").string()});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_FALSE(std::filesystem::exists(wide.Path() / "none.png"));
}

TEST(Render, FlashesAndClicksStayTogetherThroughConversionAndRender) {
    TestFolder home;
    // ADPCM under "16 Grays" at 10 pictures a second, and a Cinepak colour
    // preset's own settings (15 a second, 320 × 240, ADPCM at 22050 Hz).
    // Both lay out two seconds of sound ahead of their first picture, the
    // lead-in: where the sound is stored, not when it plays.
    const auto grays = Database(home, "grays.pdb", TestSettings(kDepthSixteenGrays, IntToFixed(10), kSoundAdpcm2to1, 22050, 1),
                                 FlashesAndClicks());
    std::filesystem::copy_file(FlashesAndClicks(), home.Path() / "flashes.mp4");
    const VantroResult made = RunVantro(home.Path(), {"convert", (home.Path() / "flashes.mp4").string(), "-p", "Tungsten T3"});
    ASSERT_EQ(made.status, 0) << made.errors;
    for (const FileSpec& database : {grays, FileSpec(home.Path() / "flashes.pdb")}) {
        RenderJob job;
        job.database = database;
        job.video = home.Path() / (database.stem().string() + "-rendered.mp4");
        job.scale = 1;
        RenderReport report;
        ASSERT_EQ(RenderMovie(job, report), noErr) << report.detail;
        const Onsets onsets = OnsetsOf(job.video, home);
        ASSERT_EQ(onsets.flashes.size(), 3u) << database;
        ASSERT_EQ(onsets.clicks.size(), 3u) << database;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_NEAR(onsets.flashes[i], i + 1.0, 0.07) << database; // within a picture of the source's
            EXPECT_NEAR(onsets.clicks[i], onsets.flashes[i], 0.020) << database << " at " << i + 1 << " s";
        }
    }
}
