// The standard exporter: data procedures over a movie's tracks.
#include "platform/exporter.h"

#include <memory>
#include <mutex>
#include <new>

namespace {

// The exporter's own state: the frame rate and depth it was told.
struct Exporter {
    Fixed frameRate = 0;
    std::int16_t depth = 0;
};

// What a pair of procedures reads: one track's source, and the exporter
// whose frame rate and depth the video procedures answer.
struct Procs {
    const Exporter* owner = nullptr;
    std::unique_ptr<VideoSource> video;
    std::unique_ptr<SoundSource> sound;
};

OSErr GetProperty(void* refcon, std::int32_t, OSType property, std::int64_t* value) {
    auto* p = static_cast<Procs*>(refcon);
    if (p == nullptr || value == nullptr) return paramErr;
    if (p->sound) {
        if (property != Fcc("dura")) return paramErr;
        *value = p->sound->Duration();
        return noErr;
    }
    p->video->SetFrameRate(p->owner->frameRate);
    p->video->SetDepth(p->owner->depth);
    return p->video->GetProperty(property, *value);
}

OSErr GetData(void* refcon, MovieExportGetDataParams* params) {
    auto* p = static_cast<Procs*>(refcon);
    if (p == nullptr || params == nullptr) return paramErr;
    if (p->sound) {
        if (OSErr err = p->sound->GetChunk(params->sound)) return err;
        params->descType = Fcc("soun");
        params->descSeed = params->sound.seed;
        params->durationPerSample = 1;
        return noErr;
    }
    if (OSErr err = p->video->GetFrame(params->requestedTime, params->video)) return err;
    params->descType = Fcc("vide");
    params->descSeed = params->video.seed;
    params->actualTime = params->video.frameTime;
    params->durationPerSample = params->video.duration;
    return noErr;
}

ComponentResult NewProcs(const Exporter* owner, MovieExportNewProcsParams* p) {
    if (p == nullptr || p->movie == nullptr || p->getProperty == nullptr || p->getData == nullptr || p->refcon == nullptr)
        return paramErr;
    const bool video = p->trackType == kVideoMediaType;
    if (!video && p->trackType != kSoundMediaType) return paramErr;
    const int track = p->onlyThisTrack != 0 ? p->onlyThisTrack : p->movie->FindTrack(p->trackType);
    if (track == 0 || p->movie->Track(track).mediaType != p->trackType) return invalidTrack;
    auto procs = std::unique_ptr<Procs>(new (std::nothrow) Procs);
    if (!procs) return memFullErr;
    procs->owner = owner;
    if (video) {
        if (OSErr err = p->movie->NewVideoSource(track, procs->video)) return err;
        if (p->scale) *p->scale = procs->video->TimeScale();
    } else {
        if (OSErr err = p->movie->NewSoundSource(track, procs->sound)) return err;
        if (p->scale) *p->scale = procs->sound->TimeScale();
    }
    *p->getProperty = &GetProperty;
    *p->getData = &GetData;
    *p->refcon = procs.release();
    return noErr;
}

ComponentResult SetSettings(Exporter& self, const MovieExportSettingsParams* p) {
    if (p == nullptr || p->settings == nullptr) return paramErr;
    const AtomContainer& c = *p->settings;
    // 'tprl': quality, frame rate (16.16), key frame rate; 'sptl': codec
    // type, codec, depth (16-bit), quality.
    std::uint8_t temporal[12], spatial[14];
    const QTAtom tprl = c.FindChildByIndex(0, Fcc("tprl"), 1);
    if (tprl != 0 && c.CopyAtomDataToPtr(tprl, false, temporal) == noErr)
        self.frameRate = static_cast<Fixed>(ReadBE32(temporal + 4));
    const QTAtom sptl = c.FindChildByIndex(0, Fcc("sptl"), 1);
    if (sptl != 0 && c.CopyAtomDataToPtr(sptl, false, spatial) == noErr)
        self.depth = static_cast<std::int16_t>(ReadBE16(spatial + 8));
    return noErr;
}

ComponentResult Dispatch(ComponentInstance self, std::int16_t selector, void* params) {
    auto* state = static_cast<Exporter*>(GetComponentInstanceStorage(self));
    switch (selector) {
    case kComponentOpenSelect: {
        auto* fresh = new (std::nothrow) Exporter;
        if (fresh == nullptr) return memFullErr;
        SetComponentInstanceStorage(self, fresh);
        return noErr;
    }
    case kComponentCloseSelect:
        delete state;
        SetComponentInstanceStorage(self, nullptr);
        return noErr;
    case kComponentCanDoSelect: {
        const std::int16_t asked = params ? static_cast<ComponentCanDoParams*>(params)->selector : 0;
        switch (asked) {
        case kComponentOpenSelect:
        case kComponentCloseSelect:
        case kComponentCanDoSelect:
        case kComponentVersionSelect:
        case kMovieExportValidateSelect:
        case kMovieExportSetSettingsFromAtomContainerSelect:
        case kMovieExportNewGetDataAndPropertiesProcsSelect:
        case kMovieExportDisposeGetDataAndPropertiesProcsSelect: return 1;
        default: return 0;
        }
    }
    case kComponentVersionSelect: return 0x00070000;
    case kMovieExportValidateSelect: {
        auto* p = static_cast<MovieExportValidateParams*>(params);
        if (p == nullptr || p->movie == nullptr || p->valid == nullptr) return paramErr;
        *p->valid = p->movie->FindTrack(kVideoMediaType) != 0 || p->movie->FindTrack(kSoundMediaType) != 0;
        return noErr;
    }
    case kMovieExportSetSettingsFromAtomContainerSelect:
        return SetSettings(*state, static_cast<MovieExportSettingsParams*>(params));
    case kMovieExportNewGetDataAndPropertiesProcsSelect:
        return NewProcs(state, static_cast<MovieExportNewProcsParams*>(params));
    case kMovieExportDisposeGetDataAndPropertiesProcsSelect: {
        auto* p = static_cast<MovieExportDisposeProcsParams*>(params);
        if (p != nullptr) delete static_cast<Procs*>(p->refcon);
        return noErr;
    }
    default: return badComponentSelector;
    }
}

} // namespace

