// Chunks: every byte of every record of a movie database belongs to one.
// A chunk is a 16-bit big-endian length that includes the 4-byte header, two
// ASCII tag letters, and the payload. Odd payloads carry one zero pad byte,
// counted in the length, so every chunk keeps the records word-aligned.
#pragma once

#include <cstdint>
#include <span>

#include "platform/byteblock.h"
#include "platform/status.h"

inline constexpr std::uint32_t kChunkHeaderSize = 4;
inline constexpr std::uint32_t kMaxChunkSize = 0xFFFF;
// Records are filled up to this many bytes of content before "re" closes them.
inline constexpr std::uint32_t kRecordContentLimit = 63998;

// The two tag letters as a 16-bit value, first letter in the high byte.
consteval std::uint16_t ChunkTag(const char (&tag)[3]) {
    return static_cast<std::uint16_t>((std::uint8_t(tag[0]) << 8) | std::uint8_t(tag[1]));
}

// The chunk's total length for a payload: header + payload, rounded up to even.
constexpr std::uint32_t ChunkLength(std::uint32_t payloadSize) {
    return (kChunkHeaderSize + payloadSize + 1) & ~1u;
}

// Appends a whole chunk; `payloadAt` receives the offset of its payload
// inside `out` (for patching later). paramErr when it would exceed 65535 bytes.
[[nodiscard]] OSErr AppendChunk(ByteBlock& out, std::uint16_t tag, std::span<const std::uint8_t> payload,
                                std::uint32_t* payloadAt = nullptr);
// Appends a chunk whose payload is `size` zero bytes, to be filled in later.
[[nodiscard]] OSErr AppendReservedChunk(ByteBlock& out, std::uint16_t tag, std::uint32_t size,
                                        std::uint32_t* payloadAt = nullptr);
