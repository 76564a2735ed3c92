// The media libraries' shared pieces: opening, decoders, names.
#include "platform/libav.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

namespace ff {

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

OSErr OpenDecoder(const AVStream* s, CodecPtr& out, int threads) {
    const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
    if (codec == nullptr) return noCodecErr;
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context) return memFullErr;
    if (avcodec_parameters_to_context(context.get(), s->codecpar) < 0) return noCodecErr;
    context->pkt_timebase = s->time_base;
    context->thread_count = threads;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return noCodecErr;
    out = std::move(context);
    return noErr;
}

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

// Sends one packet of compressed data to a decoder. The decoder reads a
// little past the end of a packet: the copy gets padding.
OSErr SendPacket(AVCodecContext* codec, AVPacket* packet, std::span<const std::uint8_t> data) {
    if (av_new_packet(packet, static_cast<int>(data.size())) < 0) return memFullErr;
    std::memcpy(packet->data, data.data(), data.size());
    const int sent = avcodec_send_packet(codec, packet);
    av_packet_unref(packet);
    return sent < 0 ? codecDataVersErr : noErr;
}

} // namespace ff
