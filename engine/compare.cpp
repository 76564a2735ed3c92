// Comparing a movie database with its source picture by picture.
#include "engine/compare.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "moviedb/moviereader.h"
#include "platform/media.h"
#include "video/moviepictures.h"

namespace {

constexpr double kIdentical = 99.0; // dB for pictures without a difference

OSErr Fail(CompareReport& report, OSErr err, std::string detail) {
    report.status = err;
    report.detail = std::move(detail);
    return err;
}

// Luma as ITU-R BT.601 weighs the colours, on the full 0–255 range.
double Luma(const std::uint8_t* bgra) { return 0.114 * bgra[0] + 0.587 * bgra[1] + 0.299 * bgra[2]; }

double LumaPsnr(const FrameBuffer& a, const FrameBuffer& b) {
    double sum = 0;
    for (std::int32_t y = 0; y < a.Height(); ++y)
        for (std::int32_t x = 0; x < a.Width(); ++x) {
            const double d = Luma(a.Pixel(x, y)) - Luma(b.Pixel(x, y));
            sum += d * d;
        }
    const double mse = sum / (static_cast<double>(a.Width()) * a.Height());
    return mse <= 0 ? kIdentical : std::min(kIdentical, 10.0 * std::log10(255.0 * 255.0 / mse));
}

// The source's picture showing at a time, drawn at the database picture's
// upright size.
class SourcePictures {
public:
    OSErr Open(const FileSpec& path) {
        if (OSErr err = Movie::Open(path, movie_)) return err;
        const int track = movie_.FindTrack(kVideoMediaType);
        if (track == 0) return invalidTrack;
        return movie_.NewVideoSource(track, source_);
    }
    OSErr At(std::uint64_t hundredths, FrameBuffer& out) {
        VideoSample sample;
        if (OSErr err = source_->GetFrame(static_cast<std::int64_t>(hundredths) * source_->TimeScale() / 100, sample)) return err;
        DecompressionSequence sequence;
        const Rect from = MakeRect(0, 0, sample.description.width, sample.description.height);
        if (OSErr err = sequence.Begin(sample.description, Matrix::MapRect(from, MakeRect(0, 0, out.Width(), out.Height())), &out))
            return err;
        return sequence.Decompress(*sample.picture);
    }

private:
    Movie movie_;
    std::unique_ptr<VideoSource> source_;
};

void DataRates(const MovieReader& reader, CompareReport& report) {
    std::uint64_t pictureBytes = 0, soundBytes = 0;
    for (const MoviePicture& p : reader.Pictures()) pictureBytes += p.payload.size();
    for (const MovieSound& s : reader.Sounds()) soundBytes += s.payload.size();
    if (report.seconds <= 0) return;
    report.videoKbps = static_cast<double>(pictureBytes) * 8 / report.seconds / 1000;
    report.soundKbps = static_cast<double>(soundBytes) * 8 / report.seconds / 1000;
}

} // namespace

OSErr CompareMovie(const CompareJob& job, CompareReport& report) {
    report = {};
    MovieReader reader{std::span<const std::uint8_t>()};
    std::string problem;
    if (OSErr err = ReadMovieFile(job.database, job.key, reader, problem)) return Fail(report, err, problem);
    MoviePictureDecoder pictures;
    if (OSErr err = pictures.Open(reader)) return Fail(report, err, "a movie without pictures to compare");
    SourcePictures source;
    if (OSErr err = source.Open(job.source)) return Fail(report, err, job.source.string() + ": no pictures to compare with");

    const auto list = reader.Pictures();
    report.seconds = static_cast<double>(list.back().start + list.back().duration) / 100.0;
    FrameBuffer decoded, shown, original;
    double sum = 0;
    report.worstPsnr = kIdentical;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].duration == 0) continue; // never on the screen
        if (OSErr err = pictures.Decode(i, decoded)) return Fail(report, err, "picture " + std::to_string(i + 1) + " does not decode");
        if (OSErr err = ShowUpright(decoded, reader.Rotation(), 1, shown)) return Fail(report, err, {});
        if (original.Width() != shown.Width() || original.Height() != shown.Height())
            if (OSErr err = original.Create(shown.Width(), shown.Height())) return Fail(report, err, {});
        if (OSErr err = source.At(list[i].start, original))
            return Fail(report, err, job.source.string() + ": no picture at " + std::to_string(list[i].start / 100.0) + " s");
        const double psnr = LumaPsnr(shown, original);
        sum += psnr;
        if (psnr < report.worstPsnr) report.worstPsnr = psnr, report.worstAt = list[i].start;
        ++report.pictures;
    }
    report.meanPsnr = report.pictures > 0 ? sum / static_cast<double>(report.pictures) : 0;
    DataRates(reader, report);
    return noErr;
}
