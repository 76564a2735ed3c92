// The media libraries as the media layer's files share them: ownership of
// their objects, opening files and decoders, a stream decoded frame by
// frame, and the small conversions between their names and ours. Private
// to platform/: nothing outside includes the libraries' headers.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>

#include "platform/files.h"
#include "platform/media.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace ff {

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

// The libraries say nothing on the terminal (once per process).
void QuietLibraries();

// Opens a file with its streams' information found (the libraries quiet).
OSErr OpenFormat(const FileSpec& path, FormatPtr& out);

// The four-char code of a stream: its codec tag when it has a printable one
// ('avc1', 'SVQ3', 'XVID'), else one made from the codec's name.
OSType CodecCode(const AVCodecParameters* p);

// Quality first: area averaging when shrinking, bicubic when growing, exact
// rounding and full chroma: every path that draws pictures scales alike.
int ScalingFlags(bool shrinking);

// The quarter turn (clockwise) that makes the stream's pictures upright.
int StreamRotation(const AVStream* s);

// The size a stream's pictures are shown at: the coded size with square
// pixels, turned upright.
void DisplaySize(const AVStream* s, int rotation, std::uint16_t& width, std::uint16_t& height);

// Sound descriptions hold rates in 16.16: at most 65535 Hz.
inline constexpr int kHighestDescribedRate = 65535;
// The rate a source answers for a stream's rate: the rate itself, or for
// higher ones its half or quarter (96000 → 48000, 176400 → 44100).
inline std::uint32_t AnsweredSampleRate(int rate) {
    if (rate <= 0) return 0;
    while (rate > kHighestDescribedRate) rate /= 2;
    return static_cast<std::uint32_t>(rate);
}

// Decoded sound leaves the sources interleaved in its own sample type.
OSType PackedSoundFormat(int format);

AVSampleFormat SampleFormatOf(OSType format);

// A file that starts with an MPEG-1 pack (not an MPEG-2 program stream).
bool IsMpeg1SystemStream(const FileSpec& path, const AVFormatContext* f);

// A picture file read through an image demuxer.
bool IsStillPictureFormat(const AVFormatContext* f);

// A decoder for the stream, with its time base, on `threads` threads (0:
// as many as the machine has cores).
OSErr OpenDecoder(const AVStream* s, CodecPtr& out, int threads = 0);

// A four-char code as FFmpeg keeps codec tags: the first character in the
// low byte (and back).
std::uint32_t SwappedCode(std::uint32_t code);

// A decoder's context, a packet and a frame for single-packet decoding.
OSErr NewDecoderParts(const AVCodec* decoder, CodecPtr& codec, PacketPtr& packet, FramePtr& frame);

// Sends one packet of compressed data to a decoder. The decoder reads a
// little past the end of a packet: the copy gets padding.
OSErr SendPacket(AVCodecContext* codec, AVPacket* packet, std::span<const std::uint8_t> data);

// One stream of a file, demultiplexed and decoded frame by frame.
class StreamDecoder {
public:
    OSErr Open(const FileSpec& path, int index, int threads = 0) {
        path_ = path;
        if (OSErr err = OpenFormat(path, format_)) return err;
        stream_ = format_->streams[index];
        for (unsigned i = 0; i < format_->nb_streams; ++i)
            if (static_cast<int>(i) != index) format_->streams[i]->discard = AVDISCARD_ALL;
        if (OSErr err = OpenDecoder(stream_, codec_, threads)) return err;
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

} // namespace ff

// A decoded picture as the sources hand it out and decompression draws it.
struct DecodedPicture {
    const AVFrame* frame = nullptr;
    int rotation = 0; // clockwise quarter turn that makes it upright
    bool alpha = false;
};
