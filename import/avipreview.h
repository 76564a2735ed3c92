// "Linked AVI": the preview component for AVI files. On this platform it
// only registers itself and tests names; previews are drawn by the window.
#pragma once

#include <string_view>

#include "platform/components.h"

inline constexpr OSType kPreviewType = Fcc("pnot");
inline constexpr OSType kMoviePreviewSubType = Fcc("moov");

// Registers it once: type 'pnot', subtype 'moov', maker 'VTRO', flags 1,
// "Linked AVI".
Component RegisterAviPreview();
// Whether the preview looks into a file of that name before handing on:
// "avi" in any case after the last full stop.
bool AviPreviewExamines(std::string_view fileName);
