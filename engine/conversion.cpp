// The conversion driver: the writer configured, pictures and sound pumped in time order, the database copied out.
#include "engine/conversion.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/soundinput.h"
#include "engine/audiopump.h"
#include "engine/convert.h"
#include "engine/exportcomponent.h"
#include "engine/exportinstance.h"
#include "engine/framegrid.h"
#include "engine/picturepipeline.h"
#include "engine/screenlayout.h"
#include "import/directshowsource.h"
#include "moviedb/moviewriter.h"
#include "moviedb/pdbname.h"
#include "platform/media.h"
#include "video/frameinput.h"

namespace {

// Progress of the pumping phase stops at 0.875; building the database
// takes it on by 0.12 to 0.995 as the writer reports 0 to 100 %.
constexpr Fixed kPumpingEnd = 0xE000;
constexpr double kBuildingShare = 0.12;
// The database counts its chapters in 16 bits.
constexpr std::size_t kMostChapters = 0xFFFF;

// A progress call whose answer changes nothing: opening and closing, and
// the building of the database, which a cancel cannot stop once the frames
// are written (the cancel is heard at the next frame or not at all).
void Notify(MovieProgressProc progress, std::int16_t message, Fixed done, void* refcon) {
    if (progress != nullptr) progress(message, done, refcon);
}

// The sound data source's procedure seen as the pump's sound source.
class ProcedureSound final : public SoundSource {
public:
    explicit ProcedureSound(const ExportSource& source) : source_(source) {
        timeScale_ = source.timeScale;
        std::int64_t duration = 0;
        if (source.getProperty(source.refcon, source.trackNumber, Fcc("dura"), &duration) == noErr) duration_ = duration;
    }
    OSErr GetChunk(SoundChunk& out) override {
        MovieExportGetDataParams params;
        params.trackID = source_.trackNumber;
        params.sourceTimeScale = source_.timeScale;
        if (OSErr err = source_.getData(source_.refcon, &params)) return err;
        if (params.descType != kSoundMediaType) return paramErr;
        out = params.sound;
        return noErr;
    }

private:
    const ExportSource& source_;
};

// Adds the time of its scope to a sum.
class Stopwatch {
public:
    explicit Stopwatch(double& sum) : sum_(sum), start_(std::chrono::steady_clock::now()) {}
    ~Stopwatch() { sum_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }
    Stopwatch(const Stopwatch&) = delete;
    Stopwatch& operator=(const Stopwatch&) = delete;

private:
    double& sum_;
    std::chrono::steady_clock::time_point start_;
};

class Conversion {
public:
    explicit Conversion(ExportInstance& instance)
        : instance_(instance), settings_(instance.settings), progress_(instance.progress), refcon_(instance.progressRefcon) {}

    ~Conversion() {
        pictures_.reset(); // its thread's time counts too
        if (instance_.times != nullptr) *instance_.times = times_;
        if (instance_.progressOpen) Notify(progress_, kProgressClose, 0, refcon_);
        instance_.progressOpen = false;
    }

