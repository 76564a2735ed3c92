// Chunk headers of the movie database's records.
#include "moviedb/chunk.h"

#include "platform/bytes.h"

OSErr AppendChunk(ByteBlock& out, std::uint16_t tag, std::span<const std::uint8_t> payload, std::uint32_t* payloadAt) {
    std::uint32_t at = 0;
    if (OSErr err = AppendReservedChunk(out, tag, static_cast<std::uint32_t>(payload.size()), &at)) return err;
    if (OSErr err = out.Patch(at, payload)) return err;
    if (payloadAt) *payloadAt = at;
    return noErr;
}

OSErr AppendReservedChunk(ByteBlock& out, std::uint16_t tag, std::uint32_t size, std::uint32_t* payloadAt) {
    if (size > kMaxChunkSize) return paramErr;
    const std::uint32_t length = ChunkLength(size);
    if (length > kMaxChunkSize) return paramErr;
    std::uint32_t start = 0;
    if (OSErr err = out.Grow(length, &start)) return err; // zero-filled, pad byte included
    WriteBE16(out.Data() + start, static_cast<std::uint16_t>(length));
    WriteBE16(out.Data() + start + 2, tag);
    if (payloadAt) *payloadAt = start + kChunkHeaderSize;
    return noErr;
}
