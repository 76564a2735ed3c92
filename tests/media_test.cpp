#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>

#include "platform/media.h"
#include "platform/pixels.h"
#include "tests/media_fixtures.h"
#include "tests/test_folder.h"

namespace {

enum class Colour { Red, Blue, Green, White, Other };

Colour ColourAt(const FrameBuffer& b, int x, int y) {
    const std::uint8_t* p = b.Pixel(x, y);
    const int blue = p[0], green = p[1], red = p[2];
    if (red > 200 && green < 60 && blue < 60) return Colour::Red;
    if (blue > 200 && red < 60 && green < 60) return Colour::Blue;
    if (green > 200 && red < 60 && blue < 60) return Colour::Green;
    if (red > 240 && green > 240 && blue > 240) return Colour::White;
    return Colour::Other;
}

std::unique_ptr<VideoSource> OpenVideo(const Movie& movie) {
    std::unique_ptr<VideoSource> source;
    EXPECT_EQ(movie.NewVideoSource(movie.FindTrack(kVideoMediaType), source), noErr);
    return source;
}

Movie OpenMovie(const std::filesystem::path& path) {
    Movie movie;
    EXPECT_EQ(Movie::Open(path, movie), noErr) << path;
    return movie;
}

// Steps through a source the way the driver does at "Best": each answer's
// duration leads to the next frame.
std::vector<VideoSample> StepThrough(VideoSource& source) {
    std::vector<VideoSample> samples;
    std::int64_t time = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        VideoSample s;
        const OSErr err = source.GetFrame(time, s);
        if (err == eofErr) break;
        EXPECT_EQ(err, noErr);
        if (err != noErr) break;
        EXPECT_GT(s.duration, 0);
        samples.push_back(s);
        time += s.duration;
    }
    return samples;
}

} // namespace

TEST(Media, SmallTimeScalesAreMultiplied) {
    // AVI counts in frames: a time scale of 25, which the converter multiplies by 100.
    Movie movie = OpenMovie(MakeFixture("mjpeg.avi", std::string(kTestPicture) + " " + kTestTone +
                                                         " -c:v mjpeg -q:v 3 -c:a pcm_s16le -shortest %o"));
    const int track = movie.FindTrack(kVideoMediaType);
    ASSERT_EQ(movie.Track(track).timeScale, 25);
    movie.ScaleTrackTimeScale(track, 100);
    EXPECT_EQ(movie.Track(track).timeScale, 2500);
    EXPECT_EQ(movie.Track(track).duration, 5000);
    auto source = OpenVideo(movie);
    EXPECT_EQ(source->TimeScale(), 2500);
    std::int64_t value = 0;
    ASSERT_EQ(source->GetProperty(Fcc("dura"), value), noErr);
    EXPECT_EQ(value, 5000);
    ASSERT_EQ(source->GetProperty(Fcc("wdth"), value), noErr);
    EXPECT_EQ(value, IntToFixed(320));
    EXPECT_EQ(source->GetProperty(Fcc("none"), value), paramErr);
    const auto samples = StepThrough(*source);
    ASSERT_EQ(samples.size(), 50u);
    EXPECT_EQ(samples[7].duration, 100);
}

TEST(Media, TransparentPicturesShowTheWhiteBackground) {
    // Half-transparent red with a half-transparent blue stripe: each comes
    // out halfway to the white background.
    const auto png = MakeFixture("half-red.png", "-f lavfi -i \"color=c=red@0.5:s=40x20,format=rgba,"
                                                 "drawbox=x=0:y=0:w=10:h=20:color=blue:t=fill\" -frames:v 1 %o");
    Movie movie = OpenMovie(png);
    FrameBuffer picture;
    ASSERT_EQ(picture.Create(40, 20), noErr);
    ASSERT_EQ(movie.PosterFrame(picture), noErr);
    const std::uint8_t* pink = picture.Pixel(30, 10);
    EXPECT_EQ(pink[2], 255);
    EXPECT_NEAR(pink[1], 128, 2);
    EXPECT_NEAR(pink[0], 128, 2);
    EXPECT_EQ(pink[3], 255);
    const std::uint8_t* lightBlue = picture.Pixel(4, 10);
    EXPECT_EQ(lightBlue[0], 255);
    EXPECT_NEAR(lightBlue[1], 128, 2);
    EXPECT_NEAR(lightBlue[2], 128, 2);
}