    OSErr Run(const FileSpec& destination, OSType dataRefType) {
        video_ = instance_.video.get();
        if (instance_.ownSound) {
            sound_ = instance_.ownSound.get();
        } else if (instance_.sound) {
            procedureSound_ = std::make_unique<ProcedureSound>(*instance_.sound);
            sound_ = procedureSound_.get();
        }
        movie_ = instance_.sourceMovie;

        // The destination and the writer.
        File file;
        std::string name;
        if (OSErr err = OpenDestination(destination, dataRefType, file, name)) return err;
        MovieWriter* raw = nullptr;
        if (OSErr err = NewMovieWriter(&raw)) return err;
        writer_.reset(raw);
        if (OSErr err = SetDatabaseName(writer_.get(), name.c_str())) return err;
        for (int i = 0; i < 3; ++i)
            if (!instance_.annotations[i].empty())
                if (OSErr err = SetMetadataString(writer_.get(), i + 1, instance_.annotations[i].c_str())) return err;
        if (settings_.hasScramblingKey && settings_.scramblingKey.Size() == 512)
            if (OSErr err = SetScramblingKey(writer_.get(), std::span<const std::uint8_t, 512>(settings_.scramblingKey.Data(), 512)))
                return err;
        if (OSErr err = ConfigureLayout(writer_.get(), settings_.layout)) return err;
        const int sources = (video_ ? 1 : 0) + (sound_ ? 1 : 0);
        if (sources == 0) return EndMovie(writer_.get()); // nothing to write: the writer says so

        if (video_) {
            if (OSErr err = ApplyFrameSettings()) return err;
            ReadVideoProperties();
        }
        // Progress over the longer of the two.
        std::int64_t videoDuration = 0;
        if (instance_.aviFrames && movie_ != nullptr && movie_->FindTrack(kVideoMediaType) != 0) {
            const TrackInfo track = movie_->Track(movie_->FindTrack(kVideoMediaType));
            videoDuration = ConvertTimeScale(track.duration, track.timeScale, video_->timeScale);
        } else if (video_ && (video_->getProperty == nullptr ||
                              video_->getProperty(video_->refcon, video_->trackNumber, Fcc("dura"), &videoDuration) != noErr)) {
            videoDuration = 0;
        }
        totalMs_ = std::max(video_ ? ConvertTimeScale(videoDuration, std::max(1, video_->timeScale), 1000) : 0,
                            sound_ ? ConvertTimeScale(sound_->Duration(), std::max(1, sound_->TimeScale()), 1000) : 0);
        if (progress_ && totalMs_ > 0 && !instance_.progressOpen) {
            instance_.progressOpen = true;
            Notify(progress_, kProgressOpen, 0, refcon_);
        }
        if (video_)
            if (OSErr err = ConfigureVideo()) return err;
        if (sound_) {
            // The source's channels: those of the movie's first sound track;
            // without a movie, whatever the settings ask for.
            std::uint16_t channels = settings_.channels;
            if (instance_.ownSound) channels = instance_.ownSound->Description().channels;
            else if (movie_ != nullptr && movie_->FindTrack(kSoundMediaType) != 0)
                channels = movie_->Track(movie_->FindTrack(kSoundMediaType)).sound.channels;
            if (OSErr err = ConfigureAudio(settings_, channels, writer_.get(), audio_)) return err;
            if (OSErr err = AttachSoundInput(writer_.get())) return err;
            pump_ = std::make_unique<AudioPump>(audio_, movie_ != nullptr ? movie_->Duration() : 0);
        }
        if (OSErr err = CollectChapters()) return err;
        if (video_)
            grid_ = FrameGrid(video_->timeScale, FixedToDouble(frameRate_), static_cast<double>(videoDuration),
                              std::move(chapterTimes_));
        if (OSErr err = BeginMovie(writer_.get())) return err;
        // The converter's own sources decode on their own threads; a
        // caller's procedures are called on the caller's thread.
        if (video_)
            pictures_ = std::make_unique<PicturePipeline>([this](MadePicture& p) { return MakePicture(p); },
                                                          movie_ != nullptr ? instance_.picturesAhead : 0);

        // Pump: one picture, then sound up to the picture's time.
        bool videoActive = video_ != nullptr, soundActive = sound_ != nullptr;
        while (videoActive || soundActive) {
            if (videoActive) {
                const OSErr err = PumpVideo();
                if (err == eofErr) videoActive = false;
                else if (err) return err;
            }
            if (soundActive && (!videoActive || pump_->ProgressMs() <= videoMs_)) {
                const Stopwatch watch(times_.sound);
                const OSErr err = pump_->Pump(*sound_, writer_.get());
                if (err == eofErr) soundActive = false;
                else if (err) return err;
            }
            if (instance_.progressOpen) {
                const std::int64_t position = (videoMs_ + (pump_ ? pump_->ProgressMs() : 0)) / sources;
                const Fixed fraction = FixDiv(static_cast<Fixed>(static_cast<std::int64_t>(position * 0.875)), static_cast<Fixed>(totalMs_));
                instance_.progressValue = std::min(std::max(instance_.progressValue, fraction), kPumpingEnd);
                if (const std::int16_t answer = progress_(kProgressUpdate, instance_.progressValue, refcon_))
                    return static_cast<OSErr>(answer);
            }
        }

        // Sound that came in but could not be converted: a movie with
        // pictures is complete without it (with the warning); a sound-only
        // movie would be empty.
        const bool soundLost = pump_ && pump_->SoundLost();
        if (soundLost && !video_) return invalidTrack;
        if (instance_.progressOpen)
            if (OSErr err = SetProgressProc(writer_.get(), &FinalPhase, reinterpret_cast<std::intptr_t>(this))) return err;
        const Stopwatch watch(times_.writing);
        if (OSErr err = EndMovie(writer_.get())) return err;
        std::uint32_t size = 0;
        if (OSErr err = GetDatabaseSize(writer_.get(), size)) return err;
        if (OSErr err = CopyOut(file, size)) return err;
        if (OSErr err = file.Truncate(size)) return err;
        if (OSErr err = file.Close()) return err;
        Notify(progress_, kProgressUpdate, fixed1, refcon_);
        return soundLost ? noSoundTrackInMovieErr : noErr;
    }

private:
    // An alias names a file to create, and the database is named after it
    // in the handheld's character set; a reserved file exists already and
    // carries the database's name.
    static OSErr OpenDestination(const FileSpec& destination, OSType dataRefType, File& file, std::string& name) {
        if (dataRefType == kReservedFileDataRefType) {
            if (OSErr err = File::Open(destination, File::Mode::ReadWrite, file)) return err;
            char field[kDatabaseNameLimit + 1] = {};
            if (OSErr err = file.ReadAt(0, {reinterpret_cast<std::uint8_t*>(field), kDatabaseNameLimit})) return err;
            name = field;
            return name.empty() ? paramErr : noErr;
        }
        if (OSErr err = File::CreateNew(destination, file)) return err;
        std::string stem = destination.filename().string();
        if (const auto dot = stem.rfind('.'); dot != std::string::npos) stem.resize(dot);
        name = stem.empty() ? "Lumexa document" : HandheldText(stem);
        return noErr;
    }

