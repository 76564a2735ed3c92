// The Layout tab's rules: margins, placing and clamping, the size popups,
// and the layout's 'PRES' atom.
#include "engine/app/layouteditor.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "engine/app/windowrules.h"
#include "moviedb/formats.h"
#include "platform/resources.h"

namespace {

// The string lists ('STR#') of the two popups and the "Custom" label.
constexpr ResID kLayoutSizes = 170, kMovieSizes = 516, kCustomLabel = 132;

// The player draws the movie and the picture from whole 4-pixel columns.
constexpr int kColumn = 4;
// The smallest movie the player shows (upright; turned on a landscape layout).
constexpr int kLeastMovieWidth = 28, kLeastMovieHeight = 40;
// What "Default" (no fixed size) shows as in the preview.
constexpr int kDefaultMovieWidth = 160, kDefaultMovieHeight = 120;
// The picture's y in 'PRES' counts from below the top control strip, and is
// even on a screen with a side of 320 or more (the double-density screens
// addressing rows in pairs).
constexpr int kLargeSide = 320;

constexpr std::uint16_t kLayoutVersion = 1;

bool WideMovie(const EditSettings& s) {
    return (s.frameWidth == 480 && s.frameHeight == 320) || (s.frameWidth == 320 && s.frameHeight == 480);
}
bool HasVideo(const EditSettings& s) { return s.depth != Code(VideoDepth::None); }
bool Landscape(const LayoutModel& l) { return l.width > l.height; }
bool Turned(int angle) { return angle == 90 || angle == -90; }

int FloorColumn(int x) { return x / kColumn * kColumn; }
// The leftmost column at or left of x that does not leave the content area.
int SnapLeft(int x, const Rect& content) {
    x = FloorColumn(x);
    return x < content.left ? x + kColumn : x;
}

void Sync(const LayoutModel& l, EditSettings& s) {
    s.customLayout = l.custom;
    s.editorWidth = l.width, s.editorHeight = l.height;
    s.showControls = l.showControls;
    s.angle = l.angle;
}

// The largest size of that shape within the box, never larger than it was.
void FitInto(int& w, int& h, int boxW, int boxH) {
    if (w <= boxW && h <= boxH) return;
    if (static_cast<long>(w) * boxH > static_cast<long>(h) * boxW) {
        h = std::max(1, static_cast<int>(static_cast<long>(h) * boxW / w)), w = boxW;
    } else {
        w = std::max(1, static_cast<int>(static_cast<long>(w) * boxH / h)), h = boxH;
    }
}

Rect Centred(int w, int h, const Rect& content) {
    FitInto(w, h, content.Width(), content.Height());
    return MakeRect(content.left + (content.Width() - w) / 2, content.top + (content.Height() - h) / 2, w, h);
}

// Which objects exist, for the callers that treat both alike.
Rect& ObjectRect(LayoutModel& l, LayoutObject which) { return which == LayoutObject::Movie ? l.movie : l.picture; }

// The least size of an object: a movie's minimum, a picture's one column.
void LeastSize(const LayoutModel& l, LayoutObject which, int& w, int& h) {
    if (which == LayoutObject::Picture) {
        w = kColumn, h = 1;
        return;
    }
    const Rect least = MinimumMovie(l);
    w = least.Width(), h = least.Height();
}

// Brings both objects back inside the content area after the margins or
// the layout changed; they keep their places where they can.
void Reclamp(LayoutModel& l, const EditSettings& s) {
    if (!l.picture.Empty()) l.picture = AllowedMove(l, s, LayoutObject::Picture, l.picture);
    if (!l.movie.Empty()) l.movie = AllowedMove(l, s, LayoutObject::Movie, l.movie);
}

bool ParseSize(const std::string& text, int& w, int& h) {
    const std::size_t digit = text.find_first_of("0123456789");
    return digit != std::string::npos && std::sscanf(text.c_str() + digit, "%d x %d", &w, &h) == 2;
}

std::string ListItem(ResID list, int item) {
    std::string text;
    return GetIndString(list, static_cast<std::int16_t>(item), text) == noErr ? text : std::string{};
}

bool OnCustomMaker(const PresetMenus& menus) { return menus.SelectedMaker() < menus.FirstMakerIndex(); }

} // namespace

