// The media layer over FFmpeg: movies and their tracks, and the sources
// that decode a track's pictures and sound by time.
#include "platform/media.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>

#include "platform/libav.h"

using namespace ff;

// ---- Movie -------------------------------------------------------------------------------

struct Movie::Impl {
    FileSpec path;
    FormatPtr format;
    struct Track {
        int stream = -1; // -1 for the chapter track
        TrackInfo info;
        int rotation = 0;
        std::int32_t scale = 1; // the small-time-scale rule's factor
    };
    std::vector<Track> tracks;
    std::vector<Chapter> chapters;
    bool still = false;
    int decoderThreads = 0;
    std::int64_t durationMs = 0;
};

Movie::Movie() = default;
Movie::~Movie() = default;
Movie::Movie(Movie&&) noexcept = default;
Movie& Movie::operator=(Movie&&) noexcept = default;

OSErr Movie::Open(const FileSpec& path, Movie& out) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    if (OSErr err = OpenFormat(path, impl->format)) return err;
    AVFormatContext* f = impl->format.get();
    impl->still = IsStillPictureFormat(f);
    const bool mpeg1System = IsMpeg1SystemStream(path, f);

    std::int64_t longestMs = 0;
    for (unsigned i = 0; i < f->nb_streams; ++i) {
        const AVStream* s = f->streams[i];
        const AVCodecParameters* p = s->codecpar;
        Impl::Track t;
        t.stream = static_cast<int>(i);
        if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
            t.info.mediaType = kVideoMediaType;
            // Cover art rides along as a picture stream; it is no movie picture.
            t.info.enabled = (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
            t.rotation = StreamRotation(s);
            DisplaySize(s, t.rotation, t.info.image.width, t.info.image.height);
            t.info.image.format = CodecCode(p);
        } else if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
            // The sound of an MPEG-1 system stream is an 'MPEG' track: audible,
            // but without sound samples for exporters.
            const bool mpegAudio = p->codec_id == AV_CODEC_ID_MP1 || p->codec_id == AV_CODEC_ID_MP2 || p->codec_id == AV_CODEC_ID_MP3;
            t.info.mediaType = mpeg1System && mpegAudio ? kMpegMediaType : kSoundMediaType;
            t.info.enabled = true;
            t.info.sound.codec = CodecCode(p);
            t.info.sound.format = PackedSoundFormat(p->format);
            t.info.sound.channels = static_cast<std::uint16_t>(p->ch_layout.nb_channels);
            t.info.sound.sampleSize = static_cast<std::uint16_t>(8 * std::max(0, av_get_bytes_per_sample(static_cast<AVSampleFormat>(p->format))));
            t.info.sound.sampleRate = UIntToUnsignedFixed(AnsweredSampleRate(p->sample_rate));
        } else {
            continue;
        }
        t.info.format = CodecCode(p);
        t.info.decodable = avcodec_find_decoder(p->codec_id) != nullptr;
        // A time base of 1/n gives the time scale n; anything else counts in milliseconds.
        t.info.timeScale = s->time_base.num == 1 && s->time_base.den > 0 ? s->time_base.den : 1000;
        std::int64_t duration = 0;
        if (s->duration != AV_NOPTS_VALUE && s->duration > 0) {
            duration = av_rescale_q(s->duration, s->time_base, AVRational{1, t.info.timeScale});
        } else if (f->duration != AV_NOPTS_VALUE && f->duration > 0) {
            duration = av_rescale_q(f->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, t.info.timeScale});
        }
        if (impl->still && t.info.mediaType == kVideoMediaType) {
            t.info.timeScale = 1000; // a still picture lasts one second
            duration = 1000;
        }
        t.info.duration = duration;
        longestMs = std::max(longestMs, duration * 1000 / t.info.timeScale);
        impl->tracks.push_back(t);
    }
    if (impl->tracks.empty()) return noMovieFound;

    for (unsigned i = 0; i < f->nb_chapters; ++i) {
        const AVChapter* c = f->chapters[i];
        const AVDictionaryEntry* title = av_dict_get(c->metadata, "title", nullptr, 0);
        impl->chapters.push_back({av_rescale_q(c->start, c->time_base, AVRational{1, 1000}), title ? title->value : ""});
    }
    impl->durationMs = f->duration != AV_NOPTS_VALUE && f->duration > 0 && !impl->still
                           ? av_rescale_q(f->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, 1000})
                           : longestMs;
    if (!impl->chapters.empty()) {
        Impl::Track chapterTrack;
        chapterTrack.info.mediaType = kTextMediaType;
        chapterTrack.info.format = Fcc("text");
        chapterTrack.info.timeScale = 1000;
        chapterTrack.info.duration = impl->durationMs;
        chapterTrack.info.decodable = true;
        impl->tracks.push_back(chapterTrack);
    }
    out.impl_ = std::move(impl);
    return noErr;
}