    // The standard exporter is told the frame rate and depth its video
    // procedures answer (its 'tprl' and 'sptl' settings), straight from the
    // settings.
    OSErr ApplyFrameSettings() {
        if (instance_.standardExporter == nullptr) return noErr;
        return SetStandardExporterFrames(instance_.standardExporter, settings_.frameRate, settings_.depth);
    }

    // The settings' rate and depth, replaced by what the source answers,
    // and the source's picture size.
    void ReadVideoProperties() {
        frameRate_ = settings_.frameRate;
        if (instance_.aviFrames) {
            sourceWidth_ = instance_.aviFrames->width;
            sourceHeight_ = instance_.aviFrames->height;
            return;
        }
        std::int64_t value = 0;
        auto ask = [&](OSType property) { return video_->getProperty(video_->refcon, video_->trackNumber, property, &value) == noErr; };
        if (ask(Fcc("tprl"))) frameRate_ = static_cast<Fixed>(value);
        if (ask(Fcc("wdth"))) sourceWidth_ = FixRound(static_cast<Fixed>(value));
        if (ask(Fcc("hegt"))) sourceHeight_ = FixRound(static_cast<Fixed>(value));
    }

    static void FinalPhase(std::int32_t percent, std::intptr_t refcon) {
        auto* self = reinterpret_cast<Conversion*>(refcon);
        const double fraction = FixedToDouble(kPumpingEnd) + kBuildingShare * percent / 100.0;
        Notify(self->progress_, kProgressUpdate, static_cast<Fixed>(fraction * 65536), self->refcon_);
    }