// ---- Margins and content ----

bool ControlsShown(const LayoutModel& l, const EditSettings& s) {
    return l.showControls && !FullScreenMovie(s) && !WideMovie(s);
}

LayoutMargins ControlMargins(const LayoutModel& l, const EditSettings& s) {
    if (!ControlsShown(l, s)) return {};
    return ControlMarginsOf(l.width, l.height, l.angle, s.controlsUpright != 0);
}

Rect ContentArea(const LayoutModel& l, const EditSettings& s) {
    const LayoutMargins m = ControlMargins(l, s);
    return {m.left, m.top, l.width - m.right, l.height - m.bottom};
}

Rect MinimumMovie(const LayoutModel& l) {
    return Landscape(l) ? MakeRect(0, 0, kLeastMovieHeight, kLeastMovieWidth)
                        : MakeRect(0, 0, kLeastMovieWidth, kLeastMovieHeight);
}

Rect DefaultMovieRect(const LayoutModel& l, const EditSettings& s) {
    if (!HasVideo(s)) return {};
    const bool fixed = s.frameWidth != kFrameSizeNotSet && s.frameHeight != kFrameSizeNotSet;
    const Rect r = Centred(fixed ? s.frameWidth : kDefaultMovieWidth, fixed ? s.frameHeight : kDefaultMovieHeight,
                           ContentArea(l, s));
    return AllowedMove(l, s, LayoutObject::Movie, r);
}

// ---- Dragging and resizing ----

Rect AllowedMove(const LayoutModel& l, const EditSettings& s, LayoutObject which, const Rect& proposed) {
    const Rect c = ContentArea(l, s);
    int leastW = 0, leastH = 0;
    LeastSize(l, which, leastW, leastH);
    const int w = std::clamp(proposed.Width(), leastW, c.Width());
    const int h = std::clamp(proposed.Height(), leastH, c.Height());
    const int left = SnapLeft(std::clamp(proposed.left, c.left, c.right - w), c);
    const int top = std::clamp(proposed.top, c.top, c.bottom - h);
    // Snapping up to a column can leave too little room: the object gives
    // up the pixels rather than leave the content area.
    return {left, top, std::min(left + w, static_cast<int>(c.right)), top + h};
}

Rect AllowedResize(const LayoutModel& l, const EditSettings& s, LayoutObject which, const Rect& proposed) {
    const Rect c = ContentArea(l, s);
    int leastW = 0, leastH = 0;
    LeastSize(l, which, leastW, leastH);
    Rect r{std::min(proposed.left, proposed.right), std::min(proposed.top, proposed.bottom),
           std::max(proposed.left, proposed.right), std::max(proposed.top, proposed.bottom)};
    r.left = SnapLeft(std::clamp(r.left, c.left, c.right), c);
    r.right = std::clamp(r.right, r.left, c.right);
    r.top = std::clamp(r.top, c.top, c.bottom);
    r.bottom = std::clamp(r.bottom, r.top, c.bottom);
    if (r.Width() < leastW) {
        r.right = std::min(r.left + leastW, c.right);
        r.left = std::min(r.left, SnapLeft(r.right - leastW, c));
    }
    if (r.Height() < leastH) {
        r.bottom = std::min(r.top + leastH, c.bottom);
        r.top = std::max(c.top, r.bottom - leastH);
    }
    return r;
}

void PlaceObject(LayoutModel& l, EditSettings& s, PresetMenus& menus, LayoutObject which, const Rect& proposed) {
    Rect& r = ObjectRect(l, which);
    if (r.Empty()) return;
    r = proposed.Width() == r.Width() && proposed.Height() == r.Height() ? AllowedMove(l, s, which, proposed)
                                                                         : AllowedResize(l, s, which, proposed);
    l.custom = true;
    if (which == LayoutObject::Movie) {
        s.frameWidth = static_cast<std::uint16_t>(r.Width()), s.frameHeight = static_cast<std::uint16_t>(r.Height());
        menus.MarkCustomised(s);
    }
    Sync(l, s);
}

// ---- Background ----