std::int32_t Movie::TimeScale() const { return 1000; }
std::int64_t Movie::Duration() const { return impl_ ? impl_->durationMs : 0; }
int Movie::TrackCount() const { return impl_ ? static_cast<int>(impl_->tracks.size()) : 0; }
const FileSpec& Movie::Path() const { return impl_->path; }

TrackInfo Movie::Track(int number) const {
    if (!impl_ || number < 1 || number > TrackCount()) return {};
    const Impl::Track& t = impl_->tracks[static_cast<std::size_t>(number - 1)];
    TrackInfo info = t.info;
    info.timeScale *= t.scale;
    info.duration *= t.scale;
    return info;
}

int Movie::FindTrack(OSType mediaType) const {
    for (int i = 1; i <= TrackCount(); ++i) {
        const TrackInfo info = Track(i);
        if (info.mediaType == mediaType && info.enabled) return i;
    }
    return 0;
}

Rect Movie::Box() const {
    const int video = FindTrack(kVideoMediaType);
    if (video == 0) return {};
    const TrackInfo info = Track(video);
    return MakeRect(0, 0, info.image.width, info.image.height);
}

std::string Movie::Annotation(OSType key) const {
    if (!impl_) return {};
    const char* names[2] = {nullptr, nullptr};
    if (key == Fcc("\xA9nam")) names[0] = "title";
    else if (key == Fcc("\xA9inf")) names[0] = "comment", names[1] = "description";
    else if (key == Fcc("\xA9" "cpy")) names[0] = "copyright";
    for (const char* name : names)
        if (name != nullptr)
            if (const AVDictionaryEntry* e = av_dict_get(impl_->format->metadata, name, nullptr, 0)) return e->value;
    return {};
}

std::vector<Chapter> Movie::Chapters() const { return impl_ ? impl_->chapters : std::vector<Chapter>{}; }

void Movie::ScaleTrackTimeScale(int number, std::int32_t factor) {
    if (impl_ && number >= 1 && number <= TrackCount() && factor > 0)
        impl_->tracks[static_cast<std::size_t>(number - 1)].scale *= factor;
}

namespace {

class FfmpegVideoSource final : public VideoSource {
public:
    OSErr Open(const FileSpec& path, int stream, const TrackInfo& info, int rotation, std::int32_t scale, bool still, int threads) {
        if (OSErr err = decoder_.Open(path, stream, threads)) return err;
        stream_ = decoder_.Stream();
        timeScale_ = info.timeScale * scale;
        duration_ = info.duration * scale;
        description_ = info.image;
        rotation_ = rotation;
        still_ = still;
        start_ = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;
        current_.reset(av_frame_alloc());
        next_.reset(av_frame_alloc());
        if (!current_ || !next_) return memFullErr;
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(stream_->codecpar->format));
        picture_.alpha = d != nullptr && (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
        decoder_.mayDrop = [this](const AVPacket& packet) { return MayDrop(packet); };
        return noErr;
    }

