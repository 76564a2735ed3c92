// Decoding a movie's pictures in order from a key picture.
#include "video/moviepictures.h"

#include <algorithm>
#include <cstring>

#include "video/cinepakrepack.h"
#include "video/graysdecoder.h"
#include "video/graysencoder.h"

struct MoviePictureDecoder::Impl {
    const MovieReader* reader = nullptr;
    std::uint32_t width = 0, height = 0;
    bool cinepak = false;
    std::size_t next = 0; // the picture the state is ready for; 0: none decoded yet
    bool started = false;
    // "16 Grays": the packed picture; Cinepak: the decoder keeps its own.
    std::vector<std::uint8_t> grays, gray;
    std::unique_ptr<ImageDecompressor> cvid;
    FrameBuffer picture;
    ByteBlock unpacked;

    OSErr Restart();
    OSErr Apply(const MoviePicture& p);
    OSErr Show(FrameBuffer& out);
};

MoviePictureDecoder::MoviePictureDecoder() = default;
MoviePictureDecoder::~MoviePictureDecoder() = default;

OSErr MoviePictureDecoder::Open(const MovieReader& reader) {
    impl_ = std::make_unique<Impl>();
    Impl& m = *impl_;
    const MovieDatabase& in = reader.Database();
    const std::span<const MoviePicture> pictures = reader.Pictures();
    if (!reader.Playable() || in.noPicture || pictures.empty() || in.pictureWidth == 0 || in.pictureHeight == 0) return paramErr;
    const std::uint8_t encoding = pictures.front().encoding;
    if (encoding != grays::kEncoding && encoding != kCinepakEncoding) return paramErr;
    if (std::any_of(pictures.begin(), pictures.end(), [&](const MoviePicture& p) { return p.encoding != encoding; }))
        return paramErr;
    m.reader = &reader;
    m.width = in.pictureWidth;
    m.height = in.pictureHeight;
    m.cinepak = encoding == kCinepakEncoding;
    if (OSErr err = m.picture.Create(static_cast<std::int32_t>(m.width), static_cast<std::int32_t>(m.height))) return err;
    return m.Restart();
}

std::size_t MoviePictureDecoder::Count() const { return impl_ != nullptr && impl_->reader != nullptr ? impl_->reader->Pictures().size() : 0; }

// A blank state: a white picture, as the handheld's screen before the first.
OSErr MoviePictureDecoder::Impl::Restart() {
    started = false;
    next = 0;
    picture.EraseToWhite();
    if (!cinepak) {
        grays.assign(std::size_t{grays::RowBytes(width)} * height, 0);
        gray.resize(std::size_t{width} * height);
        return noErr;
    }
    // Cinepak keeps its codebooks between pictures: a fresh decoder forgets them.
    cvid = std::make_unique<ImageDecompressor>();
    return cvid->Open(Fcc("cvid"), static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
}

OSErr MoviePictureDecoder::Impl::Apply(const MoviePicture& p) {
    if (!cinepak) return DecodeGraysFrame(p.payload, width, height, grays);
    if (OSErr err = UnpackCinepakFrame(p.payload, unpacked)) return err;
    return cvid->Decode(unpacked.Span(), picture);
}

OSErr MoviePictureDecoder::Impl::Show(FrameBuffer& out) {
    if (!cinepak) {
        GraysToGrayBytes(grays, width, height, gray);
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x) {
                std::uint8_t* px = picture.Pixels() + y * picture.RowBytes() + 4 * x;
                px[0] = px[1] = px[2] = gray[y * width + x];
                px[3] = 255;
            }
    }
    if (out.Width() != picture.Width() || out.Height() != picture.Height())
        if (OSErr err = out.Create(picture.Width(), picture.Height())) return err;
    std::memcpy(out.Pixels(), picture.Pixels(), static_cast<std::size_t>(picture.RowBytes()) * picture.Height());
    return noErr;
}

OSErr MoviePictureDecoder::Decode(std::size_t index, FrameBuffer& out) {
    if (impl_ == nullptr || impl_->reader == nullptr || index >= Count()) return paramErr;
    Impl& m = *impl_;
    const std::span<const MoviePicture> pictures = m.reader->Pictures();
    // Forward from where the state is when that is the way; otherwise from
    // the key picture before (the movie's start when there is none).
    std::size_t from = m.started && m.next <= index ? m.next : 0;
    if (!(m.started && m.next <= index)) {
        std::size_t key = 0;
        if (m.reader->KeyFrameAtOrBefore(index, key) == noErr) from = key;
        if (OSErr err = m.Restart()) return err;
    } else {
        std::size_t key = 0; // a key picture on the way makes the pictures before it moot
        if (m.reader->KeyFrameAtOrBefore(index, key) == noErr && key > from) from = key;
    }
    for (std::size_t i = from; i <= index; ++i)
        if (OSErr err = m.Apply(pictures[i])) {
            m.started = false;
            return err;
        }
    m.started = true;
    m.next = index + 1;
    return m.Show(out);
}

// The picture as the handheld's user sees it: the turn the movie was stored
// with undone (a wide movie on a tall screen is stored turned clockwise),
// each pixel `scale` × `scale`.
OSErr ShowUpright(const FrameBuffer& in, int rotation, int scale, FrameBuffer& out) {
    const bool turned = rotation == 90 || rotation == -90;
    const std::int32_t uprightW = turned ? in.Height() : in.Width(), uprightH = turned ? in.Width() : in.Height();
    if (out.Width() != uprightW * scale || out.Height() != uprightH * scale)
        if (OSErr err = out.Create(uprightW * scale, uprightH * scale)) return err;
    // One upright row at a time, each pixel widened, then repeated for the
    // rows of the enlargement.
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(in.Pixels());
    const std::int32_t stride = in.RowBytes() / 4;
    for (std::int32_t uy = 0; uy < uprightH; ++uy) {
        auto* row = reinterpret_cast<std::uint32_t*>(out.Pixels() + uy * scale * out.RowBytes());
        for (std::int32_t ux = 0; ux < uprightW; ++ux) {
            // Stored at 90: upright (ux, uy) lies at (W - 1 - uy, ux) of the stored one.
            const std::int32_t sx = rotation == 90 ? in.Width() - 1 - uy : rotation == -90 ? uy : ux;
            const std::int32_t sy = rotation == 90 ? ux : rotation == -90 ? in.Height() - 1 - ux : uy;
            std::fill_n(row + ux * scale, scale, pixels[sy * stride + sx]);
        }
        for (int copy = 1; copy < scale; ++copy)
            std::memcpy(reinterpret_cast<std::uint8_t*>(row) + copy * out.RowBytes(), row, static_cast<std::size_t>(out.RowBytes()));
    }
    return noErr;
}