// The vector interleaving of scaled planes against the plain one: every
// length around the sixteen-pixel step, with and without alpha, on random
// bytes and at both ends of the range.
TEST(Media, PlanesInterleaveAsThePlainLoopDoes) {
    std::mt19937 rng(7);
    std::vector<std::uint8_t> planes[4];
    for (auto& plane : planes) {
        plane.resize(256); // room for the longest count at the largest skew
        for (auto& b : plane) b = static_cast<std::uint8_t>(rng());
    }
    std::fill(planes[3].begin() + 100, planes[3].end(), 0);
    std::fill(planes[0].begin() + 150, planes[0].end(), 255);
    for (std::size_t count : {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 199}) {
        for (const bool alpha : {false, true}) {
            for (std::size_t skew : {0, 1, 3}) {
                const std::uint8_t* a = alpha ? planes[3].data() + skew : nullptr;
                std::vector<std::uint8_t> fast(count * 4 + 8, 0xA5), plain(count * 4 + 8, 0xA5);
                InterleaveBgra(planes[0].data() + skew, planes[1].data(), planes[2].data(), a, fast.data() + skew, count);
                InterleaveBgraPlain(planes[0].data() + skew, planes[1].data(), planes[2].data(), a, plain.data() + skew, count);
                EXPECT_EQ(fast, plain) << count << " " << alpha << " " << skew;
            }
        }
    }
}

namespace {

// What the driver gets for each request: the frame's interval and a digest
// of its picture.
struct Answer {
    std::int64_t frameTime, duration;
    std::uint64_t digest;
    bool operator==(const Answer&) const = default;
};

std::vector<Answer> Answers(const Movie& movie, Fixed toldRate, const std::vector<std::int64_t>& times) {
    auto source = OpenVideo(movie);
    source->SetFrameRate(toldRate);
    FrameBuffer picture;
    EXPECT_EQ(picture.Create(64, 48), noErr);
    DecompressionSequence sequence;
    std::vector<Answer> answers;
    for (const std::int64_t time : times) {
        VideoSample s;
        if (source->GetFrame(time, s) != noErr) break;
        if (answers.empty()) {
            const Rect from = MakeRect(0, 0, s.description.width, s.description.height);
            EXPECT_EQ(sequence.Begin(s.description, Matrix::MapRect(from, MakeRect(0, 0, 64, 48)), &picture), noErr);
        }
        EXPECT_EQ(sequence.Decompress(*s.picture), noErr);
        std::uint64_t digest = 1469598103934665603u;
        for (std::size_t i = 0; i < 64 * 48 * 4; ++i) digest = (digest ^ picture.Pixels()[i]) * 1099511628211u;
        answers.push_back({s.frameTime, s.duration, digest});
    }
    return answers;
}

} // namespace

// Told the frame rate, the source lets the decoder skip pictures no request
// can show and no other picture refers to. What each request gets must not
// change: at the told rate, with B-frames between the requested frames or
// on them, and when requests come faster than told (the source then decodes
// again what it let go); also where the container's times are in decoding
// order (AVI) or come from a program stream.
TEST(Media, PicturesLetGoAreNeverOnesAskedFor) {
    const std::string moving = "-f lavfi -i testsrc2=size=128x96:rate=30:duration=3 -an ";
    const std::string h264 = moving + "-c:v libx264 -g 40 ";
    for (const auto& movie : {OpenMovie(MakeFixture("b-frames-1.mp4", h264 + "-bf 1 %o")),
                              OpenMovie(MakeFixture("b-frames-3.mp4", h264 + "-bf 3 -b_strategy 0 %o")),
                              OpenMovie(MakeFixture("b-frames.avi", moving + "-c:v mpeg4 -bf 2 -vtag XVID %o")),
                              OpenMovie(MakeFixture("b-frames.mpg", moving + "-c:v mpeg2video -bf 2 %o"))}) {
        auto source = OpenVideo(movie);
        const std::int64_t scale = source->TimeScale();
        std::vector<std::int64_t> at15, at30;
        for (int n = 0; n < 45; ++n) at15.push_back(n * scale / 15);
        for (int n = 0; n < 90; ++n) at30.push_back(n * scale / 30);
        const auto plain15 = Answers(movie, 0, at15);
        ASSERT_EQ(plain15.size(), 45u);
        EXPECT_EQ(Answers(movie, IntToFixed(15), at15), plain15);
        const auto plain30 = Answers(movie, 0, at30);
        ASSERT_EQ(plain30.size(), 90u);
        EXPECT_EQ(Answers(movie, IntToFixed(15), at30), plain30);
        // Every frame differs, so an answer of the wrong one shows.
        if (movie.Path().extension() == ".mp4") {
            for (std::size_t n = 1; n < plain30.size(); ++n) EXPECT_NE(plain30[n].digest, plain30[n - 1].digest) << n;
        }
    }
}

