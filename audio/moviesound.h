// A finished movie's sound as the handheld plays it: every sound format the
// converter writes ("CLIÉ Audio" through the media libraries' ATRAC3
// decoder, ADPCM, Yamaha ADPCM, uncompressed) decoded to 16-bit samples,
// for the player, the render and the inspector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "moviedb/moviereader.h"
#include "platform/media.h"

// A movie's sound chunk by chunk, as the player streams it. Going on with
// the chunk after the last one decoded carries the decoders' state over; any
// other chunk starts them afresh, as the handheld does after a seek.
class MovieSoundDecoder {
public:
    MovieSoundDecoder();
    ~MovieSoundDecoder();
    MovieSoundDecoder(const MovieSoundDecoder&) = delete;
    MovieSoundDecoder& operator=(const MovieSoundDecoder&) = delete;

    // paramErr when the movie has no sound this decoder plays. The reader
    // must outlive the decoder.
    [[nodiscard]] OSErr Open(const MovieReader& reader);
    std::uint16_t Channels() const;
    std::uint32_t Rate() const;
    // Appends chunk `index`'s sample frames, channels interleaved; 8-bit
    // sound is widened. paramErr for a chunk that does not decode.
    [[nodiscard]] OSErr Decode(std::size_t index, std::vector<std::int16_t>& out);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

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