    OSErr ConfigureVideo() {
        const Rect box = movie_ != nullptr ? movie_->Box() : MakeRect(0, 0, sourceWidth_, sourceHeight_);
        geometry_ = ConfigureGeometry(settings_, sourceWidth_, sourceHeight_, box);
        const Rect turned = Matrix::Identity().Rotated(geometry_.rotation).TransformRect(MakeRect(0, 0, geometry_.width, geometry_.height));
        if (OSErr err = SetPictureSize(writer_.get(), static_cast<std::uint16_t>(turned.Width()), static_cast<std::uint16_t>(turned.Height())))
            return err;
        const std::int16_t format = EncodingOfDepth(settings_.depth);
        if (format != 0)
            if (OSErr err = SetVideoFormat(writer_.get(), format)) return err;
        if (OSErr err = SetWriterParameter(writer_.get(), kWriterVideoDataRate, settings_.videoBitRate)) return err;
        if (OSErr err = SetWriterParameter(writer_.get(), kWriterMovieTimeScale, video_->timeScale)) return err;
        if (OSErr err = SetWriterParameter(writer_.get(), kWriterRotation, static_cast<std::uint16_t>(geometry_.rotation))) return err;
        return AttachVideoInput(writer_.get());
    }

    // The source's chapters, as many as the database's 16-bit count holds.
    OSErr CollectChapters() {
        if (movie_ == nullptr) return noErr;
        const auto& chapters = movie_->Chapters();
        for (std::size_t i = 0; i < chapters.size() && i < kMostChapters; ++i) {
            const Chapter& c = chapters[i];
            if (OSErr err = AddChapter(writer_.get(), static_cast<std::uint32_t>(c.startMs),
                                       static_cast<std::uint32_t>(c.title.size()), c.title.c_str()))
                return err;
            if (video_) chapterTimes_.push_back(static_cast<double>(c.startMs) * video_->timeScale / 1000.0);
        }
        return noErr;
    }

    // The AVI frame source: one rendered frame per step of the settings'
    // rate, already at the movie's size (a quarter turn applied after).
    OSErr AviFrame(MovieExportGetDataParams& request) {
        DirectShowSource& source = *instance_.aviFrames;
        if (grid_.Frames() == 0)
            if (OSErr err = SetupDirectShowSource(source, geometry_.width, geometry_.height, frameRate_ > 0 ? frameRate_ : IntToFixed(15)))
                return err;
        FrameBuffer rendered;
        if (OSErr err = NextDirectShowFrame(source, rendered)) return err;
        const Rect frame = Matrix::Identity().Rotated(geometry_.rotation).TransformRect(MakeRect(0, 0, geometry_.width, geometry_.height));
        if (buffer_.Width() != frame.Width() || buffer_.Height() != frame.Height())
            if (OSErr err = buffer_.Create(frame.Width(), frame.Height())) return err;
        for (int y = 0; y < geometry_.height; ++y)
            for (int x = 0; x < geometry_.width; ++x) {
                int tx = x, ty = y;
                if (geometry_.rotation == 90) tx = geometry_.height - 1 - y, ty = x;
                if (geometry_.rotation == -90) tx = y, ty = geometry_.width - 1 - x;
                std::memcpy(buffer_.Pixels() + static_cast<std::ptrdiff_t>(ty) * buffer_.RowBytes() + 4 * tx, rendered.Pixel(x, y), 4);
            }
        request.durationPerSample = 1; // no data procedure: the settings' rate drives the grid
        return noErr;
    }

    // The source's picture at the grid's time, decoded and scaled into the
    // buffer.
    OSErr SourceFrame(MovieExportGetDataParams& request) {
        request.trackID = video_->trackNumber;
        request.sourceTimeScale = video_->timeScale;
        request.requestedTime = static_cast<std::int64_t>(grid_.Current());
        if (OSErr err = video_->getData(video_->refcon, &request)) return err;
        if (request.descType != kVideoMediaType) return paramErr;
        const VideoSample& sample = request.video;
        if (sample.seed != seed_) {
            // A new description: a new frame buffer and decompression.
            const Rect source = MakeRect(0, 0, sample.description.width, sample.description.height);
            const Rect target = geometry_.crop.Empty() ? MakeRect(0, 0, geometry_.width, geometry_.height) : geometry_.crop;
            Matrix m = Matrix::MapRect(source, target);
            Rect frame = MakeRect(0, 0, geometry_.width, geometry_.height);
            if (geometry_.rotation != 0) {
                m = m.Rotated(geometry_.rotation);
                const Rect turned = m.TransformRect(source);
                m = m.Translated(-turned.left, -turned.top);
                frame = Matrix::Identity().Rotated(geometry_.rotation).TransformRect(frame);
            }
            if (OSErr err = buffer_.Create(frame.Width(), frame.Height())) return err;
            if (OSErr err = sequence_.Begin(sample.description, m, &buffer_)) return err;
            seed_ = sample.seed;
        }
        if (OSErr err = sequence_.Decompress(*sample.picture)) return err;
        request.durationPerSample = sample.duration;
        return noErr;
    }

