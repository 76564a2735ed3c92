// The Video for Windows bridge: an image decompressor component, registered
// under a codec's four-char code, that decodes frames through an "installed
// decompressor" (on this platform the stand-in of platform/media.h) into a
// bottom-up bitmap and copies it into the destination pixels.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/components.h"
#include "platform/legacydecoders.h"
#include "platform/media.h"

inline constexpr OSType kImageDecompressorType = Fcc("imdc");
inline constexpr OSType kBridgeMaker = Fcc("VtrO");
inline constexpr std::uint32_t kBridgeFlags = 0x38; // 8-, 16- and 32-bit destinations
inline constexpr ComponentResult kBridgeVersion = 0x00020001;
inline constexpr OSType k24BitBGR = Fcc("24BG");
inline constexpr OSType k32BitARGB = 32;

// Image decompressor selectors.
inline constexpr std::int16_t kImageCodecGetCodecInfoSelect = 0x0000;
inline constexpr std::int16_t kImageCodecPreflightSelect = 0x0200;
inline constexpr std::int16_t kImageCodecInitializeSelect = 0x0201;
inline constexpr std::int16_t kImageCodecBeginBandSelect = 0x0202;
inline constexpr std::int16_t kImageCodecDrawBandSelect = 0x0203;
inline constexpr std::int16_t kImageCodecEndBandSelect = 0x0204;
inline constexpr std::int16_t kImageCodecQueueStartingSelect = 0x0205;
inline constexpr std::int16_t kImageCodecQueueStoppingSelect = 0x0206;

// What the bridge is told of the pictures: their size and codec, the AVI
// stream format ('strf', when the reader kept it) and the colour table of
// 8-bit pictures (256 entries of red, green, blue).
struct BridgeImage {
    std::int32_t width = 0, height = 0;
    OSType codec = 0;
    std::span<const std::uint8_t> streamFormat;
    std::span<const std::uint8_t> colours;
};
struct BridgePreflightParams {
    const BridgeImage* image = nullptr;
    // Answers.
    std::int16_t wantedPixelSize = 0;
    std::int32_t bandMin = 0, bandInc = 0;
    OSType wantedFormat = 0;
    std::uint32_t capabilities = 0; // bit 26: frames in sequence
};
struct BridgeBandParams {
    std::uint8_t* baseAddress = nullptr;
    std::int32_t rowBytes = 0;
    OSType pixelFormat = k32BitARGB; // or k24BitBGR
    std::int32_t boundsTop = 0, boundsLeft = 0, bandTop = 0, bandLeft = 0;
    std::span<const std::uint8_t> data;
    bool draw = true;
    bool keyFrame = true;
};
struct BridgeCodecInfo {
    std::string typeName;
    std::int16_t version = 0, revisionLevel = 0;
    OSType vendor = 0;
    std::uint32_t decompressFlags = 0;
};

// The output bitmap's row: three bytes a pixel plus three, rounded down to a
// multiple of four ((width + 1) × 3).
constexpr std::int32_t BridgeRowSize(std::int32_t width) { return ((width + 1) * 3) & ~3; }
// A 5-bit component widened to 8 bits.
constexpr std::uint8_t WidenFive(std::uint8_t c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); }

// Copies a bottom-up bitmap into destination rows (its last row first):
// 24-bit, 16-bit 5-5-5 or 8-bit indexed (through `colours`) into 32-bit
// ARGB (0, red, green, blue) or '24BG' (blue, green, red). Other
// combinations copy nothing.
void CopyBitmapRows(const std::uint8_t* bits, int bitCount, int width, int height, std::int32_t rowSize,
                    std::span<const std::uint8_t> colours, std::uint8_t* dest, std::int32_t destRowBytes, OSType destFormat);

// Registers the bridge under a codec code (type 'imdc', maker 'VtrO', flags
// 0x38, "Vantro QT/VfW Bridge"); once per code.
Component RegisterBridgeFor(OSType codec);
// The codes registered at start-up.
void RegisterPresetBridges();
