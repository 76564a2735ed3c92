// The picture's place: the movie's output size from the settings and the
// source (size codes, the limit box, the "Full" square sizes' crop, the
// layout's movie rectangle, whole 4 × 4 blocks), and the screen layout of
// the settings' 'PRES' subtree handed to the writer.
#pragma once

#include <cstdint>

#include "engine/exportsettings.h"
#include "moviedb/moviewriter.h"
#include "platform/geometry.h"

// The picture's geometry: its output size and where the source lands in it.
struct Geometry {
    std::uint16_t width = 0, height = 0; // before rotation
    Rect crop;                          // the "Full" square sizes; empty otherwise
    int rotation = 0;
};

Geometry ConfigureGeometry(const ExportSettings& settings, int sourceWidth, int sourceHeight, const Rect& box);

// The screen layout of the settings' 'PRES' subtree: presentation size,
// controls, background colour and the background, image and video-area items.
[[nodiscard]] OSErr ConfigureLayout(MovieWriter* writer, const AtomContainer& layout);
