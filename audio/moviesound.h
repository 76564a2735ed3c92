// A finished movie's sound as the handheld plays it: every sound format the
// converter writes ("CLIÉ Audio" through the media libraries' ATRAC3
// decoder, ADPCM, Yamaha ADPCM, uncompressed) decoded to 16-bit samples,
// for the player, the render and the inspector.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "moviedb/moviereader.h"
#include "platform/media.h"

// The whole sound, channels interleaved; 8-bit sound is widened. paramErr
// when there is none to decode.
[[nodiscard]] OSErr DecodeMovieSound(const MovieReader& reader, std::vector<std::int16_t>& samples, std::uint16_t& channels,
                                     std::uint32_t& rate);

// ATRAC3 frames the way libavcodec's decoder takes them, as RealMedia files
// carry them: set-up data for `channels` independent channels of
// `packetBytes` a frame, and every packet scrambled by XOR with 0x537F6103
// per 32-bit word.
[[nodiscard]] OSErr OpenAtracDecoder(SoundDecompressor& decoder, std::uint16_t channels, std::uint32_t packetBytes);
std::vector<std::uint8_t> ScrambledAtracPacket(std::span<const std::uint8_t> packet);