// Each container keeps times its own way: Matroska and FLV in milliseconds,
// AVI in decoding order with no time for a key frame, MPEG-TS from a late
// start. The same content answers the same pictures at the same times in all
// of them as in its MP4: with B-frames, and at 30000/1001 frames/s, whose
// period milliseconds cannot hold.
TEST(Media, EveryContainerShowsThePicturesOfTheSameTimes) {
    struct Source {
        std::string name, encoding;
        std::vector<std::string> containers;
    };
    const std::string moving = "-f lavfi -i testsrc2=size=128x96:duration=3:rate=";
    const std::vector<Source> sources = {
        {"h264-25", moving + "25 -c:v libx264 -pix_fmt yuv420p -g 12", {"mkv", "flv", "ts", "avi"}},
        {"h264-ntsc", moving + "30000/1001 -c:v libx264 -pix_fmt yuv420p -g 12", {"mkv", "flv", "ts", "avi"}},
        {"mpeg4-ntsc", moving + "30000/1001 -c:v mpeg4 -bf 2 -g 12", {"mkv", "avi"}},
    };
    // The pictures shown at 0, 100 ms, 200 ms … in the movie's own time scale.
    auto pictures = [](const Movie& movie) {
        const std::int64_t scale = OpenVideo(movie)->TimeScale();
        std::vector<std::int64_t> times;
        for (int n = 0; n < 30; ++n) times.push_back(n * scale / 10);
        std::vector<std::uint64_t> digests;
        for (const Answer& a : Answers(movie, IntToFixed(10), times)) digests.push_back(a.digest);
        return digests;
    };
    for (const Source& source : sources) {
        const auto mp4 = MakeFixture("same-times-" + source.name + ".mp4", source.encoding + " %o");
        const auto expected = pictures(OpenMovie(mp4));
        ASSERT_EQ(expected.size(), 30u) << source.name;
        // Every picture asked for differs from the one before, so a picture
        // early or late shows.
        for (std::size_t n = 1; n < expected.size(); ++n) ASSERT_NE(expected[n], expected[n - 1]) << source.name << " " << n;
        for (const std::string& container : source.containers) {
            const auto copy = MakeFixture("same-times-" + source.name + "." + container, "-i '" + mp4.string() + "' -c copy %o");
            const auto got = pictures(OpenMovie(copy));
            ASSERT_EQ(got.size(), expected.size()) << copy;
            for (std::size_t n = 0; n < got.size(); ++n) EXPECT_EQ(got[n], expected[n]) << copy << " at " << n * 100 << " ms";
        }
    }
}

TEST(Media, TenFramesASecondFromTwentyFive) {
    Movie movie = OpenMovie(Mp4());
    auto source = OpenVideo(movie);
    const std::int64_t scale = source->TimeScale();
    for (int n = 0; n < 20; ++n) {
        const std::int64_t t = n * scale / 10;
        VideoSample s;
        ASSERT_EQ(source->GetFrame(t, s), noErr) << n;
        // The frame shown at t is the one that started at or before it.
        const std::int64_t frame = t * 25 / scale;
        EXPECT_EQ(s.frameTime, frame * scale / 25) << n;
        EXPECT_EQ(s.time + s.duration, (frame + 1) * scale / 25) << n;
    }
    VideoSample s;
    EXPECT_EQ(source->GetFrame(2 * scale, s), eofErr);
    // Going back seeks.
    ASSERT_EQ(source->GetFrame(scale / 2, s), noErr);
    EXPECT_EQ(s.frameTime, 12 * scale / 25); // 0.5 s shows the frame of 0.48 s
}

