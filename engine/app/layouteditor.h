// The "Layout" tab as plain data: the screen the movie plays on (its size,
// rotation and control margins), the movie's rectangle and the background
// picture on it, the background colour, the two size popups, which items
// are enabled, and the layout's exchange with the settings container's
// 'PRES' atom. The window draws the preview and passes the user's drags and
// picks back here; the command line reads and writes the same atom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/app/presetmenus.h"
#include "platform/atoms.h"
#include "platform/geometry.h"
#include "platform/status.h"
#include "presets/presets.h"
#include "video/handheldscreen.h"

struct LayoutColour {
    std::uint16_t red = 0xFFFF, green = 0xFFFF, blue = 0xFFFF; // white
    bool operator==(const LayoutColour&) const = default;
};

// The layout being edited, in its own upright coordinates (the screen as the
// user sees it in the preview; 'PRES' holds them turned by `angle`).
struct LayoutModel {
    bool custom = false; // set by every hand edit; only then is 'PRES' written
    std::uint16_t width = 160, height = 160;
    std::int16_t angle = 0; // 0, 90 (clockwise) or -90
    bool showControls = true;
    LayoutColour background;
    Rect movie;              // empty when the settings have no video
    Rect picture;            // empty when there is no background picture
    std::string pictureFile; // the picture's path
    bool operator==(const LayoutModel&) const = default;
};

enum class LayoutObject { Picture = 1, Movie = 2 };

// The player's control margins: where they lie and the 'WIDG' pictures that
// draw them (0 when none).
using LayoutMargins = ScreenMargins;

// Whether the controls take a margin: shown, and the movie neither full
// screen nor 480 × 320 / 320 × 480.
bool ControlsShown(const LayoutModel& layout, const EditSettings& settings);
LayoutMargins ControlMargins(const LayoutModel& layout, const EditSettings& settings);
// The layout less the margins: where the movie and the picture may lie.
Rect ContentArea(const LayoutModel& layout, const EditSettings& settings);
// The smallest movie: 28 × 40, or 40 × 28 on a landscape layout.
Rect MinimumMovie(const LayoutModel& layout);

// The movie's rectangle by the default rules: a full-screen movie fills the
// layout; any other is the settings' movie size (160 × 120 for "Default")
// reduced to fit the content area and centred in it, its x on a multiple
// of 4. Empty when the settings have no video.
Rect DefaultMovieRect(const LayoutModel& layout, const EditSettings& settings);

// Dragging and resizing in the preview: the rectangle the object may take
// for the proposed one (inside the content area, x on a multiple of 4, a
// movie no smaller than MinimumMovie). Moving keeps the object's size.
Rect AllowedMove(const LayoutModel& layout, const EditSettings& settings, LayoutObject which, const Rect& proposed);
Rect AllowedResize(const LayoutModel& layout, const EditSettings& settings, LayoutObject which, const Rect& proposed);
// The end of a drag or resize: the object takes the rectangle (as allowed),
// the layout becomes custom; for the movie its size becomes the settings'
// movie size and the settings are shown customised.
void PlaceObject(LayoutModel& layout, EditSettings& settings, PresetMenus& menus, LayoutObject which,
                 const Rect& proposed);

// "Choose Background Image…" (or a file dropped on the tab): the picture of
// that natural size, fitted into the content area and centred; custom;
// customised. "Clear Background Image" removes it and nothing else.
void SetBackgroundPicture(LayoutModel& layout, EditSettings& settings, PresetMenus& menus, const std::string& file,
                          int naturalWidth, int naturalHeight);
void ClearBackgroundPicture(LayoutModel& layout);
// The colour swatch's OK: the colour, custom, customised.
void SetBackgroundColour(LayoutModel& layout, EditSettings& settings, PresetMenus& menus, LayoutColour colour);
// "Show movie controls": the margins change and the objects are brought
// back inside the content area; custom.
void SetShowControls(LayoutModel& layout, EditSettings& settings, bool show);

// The two popups: their entries (from STR# 170 and STR# 516) for the
// device's screen, and the entry that holds the current value (-1 none).
struct SizePopup {
    std::vector<std::string> items;
    int selected = -1;
    bool operator==(const SizePopup&) const = default;
};
SizePopup LayoutSizePopup(const LayoutModel& layout, const EditSettings& settings);
SizePopup MovieSizePopup(const EditSettings& settings);

// Picks of the popups, by the entry's text as the popup gives it. False,
// with nothing changed, for an entry without a size where one is needed.
bool ChooseLayoutSize(LayoutModel& layout, EditSettings& settings, PresetMenus& menus, const std::string& entry);
bool ChooseMovieSize(LayoutModel& layout, EditSettings& settings, PresetMenus& menus, const std::string& entry);

// "Reset to Default Layout": not customised, no custom layout, no 'PRES' in
// the container; the movie size and rotation from the container's 'vide'
// (160 × 120 when absent) and 'angl' (0); then the layout is loaded anew.
// The preset menus are rebuilt when no setting was edited since the preset
// was chosen.
[[nodiscard]] OSErr ResetLayout(LayoutModel& layout, EditSettings& settings, PresetMenus& menus,
                                AtomContainer& container);

// Which of the tab's items take the user's input.
struct LayoutEnabling {
    bool showControls = false;     // "Show movie controls"
    bool chooseBackground = false; // "Choose Background Image…"
    bool clearBackground = false;  // "Clear Background Image": while a picture is set
    bool preview = false;          // presses in the preview
    bool colourSwatch = false;     // the background colour swatch
    bool operator==(const LayoutEnabling&) const = default;
};
LayoutEnabling LayoutItemsEnabling(const LayoutModel& layout, const EditSettings& settings);

// The layout from the container's 'PRES' (custom on), or, without one, the
// device's screen with the movie placed by the default rules. A 'PRES' atom
// whose values are missing or damaged keeps those defaults. The settings'
// layout fields follow the new layout.
[[nodiscard]] OSErr LoadLayout(const AtomContainer& container, EditSettings& settings, LayoutModel& out);
// Replaces the container's 'PRES' with the layout, turned by its angle.
[[nodiscard]] OSErr StoreLayout(const LayoutModel& layout, const EditSettings& settings, AtomContainer& container);
