// A frame source that renders an AVI's pictures by time, used when no
// decompressor decodes the file's frames directly: frames at the settings'
// frame rate, rendered into bottom-up 24-bit rows and copied into the
// driver's pixel map.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/files.h"
#include "platform/legacydecoders.h"
#include "platform/media.h"

struct DirectShowSource {
    std::int32_t width = 0, height = 0; // of the rendered frames
    std::int32_t rowBytes = 0;
    double length = 0;   // seconds
    double step = 0;     // seconds per frame
    double current = 0;  // seconds
    std::vector<std::uint8_t> buffer; // a 40-byte bitmap header, then the rows
    FrameRenderer renderer;
};

// Null when the file has no picture to render.
std::unique_ptr<DirectShowSource> OpenDirectShowSource(const FileSpec& file);
// memFullErr when the buffer cannot be had; noCodecErr for a bad size.
[[nodiscard]] OSErr SetupDirectShowSource(DirectShowSource& source, std::int32_t width, std::int32_t height, Fixed frameRate);
// The next frame into a 'BGRA' pixel map (blue, green, red, 0); eofErr at
// the end of the stream, noCodecErr when rendering fails.
[[nodiscard]] OSErr NextDirectShowFrame(DirectShowSource& source, FrameBuffer& pixels);
void CloseDirectShowSource(std::unique_ptr<DirectShowSource>& source);