    OSErr GetFrame(std::int64_t time, VideoSample& out) override {
        if (time < 0) time = 0;
        lastRequest_ = time;
        if (haveCurrent_ && time < currentStart_) {
            if (OSErr err = Seek(time)) return err;
        }
        if (!haveCurrent_) {
            if (OSErr err = DecodeInto(current_, currentStart_, haveCurrent_)) return err;
            if (!haveCurrent_) return eofErr;
            if (OSErr err = DecodeNext()) return err;
        }
        // Step forward until the current frame's display interval holds the time.
        while (haveNext_ && nextStart_ <= time) {
            std::swap(current_, next_);
            currentStart_ = nextStart_;
            if (OSErr err = DecodeNext()) return err;
        }
        dropped_.erase(dropped_.begin(), std::upper_bound(dropped_.begin(), dropped_.end(), currentStart_));
        // Frames come out in time order, so a picture allowed to drop that
        // would lie between the current picture and the next was dropped: it
        // ends the current picture's display.
        const std::int64_t dropped =
            !dropped_.empty() && (!haveNext_ || dropped_.front() < nextStart_) ? dropped_.front() : std::numeric_limits<std::int64_t>::max();
        if (dropped <= time) {
            // The picture asked for was dropped after all: decode again from
            // the key frame before it, and drop nothing from now on.
            dropping_ = false;
            if (OSErr err = Seek(time)) return err;
            return GetFrame(time, out);
        }
        const std::int64_t end = std::min(haveNext_ ? nextStart_ : LastFrameEnd(), dropped);
        if (time >= end) return eofErr;
        UpdateSeed();
        picture_.frame = current_.get();
        picture_.rotation = rotation_;
        out.time = time;
        out.duration = end - time;
        out.frameTime = currentStart_;
        out.description = description_;
        out.seed = seed_;
        out.picture = &picture_;
        return noErr;
    }

private:
    // The track time of a decoded frame, counted from the stream's first timestamp.
    std::int64_t TrackTime(const AVFrame* f) const {
        std::int64_t pts = f->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) pts = f->pts;
        if (pts == AV_NOPTS_VALUE) return lastStart_ + 1;
        return ToTrack(pts);
    }

    // A stream time in track units, rounded up: a picture that starts a
    // fraction of a unit after a request is not shown at it. A time base too
    // coarse for the frame period (milliseconds at 30000/1001 frames/s, as
    // Matroska and FLV have it) has already rounded the start to the nearest
    // unit, so a time within a unit of the stream's frame grid is taken as
    // the grid's. Otherwise the same time would show another picture than
    // in a container that keeps it exactly.
    std::int64_t ToTrack(std::int64_t streamTime) const {
        const std::int64_t t = streamTime - start_;
        const AVRational base = stream_->time_base, rate = stream_->r_frame_rate;
        if (rate.num > 0 && rate.den > 0) {
            const std::int64_t unitsNum = std::int64_t{base.den} * rate.den, unitsDen = std::int64_t{base.num} * rate.num; // a period
            if (unitsNum % unitsDen != 0) {
                const std::int64_t frame = av_rescale_rnd(t, unitsDen, unitsNum, AV_ROUND_NEAR_INF);
                if (std::abs(frame * unitsNum - t * unitsDen) < unitsDen)
                    return av_rescale_rnd(frame, std::int64_t{rate.den} * timeScale_, rate.num, AV_ROUND_UP);
            }
        }
        return av_rescale_q_rnd(t, base, AVRational{1, timeScale_}, AV_ROUND_UP);
    }