TEST(Media, VariableFrameRateAndLateStartComeOutRight) {
    // Ten frames of 40 ms, then ten of 100 ms.
    const auto vfr = MakeFixture("vfr.mp4", "-f lavfi -i testsrc2=size=160x120:rate=25:duration=0.8 "
                                            "-vf \"settb=1/1000,setpts='if(lt(N,10),N*0.04,0.4+(N-10)*0.1)/TB'\" "
                                            "-fps_mode passthrough -enc_time_base:v 1/1000 -c:v libx264 "
                                            "-pix_fmt yuv420p %o");
    Movie movie = OpenMovie(vfr);
    auto source = OpenVideo(movie);
    const auto samples = StepThrough(*source);
    ASSERT_EQ(samples.size(), 20u);
    const double scale = source->TimeScale();
    EXPECT_NEAR(samples[5].duration / scale, 0.04, 1e-3);
    EXPECT_NEAR(samples[12].duration / scale, 0.1, 1e-3);
    EXPECT_NEAR(samples[12].time / scale, 0.6, 1e-3);
    // The file gives the last frame no duration of its own: it lasts about one
    // average frame.
    EXPECT_NEAR(samples.back().time / scale, 1.3, 1e-3);
    EXPECT_GT(samples.back().duration, 0);
    EXPECT_LE(samples.back().duration / scale, 0.1);

    // MPEG-1 system streams start their clocks late: time 0 is the first frame.
    const auto mpg = Mpeg1Program();
    Movie program = OpenMovie(mpg);
    auto mpeg = OpenVideo(program);
    const auto frames = StepThrough(*mpeg);
    EXPECT_EQ(frames.size(), 50u);
    EXPECT_EQ(frames.front().time, 0);
}

TEST(Media, ReadsTheCommonFormats) {
    struct Case {
        const char* name;
        std::string arguments;
        bool sound;
        std::size_t frames; // none without a picture
    };
    const std::string both = std::string(kTestPicture) + " " + kTestTone;
    // (AVI, WAV and MP3 sources the AVI and pump tests convert.)
    const std::vector<Case> cases = {
        {"vp8.mkv", both + " -c:v libvpx -b:v 500k -c:a libvorbis -shortest %o", true, 50},
        {"tone.aiff", std::string(kTestTone) + " %o", true, 0},
        {"picture.png", "-f lavfi -i testsrc2=size=200x100:duration=1 -frames:v 1 %o", false, 1},
        {"picture.jpg", "-f lavfi -i testsrc2=size=200x100:duration=1 -frames:v 1 %o", false, 1},
        {"animation.gif", "-f lavfi -i testsrc2=size=80x60:rate=10:duration=1 %o", false, 10}, // an animated GIF has its frames
    };
    for (const Case& c : cases) {
        Movie movie = OpenMovie(MakeFixture(c.name, c.arguments));
        EXPECT_EQ(movie.FindTrack(kVideoMediaType) != 0, c.frames > 0) << c.name;
        EXPECT_EQ(movie.FindTrack(kSoundMediaType) != 0, c.sound) << c.name;
        if (c.frames == 0) continue;
        auto source = OpenVideo(movie);
        ASSERT_TRUE(source) << c.name;
        const auto samples = StepThrough(*source);
        EXPECT_EQ(samples.size(), c.frames) << c.name;
        EXPECT_EQ(Answers(movie, 0, {0}).size(), 1u) << c.name; // the first picture decodes
        // A still picture is a movie of one frame lasting one second.
        if (c.frames == 1) {
            EXPECT_EQ(movie.Duration(), 1000) << c.name;
            ASSERT_EQ(samples.size(), 1u);
            EXPECT_EQ(samples[0].duration, 1000) << c.name;
            EXPECT_EQ(samples[0].description.width, 200) << c.name;
        }
    }
}

TEST(Media, BrokenFilesAnswerAStatus) {
    const auto mp4 = Mp4();
    const auto zero = WriteTextFixture("zero.mov", "");
    const auto text = WriteTextFixture("text.mov", "This is not a movie, only some words.\n");
    // The first half of a movie.
    const auto truncated = FixtureFolder() / "truncated.mp4";
    {
        const std::string bytes = FileText(mp4);
        std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    }
    Movie movie;
    EXPECT_EQ(Movie::Open(FixtureFolder() / "missing.mov", movie), fnfErr);
    EXPECT_EQ(Movie::Open(zero, movie), noMovieFound);
    EXPECT_EQ(Movie::Open(text, movie), noMovieFound);
    // A truncated MP4 has lost its index at the end: either it does not open,
    // or what opens ends early without a crash.
    if (Movie::Open(truncated, movie) == noErr && movie.FindTrack(kVideoMediaType) != 0) {
        auto source = OpenVideo(movie);
        if (source) (void)StepThrough(*source);
    }
}

