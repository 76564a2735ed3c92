// The handheld's screen while a movie plays: the background colour, the
// layout's picture, the movie in its rectangle and the player's control
// margins, turned the way the user holds the handheld. The player, the
// render and the layout editor share the margins' rule.
#pragma once

#include <cstdint>

#include "moviedb/moviereader.h"
#include "platform/geometry.h"
#include "platform/media.h"
#include "platform/status.h"

// The player's control margins on a layout, upright, and the 'WIDG'
// pictures that draw them (top or left first).
struct ScreenMargins {
    int top = 0, bottom = 0, left = 0, right = 0;
    std::int16_t firstPicture = 0, secondPicture = 0;
    bool operator==(const ScreenMargins&) const = default;
};

// The margins the controls take on a `width` × `height` layout (upright)
// turned by `angle`: across the top and bottom, or, on a landscape layout of
// a handheld whose controls do not turn upright, at the sides.
ScreenMargins ControlMarginsOf(int width, int height, std::int16_t angle, bool uprightControls);

// Layout items' rows are stored counting from below the top control strip:
// 15 pixels, or 30 on a layout with a side of 320 or more.
int StripBelowTop(int width, int height);

// The handheld a movie is shown on: its screen as the device holds it
// (portrait or landscape, before any turn) and whether its controls turn
// upright on a landscape layout.
struct HandheldShape {
    std::uint16_t width = 0, height = 0;
    bool uprightControls = false;
};

class HandheldScreen {
public:
    // Lays out the screen of a playable movie with pictures on the
    // handheld: the layout is the device's screen, landscape when the movie
    // is turned; the movie and the picture lie where the movie's layout put
    // them, or, without one, the movie is centred in the room the controls
    // leave. paramErr for a movie without pictures or a layout picture that
    // does not decode; noCodecErr without a Cinepak decoder.
    [[nodiscard]] OSErr Compose(const MovieReader& reader, const HandheldShape& device);

    // The screen upright, each pixel `scale` × `scale`, with a decoded
    // picture of the movie (as stored) in its place.
    [[nodiscard]] OSErr Show(const FrameBuffer& picture, int scale, FrameBuffer& out);

    int Width() const { return width_; }   // upright
    int Height() const { return height_; } // upright
    // Where the movie lies on the upright screen (unscaled).
    Rect MovieArea() const { return movie_; }
    const ScreenMargins& Margins() const { return margins_; }

private:
    [[nodiscard]] OSErr DrawLayoutPicture(const MovieLayoutItem& item, int strip);
    void DrawMargins();

    int width_ = 0, height_ = 0;
    std::int16_t angle_ = 0;
    ScreenMargins margins_;
    Rect stored_; // the movie's rectangle on the screen as stored (turned)
    Rect movie_;
    FrameBuffer backdrop_; // the turned screen without the movie
    FrameBuffer turned_;
};
