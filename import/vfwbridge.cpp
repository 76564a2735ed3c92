// The Video for Windows bridge decompressor component.
#include "import/vfwbridge.h"

#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

struct Bridge {
    VfwDecompressor decompressor;
    bool located = false;
    BitmapHeader input, output;
    std::int32_t rowSize = 0;
    std::vector<std::uint8_t> buffer;
    std::vector<std::uint8_t> colours; // 256 × red, green, blue
    BridgeBandParams band;
    bool bandFailed = false;
};

void EndDecompression(Bridge& b) {
    if (b.decompressor.Begun()) b.decompressor.End();
}

ComponentResult Preflight(Bridge& b, BridgePreflightParams* p) {
    if (p == nullptr || p->image == nullptr) return paramErr;
    const BridgeImage& image = *p->image;
    if (!b.located) {
        // The input: the AVI stream's format, or one made from the picture.
        if (image.streamFormat.size() >= 40) {
            b.input = ParseBitmapHeader(image.streamFormat);
        } else {
            b.input = BitmapHeader{};
            b.input.width = image.width;
            b.input.height = image.height;
            b.input.compression = image.codec;
        }
        b.output = BitmapHeader{};
        b.output.width = image.width;
        b.output.height = image.height;
        b.output.bitCount = b.input.bitCount == 8 || b.input.bitCount == 16 ? b.input.bitCount : 24;
        b.rowSize = BridgeRowSize(image.width);
        b.output.imageSize = static_cast<std::uint32_t>(image.height * b.rowSize);
        if (OSErr err = b.decompressor.Locate(b.input, b.output)) return err;
        try {
            b.buffer.assign(b.output.imageSize, 0);
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
        if (b.output.bitCount == 8 && b.colours.empty()) b.colours.assign(image.colours.begin(), image.colours.end());
        b.located = true;
    }
    p->wantedPixelSize = 32;
    p->bandMin = p->bandInc = image.height;
    p->wantedFormat = k24BitBGR;
    p->capabilities |= 1u << 26;
    return noErr;
}

ComponentResult BeginBand(Bridge& b, const BridgeBandParams* p) {
    if (p == nullptr || !b.located) return paramErr;
    if (!b.decompressor.Begun() && b.decompressor.Begin() != noErr) b.located = false;
    b.band = *p;
    const int pixelBytes = p->pixelFormat == k24BitBGR ? 3 : 4;
    b.band.baseAddress = p->baseAddress + static_cast<std::ptrdiff_t>(p->bandTop - p->boundsTop) * p->rowBytes +
                         (p->bandLeft - p->boundsLeft) * pixelBytes;
    return noErr;
}

ComponentResult DrawBand(Bridge& b) {
    if (!b.located) return codecDataVersErr;
    // A frame not to be drawn is decoded all the same: later frames need it.
    std::uint8_t palette[1024];
    const OSErr err = b.decompressor.Decompress(b.band.data, b.band.draw, b.buffer.data(), b.rowSize,
                                                b.output.bitCount == 8 ? palette : nullptr);
    b.bandFailed = err != noErr;
    if (err) return err;
    if (!b.band.draw) return noErr;
    if (b.output.bitCount == 8 && b.colours.empty()) {
        b.colours.resize(768);
        for (int i = 0; i < 256; ++i) {
            b.colours[3 * i] = palette[4 * i + 2];
            b.colours[3 * i + 1] = palette[4 * i + 1];
            b.colours[3 * i + 2] = palette[4 * i];
        }
    }
    CopyBitmapRows(b.buffer.data(), b.output.bitCount, b.output.width, b.output.height, b.rowSize, b.colours,
                   b.band.baseAddress, b.band.rowBytes, b.band.pixelFormat);
    return noErr;
}

ComponentResult Dispatch(ComponentInstance self, std::int16_t selector, void* params) {
    auto* b = static_cast<Bridge*>(GetComponentInstanceStorage(self));
    switch (selector) {
    case kComponentOpenSelect: {
        auto* fresh = new (std::nothrow) Bridge;
        if (fresh == nullptr) return memFullErr;
        SetComponentInstanceStorage(self, fresh);
        return noErr;
    }
    case kComponentCloseSelect:
        if (b) EndDecompression(*b);
        delete b;
        SetComponentInstanceStorage(self, nullptr);
        return noErr;
    case kComponentCanDoSelect: {
        const std::int16_t asked = params ? static_cast<ComponentCanDoParams*>(params)->selector : 0;
        return (asked >= -4 && asked <= -1) || asked == kImageCodecGetCodecInfoSelect ||
                       (asked >= kImageCodecPreflightSelect && asked <= kImageCodecQueueStoppingSelect)
                   ? 1
                   : 0;
    }
    case kComponentVersionSelect: return kBridgeVersion;
    default: break;
    }
    if (b == nullptr) return badComponentSelector;
    switch (selector) {
    case kImageCodecGetCodecInfoSelect: {
        auto* info = static_cast<BridgeCodecInfo*>(params);
        if (info == nullptr) return paramErr;
        *info = BridgeCodecInfo{"Vantro QT/VfW Bridge", 1, 1, kBridgeMaker, kBridgeFlags};
        return noErr;
    }
    case kImageCodecPreflightSelect: return Preflight(*b, static_cast<BridgePreflightParams*>(params));
    case kImageCodecInitializeSelect: return noErr;
    case kImageCodecBeginBandSelect: return BeginBand(*b, static_cast<BridgeBandParams*>(params));
    case kImageCodecDrawBandSelect: return DrawBand(*b);
    case kImageCodecEndBandSelect:
        if (b->bandFailed) EndDecompression(*b);
        return noErr;
    case kImageCodecQueueStartingSelect: return noErr;
    case kImageCodecQueueStoppingSelect: EndDecompression(*b); return noErr;
    default: return badComponentSelector;
    }
}

} // namespace

