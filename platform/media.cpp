// The media layer over FFmpeg: libavformat opens and demultiplexes, libavcodec
// decodes, libswscale scales pictures, libswresample converts sound.
#include "platform/media.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>

#include "platform/pixels.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

// ---- Ownership of FFmpeg objects ------------------------------------------------------

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFreer {
    void operator()(SwsContext* c) const { sws_freeContext(c); }
};
struct SwrFreer {
    void operator()(SwrContext* c) const { swr_free(&c); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;

void QuietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

OSErr OpenFormat(const FileSpec& path, FormatPtr& out) {
    QuietLibraries();
    if (!FileExists(path)) return fnfErr;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return noMovieFound;
    FormatPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) return noMovieFound;
    out = std::move(format);
    return noErr;
}

// The four-char code of a stream: its codec tag when it has a printable one
// ('avc1', 'SVQ3', 'XVID'), else one made from the codec's name.
OSType CodecCode(const AVCodecParameters* p) {
    const std::uint32_t tag = p->codec_tag;
    bool printable = tag != 0;
    for (int i = 0; i < 4 && printable; ++i) {
        const auto c = static_cast<std::uint8_t>(tag >> (8 * i));
        printable = c >= 0x20 && c < 0x7F;
    }
    if (printable) // FFmpeg keeps the first character in the low byte
        return (tag & 0xFF) << 24 | ((tag >> 8) & 0xFF) << 16 | ((tag >> 16) & 0xFF) << 8 | (tag >> 24);
    return FourCharCodeFromText(avcodec_get_name(p->codec_id));
}

// Quality first: area averaging when shrinking, bicubic when growing, exact
// rounding and full chroma: every path that draws pictures scales alike.
int ScalingFlags(bool shrinking) {
    return (shrinking ? SWS_AREA : SWS_BICUBIC) | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
}

// The quarter turn (clockwise) that makes the stream's pictures upright.
int StreamRotation(const AVStream* s) {
    const std::uint8_t* matrix = av_stream_get_side_data(s, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (matrix == nullptr) return 0;
    const double counterClockwise = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
    if (std::isnan(counterClockwise)) return 0;
    const int turns = static_cast<int>(std::lround(-counterClockwise / 90.0));
    return ((turns % 4) + 4) % 4 * 90;
}

// The size a stream's pictures are shown at: the coded size with square
// pixels, turned upright.
void DisplaySize(const AVStream* s, int rotation, std::uint16_t& width, std::uint16_t& height) {
    double w = s->codecpar->width, h = s->codecpar->height;
    AVRational sar = s->sample_aspect_ratio.num > 0 ? s->sample_aspect_ratio : s->codecpar->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den) w = w * sar.num / sar.den;
    if (rotation == 90 || rotation == 270) std::swap(w, h);
    width = static_cast<std::uint16_t>(std::clamp<long>(std::lround(w), 0, 0xFFFF));
    height = static_cast<std::uint16_t>(std::clamp<long>(std::lround(h), 0, 0xFFFF));
}

// Decoded sound leaves the sources interleaved in its own sample type.
OSType PackedSoundFormat(int format) {
    switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(format))) {
    case AV_SAMPLE_FMT_U8: return kSoundU8;
    case AV_SAMPLE_FMT_S16: return kSoundS16;
    case AV_SAMPLE_FMT_S32: return kSoundS32;
    case AV_SAMPLE_FMT_FLT: return kSoundF32;
    case AV_SAMPLE_FMT_DBL: return kSoundF64;
    default: return 0;
    }
}

AVSampleFormat SampleFormatOf(OSType format) {
    switch (format) {
    case kSoundU8: return AV_SAMPLE_FMT_U8;
    case kSoundS16: return AV_SAMPLE_FMT_S16;
    case kSoundS32: return AV_SAMPLE_FMT_S32;
    case kSoundF32: return AV_SAMPLE_FMT_FLT;
    case kSoundF64: return AV_SAMPLE_FMT_DBL;
    default: return AV_SAMPLE_FMT_NONE;
    }
}

// A file that starts with an MPEG-1 pack (not an MPEG-2 program stream).
bool IsMpeg1SystemStream(const FileSpec& path, const AVFormatContext* f) {
    if (std::string(f->iformat->name) != "mpeg") return false;
    File file;
    std::uint8_t head[5];
    if (File::Open(path, File::Mode::Read, file) != noErr || file.ReadAt(0, head) != noErr) return false;
    return head[0] == 0 && head[1] == 0 && head[2] == 1 && head[3] == 0xBA && (head[4] >> 4) == 0x2;
}

bool IsStillPictureFormat(const AVFormatContext* f) {
    const std::string name = f->iformat->name;
    return name == "image2" || (name.size() > 5 && name.compare(name.size() - 5, 5, "_pipe") == 0);
}