    // Decodes the next frame; `have` is false at the end of the stream.
    OSErr DecodeInto(FramePtr& frame, std::int64_t& start, bool& have) {
        have = false;
        if (still_ && framesOut_ > 0) return noErr; // a picture file holds one frame
        const int got = decoder_.Next(frame.get());
        if (got == AVERROR_EOF) return noErr;
        if (got < 0) return cantFindHandler;
        start = still_ ? 0 : TrackTime(frame.get());
        // Keep the frames in order: a frame that claims an earlier or equal
        // time than its predecessor follows it by one unit.
        if (framesOut_ > 0 && start <= lastStart_) start = lastStart_ + 1;
        lastStart_ = start;
        lastDuration_ = frame->pkt_duration > 0
                            ? av_rescale_q(frame->pkt_duration, stream_->time_base, AVRational{1, timeScale_})
                            : 0;
        ++framesOut_;
        have = true;
        return noErr;
    }

    OSErr DecodeNext() { return DecodeInto(next_, nextStart_, haveNext_); }

    // Requests follow the frame rate the exporter was told, so the next one
    // comes at least a whole period after the last: a picture that starts
    // after the last request and ends by then is never shown, and when no
    // other picture refers to it the decoder need not make it. (A 30
    // frames/s movie converted at 15 skips the unreferenced B-frames that
    // fall between requests: up to a third of its decoding.)
    bool MayDrop(const AVPacket& packet) {
        if (!dropping_ || still_ || frameRate_ <= 0 || lastRequest_ < 0 || packet.pts == AV_NOPTS_VALUE || packet.duration <= 0)
            return false;
        const std::int64_t start = ToTrack(packet.pts), end = ToTrack(packet.pts + packet.duration);
        const std::int64_t period = (std::int64_t{timeScale_} << 16) / frameRate_;
        if (start <= lastRequest_ || end > lastRequest_ + period) return false;
        dropped_.insert(std::upper_bound(dropped_.begin(), dropped_.end(), start), start);
        return true;
    }

    // The end of the last frame: its own duration, else one frame period,
    // else the track's end.
    std::int64_t LastFrameEnd() const {
        if (still_) return duration_;
        std::int64_t length = lastDuration_;
        if (length <= 0 && stream_->avg_frame_rate.num > 0)
            length = av_rescale_q(1, av_inv_q(stream_->avg_frame_rate), AVRational{1, timeScale_});
        std::int64_t end = currentStart_ + std::max<std::int64_t>(length, 1);
        if (length <= 0 && duration_ > currentStart_) end = duration_;
        return end;
    }

    // Decodes from a key frame at or before the time, leaving the first
    // frame current. Seeking in a stream without an index (a program
    // stream) may land late or fail: then it asks again a second further
    // back, doubling, and at worst decodes from the file's beginning.
    OSErr Seek(std::int64_t time) {
        for (std::int64_t back = 0;; back = back == 0 ? timeScale_ : 2 * back) {
            const std::int64_t from = std::max<std::int64_t>(0, time - back);
            if (from == 0) {
                if (OSErr err = decoder_.Rewind()) return err;
                stream_ = decoder_.Stream();
            } else if (!decoder_.Seek(av_rescale_q(from, AVRational{1, timeScale_}, stream_->time_base) + start_)) {
                continue;
            }
            haveCurrent_ = haveNext_ = false;
            framesOut_ = 0;
            lastStart_ = 0;
            dropped_.clear();
            if (OSErr err = DecodeInto(current_, currentStart_, haveCurrent_)) return err;
            if (!haveCurrent_ || currentStart_ <= time || from == 0) break;
        }
        return haveCurrent_ ? DecodeNext() : noErr;
    }

    // The seed counts changes of picture size or pixel format.
    void UpdateSeed() {
        const int w = current_->width, h = current_->height, f = current_->format;
        if (w != seedWidth_ || h != seedHeight_ || f != seedFormat_) {
            seedWidth_ = w, seedHeight_ = h, seedFormat_ = f;
            ++seed_;
        }
    }

