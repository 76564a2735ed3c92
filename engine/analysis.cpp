// Source analysis: which tracks a movie's conversion takes and how each is
// read (AVI sound copies, AVI pictures by time, MPEG-1 system streams' own
// sound), set up as the data sources of the driver.
#include <algorithm>
#include <memory>
#include <string>

#include "engine/conversion.h"
#include "engine/exportinstance.h"
#include "import/aviheader.h"
#include "import/avimp3.h"
#include "import/directshowsource.h"
#include "import/mpegsystem.h"
#include "import/vfwbridge.h"
#include "platform/legacydecoders.h"
#include "platform/media.h"

namespace {

// A sound track in MPEG Layer-3: the wave-format tag 0x55 as a four-char
// code, ".mp3", or what the media layer calls it.
bool IsMp3(const TrackInfo& t) {
    return t.format == (Fcc("ms\0\0") | kWaveFormatMp3) || t.format == Fcc(".mp3") || t.format == Fcc("mp3 ");
}

// The sound of an AVI file read on its own when its header or its timing
// says the container's MPEG Layer-3 sound cannot be trusted: the copy,
// opened as a movie, or nothing.
std::unique_ptr<Movie> RepairedAviSound(ExportInstance& instance, const Movie& movie, ScopedFileDeletion& copy) {
    if (!HasAviExtension(movie.Path().filename().string())) return nullptr;
    std::uint16_t tag = 0;
    if (ReadAviHeader(movie.Path(), nullptr, &tag) != noErr) return nullptr;
    bool repair = tag == kWaveFormatMp3;
    for (int t = 1; t <= movie.TrackCount() && !repair; ++t) {
        const TrackInfo info = movie.Track(t);
        if (info.enabled && info.mediaType == kSoundMediaType && IsMp3(info)) {
            const int video = movie.FindTrack(kVideoMediaType);
            const std::int64_t videoMs = video ? ConvertTimeScale(movie.Track(video).duration, movie.Track(video).timeScale, 1000) : 0;
            repair = Mp3NeedsRepair(ConvertTimeScale(info.duration, info.timeScale, 1000), videoMs);
            break;
        }
    }
    if (!repair) return nullptr;
    struct Forward {
        ExportInstance* instance;
        static std::int16_t Progress(std::int16_t message, Fixed fraction, void* refcon) {
            auto* self = static_cast<Forward*>(refcon)->instance;
            if (message == kProgressOpen) self->progressOpen = true;
            if (message == kProgressUpdate) self->progressValue = std::max(self->progressValue, fraction);
            return self->progress(message, fraction, self->progressRefcon);
        }
    } forward{&instance};
    FileSpec path;
    // Whatever goes wrong here, the movie converts as it is.
    if (ExtractAviMp3(movie.Path(), instance.progress ? &Forward::Progress : nullptr, &forward, path) != noErr) return nullptr;
    copy = ScopedFileDeletion(path);
    auto sound = std::make_unique<Movie>();
    if (Movie::Open(path, *sound) != noErr || sound->FindTrack(kSoundMediaType) == 0) return nullptr;
    return sound;
}

// How an AVI's pictures are read: when its codec decodes, through the
// media layer (with the bridge registered for a codec the media layer lacks);
// when not, rendered by time. True for the second.
bool DecideAviVideo(ExportInstance& instance, const Movie& movie) {
    if (!HasAviExtension(movie.Path().filename().string())) return false;
    OSType codec = 0;
    if (ReadAviHeader(movie.Path(), &codec, nullptr) != noErr || codec == 0) return false;
    if (!VfwCanDecode(movie.Path())) {
        instance.aviFrames = OpenDirectShowSource(movie.Path());
        return instance.aviFrames != nullptr;
    }
    // 'MPG4' is Microsoft's MPEG-4 version 1, not ISO MPEG-4: the media layer
    // already tells them apart by the code, so nothing is rewritten here.
    if (codec == Fcc("MPG4")) codec = Fcc("mpg4");
    const int video = movie.FindTrack(kVideoMediaType);
    if (video != 0 && !movie.Track(video).decodable) RegisterBridgeFor(codec);
    return false;
}

} // namespace