TEST(Media, GeometryScalesCropsAndTurns) {
    const Rect source = MakeRect(0, 0, 64, 48);
    auto turned = [&](int degrees) {
        Matrix m = Matrix::MapRect(source, source).Rotated(degrees);
        const Rect r = m.TransformRect(source);
        return m.Translated(-r.left, -r.top);
    };
    struct Point {
        int x, y;
        Colour colour;
    };
    struct View {
        const char* what;
        Matrix matrix;
        int width, height;
        std::vector<Point> expected;
    };
    const View views[] = {
        {"halved: the quadrants keep their places", Matrix::MapRect(source, MakeRect(0, 0, 32, 24)), 32, 24,
         {{4, 4, Colour::Blue}, {27, 4, Colour::Red}, {27, 20, Colour::Green}, {4, 20, Colour::Red}}},
        // 64 × 48 centred on 48 × 48: buffer x is picture x - 8.
        {"cropped to a square", Matrix::MapRect(source, MakeRect(-8, 0, 64, 48)), 48, 48,
         {{0, 0, Colour::Blue}, {47, 47, Colour::Green}, {20, 4, Colour::Blue}, {28, 4, Colour::Red}}},
        {"clockwise: the top left goes to the top right", turned(90), 48, 64,
         {{44, 4, Colour::Blue}, {4, 60, Colour::Green}, {4, 4, Colour::Red}}},
        {"counter-clockwise: the top left goes to the bottom left", turned(-90), 48, 64,
         {{4, 60, Colour::Blue}, {44, 4, Colour::Green}}},
        {"inside a larger buffer: the rest stays white", Matrix::MapRect(source, MakeRect(10, 10, 32, 24)), 60, 50,
         {{2, 2, Colour::White}, {14, 14, Colour::Blue}, {55, 45, Colour::White}}},
    };
    for (const View& v : views) {
        const FrameBuffer b = PictureAt(Pattern(), 0, v.width, v.height, v.matrix);
        for (const Point& p : v.expected) EXPECT_EQ(ColourAt(b, p.x, p.y), p.colour) << v.what << " at " << p.x << "," << p.y;
    }
}

TEST(Media, PhoneVideosComeOutUprightAndSquarePixelsWide) {
    // The pattern as H.264 in MP4, its track header's matrix then set to a
    // quarter turn, as phones record.
    const auto plain = MakeFixture("pattern-h264.mp4", "-loop 1 -i '" + Pattern().string() + "' -frames:v 5 -c:v libx264 -pix_fmt yuv444p %o");
    const auto turned = FixtureFolder() / "turned.mp4";
    {
        std::string bytes = FileText(plain);
        const std::size_t tkhd = bytes.find("tkhd");
        ASSERT_NE(tkhd, std::string::npos);
        const std::int32_t matrix[9] = {0, 0x10000, 0, -0x10000, 0, 0, 0, 0, 0x40000000};
        for (int i = 0; i < 9; ++i) WriteBE32(reinterpret_cast<std::uint8_t*>(&bytes[tkhd + 44 + 4 * i]), static_cast<std::uint32_t>(matrix[i]));
        std::ofstream(turned, std::ios::binary) << bytes;
    }
    Movie movie = OpenMovie(turned);
    EXPECT_EQ(movie.Box(), MakeRect(0, 0, 48, 64));
    // The ffmpeg tool's own upright picture of the same file is the reference.
    const auto reference = MakeFixture("turned-reference.png", "-i '" + turned.string() + "' -frames:v 1 %o");
    FrameBuffer ours, theirs;
    ASSERT_EQ(ours.Create(48, 64), noErr);
    ASSERT_EQ(theirs.Create(48, 64), noErr);
    ASSERT_EQ(movie.PosterFrame(ours), noErr);
    ASSERT_EQ(OpenMovie(reference).PosterFrame(theirs), noErr);
    for (int y = 4; y < 64; y += 8)
        for (int x = 4; x < 48; x += 8) EXPECT_EQ(ColourAt(ours, x, y), ColourAt(theirs, x, y)) << x << "," << y;
    EXPECT_NE(ColourAt(ours, 4, 4), ColourAt(ours, 44, 4)); // not the unturned picture squeezed

    // Pixels twice as wide as tall show the picture twice as wide.
    Movie wide = OpenMovie(MakeFixture("wide-pixels.mp4", "-f lavfi -i color=c=red:s=64x48 -vf setsar=2 "
                                                          "-frames:v 5 -c:v libx264 %o"));
    EXPECT_EQ(wide.Box(), MakeRect(0, 0, 128, 48));
}