Component RegisterStandardExporter() {
    static std::mutex once;
    static Component registered = nullptr;
    std::lock_guard<std::mutex> lock(once);
    if (registered == nullptr) {
        ComponentDescription d;
        d.componentType = kMovieExportType;
        d.componentSubType = kStandardExportSubType;
        d.componentManufacturer = kAppleManufacturer;
        d.componentFlags = kStandardExporterFlags | 0x10;
        registered = RegisterComponent(d, &Dispatch, "Standard movie exporter");
    }
    return registered;
}

ComponentResult MovieExportNewGetDataAndPropertiesProcs(ComponentInstance exporter, const Movie& movie, OSType trackType,
                                                       int onlyThisTrack, std::int64_t startTime, std::int64_t duration,
                                                       std::int32_t& scale, MovieExportGetPropertyProc& getProperty,
                                                       MovieExportGetDataProc& getData, void*& refcon) {
    MovieExportNewProcsParams p{&movie, trackType, &scale, onlyThisTrack, startTime, duration, &getProperty, &getData, &refcon};
    return CallComponent(exporter, kMovieExportNewGetDataAndPropertiesProcsSelect, &p);
}

ComponentResult MovieExportDisposeGetDataAndPropertiesProcs(ComponentInstance exporter, MovieExportGetPropertyProc getProperty,
                                                           MovieExportGetDataProc getData, void* refcon) {
    MovieExportDisposeProcsParams p{getProperty, getData, refcon};
    return CallComponent(exporter, kMovieExportDisposeGetDataAndPropertiesProcsSelect, &p);
}

ComponentResult MovieExportSetSettingsFromAtomContainer(ComponentInstance exporter, AtomContainer& settings) {
    MovieExportSettingsParams p{&settings};
    return CallComponent(exporter, kMovieExportSetSettingsFromAtomContainerSelect, &p);
}

OSErr SetStandardExporterFrames(ComponentInstance exporter, Fixed frameRate, std::int16_t depth) {
    if (exporter == nullptr || GetComponentOf(exporter) != RegisterStandardExporter()) return paramErr;
    auto* state = static_cast<Exporter*>(GetComponentInstanceStorage(exporter));
    if (state == nullptr) return paramErr;
    state->frameRate = frameRate;
    state->depth = depth;
    return noErr;
}
