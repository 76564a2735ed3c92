// Playing a database from any time shows and sounds what playing it from the
// start shows and sounds at that time.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "audio/moviesound.h"
#include "engine/playback.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"

namespace {

std::vector<std::uint8_t> Pixels(const FrameBuffer& b) {
    return {b.Pixels(), b.Pixels() + static_cast<std::size_t>(b.RowBytes()) * b.Height()};
}

} // namespace

TEST(Playback, AnyTimeShowsAndSoundsWhatPlayingFromTheStartDoes) {
    TestFolder folder;
    // Cinepak with a key picture at the second chapter, and ADPCM sound.
    const Converted c = ConvertTo(MovWithChapters(), TestSettings(kDepthCinepakMobile, IntToFixed(10), kSoundAdpcm2to1));
    ASSERT_EQ(c.err, noErr);
    const FileSpec database = folder.Path() / "clip.pdb";
    std::ofstream(database, std::ios::binary).write(reinterpret_cast<const char*>(c.bytes.data()), c.bytes.size());

    MoviePlayback playing, seeking;
    std::string problem;
    PlaybackJob job;
    job.database = database;
    ASSERT_EQ(playing.Open(job, problem), noErr) << problem;
    ASSERT_EQ(seeking.Open(job, problem), noErr) << problem;
    EXPECT_NEAR(static_cast<double>(playing.Duration()), 200, 10);

    // From the start: each screen from the time it appears.
    std::map<std::uint64_t, std::vector<std::uint8_t>> screens;
    FrameBuffer shown;
    for (std::uint64_t t = 0; t < playing.Duration(); t = playing.NextChange(t)) {
        ASSERT_EQ(playing.ScreenAt(t, 1, shown), noErr) << t;
        screens[t] = Pixels(shown);
    }
    EXPECT_EQ(screens.size(), 20u);
    EXPECT_EQ(shown.Width(), 160);
    // Backwards, and between the changes: the screen that appeared last.
    for (auto it = screens.rbegin(); it != screens.rend(); ++it)
        for (const std::uint64_t t : {it->first + 3, it->first}) {
            ASSERT_EQ(seeking.ScreenAt(t, 1, shown), noErr);
            EXPECT_EQ(Pixels(shown), std::prev(screens.upper_bound(t))->second) << "at " << t;
        }

    // The sound from a time is the whole sound's from that sample frame on.
    const MovieReader reader(c.bytes);
    std::vector<std::int16_t> whole, part;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    ASSERT_EQ(DecodeMovieSound(reader, whole, channels, rate), noErr);
    ASSERT_EQ(seeking.SampleRate(), rate);
    for (const std::uint64_t t : {150, 37, 0}) {
        ASSERT_EQ(seeking.SeekSound(t), noErr);
        ASSERT_EQ(seeking.ReadSound(3000, part), noErr);
        const std::size_t from = t * rate / 100 * channels;
        ASSERT_EQ(part.size(), std::min<std::size_t>(3000 * channels, whole.size() - from)) << t;
        EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + static_cast<std::ptrdiff_t>(from))) << "at " << t;
    }
    // Read on to the end, then nothing more.
    std::size_t read = 3000 * channels;
    do {
        ASSERT_EQ(seeking.ReadSound(5000, part), noErr);
        read += part.size();
    } while (!part.empty());
    EXPECT_EQ(read, whole.size());
}