void SetBackgroundPicture(LayoutModel& l, EditSettings& s, PresetMenus& menus, const std::string& file,
                          int naturalWidth, int naturalHeight) {
    if (file.empty() || naturalWidth <= 0 || naturalHeight <= 0) return; // nothing to show: no object
    l.pictureFile = file;
    l.picture = AllowedMove(l, s, LayoutObject::Picture, Centred(naturalWidth, naturalHeight, ContentArea(l, s)));
    l.custom = true;
    menus.MarkCustomised(s);
    Sync(l, s);
}

void ClearBackgroundPicture(LayoutModel& l) {
    l.picture = {};
    l.pictureFile.clear();
}

void SetBackgroundColour(LayoutModel& l, EditSettings& s, PresetMenus& menus, LayoutColour colour) {
    l.background = colour;
    l.custom = true;
    menus.MarkCustomised(s);
    Sync(l, s);
}

void SetShowControls(LayoutModel& l, EditSettings& s, bool show) {
    l.showControls = show && !FullScreenMovie(s) && !WideMovie(s); // those movies take the whole screen
    l.custom = true;
    Reclamp(l, s);
    Sync(l, s);
}

// ---- The size popups ----

SizePopup LayoutSizePopup(const LayoutModel& l, const EditSettings& s) {
    SizePopup popup;
    const int sw = s.layoutWidth, sh = s.layoutHeight, shorter = std::min(sw, sh);
    for (std::int16_t i = 1; i <= CountStrings(kLayoutSizes); ++i) {
        const std::string text = ListItem(kLayoutSizes, i);
        int w = 0, h = 0;
        if (!ParseSize(text, w, h)) continue;
        if (!((w == sw && h == sh) || (sw != sh && (w == shorter || h == shorter)))) continue;
        if (w == l.width && h == l.height) popup.selected = static_cast<int>(popup.items.size());
        popup.items.push_back(text);
    }
    return popup;
}

SizePopup MovieSizePopup(const EditSettings& s) {
    SizePopup popup;
    const int sw = s.layoutWidth, sh = s.layoutHeight, longer = std::max(sw, sh);
    for (std::int16_t i = 1; i <= CountStrings(kMovieSizes); ++i) {
        const std::string text = ListItem(kMovieSizes, i);
        int w = 0, h = 0;
        bool matches = false;
        if (!ParseSize(text, w, h)) {
            matches = i == 1 && s.frameWidth == kFrameSizeNotSet && s.frameHeight == kFrameSizeNotSet;
        } else if (w != h) {
            if (!((w <= sw && h <= sh) || (sw != sh && w <= longer && h <= longer))) continue;
            matches = w == s.frameWidth && h == s.frameHeight;
        } else {
            if (!((w == sw && w <= sh) || (w == sh && w <= sw))) continue;
            matches = w == s.frameWidth && h == s.frameHeight;
        }
        if (matches) popup.selected = static_cast<int>(popup.items.size());
        popup.items.push_back(text);
    }
    if (popup.selected < 0 && !popup.items.empty()) {
        char text[96];
        std::snprintf(text, sizeof text, "%s (%d x %d)", ListItem(kCustomLabel, 1).c_str(), s.frameWidth, s.frameHeight);
        popup.items[0] = text;
        popup.selected = 0;
    }
    return popup;
}

bool ChooseLayoutSize(LayoutModel& l, EditSettings& s, PresetMenus& menus, const std::string& entry) {
    int w = 0, h = 0;
    if (!ParseSize(entry, w, h) || w <= 0 || h <= 0) return false;
    if (FullScreenMovie(s) && (w == 160 || w == 320))
        s.frameWidth = s.frameHeight = static_cast<std::uint16_t>(w);
    l.width = static_cast<std::uint16_t>(w), l.height = static_cast<std::uint16_t>(h);
    if (Landscape(l)) {
        if (!Turned(l.angle)) l.angle = 90;
    } else if (!WideMovie(s)) {
        l.angle = 0;
    }
    l.custom = true;
    // A fixed movie size larger than the new content area shrinks to fit.
    const Rect c = ContentArea(l, s);
    if (s.frameWidth != kFrameSizeNotSet && s.frameHeight != kFrameSizeNotSet) {
        int fw = s.frameWidth, fh = s.frameHeight;
        FitInto(fw, fh, c.Width(), c.Height());
        s.frameWidth = static_cast<std::uint16_t>(fw), s.frameHeight = static_cast<std::uint16_t>(fh);
        if (!l.movie.Empty()) l.movie = MakeRect(l.movie.left, l.movie.top, fw, fh);
    }
    Reclamp(l, s);
    if (!OnCustomMaker(menus) && (w > s.layoutWidth || h > s.layoutHeight)) menus.MarkCustomised(s);
    Sync(l, s);
    return true;
}