OSErr OpenDecoder(const AVStream* s, CodecPtr& out) {
    const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
    if (codec == nullptr) return noCodecErr;
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context) return memFullErr;
    if (avcodec_parameters_to_context(context.get(), s->codecpar) < 0) return noCodecErr;
    context->pkt_timebase = s->time_base;
    context->thread_count = 0; // as many as the machine has
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return noCodecErr;
    out = std::move(context);
    return noErr;
}

// One stream of a file, demultiplexed and decoded frame by frame.
class StreamDecoder {
public:
    OSErr Open(const FileSpec& path, int index) {
        path_ = path;
        if (OSErr err = OpenFormat(path, format_)) return err;
        stream_ = format_->streams[index];
        for (unsigned i = 0; i < format_->nb_streams; ++i)
            if (static_cast<int>(i) != index) format_->streams[i]->discard = AVDISCARD_ALL;
        if (OSErr err = OpenDecoder(stream_, codec_)) return err;
        packet_.reset(av_packet_alloc());
        return packet_ ? noErr : memFullErr;
    }

    // The next decoded frame: 0, AVERROR_EOF at the end, or another error.
    // A damaged packet is skipped; decoding goes on after it.
    int Next(AVFrame* frame) {
        for (;;) {
            const int got = avcodec_receive_frame(codec_.get(), frame);
            if (got == 0 && decodeOrder_) TimeInDisplayOrder(frame);
            if (got != AVERROR(EAGAIN)) return got;
            if (draining_) return AVERROR_EOF;
            if (av_read_frame(format_.get(), packet_.get()) < 0) {
                draining_ = true;
                avcodec_send_packet(codec_.get(), nullptr);
                continue;
            }
            int sent = 0;
            if (packet_->stream_index == stream_->index) {
                if (!seenPacket_) decodeOrder_ = packet_->pts == AV_NOPTS_VALUE;
                seenPacket_ = true;
                // Times in decoding order say nothing of a picture's own
                // time: none may be let go on their word.
                const bool drop = !decodeOrder_ && mayDrop && mayDrop(*packet_);
                codec_->skip_frame = drop ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
                sent = avcodec_send_packet(codec_.get(), packet_.get());
                if (sent == 0 && decodeOrder_ && packet_->dts != AV_NOPTS_VALUE) decodeTimes_.push_back(packet_->dts);
            }
            av_packet_unref(packet_.get());
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) return sent;
        }
    }

    // Back to the file's beginning, whatever the container's seeking can
    // do: the file opened afresh.
    OSErr Rewind() {
        if (OSErr err = Open(path_, stream_->index)) return err;
        draining_ = false;
        decodeTimes_.clear();
        return noErr;
    }

    // Moves to the last key frame at or before the stream time.
    bool Seek(std::int64_t streamTime) {
        if (avformat_seek_file(format_.get(), stream_->index, INT64_MIN, streamTime, streamTime, 0) < 0) return false;
        avcodec_flush_buffers(codec_.get());
        draining_ = false;
        decodeTimes_.clear();
        return true;
    }

    AVStream* Stream() const { return stream_; }

    // Asked before each of the stream's packets goes to the decoder: true
    // lets the decoder drop its picture when no other picture refers to it.
    std::function<bool(const AVPacket&)> mayDrop;

private:
    // A container that keeps pictures in decoding order and gives a key
    // frame no time of its own (AVI with B-frames) stamps each picture with
    // the time of the packet that let the decoder output it: late by the
    // decoder's reordering delay. Pictures come out in display order, one per
    // packet, so the n-th picture out is shown at the n-th packet's time.
    // The packet that released a picture is at most the reordering delay
    // behind: older times belong to packets that gave no picture.
    void TimeInDisplayOrder(AVFrame* frame) {
        const std::int64_t released = frame->pkt_dts;
        if (released != AV_NOPTS_VALUE) {
            const auto waiting = std::upper_bound(decodeTimes_.begin(), decodeTimes_.end(), released) - decodeTimes_.begin();
            const std::ptrdiff_t stale = waiting - 1 - std::max(codec_->has_b_frames, 0);
            if (stale > 0) decodeTimes_.erase(decodeTimes_.begin(), decodeTimes_.begin() + stale);
        }
        if (decodeTimes_.empty()) return;
        frame->pts = frame->best_effort_timestamp = decodeTimes_.front();
        decodeTimes_.pop_front();
    }

    FileSpec path_;
    FormatPtr format_;
    AVStream* stream_ = nullptr;
    CodecPtr codec_;
    PacketPtr packet_;
    bool draining_ = false;
    bool seenPacket_ = false, decodeOrder_ = false;
    std::deque<std::int64_t> decodeTimes_; // of packets sent and not yet out as pictures, ascending
};

} // namespace

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
            t.info.sound.sampleRate = UIntToUnsignedFixed(static_cast<std::uint32_t>(std::max(0, p->sample_rate)));
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

// ---- Decoded pictures and the video source -------------------------------------------------

