// The sound block encoders of the movie database, and their decoders:
// ADPCM (an IMA quantiser generalised to 2 to 5 bit codes, a 16-bit header
// per block) and Yamaha ADPCM (4-bit codes, no headers, state running on for
// the whole sound). Both apply the boost factor themselves.
#pragma once

#include <cstdint>
#include <span>

#include "platform/status.h"

inline constexpr int kAdpcmBlockFrames = 256;
inline constexpr int kYamahaBlockFrames = 64;

// Bytes of one ADPCM block of `count` samples with `codeBits`-bit codes.
constexpr std::uint32_t AdpcmBlockBytes(int count, int codeBits) {
    return static_cast<std::uint32_t>((16 + count * codeBits + 7) / 8);
}

// Encodes `count` mono samples (boosted in place first) into `output`;
// answers the bytes written (0 for no samples).
std::uint32_t EncodeAdpcmBlock(std::int16_t* samples, int count, int codeBits, std::uint8_t* output, float boost);
// Decodes one block of `count` samples; paramErr when it is too short.
[[nodiscard]] OSErr DecodeAdpcmBlock(std::span<const std::uint8_t> block, int count, std::int16_t* samples);

// The running state of a Yamaha ADPCM stream; one per conversion.
struct YamahaState {
    int step = 127;
    int predictor = 0;
};

// Encodes byteCount / 2 samples into `output`. `capacity` is the room on
// entry and the bytes written on success. Answers 1, or 0 (nothing written,
// state unchanged) when the room is too small. `reset` starts the state afresh.
int EncodeYamahaBlock(const std::int16_t* samples, std::uint32_t byteCount, std::uint8_t* output,
                      std::uint32_t& capacity, bool reset, float boost, YamahaState& state);
// Decodes `count` samples, the earlier of each pair in the low nibble.
void DecodeYamaha(std::span<const std::uint8_t> codes, std::uint32_t count, std::int16_t* samples, YamahaState& state);

// A sample multiplied by the boost factor: clipped to 16 bits, else
// truncated toward zero.
std::int16_t BoostSample(std::int16_t sample, float boost);