    // The picture maker (on the pipeline's thread when there is one): the
    // next picture and its step on the frame grid.
    OSErr MakePicture(MadePicture& out) {
        const Stopwatch watch(times_.pictures);
        MovieExportGetDataParams request;
        if (OSErr err = instance_.aviFrames ? AviFrame(request) : SourceFrame(request)) return err;
        if (out.pixels.Width() != buffer_.Width() || out.pixels.Height() != buffer_.Height())
            if (OSErr err = out.pixels.Create(buffer_.Width(), buffer_.Height())) return err;
        std::memcpy(out.pixels.Pixels(), buffer_.Pixels(), static_cast<std::size_t>(buffer_.RowBytes()) * buffer_.Height());
        out.step = grid_.Advance(static_cast<double>(request.durationPerSample));
        return noErr;
    }

    // Writes the next picture; a chapter's first is a key picture.
    OSErr PumpVideo() {
        const MadePicture* picture = nullptr;
        if (OSErr err = pictures_->Next(picture)) return err;
        const Stopwatch watch(times_.video);
        if (picture->step.chapterStart)
            if (OSErr err = RequestKeyFrame(writer_.get())) return err;
        if (OSErr err = WriteVideoFrame(writer_.get(), picture->pixels.Pixels(), picture->pixels.RowBytes(), picture->step.duration, nullptr))
            return err;
        videoMs_ = static_cast<std::int64_t>(std::trunc(picture->step.next)) * 1000 / video_->timeScale;
        return noErr;
    }

    // The whole image in one piece when it can be had, else 2048 bytes at a
    // time. Here memory can nearly always be had, so "can be had" means
    // within a fixed allowance: a long movie must not need memory in
    // proportion to its length.
    static constexpr std::uint32_t kWholeCopyAllowance = 4u << 20;
    OSErr CopyOut(File& file, std::uint32_t size) {
        ByteBlock whole;
        if (size <= kWholeCopyAllowance && whole.Grow(size) == noErr) {
            if (OSErr err = ReadDatabase(writer_.get(), whole.Data(), 0, size)) return err;
            return file.WriteAt(0, whole.Span());
        }
        std::uint8_t piece[2048];
        for (std::uint32_t at = 0; at < size; at += sizeof piece) {
            const std::uint32_t n = std::min<std::uint32_t>(sizeof piece, size - at);
            if (OSErr err = ReadDatabase(writer_.get(), piece, at, n)) return err;
            if (OSErr err = file.WriteAt(at, {piece, n})) return err;
        }
        return noErr;
    }

    ExportInstance& instance_;
    const ExportSettings& settings_;
    MovieProgressProc progress_;
    void* refcon_;
    std::int64_t totalMs_ = 0;
    const Movie* movie_ = nullptr;
    const ExportSource* video_ = nullptr;
    std::unique_ptr<ProcedureSound> procedureSound_;
    SoundSource* sound_ = nullptr;
    Fixed frameRate_ = 0;
    int sourceWidth_ = 0, sourceHeight_ = 0;
    OwnedMovieWriter writer_;
    Geometry geometry_;
    AudioOutput audio_;
    std::unique_ptr<AudioPump> pump_;
    FrameBuffer buffer_;
    DecompressionSequence sequence_;
    std::int32_t seed_ = -1;
    FrameGrid grid_{1, 0};
    std::int64_t videoMs_ = 0;
    std::vector<double> chapterTimes_;
    ConversionTimes times_;
    // Last: its thread uses the members above until it is stopped.
    std::unique_ptr<PicturePipeline> pictures_;
};

} // namespace

OSErr RunConversion(ExportInstance& instance, const FileSpec& destination, OSType dataRefType) {
    Conversion conversion(instance);
    return conversion.Run(destination, dataRefType);
}