bool ChooseMovieSize(LayoutModel& l, EditSettings& s, PresetMenus& menus, const std::string& entry) {
    int w = kFrameSizeNotSet, h = kFrameSizeNotSet;
    if (entry != ListItem(kMovieSizes, 1) && !ParseSize(entry, w, h)) return false;
    const bool wasFull = FullScreenMovie(s);
    s.frameWidth = static_cast<std::uint16_t>(w), s.frameHeight = static_cast<std::uint16_t>(h);
    if (wasFull && !FullScreenMovie(s)) {
        l.showControls = true;
        l.background = {};
    }
    if (FullScreenMovie(s) || WideMovie(s)) l.showControls = false; // the movie takes the whole screen
    menus.MarkCustomised(s);
    if (WideMovie(s) || Landscape(l)) {
        if (!Turned(l.angle)) l.angle = 90;
    } else {
        l.angle = 0;
    }
    // The movie keeps its corner where the new size lets it.
    const Rect fresh = DefaultMovieRect(l, s);
    if (!l.movie.Empty() && !fresh.Empty() && !FullScreenMovie(s))
        l.movie = AllowedMove(l, s, LayoutObject::Movie, MakeRect(l.movie.left, l.movie.top, fresh.Width(), fresh.Height()));
    else
        l.movie = fresh;
    Reclamp(l, s);
    Sync(l, s);
    return true;
}

OSErr ResetLayout(LayoutModel& l, EditSettings& s, PresetMenus& menus, AtomContainer& container) {
    s.customised = false;
    s.customLayout = false;
    if (!s.edited) menus.Build(s);
    std::uint8_t size[4], angle[2];
    const bool hasSize = GetPresetValue(container, Fcc("vide"), size) == noErr;
    s.frameWidth = hasSize ? ReadBE16(size) : kDefaultMovieWidth;
    s.frameHeight = hasSize ? ReadBE16(size + 2) : kDefaultMovieHeight;
    s.angle = GetPresetValue(container, Fcc("angl"), angle) == noErr ? static_cast<std::int16_t>(ReadBE16(angle)) : 0;
    if (const QTAtom pres = container.FindChildByIndex(0, Fcc("PRES"), 1))
        if (OSErr err = container.RemoveAtom(pres)) return err;
    return LoadLayout(container, s, l);
}

LayoutEnabling LayoutItemsEnabling(const LayoutModel& l, const EditSettings& s) {
    const bool open = !FullScreenMovie(s);
    LayoutEnabling e;
    e.showControls = e.chooseBackground = e.preview = e.colourSwatch = open;
    e.clearBackground = !l.picture.Empty();
    return e;
}

// ---- The 'PRES' atom ----

