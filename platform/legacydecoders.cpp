// The stand-ins for the legacy decoders the AVI import reaches: Video for
// Windows ("installed decompressors" by four-char code) and the DirectShow
// media detector (frames by time).
#include "platform/legacydecoders.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/libav.h"

using namespace ff;

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
        if (!s.decoder.Seek(static_cast<std::int64_t>(seconds / base))) return ioErr;
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

