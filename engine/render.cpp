// Rendering a movie database: its pictures decoded in order, turned upright
// and enlarged, written with its sound; the sheet from the same pictures.
#include "engine/render.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "audio/moviesound.h"
#include "moviedb/moviereader.h"
#include "platform/moviefilewriter.h"
#include "video/cinepakpalette.h"
#include "video/moviepictures.h"

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

// "m:ss.s" of a time in hundredths.
std::string TimeText(std::uint64_t hundredths) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu.%llu", static_cast<unsigned long long>(hundredths / 6000),
                  static_cast<unsigned long long>(hundredths / 100 % 60), static_cast<unsigned long long>(hundredths / 10 % 10));
    return text;
}

class Renderer {
public:
    Renderer(const RenderJob& job, RenderReport& report, const MovieReader& reader)
        : job_(job), report_(report), reader_(reader) {}

    OSErr Run() {
        if (job_.device.width != 0 && !reader_.Database().noPicture)
            if (OSErr err = screen_.Compose(reader_, job_.device))
                return Fail(report_, err, err == noCodecErr ? "no Cinepak decoder" : "the layout's picture does not decode");
        if (OSErr err = pictures_.Open(reader_)) {
            // A sound-only movie plays on the player's own screen: blank.
            if (err == paramErr && reader_.Database().noPicture && job_.sheet.empty()) return WriteSoundOnly();
            return Fail(report_, err, err == noCodecErr ? "no Cinepak decoder" : "a movie without pictures");
        }
        if (!job_.video.empty())
            if (OSErr err = WriteVideo()) return err;
        if (!job_.sheet.empty())
            if (OSErr err = WriteSheet()) return err;
        return noErr;
    }

private:
    OSErr Upright(std::size_t index, FrameBuffer& out) {
        if (OSErr err = pictures_.Decode(index, decoded_)) return err;
        if (job_.paletteScreen && !reader_.Palette().empty())
            ShowOnPaletteScreen(decoded_.Pixels(), decoded_.RowBytes(), static_cast<std::uint32_t>(decoded_.Width()),
                                static_cast<std::uint32_t>(decoded_.Height()), reader_.Palette(), reader_.InverseMap());
        if (job_.device.width != 0) return screen_.Show(decoded_, job_.scale, out);
        return ShowUpright(decoded_, reader_.Rotation(), job_.scale, out);
    }

    // Sound up to `hundredths` into the video, so that the two stay
    // interleaved; none given: all that is left.
    OSErr SoundUpTo(MovieFileWriter& writer, std::optional<std::uint64_t> hundredths = {}) {
        if (channels_ == 0) return noErr;
        const std::size_t until =
            hundredths ? std::min(sound_.size(), static_cast<std::size_t>(*hundredths * rate_ / 100) * channels_) : sound_.size();
        if (until <= soundWritten_) return noErr;
        const OSErr err = writer.WriteSound({sound_.data() + soundWritten_, until - soundWritten_});
        soundWritten_ = until;
        return err;
    }