OSErr ExportMovie(ExportInstance& instance, const std::uint32_t* mpegTables, const FileSpec& destination, OSType dataRefType,
                  const Movie& movie, int onlyThisTrack, std::int64_t startTime, std::int64_t duration) {
    instance.missingDecoder = 0;
    instance.sourceMovie = &movie;
    instance.progressOpen = false;
    instance.progressValue = 0;
    // Annotations: carriage returns removed, at most 255 characters.
    const OSType keys[3] = {Fcc("\xA9nam"), Fcc("\xA9inf"), Fcc("\xA9" "cpy")};
    for (int i = 0; i < 3; ++i) {
        std::string text = movie.Annotation(keys[i]);
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        if (text.size() > 255) text.resize(255);
        instance.annotations[static_cast<std::size_t>(i)] = text;
    }

    // The procedures obtained here are disposed of, and the data sources
    // forgotten, whatever happens.
    struct Obtained {
        ExportInstance& instance;
        MovieExportGetPropertyProc getProperty[2] = {};
        MovieExportGetDataProc getData[2] = {};
        void* refcon[2] = {};
        ~Obtained() {
            for (int i = 0; i < 2; ++i)
                if (refcon[i] != nullptr)
                    (void)MovieExportDisposeGetDataAndPropertiesProcs(instance.standardExporter, getProperty[i], getData[i], refcon[i]);
            instance.video.reset();
            instance.sound.reset();
            instance.sourceMovie = nullptr;
            instance.aviFrames.reset();
            instance.ownSound.reset();
        }
    } obtained{instance};
    auto checkDecoders = [&](OSType mediaType) {
        for (int t = 1; t <= movie.TrackCount(); ++t) {
            const TrackInfo info = movie.Track(t);
            if (info.enabled && info.mediaType == mediaType && !info.decodable) {
                instance.missingDecoder = info.format;
                return noCodecErr;
            }
        }
        return noErr;
    };
    // An AVI's MPEG Layer-3 sound may be read from a copy of its own.
    ScopedFileDeletion soundCopy;
    const std::unique_ptr<Movie> repaired =
        instance.settings.soundFormat != kSoundNone ? RepairedAviSound(instance, movie, soundCopy) : nullptr;
    auto addSource = [&](int slot, OSType mediaType) -> OSErr {
        std::int32_t scale = 0, track = 0;
        const Movie& from = mediaType == kSoundMediaType && repaired ? *repaired : movie;
        if (ComponentResult r = MovieExportNewGetDataAndPropertiesProcs(instance.standardExporter, from, mediaType,
                                                                        &from == &movie ? onlyThisTrack : 0, startTime,
                                                                        duration, scale, obtained.getProperty[slot],
                                                                        obtained.getData[slot], obtained.refcon[slot]))
            return ToOSErr(r);
        if (&from == &movie)
            if (OSErr err = checkDecoders(mediaType)) return err;
        MovieExportAddDataSourceParams add{mediaType, scale, &track, obtained.getProperty[slot], obtained.getData[slot],
                                           obtained.refcon[slot]};
        return AddExportSource(instance, add);
    };

    const bool hasVideo = instance.settings.depth != kDepthNoVideo && movie.FindTrack(kVideoMediaType) != 0;
    if (hasVideo && DecideAviVideo(instance, movie)) {
        // Rendered by time: a source of its own, without procedures.
        instance.video = std::make_unique<ExportSource>();
        instance.video->trackNumber = 1;
        instance.video->timeScale = movie.TimeScale();
    } else if (hasVideo) {
        if (OSErr err = checkDecoders(kVideoMediaType)) return err;
        if (OSErr err = addSource(0, kVideoMediaType)) return err;
    }
    if (instance.settings.soundFormat != kSoundNone) {
        if (movie.FindTrack(kSoundMediaType) != 0 || repaired) {
            if (OSErr err = addSource(1, kSoundMediaType)) return err;
        } else if (const int mpeg = movie.FindTrack(kMpegMediaType); mpeg != 0) {
            // No sound samples to be had: the system reads the MPEG sound itself,
            // with the bit-rate and sampling-rate tables every instance shares.
            std::unique_ptr<MpegAudioSource> source;
            if (mpegTables != nullptr && OpenMpegAudio(movie.Path(), {mpegTables, kMpegTableEntries}, source) == noErr) {
                const TrackInfo track = movie.Track(mpeg);
                const std::int64_t duration = ConvertTimeScale(track.duration, track.timeScale, source->header.sampleRate);
                instance.ownSound = std::make_unique<MpegSoundSource>(std::move(source), duration);
                instance.sound = std::make_unique<ExportSource>();
                instance.sound->trackNumber = 2;
                instance.sound->timeScale = instance.ownSound->TimeScale();
            }
        }
    }
    OSErr result = RunConversion(instance, destination, dataRefType);
    // A movie that is heard but whose sound was wanted and not converted:
    // complete, with a warning. Settings without sound want none: no warning.
    bool anySound = false;
    for (int t = 1; t <= movie.TrackCount(); ++t) anySound = anySound || movie.Track(t).mediaType == kSoundMediaType;
    if (result == noErr && instance.settings.soundFormat != kSoundNone && !instance.ownSound && !anySound &&
        movie.FindTrack(kMpegMediaType) != 0)
        result = noSoundTrackInMovieErr;
    // The sound copy may have opened progress for a conversion that never ran.
    if (instance.progressOpen) instance.progress(kProgressClose, 0, instance.progressRefcon);
    instance.progressOpen = false;
    return result;
}
