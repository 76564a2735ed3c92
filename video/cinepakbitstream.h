// The bit stream of "Cinepak Mobile" frames, for the encoder alone: a frame
// header, then per strip a strip header, its V4 and V1 codebook chunks and
// its vector chunk. Frames, strips and chunks all start with an identifier
// byte and their size, header included, in the three bytes after it
// (big-endian), patched in when they end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/byteblock.h"
#include "platform/status.h"
#include "video/cinepakvectors.h"

namespace cinepak {

// What the parts of a frame take, for the rate control's byte counts: a
// codebook entry is four luma bytes and two colour bytes.
constexpr std::size_t kFrameHeaderBytes = 10, kStripHeaderBytes = 12, kChunkHeaderBytes = 4;
constexpr std::size_t kEntryBytes = 6;

// The codebook a chunk loads, by its chunk identifier.
enum class Book : std::uint8_t { V4 = 0x20, V1 = 0x22 };

// The decoder slots a strip's codebook chunk fills, up to the highest. A
// strip that keeps none of the entries the decoder holds fills slots 0
// upward and sends them in a full chunk; one that keeps some sends its new
// entries in a partial chunk, behind words that flag the slots they fill.
struct BookUpdate {
    std::array<bool, 256> filled{};
    int highest = -1;
    bool partial = false;
};

// One frame's bit stream, written part by part in stream order. A step that
// fails leaves the frame unfinished; the encoder then drops it.
class FrameWriter {
public:
    explicit FrameWriter(bool key) : key_(key) {}

    // The frame header, with room made for the `expected` bytes.
    [[nodiscard]] OSErr BeginFrame(std::uint16_t width, std::uint16_t height, std::uint16_t strips,
                                   std::size_t expected);
    // A strip of `height` rows across the picture.
    [[nodiscard]] OSErr BeginStrip(std::uint16_t height, std::uint16_t width);
    // The slots `update` fills, from the decoder's codebook as it will be;
    // nothing when the update fills none.
    [[nodiscard]] OSErr PutCodebook(Book book, const BookUpdate& update, const std::array<Vec, 256>& entries);
    [[nodiscard]] OSErr BeginVectors();
    // The strip's macroblocks in turn: one left as the decoder shows it
    // (difference frames only), one drawn from a V1 entry, one from four V4
    // entries (top left, top right, bottom left, bottom right).
    [[nodiscard]] OSErr PutSkip();
    [[nodiscard]] OSErr PutV1(std::uint8_t slot);
    [[nodiscard]] OSErr PutV4(const std::array<std::uint8_t, 4>& slots);
    // Closes the vector chunk and the strip.
    void EndStrip();
    // The finished frame.
    void Finish(ByteBlock& out);

private:
    [[nodiscard]] OSErr BeginChunk(std::uint8_t id, std::uint32_t& at);
    void EndChunk(std::uint32_t at);
    [[nodiscard]] OSErr PutEntry(const Vec& entry);
    [[nodiscard]] OSErr PutFlag(bool bit);

    ByteBlock frame_;
    const bool key_;
    std::uint32_t stripAt_ = 0, vectorsAt_ = 0;
    // The vector chunk's flag bits go most significant first into 32-bit
    // words, each placed in the stream where the decoder first needs it.
    std::uint32_t flagWord_ = 0;
    int flagsUsed_ = 32;
};

} // namespace cinepak
