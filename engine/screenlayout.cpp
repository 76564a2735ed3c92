// The picture's output geometry and the screen layout given to the writer.
#include "engine/screenlayout.h"

#include <algorithm>
#include <memory>
#include <string>

#include "platform/media.h"
#include "video/cinepakencoder.h"

namespace {

// Target sizes of the size codes: 1 keeps the source's size.
void SizeOfCode(std::uint16_t code, int& tw, int& th, bool& square) {
    static const int kSizes[][3] = {{0, 0, 0},     {80, 60, 0},   {120, 92, 0},  {160, 120, 0}, {240, 180, 0},
                                    {320, 240, 0}, {160, 160, 1}, {320, 320, 1}, {480, 320, 0}, {440, 280, 0}};
    const int* s = code >= 1 && code <= 10 ? kSizes[code - 1] : kSizes[3];
    tw = s[0], th = s[1], square = s[2] != 0;
}

// The movie's picture is a whole number of 4 × 4 blocks. A picture of
// another size would leave the blocks' last columns and rows to the
// encoders' white padding, a blank band at the edge; scaled into the
// rounded size it fills the movie.
int WholeBlocks(int size) { return (std::clamp(size, 0, 0xFFFC) + 3) / 4 * 4; }

// A picture file drawn into a w × h buffer, turned by the angle, at 16 bits
// (5-6-5) and compressed as a Cinepak image block.
OSErr LayoutImageBlock(const FileSpec& path, int width, int height, int angle, ByteBlock& block) {
    Movie image;
    if (OSErr err = Movie::Open(path, image)) return err;
    std::unique_ptr<VideoSource> source;
    if (OSErr err = image.NewVideoSource(image.FindTrack(kVideoMediaType), source)) return err;
    VideoSample sample;
    if (OSErr err = source->GetFrame(0, sample)) return err;
    FrameBuffer buffer;
    if (buffer.Create(width, height) != noErr) return memFullErr;
    const Rect natural = MakeRect(0, 0, sample.description.width, sample.description.height);
    const bool sideways = angle == 90 || angle == -90;
    Matrix m = Matrix::MapRect(natural, MakeRect(0, 0, sideways ? height : width, sideways ? width : height)).Rotated(angle);
    const Rect turned = m.TransformRect(natural);
    m = m.Translated(-turned.left, -turned.top);
    DecompressionSequence sequence;
    if (OSErr err = sequence.Begin(sample.description, m, &buffer)) return err;
    if (OSErr err = sequence.Decompress(*sample.picture)) return err;
    return MakeCinepakImageBlock(buffer.Pixels(), buffer.RowBytes(), static_cast<std::uint16_t>(width),
                                 static_cast<std::uint16_t>(height), block) == noErr ? noErr : paramErr;
}

} // namespace

Geometry ConfigureGeometry(const ExportSettings& s, int sourceWidth, int sourceHeight, const Rect& box) {
    Geometry g;
    int tw = 0, th = 0;
    bool square = false;
    if (s.frameWidth != kFrameSizeNotSet && s.frameHeight != kFrameSizeNotSet) {
        tw = WholeBlocks(s.frameWidth), th = WholeBlocks(s.frameHeight), square = tw == th;
    } else {
        SizeOfCode(s.sizeCode, tw, th, square);
    }
    const int sw = sourceWidth ? sourceWidth : box.Width();
    const int sh = sourceHeight ? sourceHeight : box.Height();
    const bool large = tw > 160 || th > 120;
    const int limitW = large ? 320 : 160, limitH = large ? 240 : 120;
    if (!square) {
        if (sw > limitW || sh > limitH || tw != 0 || th != 0) {
            if (tw == 0) tw = std::min(sw, limitW);
            if (th == 0) th = std::min(sh, limitH);
            const Fixed scale = std::min(FixRatio(tw, std::max(1, sw)), FixRatio(th, std::max(1, sh)));
            g.width = static_cast<std::uint16_t>(FixRound(FixMul(IntToFixed(sw), scale)));
            g.height = static_cast<std::uint16_t>(FixRound(FixMul(IntToFixed(sh), scale)));
        } else {
            g.width = static_cast<std::uint16_t>(sw), g.height = static_cast<std::uint16_t>(sh);
        }
    } else {
        // The picture covers the square; its overflow is cut off.
        const Fixed scale = std::max(FixRatio(tw, std::max(1, box.Width())), FixRatio(th, std::max(1, box.Height())));
        const int cw = FixRound(FixMul(IntToFixed(box.Width()), scale));
        const int ch = FixRound(FixMul(IntToFixed(box.Height()), scale));
        g.crop = MakeRect((tw - cw) / 2, (th - ch) / 2, cw, ch);
        g.width = static_cast<std::uint16_t>(tw), g.height = static_cast<std::uint16_t>(th);
    }
    g.rotation = s.angle;
    // The layout's movie rectangle, when there is one, gives the size.
    if (!s.layout.IsNull()) {
        const QTAtom size = s.layout.FindPath(0, {Fcc("PRES"), Fcc("back"), Fcc("vid "), Fcc("size")});
        std::uint8_t bytes[4];
        if (size != 0 && s.layout.CopyAtomDataToPtr(size, false, bytes) == noErr) {
            const Rect r = Matrix::Identity().Rotated(g.rotation).TransformRect(MakeRect(0, 0, ReadBE16(bytes), ReadBE16(bytes + 2)));
            g.width = static_cast<std::uint16_t>(r.Width()), g.height = static_cast<std::uint16_t>(r.Height());
        }
    }
    g.width = static_cast<std::uint16_t>(WholeBlocks(g.width));
    g.height = static_cast<std::uint16_t>(WholeBlocks(g.height));
    return g;
}

