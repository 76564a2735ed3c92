// Rendering a movie database: its pictures decoded in order, turned upright
// and enlarged, written with its sound; the sheet from the same pictures.
#include "engine/render.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/playback.h"
#include "platform/moviefilewriter.h"

namespace {

constexpr std::int32_t kHundredths = 100;

OSErr Fail(RenderReport& report, OSErr err, std::string detail) {
    report.status = err;
    report.detail = std::move(detail);
    return err;
}

// Digits, ":" and "." in a 3 × 5 pixel font, for the sheet's times: the
// sheet needs a dozen labels, not a text renderer.
constexpr const char* kGlyphs = "0123456789:.";
constexpr std::uint16_t kGlyphRows[12] = {
    0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF, 0x0410, 0x0002,
};

// Writes `text` with its top left at (left, top), each font pixel 2 × 2, in dark gray.
void DrawTime(FrameBuffer& sheet, std::int32_t left, std::int32_t top, const std::string& text) {
    for (char c : text) {
        const char* glyph = std::strchr(kGlyphs, c);
        if (glyph != nullptr && c != '\0') {
            const std::uint16_t bits = kGlyphRows[glyph - kGlyphs];
            for (int row = 0; row < 5; ++row)
                for (int col = 0; col < 3; ++col)
                    if (bits >> (14 - row * 3 - col) & 1)
                        for (int dy = 0; dy < 2; ++dy)
                            for (int dx = 0; dx < 2; ++dx) {
                                const std::int32_t x = left + col * 2 + dx, y = top + row * 2 + dy;
                                if (x < sheet.Width() && y < sheet.Height())
                                    std::fill_n(sheet.Pixels() + y * sheet.RowBytes() + 4 * x, 3, std::uint8_t{0x30});
                            }
        }
        left += 8;
    }
}

// How much sound goes into the video at a time.
constexpr std::size_t kSoundSlice = 4096;

class Renderer {
public:
    Renderer(const RenderJob& job, RenderReport& report, MoviePlayback& movie) : job_(job), report_(report), movie_(movie) {}

    OSErr Run() {
        if (!movie_.HasPictures() && !job_.sheet.empty()) return Fail(report_, paramErr, "a movie without pictures");
        if (!job_.video.empty())
            if (OSErr err = WriteVideo()) return err;
        if (!job_.sheet.empty())
            if (OSErr err = WriteSheet()) return err;
        return noErr;
    }

private:
    // Sound up to `hundredths` into the video, so that the two stay
    // interleaved; none given: all that is left.
    OSErr SoundUpTo(MovieFileWriter& writer, std::optional<std::uint64_t> hundredths = {}) {
        if (movie_.Channels() == 0) return noErr;
        const std::uint64_t until = hundredths ? *hundredths * movie_.SampleRate() / 100 : UINT64_MAX;
        std::vector<std::int16_t> slice;
        while (soundWritten_ < until) {
            const auto frames = static_cast<std::size_t>(std::min<std::uint64_t>(kSoundSlice, until - soundWritten_));
            if (OSErr err = movie_.ReadSound(frames, slice)) return err;
            if (slice.empty()) break;
            if (OSErr err = writer.WriteSound(slice)) return err;
            soundWritten_ += slice.size() / movie_.Channels();
        }
        return noErr;
    }

    // Each screen at the time it appears; the last stays until the end.
    OSErr WriteVideo() {
        const std::uint64_t end = movie_.Duration();
        FrameBuffer shown;
        if (OSErr err = movie_.ScreenAt(0, job_.scale, shown)) return Fail(report_, err, "the first picture does not decode");
        if (movie_.Channels() > 0)
            if (OSErr err = movie_.SeekSound(0)) return Fail(report_, err, "the sound does not decode");
        MovieFileWriter writer;
        if (OSErr err = writer.Create(job_.video, shown.Width(), shown.Height(), kHundredths, movie_.SampleRate(), movie_.Channels()))
            return Fail(report_, err, job_.video.string());
        std::uint64_t at = 0;
        do {
            if (OSErr err = movie_.ScreenAt(at, job_.scale, shown))
                return Fail(report_, err, "the picture at " + PlayingTime(at) + " does not decode");
            if (OSErr err = SoundUpTo(writer, at)) return Fail(report_, err, job_.video.string());
            if (OSErr err = writer.WritePicture(shown, static_cast<std::int64_t>(at))) return Fail(report_, err, job_.video.string());
            report_.pictures += movie_.HasPictures() ? 1 : 0;
            if (job_.sink != nullptr && !job_.sink->Progress(static_cast<int>(at * 1000 / std::max<std::uint64_t>(end, 1))))
                return Fail(report_, userCanceledErr, {});
            at = movie_.NextChange(at);
        } while (at < end);
        if (end > 1)
            if (OSErr err = writer.WritePicture(shown, static_cast<std::int64_t>(end - 1))) return Fail(report_, err, job_.video.string());
        if (OSErr err = SoundUpTo(writer)) return Fail(report_, err, job_.video.string());
        if (OSErr err = writer.Finish()) return Fail(report_, err, job_.video.string());
        report_.width = static_cast<std::uint32_t>(shown.Width());
        report_.height = static_cast<std::uint32_t>(shown.Height());
        report_.durationHundredths = end;
        report_.sound = movie_.Channels() > 0;
        return noErr;
    }

    // Screens spread evenly over the movie's length, four to a row, on white.
    OSErr WriteSheet() {
        const std::uint64_t end = movie_.Duration();
        const int count = std::clamp(job_.sheetPictures, 1, 100);
        const int columns = std::min(count, 4), rows = (count + columns - 1) / columns;
        constexpr std::int32_t kGap = 8, kLabel = 14; // each picture's time under it
        FrameBuffer shown, sheet;
        for (int n = 0; n < count; ++n) {
            const std::uint64_t time = end * static_cast<std::uint64_t>(n) / static_cast<std::uint64_t>(count);
            if (OSErr err = movie_.ScreenAt(time, job_.scale, shown))
                return Fail(report_, err, "the picture at " + PlayingTime(time) + " does not decode");
            if (n == 0) {
                if (OSErr err = sheet.Create(columns * (shown.Width() + kGap) + kGap, rows * (shown.Height() + kGap + kLabel) + kGap))
                    return Fail(report_, err, {});
                sheet.EraseToWhite();
            }
            const std::int32_t left = kGap + (n % columns) * (shown.Width() + kGap);
            const std::int32_t top = kGap + (n / columns) * (shown.Height() + kGap + kLabel);
            for (std::int32_t y = 0; y < shown.Height(); ++y)
                std::copy_n(shown.Pixel(0, y), shown.RowBytes(), sheet.Pixels() + (top + y) * sheet.RowBytes() + 4 * left);
            DrawTime(sheet, left, top + shown.Height() + 3, PlayingTime(time));
        }
        if (OSErr err = WritePng(job_.sheet, sheet)) return Fail(report_, err, job_.sheet.string());
        return noErr;
    }

    const RenderJob& job_;
    RenderReport& report_;
    MoviePlayback& movie_;
    std::uint64_t soundWritten_ = 0; // sample frames
};

} // namespace

OSErr RenderMovie(const RenderJob& job, RenderReport& report) {
    report = {};
    if (job.scale < 1 || job.scale > 8) return Fail(report, paramErr, "the scale is 1 to 8");
    MoviePlayback movie;
    std::string problem;
    if (OSErr err = movie.Open({job.database, job.key, job.device, job.paletteScreen}, problem)) return Fail(report, err, problem);
    Renderer renderer(job, report, movie);
    return renderer.Run();
}
