// Comparing a movie database with its source picture by picture, and its
// sound with the source's.
#include "engine/compare.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "audio/moviesound.h"
#include "audio/soundmatch.h"
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

// Every picture shown against the source's at its start. A movie of sound
// alone has none to compare.
OSErr ComparePictures(const MovieReader& reader, const FileSpec& sourcePath, CompareReport& report) {
    MoviePictureDecoder pictures;
    if (OSErr err = pictures.Open(reader)) {
        if (err == paramErr && reader.Database().noPicture && reader.Database().hasAudio) return noErr;
        return Fail(report, err, "a movie without pictures to compare");
    }
    SourcePictures source;
    if (OSErr err = source.Open(sourcePath)) return Fail(report, err, sourcePath.string() + ": no pictures to compare with");

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
            return Fail(report, err, sourcePath.string() + ": no picture at " + std::to_string(list[i].start / 100.0) + " s");
        const double psnr = LumaPsnr(shown, original);
        sum += psnr;
        if (psnr < report.worstPsnr) report.worstPsnr = psnr, report.worstAt = list[i].start;
        ++report.pictures;
    }
    report.meanPsnr = report.pictures > 0 ? sum / static_cast<double>(report.pictures) : 0;
    return noErr;
}

// The source's sound as a conversion takes it: its first sound track, chunk
// by chunk through the converter conversions use, mixed and resampled to
// the movie's channels and rate in 16 bits. A new description gets a new
// converter, the old one's tail dropped, as in a conversion. (A 4096 Hz
// conversion resamples to 8192 Hz and averages pairs; the reference here is
// made at 4096 Hz directly, so that pairing counts as part of its error.)
OSErr SourceSound(const FileSpec& path, std::uint16_t channels, std::uint32_t rate, std::vector<std::int16_t>& out) {
    Movie movie;
    if (OSErr err = Movie::Open(path, movie)) return err;
    const int track = movie.FindTrack(kSoundMediaType);
    if (track == 0) return invalidTrack;
    std::unique_ptr<SoundSource> source;
    if (OSErr err = movie.NewSoundSource(track, source)) return err;
    SoundConverter converter;
    bool open = false;
    std::int32_t seed = 0;
    ByteBlock converted;
    auto keep = [&] {
        const auto* samples = reinterpret_cast<const std::int16_t*>(converted.Data());
        out.insert(out.end(), samples, samples + converted.Size() / 2);
        converted.Clear();
    };
    SoundChunk chunk;
    OSErr got = noErr;
    while ((got = source->GetChunk(chunk)) == noErr) {
        if (!open || chunk.seed != seed) {
            if (OSErr err = converter.Open(chunk.description, {kSoundS16, channels, rate})) return err;
            open = true;
            seed = chunk.seed;
        }
        if (OSErr err = converter.Convert(chunk.data, converted)) return err;
        keep();
    }
    if (got != eofErr) return got;
    if (open)
        if (OSErr err = converter.End(converted)) return err;
    keep();
    return noErr;
}

// The movie's sound against the source's. A movie without sound, or a
// source without sound to compare with, leaves the sound uncompared and
// says why; only what fails on the way is an error.
OSErr CompareSound(const MovieReader& reader, const FileSpec& sourcePath, CompareReport& report) {
    if (!reader.Database().hasAudio) {
        report.soundDetail = "the movie has no sound";
        return noErr;
    }
    std::vector<std::int16_t> movie, source;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    if (OSErr err = DecodeMovieSound(reader, movie, channels, rate)) return Fail(report, err, "the movie's sound does not decode");
    report.soundRate = rate;
    if (report.seconds <= 0 && rate > 0) report.seconds = static_cast<double>(movie.size() / channels) / rate;
    if (OSErr err = SourceSound(sourcePath, channels, rate, source)) {
        if (err != invalidTrack) return Fail(report, err, sourcePath.string() + ": its sound does not decode");
        report.soundDetail = "the source has no sound";
        return noErr;
    }
    SoundMatch match;
    if (MatchSound(source, movie, channels, rate, match) != noErr) {
        report.soundDetail = "the source's sound is silent where the movie's is";
        return noErr;
    }
    report.soundCompared = true;
    report.soundSnr = match.snr;
    report.soundGainDb = match.gain > 0 ? 20.0 * std::log10(match.gain) : -kIdentical;
    report.soundDelay = match.delay;
    report.soundDelayMs = static_cast<double>(match.delay) * 1000.0 / rate;
    return noErr;
}

} // namespace

OSErr CompareMovie(const CompareJob& job, CompareReport& report) {
    report = {};
    MovieReader reader{std::span<const std::uint8_t>()};
    std::string problem;
    if (OSErr err = ReadMovieFile(job.database, job.key, reader, problem)) return Fail(report, err, problem);
    if (OSErr err = ComparePictures(reader, job.source, report)) return err;
    if (OSErr err = CompareSound(reader, job.source, report)) return err;
    DataRates(reader, report);
    return noErr;
}