namespace {

// A layout item's place: 'pos ' (left, top) and 'size' (width, height). A
// missing or damaged atom reads as zeros, which the writer shows as nothing.
void ReadItemRect(const AtomContainer& layout, QTAtom item, LayoutItem& out) {
    std::uint8_t pos[4] = {}, size[4] = {};
    if (layout.CopyAtomDataToPtr(layout.FindPath(item, {Fcc("pos ")}), false, pos) != noErr) std::fill_n(pos, 4, 0);
    if (layout.CopyAtomDataToPtr(layout.FindPath(item, {Fcc("size")}), false, size) != noErr) std::fill_n(size, 4, 0);
    out.left = static_cast<std::int16_t>(ReadBE16(pos));
    out.top = static_cast<std::int16_t>(ReadBE16(pos + 2));
    out.width = static_cast<std::int16_t>(ReadBE16(size));
    out.height = static_cast<std::int16_t>(ReadBE16(size + 2));
}

// The layout's picture, scaled and turned for the screen; nothing when its
// file cannot be read (the movie is made without it).
OSErr AddImage(MovieWriter* writer, const AtomContainer& layout, QTAtom image, std::int16_t angle) {
    LayoutItem item;
    item.kind = 3, item.layer = 2, item.shown = 1;
    ReadItemRect(layout, image, item);
    // The data reference is the picture file's path.
    std::span<const std::uint8_t> reference;
    ByteBlock block;
    if (layout.GetAtomData(layout.FindPath(image, {Fcc("dref")}), reference) != noErr || item.width <= 0 || item.height <= 0 ||
        LayoutImageBlock(FileSpec(std::string(reference.begin(), reference.end())), item.width, item.height, angle, block) != noErr)
        return noErr;
    item.imageBlock = block.Span();
    return SetLayoutItem(writer, item);
}

OSErr AddVideo(MovieWriter* writer, const AtomContainer& layout, QTAtom video) {
    LayoutItem item;
    item.kind = 2, item.layer = 3, item.shown = 1;
    ReadItemRect(layout, video, item);
    if (OSErr err = SetMovieRect(writer, item.top, item.left, static_cast<std::int16_t>(item.top + item.height),
                                 static_cast<std::int16_t>(item.left + item.width)))
        return err;
    return SetLayoutItem(writer, item);
}

} // namespace

OSErr ConfigureLayout(MovieWriter* writer, const AtomContainer& layout) {
    if (layout.IsNull()) return noErr;
    const QTAtom pres = layout.FindChildByIndex(0, Fcc("PRES"), 1);
    if (pres == 0) return noErr;
    std::uint8_t four[4], six[6];
    if (layout.CopyAtomDataToPtr(layout.FindPath(pres, {Fcc("size")}), false, four) == noErr)
        if (OSErr err = SetPresentationSize(writer, ReadBE16(four), ReadBE16(four + 2))) return err;
    std::uint8_t controls = 0;
    if (layout.ReadU8(layout.FindPath(pres, {Fcc("cont")}), controls) == noErr)
        if (OSErr err = SetWriterParameter(writer, kWriterFullScreen, controls == 0 ? 1 : 0)) return err;
    std::uint16_t angleBits = 0; // upright unless the layout says otherwise
    if (layout.ReadU16(layout.FindPath(pres, {Fcc("angl")}), angleBits) != noErr) angleBits = 0;
    const QTAtom back = layout.FindPath(pres, {Fcc("back")});
    const QTAtom image = back ? layout.FindPath(back, {Fcc("imag")}) : 0;
    const QTAtom video = back ? layout.FindPath(back, {Fcc("vid ")}) : 0;
    if (image != 0 || video != 0) {
        LayoutItem background;
        background.kind = 1, background.layer = 1;
        if (OSErr err = SetLayoutItem(writer, background)) return err;
    }
    if (image != 0)
        if (OSErr err = AddImage(writer, layout, image, static_cast<std::int16_t>(angleBits))) return err;
    if (video != 0)
        if (OSErr err = AddVideo(writer, layout, video)) return err;
    if (back != 0 && layout.CopyAtomDataToPtr(layout.FindPath(back, {Fcc("rgb ")}), false, six) == noErr)
        return SetBackgroundColor(writer, six[0], six[2], six[4]); // the components' high bytes
    return noErr;
}