    StreamDecoder decoder_;
    AVStream* stream_ = nullptr;
    FramePtr current_, next_;
    bool haveCurrent_ = false, haveNext_ = false, still_ = false;
    std::int64_t currentStart_ = 0, nextStart_ = 0, lastStart_ = 0, lastDuration_ = 0, start_ = 0;
    std::uint64_t framesOut_ = 0;
    std::int64_t lastRequest_ = -1;
    bool dropping_ = true;
    std::vector<std::int64_t> dropped_; // starts of pictures the decoder may have dropped, in order
    int rotation_ = 0;
    int seedWidth_ = -1, seedHeight_ = -1, seedFormat_ = -1;
    std::int32_t seed_ = 0;
    DecodedPicture picture_;
};

class FfmpegSoundSource final : public SoundSource {
public:
    OSErr Open(const FileSpec& path, int stream, const TrackInfo& info) {
        if (OSErr err = decoder_.Open(path, stream)) return err;
        timeScale_ = info.timeScale;
        duration_ = info.duration;
        frame_.reset(av_frame_alloc());
        return frame_ ? noErr : memFullErr;
    }

    OSErr GetChunk(SoundChunk& out) override {
        for (;;) {
            const int got = decoder_.Next(frame_.get());
            if (got == AVERROR_EOF) return eofErr;
            if (got < 0) return ioErr;
            if (frame_->sample_rate > kHighestDescribedRate)
                if (OSErr err = Reduce()) return err;
            if (frame_->nb_samples > 0) return Deliver(out);
        }
    }

private:
    // A rate a sound description cannot hold (96 kHz, 192 kHz) comes out at
    // the half or quarter that it can: resampled, never mislabelled.
    OSErr Reduce() {
        const int to = static_cast<int>(AnsweredSampleRate(frame_->sample_rate));
        const auto format = av_get_packed_sample_fmt(static_cast<AVSampleFormat>(frame_->format));
        if (!reducer_ || reducedFrom_ != frame_->sample_rate) {
            SwrContext* raw = nullptr;
            if (swr_alloc_set_opts2(&raw, &frame_->ch_layout, format, to, &frame_->ch_layout,
                                    static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, 0, nullptr) < 0)
                return memFullErr;
            reducer_.reset(raw);
            if (swr_init(reducer_.get()) < 0) return paramErr;
            reducedFrom_ = frame_->sample_rate;
        }
        FramePtr reduced(av_frame_alloc());
        if (!reduced) return memFullErr;
        if (av_channel_layout_copy(&reduced->ch_layout, &frame_->ch_layout) < 0) return memFullErr;
        reduced->format = format;
        reduced->sample_rate = to;
        if (swr_convert_frame(reducer_.get(), reduced.get(), frame_.get()) < 0) return paramErr;
        frame_ = std::move(reduced);
        return noErr;
    }

    // Interleaves the decoded frame in its own sample type.
    OSErr Deliver(SoundChunk& out) {
        const auto format = static_cast<AVSampleFormat>(frame_->format);
        const OSType code = PackedSoundFormat(format);
        if (code == 0) return paramErr;
        const int channels = frame_->ch_layout.nb_channels;
        const int bytes = av_get_bytes_per_sample(format);
        const std::uint32_t size = static_cast<std::uint32_t>(frame_->nb_samples) * channels * bytes;
        if (OSErr err = buffer_.Resize(size)) return err;
        if (av_sample_fmt_is_planar(format)) {
            std::uint8_t* dest = buffer_.Data();
            for (int i = 0; i < frame_->nb_samples; ++i)
                for (int c = 0; c < channels; ++c, dest += bytes)
                    std::memcpy(dest, frame_->extended_data[c] + static_cast<std::size_t>(i) * bytes, bytes);
        } else {
            std::memcpy(buffer_.Data(), frame_->extended_data[0], size);
        }
        SoundDescription d;
        d.format = code;
        d.codec = CodecCode(decoder_.Stream()->codecpar);
        d.channels = static_cast<std::uint16_t>(channels);
        d.sampleSize = static_cast<std::uint16_t>(bytes * 8);
        d.sampleRate = UIntToUnsignedFixed(AnsweredSampleRate(frame_->sample_rate));
        if (d.format != last_.format || d.channels != last_.channels || d.sampleRate != last_.sampleRate) {
            last_ = d;
            ++seed_;
        }
        out.description = d;
        out.data = buffer_.Span();
        out.sampleCount = frame_->nb_samples;
        out.seed = seed_;
        return noErr;
    }

