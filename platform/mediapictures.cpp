// Pictures: frame buffers, a decoded picture scaled and turned into one,
// and single compressed pictures decoded by codec.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/libav.h"
#include "platform/media.h"
#include "platform/pixels.h"

using namespace ff;

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

