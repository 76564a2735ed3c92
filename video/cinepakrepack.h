// The repack of "Cinepak Mobile" frames: a byte-level run-length code over
// the compressed frame (its first four bytes copied as they are), kept only
// when it saves at least 2 %. A packed frame has bit 7 of its first byte set.
#pragma once

#include <cstdint>
#include <span>

#include "platform/byteblock.h"
#include "platform/status.h"

// The "fr" chunk's encoding byte of a Cinepak frame.
inline constexpr std::uint8_t kCinepakEncoding = 11;

// `out` receives the payload to store: the packed form, or the frame itself.
[[nodiscard]] OSErr RepackCinepakFrame(std::span<const std::uint8_t> frame, ByteBlock& out, bool& packed);
// Undoes the repack (a frame without bit 7 is returned as it is).
[[nodiscard]] OSErr UnpackCinepakFrame(std::span<const std::uint8_t> payload, ByteBlock& out);
