// Stand-ins for the legacy decoders of the AVI import, over the media
// libraries: Video for Windows' installed decompressors (decoders by the
// AVI four-char code, into bottom-up bitmaps) and DirectShow's media
// detector (a file's frames rendered by time).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/files.h"
#include "platform/status.h"

// ---- The Video for Windows stand-in ----

// A device-independent bitmap header (40 bytes on disk, little-endian).
struct BitmapHeader {
    std::int32_t width = 0, height = 0; // height > 0: rows bottom-up
    std::uint16_t planes = 1, bitCount = 0;
    std::uint32_t compression = 0;      // a four-char code in file byte order; 0 = uncompressed
    std::uint32_t imageSize = 0;
};
BitmapHeader ParseBitmapHeader(std::span<const std::uint8_t> bytes); // the first 40 bytes

// An "installed decompressor": the decoder for a codec's four-char code,
// decoding into bottom-up bitmaps of 24 bits (blue, green, red), 16 bits
// (5-5-5) or 8 bits (indexes, with the colour table).
class VfwDecompressor {
public:
    VfwDecompressor();
    ~VfwDecompressor();
    VfwDecompressor(const VfwDecompressor&) = delete;
    VfwDecompressor& operator=(const VfwDecompressor&) = delete;

    // codecDataVersErr when no decoder takes the input for that output.
    [[nodiscard]] OSErr Locate(const BitmapHeader& input, const BitmapHeader& output);
    [[nodiscard]] OSErr Begin();
    // Decodes one frame; when `draw`, writes the bitmap (rows of `rowBytes`,
    // the last row first) and for 8 bits the colour table (256 entries of
    // blue, green, red, 0).
    [[nodiscard]] OSErr Decompress(std::span<const std::uint8_t> frame, bool draw, std::uint8_t* bits,
                                   std::int32_t rowBytes, std::uint8_t* colours);
    void End();
    bool Begun() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The file opens, has a video stream, and its first frame decodes.
bool VfwCanDecode(const FileSpec& file);
// The packets of a file's first video stream, in order (for tests and the
// bridge's callers): the frame data, whether it is a key frame, and when it
// is shown (seconds from the stream's start).
struct VideoPacket {
    std::vector<std::uint8_t> data;
    bool keyFrame = false;
    double seconds = 0;
};
[[nodiscard]] OSErr ReadVideoPackets(const FileSpec& file, std::vector<VideoPacket>& out, BitmapHeader& format);

// ---- The DirectShow stand-in: frames by time ----

class FrameRenderer {
public:
    FrameRenderer();
    ~FrameRenderer();
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    // Opens the file's first video stream and renders its frame at 0.
    [[nodiscard]] OSErr Open(const FileSpec& file);
    std::int32_t Width() const;
    std::int32_t Height() const;
    double Length() const; // seconds
    // The frame shown at `seconds`, scaled to width × height, into bottom-up
    // 24-bit rows (blue, green, red) of `rowBytes` each.
    [[nodiscard]] OSErr Render(double seconds, std::int32_t width, std::int32_t height, std::uint8_t* rows,
                               std::int32_t rowBytes);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

