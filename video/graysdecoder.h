// Decodes "16 Grays" frame payloads: the previous picture plus one frame's
// block codes give the picture the handheld shows. Serves the inspector,
// the preview and the tests; every payload is checked as it is read.
#pragma once

#include <cstdint>
#include <span>

#include "platform/status.h"

// Applies one frame's payload to `picture` (packed levels, two per byte,
// rows of grays::RowBytes(width) bytes) in place. paramErr for a payload
// that does not describe exactly the picture's blocks.
[[nodiscard]] OSErr DecodeGraysFrame(std::span<const std::uint8_t> payload, std::uint32_t width,
                                     std::uint32_t height, std::span<std::uint8_t> picture);

// The picture as 8-bit gray values (255 white, 0 black), one byte per pixel.
void GraysToGrayBytes(std::span<const std::uint8_t> picture, std::uint32_t width, std::uint32_t height,
                      std::span<std::uint8_t> gray);