    OSErr WriteVideo() {
        if (DecodeMovieSound(reader_, sound_, channels_, rate_) != noErr) channels_ = 0;
        const auto pictures = reader_.Pictures();
        const std::uint64_t end = pictures.back().start + pictures.back().duration;
        FrameBuffer shown;
        if (OSErr err = Upright(0, shown)) return Fail(report_, err, "picture 1 does not decode");
        MovieFileWriter writer;
        if (OSErr err = writer.Create(job_.video, shown.Width(), shown.Height(), kHundredths, rate_, channels_))
            return Fail(report_, err, job_.video.string());
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            if (pictures[i].duration == 0) continue; // never on the screen
            if (OSErr err = Upright(i, shown)) return Fail(report_, err, "picture " + std::to_string(i + 1) + " does not decode");
            if (OSErr err = SoundUpTo(writer, pictures[i].start)) return Fail(report_, err, job_.video.string());
            if (OSErr err = writer.WritePicture(shown, static_cast<std::int64_t>(pictures[i].start)))
                return Fail(report_, err, job_.video.string());
            ++report_.pictures;
            if (job_.sink != nullptr && !job_.sink->Progress(static_cast<int>(pictures[i].start * 1000 / std::max<std::uint64_t>(end, 1))))
                return Fail(report_, userCanceledErr, {});
        }
        // The last picture stays until the movie's end.
        if (end > pictures.back().start + 1)
            if (OSErr err = writer.WritePicture(shown, static_cast<std::int64_t>(end - 1))) return Fail(report_, err, job_.video.string());
        if (OSErr err = SoundUpTo(writer)) return Fail(report_, err, job_.video.string());
        if (OSErr err = writer.Finish()) return Fail(report_, err, job_.video.string());
        report_.width = static_cast<std::uint32_t>(shown.Width());
        report_.height = static_cast<std::uint32_t>(shown.Height());
        report_.durationHundredths = end;
        report_.sound = channels_ > 0;
        return noErr;
    }

    // The sound under a white screen of the movie's presentation size.
    OSErr WriteSoundOnly() {
        if (OSErr err = DecodeMovieSound(reader_, sound_, channels_, rate_); err != noErr || rate_ == 0)
            return Fail(report_, err != noErr ? err : paramErr, "neither pictures nor sound");
        const MovieDatabase& in = reader_.Database();
        // The device's screen, or the presentation size the movie stores.
        const int shownW = job_.device.width != 0 ? job_.device.width : in.pictureWidth >= 16 ? in.pictureWidth & ~1 : 160;
        const int shownH = job_.device.width != 0 ? job_.device.height : in.pictureHeight >= 16 ? in.pictureHeight & ~1 : 160;
        const std::int32_t width = shownW * job_.scale, height = shownH * job_.scale;
        FrameBuffer screen;
        if (OSErr err = screen.Create(width, height)) return Fail(report_, err, {});
        screen.EraseToWhite();
        const std::uint64_t end = sound_.size() / channels_ * 100 / rate_;
        MovieFileWriter writer;
        if (OSErr err = writer.Create(job_.video, width, height, kHundredths, rate_, channels_)) return Fail(report_, err, job_.video.string());
        if (OSErr err = writer.WritePicture(screen, 0)) return Fail(report_, err, job_.video.string());
        if (OSErr err = SoundUpTo(writer)) return Fail(report_, err, job_.video.string());
        if (end > 1)
            if (OSErr err = writer.WritePicture(screen, static_cast<std::int64_t>(end - 1))) return Fail(report_, err, job_.video.string());
        if (OSErr err = writer.Finish()) return Fail(report_, err, job_.video.string());
        report_.width = static_cast<std::uint32_t>(width);
        report_.height = static_cast<std::uint32_t>(height);
        report_.durationHundredths = end;
        report_.sound = true;
        return noErr;
    }

    // Pictures spread evenly over the movie's length, four to a row, on white.
    OSErr WriteSheet() {
        const auto pictures = reader_.Pictures();
        const std::uint64_t end = pictures.back().start + pictures.back().duration;
        const int count = std::clamp(job_.sheetPictures, 1, 100);
        const int columns = std::min(count, 4), rows = (count + columns - 1) / columns;
        constexpr std::int32_t kGap = 8, kLabel = 14; // each picture's time under it
        FrameBuffer shown, sheet;
        for (int n = 0; n < count; ++n) {
            std::size_t index = 0;
            const std::uint64_t time = end * static_cast<std::uint64_t>(n) / static_cast<std::uint64_t>(count);
            if (OSErr err = reader_.PictureAt(time, index))
                return Fail(report_, err, "no picture at that time");
            if (OSErr err = Upright(index, shown)) return Fail(report_, err, "picture " + std::to_string(index + 1) + " does not decode");
            if (n == 0) {
                if (OSErr err = sheet.Create(columns * (shown.Width() + kGap) + kGap, rows * (shown.Height() + kGap + kLabel) + kGap))
                    return Fail(report_, err, {});
                sheet.EraseToWhite();
            }
            const std::int32_t left = kGap + (n % columns) * (shown.Width() + kGap);
            const std::int32_t top = kGap + (n / columns) * (shown.Height() + kGap + kLabel);
            for (std::int32_t y = 0; y < shown.Height(); ++y)
                std::copy_n(shown.Pixel(0, y), shown.RowBytes(), sheet.Pixels() + (top + y) * sheet.RowBytes() + 4 * left);
            DrawTime(sheet, left, top + shown.Height() + 3, TimeText(pictures[index].start));
        }
        if (OSErr err = WritePng(job_.sheet, sheet)) return Fail(report_, err, job_.sheet.string());
        return noErr;
    }

    const RenderJob& job_;
    RenderReport& report_;
    const MovieReader& reader_;
    MoviePictureDecoder pictures_;
    HandheldScreen screen_;
    FrameBuffer decoded_;
    std::vector<std::int16_t> sound_;
    std::uint16_t channels_ = 0;
    std::uint32_t rate_ = 0;
    std::size_t soundWritten_ = 0;
};

} // namespace

OSErr RenderMovie(const RenderJob& job, RenderReport& report) {
    report = {};
    if (job.scale < 1 || job.scale > 8) return Fail(report, paramErr, "the scale is 1 to 8");
    MovieReader reader{std::span<const std::uint8_t>()};
    std::string problem;
    if (OSErr err = ReadMovieFile(job.database, job.key, reader, problem)) return Fail(report, err, problem);
    Renderer renderer(job, report, reader);
    return renderer.Run();
}
