// Composing the handheld's screen around a movie's pictures. Everything the
// movie stores about its layout is in the turned screen's coordinates (the
// screen as the device holds it), so the screen is drawn turned and shown
// upright in one step, as the pictures are.
#include "video/handheldscreen.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"
#include "video/moviepictures.h"

namespace {

// The controls' margins are fixed fractions of the side they cut: 15/160
// toward the screen's top, 17/160 toward its bottom (15 and 17 pixels on a
// 160-pixel screen, where the player's control strip was first drawn).
constexpr int kNearMargin = 15, kFarMargin = 17, kMarginBase = 160;
// 'WIDG' pictures of the margins.
constexpr std::int16_t kTopMargin = 1, kBottomMargin = 2, kTopNarrow = 3, kBottomNarrow = 4;
constexpr std::int16_t kTopNarrowCW = 5, kTopNarrowCCW = 6, kBottomNarrowCW = 7, kBottomNarrowCCW = 8;
constexpr int kSmallStrip = 15, kLargeStrip = 30, kLargeSide = 320;

// Layout item kinds of the "oh" values.
constexpr std::int16_t kVideoArea = 2, kImage = 3;
// The layout picture's block: width, height, row bytes, pixel format, then
// the compressed picture after 24 bytes.
constexpr std::size_t kImageHeader = 24;
constexpr int kLargestSide = 1024;

// The player's control strip: dark, with a lighter edge toward the movie.
constexpr std::uint8_t kMarginShade = 0x3a, kMarginEdge = 0x70;

bool Turned(int angle) { return angle == 90 || angle == -90; }

// Where an upright rectangle lies on the turned screen, and back; the same
// quarter turns as ShowUpright makes of a picture. `w` × `h` is the upright
// screen's size.
Rect ToTurned(const Rect& r, int angle, int w, int h) {
    if (angle == 90) return {h - r.bottom, r.left, h - r.top, r.right};
    if (angle == -90) return {r.top, w - r.right, r.bottom, w - r.left};
    return r;
}
Rect ToUpright(const Rect& r, int angle, int w, int h) {
    if (angle == 90) return {r.top, h - r.right, r.bottom, h - r.left};
    if (angle == -90) return {w - r.bottom, r.left, w - r.top, r.right};
    return r;
}

Rect Clipped(const Rect& r, const FrameBuffer& to) {
    return {std::max(0, r.left), std::max(0, r.top), std::min(r.right, to.Width()), std::min(r.bottom, to.Height())};
}

void Fill(FrameBuffer& to, const Rect& r, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    const Rect c = Clipped(r, to);
    for (std::int32_t y = c.top; y < c.bottom; ++y)
        for (std::int32_t x = c.left; x < c.right; ++x) {
            std::uint8_t* px = to.Pixels() + y * to.RowBytes() + 4 * x;
            px[0] = blue, px[1] = green, px[2] = red, px[3] = 255;
        }
}

// Copies `from` with its top left at (left, top), as much as fits.
void Blit(const FrameBuffer& from, std::int32_t left, std::int32_t top, FrameBuffer& to) {
    const Rect c = Clipped(MakeRect(left, top, from.Width(), from.Height()), to);
    for (std::int32_t y = c.top; y < c.bottom; ++y)
        std::memcpy(to.Pixels() + y * to.RowBytes() + 4 * c.left, from.Pixel(c.left - left, y - top),
                    static_cast<std::size_t>(c.Width()) * 4);
}

} // namespace

ScreenMargins ControlMarginsOf(int width, int height, std::int16_t angle, bool uprightControls) {
    ScreenMargins m;
    const bool landscape = width > height;
    if (!landscape || uprightControls) {
        m.top = height * kNearMargin / kMarginBase, m.bottom = height * kFarMargin / kMarginBase;
        const bool narrow = !landscape && height == 480;
        m.firstPicture = narrow ? kTopNarrow : kTopMargin, m.secondPicture = narrow ? kBottomNarrow : kBottomMargin;
        return m;
    }
    const int nearSide = width * kNearMargin / kMarginBase, farSide = width * kFarMargin / kMarginBase;
    if (angle < 0) {
        m.left = farSide, m.right = nearSide;
        m.firstPicture = kTopNarrowCCW, m.secondPicture = kBottomNarrowCCW;
    } else {
        m.left = nearSide, m.right = farSide;
        m.firstPicture = kTopNarrowCW, m.secondPicture = kBottomNarrowCW;
    }
    return m;
}

int StripBelowTop(int width, int height) { return std::max(width, height) >= kLargeSide ? kLargeStrip : kSmallStrip; }