namespace {

// The layout as 'PRES' holds it: turned by its angle about the origin and
// moved back so that the turned screen starts at the origin again.
Matrix ToStored(const LayoutModel& l) {
    const Matrix turn = Matrix::Identity().Rotated(l.angle);
    const Rect turned = turn.TransformRect(MakeRect(0, 0, l.width, l.height));
    return turn.Translated(-turned.left, -turned.top);
}

Matrix FromStored(const LayoutModel& l) {
    const Rect stored = ToStored(l).TransformRect(MakeRect(0, 0, l.width, l.height));
    const Matrix back = Matrix::Identity().Rotated(-l.angle);
    const Rect turned = back.TransformRect(stored);
    return back.Translated(-turned.left, -turned.top);
}

// A rectangle as 'pos ' and 'size' hold it.
struct StoredPlace {
    std::uint16_t x, y, w, h;
};

StoredPlace ToPlace(const LayoutModel& l, const EditSettings& s, const Rect& r) {
    const Rect t = ToStored(l).TransformRect(r);
    const bool large = std::max(l.width, l.height) >= kLargeSide;
    int y = t.top - (ControlsShown(l, s) ? StripBelowTop(l.width, l.height) : 0);
    y = std::max(0, y);
    if (large) y = y / 2 * 2;
    const int w = (t.Width() + kColumn / 2) / kColumn * kColumn;
    return {static_cast<std::uint16_t>(FloorColumn(std::max(0, static_cast<int>(t.left)))), static_cast<std::uint16_t>(y),
            static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(t.Height())};
}

Rect FromPlace(const LayoutModel& l, const EditSettings& s, const StoredPlace& p) {
    const int y = p.y + (ControlsShown(l, s) ? StripBelowTop(l.width, l.height) : 0);
    return FromStored(l).TransformRect(MakeRect(p.x, y, p.w, p.h));
}

std::array<std::uint8_t, 4> Pair(int a, int b) {
    std::array<std::uint8_t, 4> v{};
    WriteBE16(v.data(), static_cast<std::uint16_t>(a));
    WriteBE16(v.data() + 2, static_cast<std::uint16_t>(b));
    return v;
}

OSErr InsertPlace(AtomContainer& c, QTAtom back, OSType kind, const StoredPlace& p, QTAtom* item) {
    if (OSErr err = c.InsertChild(back, kind, 1, 0, {}, item)) return err;
    if (OSErr err = c.InsertChild(*item, Fcc("pos "), 1, 0, Pair(p.x, p.y))) return err;
    return c.InsertChild(*item, Fcc("size"), 1, 0, Pair(p.w, p.h));
}

OSErr InsertBackground(const LayoutModel& l, const EditSettings& s, AtomContainer& c, QTAtom pres) {
    QTAtom back = 0, item = 0;
    if (OSErr err = c.InsertChild(pres, Fcc("back"), 1, 0, {}, &back)) return err;
    std::array<std::uint8_t, 6> rgb{};
    WriteBE16(rgb.data(), l.background.red), WriteBE16(rgb.data() + 2, l.background.green);
    WriteBE16(rgb.data() + 4, l.background.blue);
    if (OSErr err = c.InsertChild(back, Fcc("rgb "), 1, 0, rgb)) return err;
    if (!l.picture.Empty()) {
        if (OSErr err = InsertPlace(c, back, Fcc("imag"), ToPlace(l, s, l.picture), &item)) return err;
        // On this platform the data reference of a picture file is its path.
        if (OSErr err = c.InsertU32(item, Fcc("drft"), Fcc("alis"))) return err;
        const std::span<const std::uint8_t> path(reinterpret_cast<const std::uint8_t*>(l.pictureFile.data()),
                                                 l.pictureFile.size());
        if (OSErr err = c.InsertChild(item, Fcc("dref"), 1, 0, path)) return err;
    }
    if (HasVideo(s) && !l.movie.Empty())
        if (OSErr err = InsertPlace(c, back, Fcc("vid "), ToPlace(l, s, l.movie), &item)) return err;
    return noErr;
}

bool ReadPair(const AtomContainer& c, QTAtom atom, int& a, int& b) {
    std::uint8_t v[4];
    if (atom == 0 || c.CopyAtomDataToPtr(atom, false, v) != noErr) return false;
    a = ReadBE16(v), b = ReadBE16(v + 2);
    return true;
}

bool ReadPlace(const AtomContainer& c, QTAtom item, StoredPlace& p) {
    int x = 0, y = 0, w = 0, h = 0;
    if (item == 0 || !ReadPair(c, c.FindPath(item, {Fcc("pos ")}), x, y) || !ReadPair(c, c.FindPath(item, {Fcc("size")}), w, h))
        return false;
    p = {static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y), static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)};
    return w > 0 && h > 0;
}