    StreamDecoder decoder_;
    FramePtr frame_;
    ByteBlock buffer_;
    SoundDescription last_;
    std::int32_t seed_ = 0;
    SwrPtr reducer_;
    int reducedFrom_ = 0;
};

} // namespace

OSErr VideoSource::GetProperty(OSType property, std::int64_t& value) const {
    switch (property) {
    case Fcc("wdth"): value = IntToFixed(description_.width); return noErr;
    case Fcc("hegt"): value = IntToFixed(description_.height); return noErr;
    case Fcc("dura"): value = duration_; return noErr;
    case Fcc("tprl"): value = frameRate_; return noErr;
    case Fcc("sptl"): value = depth_; return noErr;
    default: return paramErr;
    }
}

void Movie::SetDecoderThreads(int threads) {
    if (impl_) impl_->decoderThreads = std::max(0, threads);
}

OSErr Movie::NewVideoSource(int track, std::unique_ptr<VideoSource>& out) const {
    const TrackInfo info = Track(track);
    if (info.mediaType != kVideoMediaType) return paramErr;
    if (!info.decodable) return noCodecErr;
    const Impl::Track& t = impl_->tracks[static_cast<std::size_t>(track - 1)];
    auto source = std::make_unique<FfmpegVideoSource>();
    if (OSErr err = source->Open(impl_->path, t.stream, t.info, t.rotation, t.scale, impl_->still, impl_->decoderThreads)) return err;
    out = std::move(source);
    return noErr;
}

OSErr Movie::NewSoundSource(int track, std::unique_ptr<SoundSource>& out) const {
    const TrackInfo info = Track(track);
    if (info.mediaType != kSoundMediaType) return paramErr;
    if (!info.decodable) return noCodecErr;
    const Impl::Track& t = impl_->tracks[static_cast<std::size_t>(track - 1)];
    auto source = std::make_unique<FfmpegSoundSource>();
    if (OSErr err = source->Open(impl_->path, t.stream, t.info)) return err;
    out = std::move(source);
    return noErr;
}

OSErr Movie::PosterFrame(FrameBuffer& buffer) const {
    const int track = FindTrack(kVideoMediaType);
    if (track == 0) return invalidTrack;
    std::unique_ptr<VideoSource> source;
    if (OSErr err = NewVideoSource(track, source)) return err;
    VideoSample sample;
    if (OSErr err = source->GetFrame(0, sample)) return err;
    DecompressionSequence sequence;
    const Rect from = MakeRect(0, 0, sample.description.width, sample.description.height);
    if (OSErr err = sequence.Begin(sample.description, Matrix::MapRect(from, MakeRect(0, 0, buffer.Width(), buffer.Height())), &buffer))
        return err;
    return sequence.Decompress(*sample.picture);
}


// ---- Media file names -----------------------------------------------------------------------

std::span<const std::string_view> MediaFileExtensions() {
    static constexpr std::string_view kExtensions[] = {
        "3gp", "aac", "aif", "aiff", "asf", "avi", "bmp", "dat", "dv", "flac", "flv", "gif", "jpeg", "jpg",
        "m2v", "m4a", "m4v", "mkv", "mov", "mp2", "mp3", "mp4", "mpeg", "mpg", "ogg", "ogv", "png",
        "qt", "tif", "tiff", "ts", "vob", "wav", "webm", "webp", "wma", "wmv"};
    return kExtensions;
}

bool IsMediaFileName(const FileSpec& path) {
    std::string extension = path.extension().string();
    if (extension.size() < 2) return false;
    extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto all = MediaFileExtensions();
    return std::binary_search(all.begin(), all.end(), std::string_view(extension));
}
