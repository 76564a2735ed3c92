// AVI files: what their header says of the first video stream's codec and
// the first audio stream's format, read by walking the RIFF lists.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/status.h"

// The wave-format tag of MPEG Layer-3 sound.
inline constexpr std::uint16_t kWaveFormatMp3 = 0x55;

// The first video stream's codec as a four-char code in file byte order
// (0 without one) and the first audio stream's format tag (0 without one).
// A walk that meets anything unexpected stops and keeps what it found;
// only a file that cannot be opened is an error. Either output may be null.
[[nodiscard]] OSErr ReadAviHeader(const FileSpec& file, OSType* videoCodec, std::uint16_t* audioTag);

// The name ends in ".avi" in any case (at most three characters after the
// last full stop).
bool HasAviExtension(std::string_view name);
