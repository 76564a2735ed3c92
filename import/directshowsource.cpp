// AVI pictures rendered by time into bottom-up rows.
#include "import/directshowsource.h"

#include <new>

namespace {
constexpr std::size_t kBitmapHeader = 40;
} // namespace

std::unique_ptr<DirectShowSource> OpenDirectShowSource(const FileSpec& file) {
    auto source = std::unique_ptr<DirectShowSource>(new (std::nothrow) DirectShowSource);
    if (!source || source->renderer.Open(file) != noErr) return nullptr;
    source->width = source->renderer.Width();
    source->height = source->renderer.Height();
    source->length = source->renderer.Length();
    return source;
}

OSErr SetupDirectShowSource(DirectShowSource& s, std::int32_t width, std::int32_t height, Fixed frameRate) {
    if (width <= 0 || height <= 0 || frameRate <= 0) return noCodecErr;
    s.width = width;
    s.height = height;
    s.step = 65536.0 / frameRate;
    // Rows of 24-bit pixels, each padded to a multiple of four bytes.
    s.rowBytes = (width * 3 + 3) & ~3;
    try {
        s.buffer.assign(kBitmapHeader + static_cast<std::size_t>(s.rowBytes) * static_cast<std::size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

OSErr NextDirectShowFrame(DirectShowSource& s, FrameBuffer& pixels) {
    if (s.current >= s.length) return eofErr;
    std::uint8_t* rows = s.buffer.data() + kBitmapHeader;
    if (s.renderer.Render(s.current, s.width, s.height, rows, s.rowBytes) != noErr) return noCodecErr;
    if (pixels.Width() != s.width || pixels.Height() != s.height)
        if (OSErr err = pixels.Create(s.width, s.height)) return err;
    // The buffer's last row is the picture's first.
    for (std::int32_t y = 0; y < s.height; ++y) {
        const std::uint8_t* src = rows + static_cast<std::ptrdiff_t>(s.height - 1 - y) * s.rowBytes;
        std::uint8_t* out = pixels.Pixels() + static_cast<std::ptrdiff_t>(y) * pixels.RowBytes();
        for (std::int32_t x = 0; x < s.width; ++x) {
            out[4 * x] = src[3 * x];
            out[4 * x + 1] = src[3 * x + 1];
            out[4 * x + 2] = src[3 * x + 2];
            out[4 * x + 3] = 0;
        }
    }
    s.current += s.step;
    return noErr;
}

void CloseDirectShowSource(std::unique_ptr<DirectShowSource>& source) { source.reset(); }