struct DecodedPicture {
    const AVFrame* frame = nullptr;
    int rotation = 0; // clockwise quarter turn that makes it upright
    bool alpha = false;
};

namespace {

class FfmpegVideoSource final : public VideoSource {
public:
    OSErr Open(const FileSpec& path, int stream, const TrackInfo& info, int rotation, std::int32_t scale, bool still) {
        if (OSErr err = decoder_.Open(path, stream)) return err;
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
            if (frame_->nb_samples > 0) return Deliver(out);
        }
    }

private:
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
        d.sampleRate = UIntToUnsignedFixed(static_cast<std::uint32_t>(frame_->sample_rate));
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

OSErr Movie::NewVideoSource(int track, std::unique_ptr<VideoSource>& out) const {
    const TrackInfo info = Track(track);
    if (info.mediaType != kVideoMediaType) return paramErr;
    if (!info.decodable) return noCodecErr;
    const Impl::Track& t = impl_->tracks[static_cast<std::size_t>(track - 1)];
    auto source = std::make_unique<FfmpegVideoSource>();
    if (OSErr err = source->Open(impl_->path, t.stream, t.info, t.rotation, t.scale, impl_->still)) return err;
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

// ---- Frame buffers and decompression ----------------------------------------------------------

OSErr FrameBuffer::Create(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return paramErr;
    ByteBlock pixels;
    if (OSErr err = pixels.Grow(static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 4)) return err;
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    EraseToWhite();
    return noErr;
}

void FrameBuffer::EraseToWhite() { std::memset(pixels_.Data(), 0xFF, pixels_.Size()); }

struct DecompressionSequence::Impl {
    ImageDescription description;
    Matrix matrix;
    FrameBuffer* destination = nullptr;
    SwsPtr scaler;
    std::vector<std::uint8_t> planes; // the scaler's output
    std::vector<std::uint8_t> scaled; // the picture at its final size, before turning
};

DecompressionSequence::DecompressionSequence() = default;
DecompressionSequence::~DecompressionSequence() = default;

OSErr DecompressionSequence::Begin(const ImageDescription& description, const Matrix& matrix, FrameBuffer* destination) {
    if (destination == nullptr || description.width == 0 || description.height == 0) return paramErr;
    auto impl = std::make_unique<Impl>();
    impl->description = description;
    impl->matrix = matrix;
    impl->destination = destination;
    impl_ = std::move(impl);
    return noErr;
}

void DecompressionSequence::End() { impl_.reset(); }

OSErr DecompressionSequence::Decompress(const DecodedPicture& picture) {
    if (!impl_ || picture.frame == nullptr) return paramErr;
    Impl& s = *impl_;
    const AVFrame* frame = picture.frame;
    const Rect target = s.matrix.TransformRect(MakeRect(0, 0, s.description.width, s.description.height));
    if (target.Empty()) return noErr;
    // One turn covers both the stream's own rotation and the matrix's.
    const int turn = (picture.rotation + s.matrix.QuarterTurns()) % 360;
    const bool sideways = turn == 90 || turn == 270;
    const int sw = sideways ? target.Height() : target.Width();
    const int sh = sideways ? target.Width() : target.Height();
    if (sw > 16384 || sh > 16384) return paramErr;

    // The scaler writes planes of green, blue, red (and alpha), which are
    // then interleaved: the same pixels as its packed 'BGRA' output, which
    // takes several times as long.
    const int flags = ScalingFlags(sw < frame->width && sh < frame->height);
    s.scaler.reset(sws_getCachedContext(s.scaler.release(), frame->width, frame->height,
                                        static_cast<AVPixelFormat>(frame->format), sw, sh,
                                        picture.alpha ? AV_PIX_FMT_GBRAP : AV_PIX_FMT_GBRP, flags, nullptr, nullptr, nullptr));
    if (!s.scaler) return cantFindHandler;
    const std::size_t area = static_cast<std::size_t>(sw) * sh;
    try {
        s.planes.resize(area * (picture.alpha ? 4 : 3));
        s.scaled.resize(area * 4);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    std::uint8_t* planes[4] = {s.planes.data(), s.planes.data() + area, s.planes.data() + 2 * area,
                               picture.alpha ? s.planes.data() + 3 * area : nullptr};
    int strides[4] = {sw, sw, sw, picture.alpha ? sw : 0};
    if (sws_scale(s.scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides) != sh)
        return cantFindHandler;
    InterleaveBgra(planes[1], planes[0], planes[2], planes[3], s.scaled.data(), area);
    if (picture.alpha) {
        // Transparent parts show the white background.
        for (std::size_t i = 0; i < s.scaled.size(); i += 4) {
            const unsigned a = s.scaled[i + 3];
            for (int c = 0; c < 3; ++c) s.scaled[i + c] = static_cast<std::uint8_t>((s.scaled[i + c] * a + 255 * (255 - a) + 127) / 255);
            s.scaled[i + 3] = 255;
        }
    }

    // Turn and place, clipped to the buffer.
    FrameBuffer& out = *s.destination;
    const int x0 = std::max(0, target.left), x1 = std::min(out.Width(), target.right);
    const int y0 = std::max(0, target.top), y1 = std::min(out.Height(), target.bottom);
    const std::uint32_t* source = reinterpret_cast<const std::uint32_t*>(s.scaled.data());
    for (int y = y0; y < y1; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(out.Pixels() + static_cast<std::size_t>(y) * out.RowBytes());
        const int ty = y - target.top;
        if (turn == 0) {
            if (x1 > x0) std::memcpy(row + x0, source + static_cast<std::size_t>(ty) * sw + (x0 - target.left), 4u * (x1 - x0));
            continue;
        }
        for (int x = x0; x < x1; ++x) {
            const int tx = x - target.left;
            int sx, sy;
            switch (turn) {
            case 90: sx = ty, sy = sh - 1 - tx; break;
            case 180: sx = sw - 1 - tx, sy = sh - 1 - ty; break;
            case 270: sx = sw - 1 - ty, sy = tx; break;
            default: sx = tx, sy = ty; break;
            }
            row[x] = source[static_cast<std::size_t>(sy) * sw + sx];
        }
    }
    return noErr;
}

// ---- Sound converter -------------------------------------------------------------------------------

struct SoundConverter::Impl {
    SwrPtr resampler;
    int inputFrameBytes = 0, outputFrameBytes = 0;
    int inputRate = 0, outputRate = 0;
};

SoundConverter::SoundConverter() = default;
SoundConverter::~SoundConverter() = default;

OSErr SoundConverter::Open(const SoundDescription& input, const SoundOutputFormat& output) {
    const AVSampleFormat in = SampleFormatOf(input.format);
    const AVSampleFormat outFormat = output.format == kSoundU8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    if (in == AV_SAMPLE_FMT_NONE || input.channels == 0 || output.channels == 0 || output.channels > 2) return paramErr;
    if (output.format != kSoundU8 && output.format != kSoundS16) return paramErr;
    const int inRate = static_cast<int>(std::lround(UnsignedFixedToDouble(input.sampleRate)));
    if (inRate <= 0 || output.sampleRate == 0) return paramErr;
    AVChannelLayout inLayout, outLayout;
    av_channel_layout_default(&inLayout, input.channels);
    av_channel_layout_default(&outLayout, output.channels);
    SwrContext* raw = nullptr;
    const int made = swr_alloc_set_opts2(&raw, &outLayout, outFormat, static_cast<int>(output.sampleRate), &inLayout,
                                         in, inRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    SwrPtr resampler(raw);
    if (made < 0 || !resampler) return memFullErr;
    // Good resampling: a longer filter than the default.
    av_opt_set_int(resampler.get(), "filter_size", 32, 0);
    if (swr_init(resampler.get()) < 0) return paramErr;
    auto impl = std::make_unique<Impl>();
    impl->resampler = std::move(resampler);
    impl->inputFrameBytes = av_get_bytes_per_sample(in) * input.channels;
    impl->outputFrameBytes = av_get_bytes_per_sample(outFormat) * output.channels;
    impl->inputRate = inRate;
    impl->outputRate = static_cast<int>(output.sampleRate);
    impl_ = std::move(impl);
    return noErr;
}

void SoundConverter::BufferSizes(std::uint32_t inputBytes, std::uint32_t& inputLimit, std::uint32_t& outputSize) const {
    inputLimit = inputBytes;
    if (!impl_) {
        outputSize = 0;
        return;
    }
    const std::uint64_t frames = inputBytes / static_cast<std::uint32_t>(impl_->inputFrameBytes);
    const std::uint64_t out = frames * static_cast<std::uint64_t>(impl_->outputRate) / static_cast<std::uint64_t>(impl_->inputRate) + 256;
    outputSize = static_cast<std::uint32_t>(out * static_cast<std::uint64_t>(impl_->outputFrameBytes));
}

OSErr SoundConverter::Convert(std::span<const std::uint8_t> input, ByteBlock& output) {
    if (!impl_) return paramErr;
    const int frames = static_cast<int>(input.size() / static_cast<std::size_t>(impl_->inputFrameBytes));
    const int room = swr_get_out_samples(impl_->resampler.get(), frames);
    if (room < 0) return paramErr;
    std::uint32_t at = 0;
    if (OSErr err = output.Grow(static_cast<std::uint32_t>(room * impl_->outputFrameBytes), &at)) return err;
    std::uint8_t* out = output.Data() + at;
    const std::uint8_t* in = input.data();
    const int made = swr_convert(impl_->resampler.get(), &out, room, frames > 0 ? &in : nullptr, frames);
    if (made < 0) {
        (void)output.Resize(at);
        return paramErr;
    }
    return output.Resize(at + static_cast<std::uint32_t>(made * impl_->outputFrameBytes));
}

OSErr SoundConverter::End(ByteBlock& output) {
    if (!impl_) return paramErr;
    for (;;) {
        const int room = std::max(256, swr_get_out_samples(impl_->resampler.get(), 0));
        std::uint32_t at = 0;
        if (OSErr err = output.Grow(static_cast<std::uint32_t>(room * impl_->outputFrameBytes), &at)) return err;
        std::uint8_t* out = output.Data() + at;
        const int made = swr_convert(impl_->resampler.get(), &out, room, nullptr, 0);
        if (made < 0) {
            (void)output.Resize(at);
            return paramErr;
        }
        if (OSErr err = output.Resize(at + static_cast<std::uint32_t>(made * impl_->outputFrameBytes))) return err;
        if (made == 0) return noErr;
    }
}

void SoundConverter::Close() { impl_.reset(); }

// A four-char code as FFmpeg keeps codec tags: the first character in the
// low byte (and back).
std::uint32_t SwappedCode(std::uint32_t code) {
    return (code >> 24) | ((code >> 8) & 0xFF00) | ((code << 8) & 0xFF0000) | (code << 24);
}

// A decoder's context, a packet and a frame for single-packet decoding.
OSErr NewDecoderParts(const AVCodec* decoder, CodecPtr& codec, PacketPtr& packet, FramePtr& frame) {
    codec.reset(avcodec_alloc_context3(decoder));
    packet.reset(av_packet_alloc());
    frame.reset(av_frame_alloc());
    return codec && packet && frame ? noErr : memFullErr;
}

// ---- Single-packet decoding -------------------------------------------------------------------------

// Sends one packet of compressed data to a decoder. The decoder reads a
// little past the end of a packet: the copy gets padding.
OSErr SendPacket(AVCodecContext* codec, AVPacket* packet, std::span<const std::uint8_t> data) {
    if (av_new_packet(packet, static_cast<int>(data.size())) < 0) return memFullErr;
    std::memcpy(packet->data, data.data(), data.size());
    const int sent = avcodec_send_packet(codec, packet);
    av_packet_unref(packet);
    return sent < 0 ? codecDataVersErr : noErr;
}

// ---- Sound decompressors ---------------------------------------------------------------------------

struct SoundDecompressor::Impl {
    CodecPtr codec;
    PacketPtr packet;
    FramePtr frame;
};

SoundDecompressor::SoundDecompressor() = default;
SoundDecompressor::~SoundDecompressor() = default;

OSErr SoundDecompressor::Open(OSType code, std::uint32_t sampleRate, std::uint16_t channels,
                              std::uint32_t packetBytes, std::span<const std::uint8_t> setup) {
    QuietLibraries();
    AVCodecID id = AV_CODEC_ID_NONE;
    if (code == Fcc("atrc")) id = AV_CODEC_ID_ATRAC3;
    if (code == Fcc(".mp2")) id = AV_CODEC_ID_MP2;
    if (code == Fcc(".mp1")) id = AV_CODEC_ID_MP1;
    const AVCodec* decoder = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    // MPEG audio: the floating-point decoders, the more exact ones.
    if (id == AV_CODEC_ID_MP2 && avcodec_find_decoder_by_name("mp2float")) decoder = avcodec_find_decoder_by_name("mp2float");
    if (id == AV_CODEC_ID_MP1 && avcodec_find_decoder_by_name("mp1float")) decoder = avcodec_find_decoder_by_name("mp1float");
    if (decoder == nullptr || channels == 0) return noCodecErr;
    auto impl = std::make_unique<Impl>();
    if (OSErr err = NewDecoderParts(decoder, impl->codec, impl->packet, impl->frame)) return err;
    AVCodecContext* c = impl->codec.get();
    c->sample_rate = static_cast<int>(sampleRate);
    av_channel_layout_default(&c->ch_layout, channels);
    c->block_align = static_cast<int>(packetBytes);
    if (!setup.empty()) {
        c->extradata = static_cast<std::uint8_t*>(av_mallocz(setup.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (c->extradata == nullptr) return memFullErr;
        std::memcpy(c->extradata, setup.data(), setup.size());
        c->extradata_size = static_cast<int>(setup.size());
    }
    if (avcodec_open2(c, decoder, nullptr) < 0) return noCodecErr;
    impl_ = std::move(impl);
    return noErr;
}

OSErr SoundDecompressor::Decode(std::span<const std::uint8_t> data, std::vector<float>& out) {
    if (!impl_) return paramErr;
    Impl& s = *impl_;
    if (OSErr err = SendPacket(s.codec.get(), s.packet.get(), data)) return err;
    while (true) {
        const int got = avcodec_receive_frame(s.codec.get(), s.frame.get());
        if (got == AVERROR(EAGAIN)) return noErr;
        if (got < 0) return codecDataVersErr;
        const AVFrame* f = s.frame.get();
        const int channels = f->ch_layout.nb_channels;
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(f->nb_samples) * static_cast<std::size_t>(channels));
        for (int i = 0; i < f->nb_samples; ++i)
            for (int ch = 0; ch < channels; ++ch) {
                float v = 0;
                if (f->format == AV_SAMPLE_FMT_FLTP) v = reinterpret_cast<const float*>(f->extended_data[ch])[i];
                else if (f->format == AV_SAMPLE_FMT_FLT) v = reinterpret_cast<const float*>(f->extended_data[0])[i * channels + ch];
                else if (f->format == AV_SAMPLE_FMT_S16P) v = reinterpret_cast<const std::int16_t*>(f->extended_data[ch])[i] / 32768.0f;
                else if (f->format == AV_SAMPLE_FMT_S16) v = reinterpret_cast<const std::int16_t*>(f->extended_data[0])[i * channels + ch] / 32768.0f;
                else return codecDataVersErr;
                out[at + static_cast<std::size_t>(i) * channels + ch] = v;
            }
        av_frame_unref(s.frame.get());
    }
}

// ---- Single-picture decompressors ------------------------------------------------------------------

struct ImageDecompressor::Impl {
    CodecPtr codec;
    PacketPtr packet;
    FramePtr frame;
    SwsPtr scaler;
};

ImageDecompressor::ImageDecompressor() = default;
ImageDecompressor::~ImageDecompressor() = default;

OSErr ImageDecompressor::Open(OSType code, std::int32_t width, std::int32_t height) {
    QuietLibraries();
    // Four-char codes name codecs the way AVI files and QuickTime movies do.
    const std::uint32_t tag = SwappedCode(code);
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), avformat_get_mov_video_tags(), nullptr};
    const AVCodecID id = av_codec_get_id(tables, tag);
    const AVCodec* decoder = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (decoder == nullptr) return noCodecErr;
    auto impl = std::make_unique<Impl>();
    if (OSErr err = NewDecoderParts(decoder, impl->codec, impl->packet, impl->frame)) return err;
    impl->codec->width = width;
    impl->codec->height = height;
    impl->codec->codec_tag = tag;
    if (avcodec_open2(impl->codec.get(), decoder, nullptr) < 0) return noCodecErr;
    impl_ = std::move(impl);
    return noErr;
}

OSErr ImageDecompressor::Decode(std::span<const std::uint8_t> data, FrameBuffer& out) {
    if (!impl_) return paramErr;
    Impl& s = *impl_;
    if (OSErr err = SendPacket(s.codec.get(), s.packet.get(), data)) return err;
    if (avcodec_receive_frame(s.codec.get(), s.frame.get()) < 0) return codecDataVersErr;
    const AVFrame* f = s.frame.get();
    if (out.Width() != f->width || out.Height() != f->height)
        if (OSErr err = out.Create(f->width, f->height)) return err;
    s.scaler.reset(sws_getCachedContext(s.scaler.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                        f->width, f->height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr, nullptr));
    if (!s.scaler) return cantFindHandler;
    std::uint8_t* planes[4] = {out.Pixels(), nullptr, nullptr, nullptr};
    int strides[4] = {out.RowBytes(), 0, 0, 0};
    sws_scale(s.scaler.get(), f->data, f->linesize, 0, f->height, planes, strides);
    return noErr;
}

// ---- The Video for Windows stand-in --------------------------------------------------------------

namespace {

// The first video stream of a file, or -1.
int FirstVideoStream(const AVFormatContext* f) {
    for (unsigned i = 0; i < f->nb_streams; ++i)
        if (f->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(f->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    return -1;
}

} // namespace

BitmapHeader ParseBitmapHeader(std::span<const std::uint8_t> b) {
    BitmapHeader h;
    if (b.size() < 40) return h;
    h.width = static_cast<std::int32_t>(ReadLE32(b.data() + 4));
    h.height = static_cast<std::int32_t>(ReadLE32(b.data() + 8));
    h.planes = ReadLE16(b.data() + 12);
    h.bitCount = ReadLE16(b.data() + 14);
    h.compression = ReadBE32(b.data() + 16);
    h.imageSize = ReadLE32(b.data() + 20);
    return h;
}

struct VfwDecompressor::Impl {
    CodecPtr codec;
    PacketPtr packet;
    FramePtr frame;
    SwsPtr scaler;
    BitmapHeader output;
    bool begun = false;
};

VfwDecompressor::VfwDecompressor() = default;
VfwDecompressor::~VfwDecompressor() = default;

OSErr VfwDecompressor::Locate(const BitmapHeader& input, const BitmapHeader& output) {
    QuietLibraries();
    if (output.bitCount != 24 && output.bitCount != 16 && output.bitCount != 8) return codecDataVersErr;
    AVCodecID id = AV_CODEC_ID_RAWVIDEO;
    const std::uint32_t code = input.compression;
    if (code != 0) {
        // Video for Windows codes are kept in file byte order.
        const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
        id = av_codec_get_id(tables, SwappedCode(code));
    }
    const AVCodec* decoder = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    if (decoder == nullptr) return codecDataVersErr;
    auto impl = std::make_unique<Impl>();
    if (OSErr err = NewDecoderParts(decoder, impl->codec, impl->packet, impl->frame)) return err;
    AVCodecContext* c = impl->codec.get();
    c->width = input.width;
    c->height = input.height < 0 ? -input.height : input.height;
    c->codec_tag = SwappedCode(code);
    c->bits_per_coded_sample = input.bitCount;
    if (id == AV_CODEC_ID_RAWVIDEO) {
        // Uncompressed bitmaps: only 24 and 16 bits decode without a colour table.
        if (input.bitCount == 24) c->pix_fmt = AV_PIX_FMT_BGR24;
        else if (input.bitCount == 16) c->pix_fmt = AV_PIX_FMT_RGB555LE;
        else return codecDataVersErr;
    }
    c->thread_count = 1;
    if (avcodec_open2(c, decoder, nullptr) < 0) return codecDataVersErr;
    impl->output = output;
    impl_ = std::move(impl);
    return noErr;
}

OSErr VfwDecompressor::Begin() {
    if (!impl_) return paramErr;
    impl_->begun = true;
    return noErr;
}

void VfwDecompressor::End() {
    if (!impl_ || !impl_->begun) return;
    avcodec_flush_buffers(impl_->codec.get());
    impl_->begun = false;
}

bool VfwDecompressor::Begun() const { return impl_ && impl_->begun; }

OSErr VfwDecompressor::Decompress(std::span<const std::uint8_t> data, bool draw, std::uint8_t* bits, std::int32_t rowBytes,
                                  std::uint8_t* colours) {
    if (!impl_ || !impl_->begun) return paramErr;
    Impl& s = *impl_;
    if (OSErr err = SendPacket(s.codec.get(), s.packet.get(), data)) return err;
    if (avcodec_receive_frame(s.codec.get(), s.frame.get()) < 0) return codecDataVersErr;
    const AVFrame* f = s.frame.get();
    if (!draw || bits == nullptr) return noErr; // decoded all the same, so that later frames decode
    const int w = s.output.width, h = s.output.height < 0 ? -s.output.height : s.output.height;
    // Rows bottom-up: the last row first in memory.
    std::uint8_t* last = bits + static_cast<std::ptrdiff_t>(h - 1) * rowBytes;
    if (s.output.bitCount == 8) {
        if (f->format != AV_PIX_FMT_PAL8 || colours == nullptr) return codecDataVersErr;
        for (int y = 0; y < h && y < f->height; ++y)
            std::memcpy(last - static_cast<std::ptrdiff_t>(y) * rowBytes, f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0],
                        static_cast<std::size_t>(std::min(w, f->width)));
        for (int i = 0; i < 256; ++i) {
            const std::uint32_t argb = reinterpret_cast<const std::uint32_t*>(f->data[1])[i];
            colours[4 * i] = static_cast<std::uint8_t>(argb), colours[4 * i + 1] = static_cast<std::uint8_t>(argb >> 8);
            colours[4 * i + 2] = static_cast<std::uint8_t>(argb >> 16), colours[4 * i + 3] = 0;
        }
        return noErr;
    }
    const AVPixelFormat target = s.output.bitCount == 24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB555LE;
    s.scaler.reset(sws_getCachedContext(s.scaler.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format), w, h,
                                        target, ScalingFlags(w < f->width && h < f->height), nullptr, nullptr, nullptr));
    if (!s.scaler) return codecDataVersErr;
    std::uint8_t* planes[4] = {last, nullptr, nullptr, nullptr};
    int strides[4] = {-rowBytes, 0, 0, 0};
    sws_scale(s.scaler.get(), f->data, f->linesize, 0, f->height, planes, strides);
    return noErr;
}

bool VfwCanDecode(const FileSpec& file) {
    FormatPtr format;
    if (OpenFormat(file, format) != noErr) return false;
    const int index = FirstVideoStream(format.get());
    if (index < 0) return false;
    StreamDecoder decoder;
    if (decoder.Open(file, index) != noErr) return false;
    FramePtr frame(av_frame_alloc());
    return frame && decoder.Next(frame.get()) == 0;
}

OSErr ReadVideoPackets(const FileSpec& file, std::vector<VideoPacket>& out, BitmapHeader& header) {
    FormatPtr format;
    if (OSErr err = OpenFormat(file, format)) return err;
    const int index = FirstVideoStream(format.get());
    if (index < 0) return invalidTrack;
    const AVCodecParameters* p = format->streams[index]->codecpar;
    header = BitmapHeader{};
    header.width = p->width;
    header.height = p->height;
    header.bitCount = static_cast<std::uint16_t>(p->bits_per_coded_sample);
    header.compression = SwappedCode(p->codec_tag);
    PacketPtr packet(av_packet_alloc());
    if (!packet) return memFullErr;
    const AVStream* stream = format->streams[index];
    const std::int64_t origin = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == index)
            out.push_back({std::vector<std::uint8_t>(packet->data, packet->data + packet->size), (packet->flags & AV_PKT_FLAG_KEY) != 0,
                           packet->pts == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(packet->pts - origin) * av_q2d(stream->time_base)});
        av_packet_unref(packet.get());
    }
    return noErr;
}

// ---- The DirectShow stand-in ---------------------------------------------------------------------

struct FrameRenderer::Impl {
    StreamDecoder decoder;
    FramePtr shown, pending; // the frame on screen; the next one, decoded early
    double pendingStart = 0;
    SwsPtr scaler;
    std::int32_t width = 0, height = 0;
    double length = 0, lastTime = -1;
    bool ended = false;
};

FrameRenderer::FrameRenderer() = default;
FrameRenderer::~FrameRenderer() = default;

OSErr FrameRenderer::Open(const FileSpec& file) {
    FormatPtr format;
    if (OSErr err = OpenFormat(file, format)) return err;
    const int index = FirstVideoStream(format.get());
    if (index < 0) return invalidTrack;
    auto impl = std::make_unique<Impl>();
    if (OSErr err = impl->decoder.Open(file, index)) return err;
    const AVStream* s = impl->decoder.Stream();
    impl->width = s->codecpar->width;
    impl->height = s->codecpar->height;
    impl->length = s->duration != AV_NOPTS_VALUE ? static_cast<double>(s->duration) * av_q2d(s->time_base)
                                                 : static_cast<double>(format->duration) / AV_TIME_BASE;
    impl->shown.reset(av_frame_alloc());
    impl->pending.reset(av_frame_alloc());
    if (!impl->shown || !impl->pending) return memFullErr;
    impl_ = std::move(impl);
    std::vector<std::uint8_t> probe(static_cast<std::size_t>(impl_->width) * 3 * static_cast<std::size_t>(impl_->height));
    if (impl_->length > 0)
        if (OSErr err = Render(0, impl_->width, impl_->height, probe.data(), impl_->width * 3)) {
            impl_.reset();
            return err;
        }
    return noErr;
}

std::int32_t FrameRenderer::Width() const { return impl_ ? impl_->width : 0; }
std::int32_t FrameRenderer::Height() const { return impl_ ? impl_->height : 0; }
double FrameRenderer::Length() const { return impl_ ? impl_->length : 0; }

OSErr FrameRenderer::Render(double seconds, std::int32_t width, std::int32_t height, std::uint8_t* rows, std::int32_t rowBytes) {
    if (!impl_ || width <= 0 || height <= 0) return paramErr;
    Impl& s = *impl_;
    const double base = av_q2d(s.decoder.Stream()->time_base);
    if (seconds < s.lastTime) {
        // Backwards: start again from the key frame before.
        (void)s.decoder.Seek(static_cast<std::int64_t>(seconds / base));
        av_frame_unref(s.shown.get());
        av_frame_unref(s.pending.get());
        s.ended = false;
    }
    s.lastTime = seconds;
    // The last frame that starts at or before the time asked for.
    for (;;) {
        if (s.pending->data[0] != nullptr) {
            if (s.pendingStart > seconds) break;
            av_frame_unref(s.shown.get());
            av_frame_move_ref(s.shown.get(), s.pending.get());
        }
        if (s.ended) break;
        if (s.decoder.Next(s.pending.get()) != 0) {
            s.ended = true;
            break;
        }
        // Times count from the stream's start, as the media layer's do.
        const AVStream* stream = s.decoder.Stream();
        const std::int64_t origin = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        const std::int64_t pts = s.pending->best_effort_timestamp;
        s.pendingStart = pts == AV_NOPTS_VALUE ? seconds : static_cast<double>(pts - origin) * base;
    }
    // Before the first frame starts, the first frame.
    const AVFrame* f = s.shown->data[0] != nullptr ? s.shown.get() : s.pending.get();
    if (f->data[0] == nullptr) return noCodecErr;
    s.scaler.reset(sws_getCachedContext(s.scaler.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format), width,
                                        height, AV_PIX_FMT_BGR24, ScalingFlags(width < f->width && height < f->height), nullptr,
                                        nullptr, nullptr));
    if (!s.scaler) return noCodecErr;
    std::uint8_t* planes[4] = {rows + static_cast<std::ptrdiff_t>(height - 1) * rowBytes, nullptr, nullptr, nullptr};
    int strides[4] = {-rowBytes, 0, 0, 0};
    sws_scale(s.scaler.get(), f->data, f->linesize, 0, f->height, planes, strides);
    return noErr;
}