void CopyBitmapRows(const std::uint8_t* bits, int bitCount, int width, int height, std::int32_t rowSize,
                    std::span<const std::uint8_t> colours, std::uint8_t* dest, std::int32_t destRowBytes, OSType format) {
    const bool argb = format == k32BitARGB;
    if (!argb && format != k24BitBGR) return;
    if (bitCount == 8 && colours.size() < 768) return;
    for (int y = 0; y < height; ++y) {
        // The bitmap is bottom-up: its last row is the picture's first.
        const std::uint8_t* src = bits + static_cast<std::ptrdiff_t>(height - 1 - y) * rowSize;
        std::uint8_t* out = dest + static_cast<std::ptrdiff_t>(y) * destRowBytes;
        for (int x = 0; x < width; ++x) {
            std::uint8_t r = 0, g = 0, b = 0;
            if (bitCount == 24) {
                b = src[3 * x], g = src[3 * x + 1], r = src[3 * x + 2];
            } else if (bitCount == 16) {
                const int v = src[2 * x] | src[2 * x + 1] << 8;
                r = WidenFive(static_cast<std::uint8_t>((v >> 10) & 31));
                g = WidenFive(static_cast<std::uint8_t>((v >> 5) & 31));
                b = WidenFive(static_cast<std::uint8_t>(v & 31));
            } else if (bitCount == 8) {
                const std::uint8_t* c = colours.data() + 3 * src[x];
                r = c[0], g = c[1], b = c[2];
            } else {
                return;
            }
            if (argb) {
                out[4 * x] = 0, out[4 * x + 1] = r, out[4 * x + 2] = g, out[4 * x + 3] = b;
            } else {
                out[3 * x] = b, out[3 * x + 1] = g, out[3 * x + 2] = r;
            }
        }
    }
}

Component RegisterBridgeFor(OSType codec) {
    static std::mutex lock;
    static std::map<OSType, Component> registered;
    std::lock_guard<std::mutex> guard(lock);
    if (auto found = registered.find(codec); found != registered.end()) return found->second;
    ComponentDescription d;
    d.componentType = kImageDecompressorType;
    d.componentSubType = codec;
    d.componentManufacturer = kBridgeMaker;
    d.componentFlags = kBridgeFlags;
    const Component c = RegisterComponent(d, &Dispatch, "Vantro QT/VfW Bridge");
    if (c != nullptr) registered[codec] = c;
    return c;
}

void RegisterPresetBridges() {
    for (OSType code : {Fcc("IV50"), Fcc("DX50"), Fcc("DIVX"), Fcc("DIV3"), Fcc("IV41"), Fcc("H261"), Fcc("M263"),
                        Fcc("i263"), Fcc("IJPG"), Fcc("MJPG"), Fcc("XMPG"), Fcc("BW10"), Fcc("ULTI"), Fcc("MPG4"),
                        Fcc("MP42"), Fcc("IYUV")})
        RegisterBridgeFor(code);
}
