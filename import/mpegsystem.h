// MPEG-1 system streams: our own demultiplexer, the first MPEG audio stream
// cut into frames and decoded by our own decoder, as a sound source for the
// audio pump.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "import/mpegaudio.h"
#include "platform/files.h"
#include "platform/media.h"

// The demultiplexer's own errors; the lower readers' have 0x1000 set.
inline constexpr int kDemuxNotAPack = 12;
inline constexpr int kDemuxNotMpeg1 = 0x10F;
inline constexpr int kDemuxPacketBeforeSystemHeader = 0x1007;
inline constexpr int kDemuxLowerReader = 0x1000;
inline constexpr int kDemuxEnd = -1;

// Packets of a system stream, one per call.
class MpegDemuxer {
public:
    [[nodiscard]] OSErr Open(const FileSpec& file);
    // 0 with the packet's stream identifier and payload (valid until the
    // next call), kDemuxEnd at the end, or one of the errors above.
    int NextPacket(std::uint8_t& streamId, std::span<const std::uint8_t>& payload);
    int Packs() const { return packs_; }

private:
    // Bytes of the file through a 20000-byte buffer.
    bool Byte(std::uint8_t& b);
    bool Bytes(std::size_t n, std::vector<std::uint8_t>* out);
    bool Code(std::uint32_t& code); // the next 32 bits, as a start code

    enum class State { Pack, PackHeader, Packet, NextCode } state_ = State::Pack;
    File file_;
    std::vector<std::uint8_t> buffer_;
    std::size_t have_ = 0, at_ = 0;
    std::uint64_t offset_ = 0;
    int packs_ = 0;
    bool systemHeader_ = false;
    std::uint32_t pending_ = 0; // a start code already read
    bool hasPending_ = false;
    std::vector<std::uint8_t> payload_;
};

// The sound of a system stream's first MPEG audio stream.
struct MpegAudioSource {
    MpegDemuxer demuxer;
    std::uint8_t stream = 0; // 0xC0 to 0xDF
    std::vector<std::uint8_t> payload;
    std::size_t payloadAt = 0;
    std::vector<std::uint8_t> frame; // 2048 bytes
    MpegHeader header;
    SoundDescription description;
    std::vector<std::uint32_t> tables;
    MpegAudioDecoder decoder;
};

// paramErr when the file has no MPEG audio stream (or is no MPEG-1 system
// stream), memFullErr, or a file error.
[[nodiscard]] OSErr OpenMpegAudio(const FileSpec& file, std::span<const std::uint32_t> tables,
                                  std::unique_ptr<MpegAudioSource>& out);
// The next frame (header included); eofErr at the end of the stream.
[[nodiscard]] OSErr ReadMpegFrame(MpegAudioSource& source, std::span<const std::uint8_t>& frame);
[[nodiscard]] OSErr DecodeMpegFrame(MpegAudioSource& source, std::span<const std::uint8_t> frame, int& sampleFrames,
                                    std::int16_t* pcm);
void CloseMpegAudio(std::unique_ptr<MpegAudioSource>& source);

// The sound as the pump takes it: a quarter second of frames a chunk,
// decoded to 16-bit samples.
class MpegSoundSource final : public SoundSource {
public:
    // `duration`: the sound's length in sample frames, as far as it is known.
    MpegSoundSource(std::unique_ptr<MpegAudioSource> source, std::int64_t duration);
    [[nodiscard]] OSErr GetChunk(SoundChunk& out) override;
    const SoundDescription& Description() const { return source_->description; }

private:
    std::unique_ptr<MpegAudioSource> source_;
    std::vector<std::int16_t> pcm_, block_; // the chunk; one frame's samples
};
