// The comparison's figures against an independent computation: the
// source's frames scaled by the ffmpeg tool, the database's pictures from
// the decoder, luma PSNR worked out here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "engine/compare.h"
#include "tests/cli_runner.h"
#include "tests/media_fixtures.h"
#include "video/moviepictures.h"

TEST(Compare, PsnrAgreesWithAnIndependentComputation) {
    TestFolder home;
    const auto pdb = home.Path() / "clip.pdb";
    ASSERT_EQ(RunVantro(home.Path(), {"convert", Mp4().string(), "--out", home.Path().string(), "--video", "color",
                                      "--size", "160x120", "--fps", "10"}).status, 0);
    // Every source frame (25 a second) at the database's size, by the ffmpeg
    // tool with the scaler's settings conversions use (area averaging, exact
    // rounding, full chroma); scaled in YUV 4:2:0 instead, the source looks
    // some 2 dB closer to Cinepak's own 4:2:0 colour.
    const auto raw = home.Path() / "frames.bgra";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -i " + Mp4().string() +
                           " -vf scale=160:120:flags=area+accurate_rnd+full_chroma_int+full_chroma_inp,format=bgra -f rawvideo -pix_fmt bgra " + raw.string()).c_str()), 0);
    const auto frames = FileBytes(raw);
    ASSERT_GE(frames.size(), 50u * 160 * 120 * 4);

    ByteBlock bytes;
    ASSERT_EQ(ReadWholeFile(pdb, bytes), noErr);
    const MovieReader reader(bytes.Span());
    MoviePictureDecoder pictures;
    ASSERT_EQ(pictures.Open(reader), noErr);
    double sum = 0;
    for (std::size_t i = 0; i < pictures.Count(); ++i) {
        FrameBuffer picture;
        ASSERT_EQ(pictures.Decode(i, picture), noErr);
        // The source frame on the screen at the picture's start.
        const std::size_t frame = reader.Pictures()[i].start * 25 / 100;
        const std::uint8_t* source = frames.data() + frame * 160 * 120 * 4;
        double error = 0;
        for (std::size_t p = 0; p < 160 * 120; ++p) {
            const std::uint8_t* a = picture.Pixels() + 4 * p;
            const std::uint8_t* b = source + 4 * p;
            const double d = 0.114 * (a[0] - b[0]) + 0.587 * (a[1] - b[1]) + 0.299 * (a[2] - b[2]);
            error += d * d;
        }
        sum += 10 * std::log10(255.0 * 255.0 / (error / (160 * 120)));
    }
    const double expected = sum / static_cast<double>(pictures.Count());

    CompareReport report;
    ASSERT_EQ(CompareMovie({pdb, Mp4()}, report), noErr) << report.detail;
    EXPECT_EQ(report.pictures, pictures.Count());
    EXPECT_NEAR(report.meanPsnr, expected, 0.5);
    EXPECT_LE(report.worstPsnr, report.meanPsnr);
    EXPECT_NEAR(report.seconds, 2.0, 0.01);
    EXPECT_GT(report.videoKbps, 50);
    EXPECT_GT(report.soundKbps, 10);

    const VantroResult r = RunVantro(home.Path(), {"compare", pdb.string(), Mp4().string()});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_NE(r.output.find("luma PSNR"), std::string::npos) << r.output;
}