OSErr HandheldScreen::Compose(const MovieReader& reader, const HandheldShape& device) {
    const MovieDatabase& db = reader.Database();
    if (!reader.Playable() || db.noPicture || db.pictureWidth == 0 || db.pictureHeight == 0 || device.width == 0 ||
        device.height == 0)
        return paramErr;
    angle_ = Turned(db.rotation) ? db.rotation : 0;

    // The layout: the device's screen, landscape for a turned movie.
    width_ = device.width, height_ = device.height;
    if (angle_ != 0 && width_ < height_) std::swap(width_, height_);
    const int pictureW = Turned(angle_) ? db.pictureHeight : db.pictureWidth;
    const int pictureH = Turned(angle_) ? db.pictureWidth : db.pictureHeight;
    // A movie made with a layout says whether the controls take margins;
    // otherwise the player gives them room when the movie leaves it (a full
    // screen or wide-screen movie has none).
    const ScreenMargins margins = ControlMarginsOf(width_, height_, angle_, device.uprightControls);
    const bool room = pictureW <= width_ - margins.left - margins.right && pictureH <= height_ - margins.top - margins.bottom;
    const bool controls = db.fullScreen ? !*db.fullScreen : room;
    margins_ = controls ? margins : ScreenMargins{};

    // The turned screen: background colour, margins, the layout's pictures.
    const int turnedW = Turned(angle_) ? height_ : width_, turnedH = Turned(angle_) ? width_ : height_;
    if (OSErr err = backdrop_.Create(turnedW, turnedH)) return err;
    backdrop_.EraseToWhite();
    if (db.background) Fill(backdrop_, MakeRect(0, 0, turnedW, turnedH), (*db.background)[0], (*db.background)[1], (*db.background)[2]);
    const int strip = controls ? StripBelowTop(width_, height_) : 0;
    for (const MovieLayoutItem& item : reader.LayoutItems())
        if (item.values[5] == kImage && !item.picture.empty())
            if (OSErr err = DrawLayoutPicture(item, strip)) return err;
    DrawMargins();
    const Rect content{margins_.left, margins_.top, width_ - margins_.right, height_ - margins_.bottom};

    // The movie: at its layout item (or its "mr" rectangle), else centred in
    // the content area on a whole column as the player centres it.
    const auto video = std::find_if(reader.LayoutItems().begin(), reader.LayoutItems().end(),
                                    [](const MovieLayoutItem& item) { return item.values[5] == kVideoArea; });
    if (video != reader.LayoutItems().end()) {
        stored_ = MakeRect(video->values[0], video->values[1] + strip, db.pictureWidth, db.pictureHeight);
    } else if (db.movieRect) {
        stored_ = MakeRect((*db.movieRect)[1], (*db.movieRect)[0] + strip, db.pictureWidth, db.pictureHeight);
    } else {
        const int left = content.left + std::max(0, content.Width() - pictureW) / 2 / 4 * 4;
        const int top = content.top + std::max(0, content.Height() - pictureH) / 2;
        stored_ = ToTurned(MakeRect(left, top, pictureW, pictureH), angle_, width_, height_);
    }
    movie_ = ToUpright(stored_, angle_, width_, height_);
    return noErr;
}

// A layout picture: one Cinepak key picture of the item's size, placed at
// the item's place below the control strip.
OSErr HandheldScreen::DrawLayoutPicture(const MovieLayoutItem& item, int strip) {
    const std::span<const std::uint8_t> block = item.picture;
    if (block.size() <= kImageHeader) return paramErr;
    const int w = ReadBE16(block.data()), h = ReadBE16(block.data() + 2);
    if (w == 0 || h == 0 || w > kLargestSide || h > kLargestSide) return paramErr;
    ImageDecompressor cvid;
    if (OSErr err = cvid.Open(Fcc("cvid"), w, h)) return err;
    FrameBuffer picture;
    if (OSErr err = cvid.Decode(block.subspan(kImageHeader), picture)) return err == noCodecErr ? err : paramErr;
    Blit(picture, item.values[0], item.values[1] + strip, backdrop_);
    return noErr;
}

// The control strips, each with a lighter edge toward the movie.
void HandheldScreen::DrawMargins() {
    const ScreenMargins& m = margins_;
    const Rect bands[][2] = {{{0, 0, width_, m.top}, {0, m.top - 1, width_, m.top}},
                             {{0, height_ - m.bottom, width_, height_}, {0, height_ - m.bottom, width_, height_ - m.bottom + 1}},
                             {{0, 0, m.left, height_}, {m.left - 1, 0, m.left, height_}},
                             {{width_ - m.right, 0, width_, height_}, {width_ - m.right, 0, width_ - m.right + 1, height_}}};
    for (const auto& [band, edge] : bands) {
        if (band.Empty()) continue;
        Fill(backdrop_, ToTurned(band, angle_, width_, height_), kMarginShade, kMarginShade, kMarginShade);
        Fill(backdrop_, ToTurned(edge, angle_, width_, height_), kMarginEdge, kMarginEdge, kMarginEdge);
    }
}

OSErr HandheldScreen::Show(const FrameBuffer& picture, int scale, FrameBuffer& out) {
    if (backdrop_.Width() == 0) return paramErr;
    if (turned_.Width() != backdrop_.Width() || turned_.Height() != backdrop_.Height())
        if (OSErr err = turned_.Create(backdrop_.Width(), backdrop_.Height())) return err;
    std::memcpy(turned_.Pixels(), backdrop_.Pixels(), static_cast<std::size_t>(backdrop_.RowBytes()) * backdrop_.Height());
    Blit(picture, stored_.left, stored_.top, turned_);
    return ShowUpright(turned_, angle_, scale, out);
}