// The values of 'PRES' that the layout's shape depends on: angle, size,
// controls.
void ReadShape(const AtomContainer& c, QTAtom pres, LayoutModel& l) {
    std::uint16_t angle = 0;
    if (c.ReadU16(c.FindPath(pres, {Fcc("angl")}), angle) == noErr && (angle == 0 || Turned(static_cast<std::int16_t>(angle))))
        l.angle = static_cast<std::int16_t>(angle);
    int w = 0, h = 0;
    if (ReadPair(c, c.FindPath(pres, {Fcc("layo")}), w, h) && w > 0 && h > 0) {
        if (Turned(l.angle)) std::swap(w, h);
        l.width = static_cast<std::uint16_t>(w), l.height = static_cast<std::uint16_t>(h);
    }
    std::uint8_t controls = 1;
    if (c.ReadU8(c.FindPath(pres, {Fcc("cont")}), controls) == noErr) l.showControls = controls != 0;
}

void ReadBackground(const AtomContainer& c, QTAtom back, const EditSettings& s, LayoutModel& l) {
    std::uint8_t rgb[6];
    if (c.CopyAtomDataToPtr(c.FindPath(back, {Fcc("rgb ")}), false, rgb) == noErr)
        l.background = {ReadBE16(rgb), ReadBE16(rgb + 2), ReadBE16(rgb + 4)};
    StoredPlace p{};
    const QTAtom image = c.FindPath(back, {Fcc("imag")});
    std::span<const std::uint8_t> path;
    if (ReadPlace(c, image, p) && c.GetAtomData(c.FindPath(image, {Fcc("dref")}), path) == noErr && !path.empty()) {
        l.picture = FromPlace(l, s, p);
        l.pictureFile.assign(path.begin(), path.end());
    }
    if (HasVideo(s) && ReadPlace(c, c.FindPath(back, {Fcc("vid ")}), p)) l.movie = FromPlace(l, s, p);
}

} // namespace

OSErr LoadLayout(const AtomContainer& container, EditSettings& s, LayoutModel& out) {
    LayoutModel l;
    l.width = s.layoutWidth, l.height = s.layoutHeight, l.angle = s.angle;
    l.showControls = !FullScreenMovie(s) && !WideMovie(s);
    const QTAtom pres = container.IsNull() ? 0 : container.FindChildByIndex(0, Fcc("PRES"), 1);
    if (pres != 0) {
        l.custom = true;
        ReadShape(container, pres, l);
        if (const QTAtom back = container.FindPath(pres, {Fcc("back")})) ReadBackground(container, back, s, l);
    }
    if (l.movie.Empty()) l.movie = DefaultMovieRect(l, s);
    out = std::move(l);
    Sync(out, s);
    return noErr;
}

OSErr StoreLayout(const LayoutModel& l, const EditSettings& s, AtomContainer& container) {
    if (container.IsNull()) return paramErr;
    AtomContainer c;
    if (OSErr err = container.CopyTo(c)) return err;
    if (const QTAtom old = c.FindChildByIndex(0, Fcc("PRES"), 1))
        if (OSErr err = c.RemoveAtom(old)) return err;
    const Matrix toStored = ToStored(l);
    const Rect screen = toStored.TransformRect(MakeRect(0, 0, l.width, l.height));
    const Rect content = toStored.TransformRect(ContentArea(l, s));
    QTAtom pres = 0;
    if (OSErr err = c.InsertChild(0, Fcc("PRES"), 1, 0, {}, &pres)) return err;
    if (OSErr err = c.InsertU16(pres, Fcc("vers"), kLayoutVersion)) return err;
    if (OSErr err = c.InsertU16(pres, Fcc("angl"), static_cast<std::uint16_t>(l.angle))) return err;
    if (OSErr err = c.InsertChild(pres, Fcc("size"), 1, 0, Pair(content.Width(), content.Height()))) return err;
    if (OSErr err = c.InsertChild(pres, Fcc("layo"), 1, 0, Pair(screen.Width(), screen.Height()))) return err;
    if (OSErr err = c.InsertU8(pres, Fcc("cont"), ControlsShown(l, s) ? 1 : 0)) return err;
    if (OSErr err = InsertBackground(l, s, c, pres)) return err;
    container = std::move(c);
    return noErr;
}
