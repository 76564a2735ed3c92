// A finished movie's sound decoded as the handheld plays it.
#include "audio/moviesound.h"

#include <algorithm>
#include <cmath>

#include "audio/adpcm.h"
#include "audio/atrac3/at3enc.h"
#include "moviedb/formats.h"
#include "platform/bytes.h"

namespace {

// The bytes of one ATRAC3 frame (every channel) of a "CLIÉ Audio" movie;
// 0 when its mode and code are no valid pair.
std::uint64_t AtracFrameBytes(std::optional<std::pair<std::uint16_t, std::uint16_t>> atrac) {
    At3EncContext sizes;
    if (!atrac || At3EncOpen(atrac->second, atrac->first, sizes) != kAt3Ok) return 0;
    const auto bytes = static_cast<std::uint64_t>(std::max(0, sizes.frameBytes));
    At3EncClose(sizes);
    return bytes;
}

// The most sample frames `bytes` of a sound chunk's payload can code in a
// format: the bound that keeps a damaged frame count from sizing buffers.
std::uint64_t MostSoundFrames(std::uint32_t format, std::uint16_t channels, std::uint64_t atracFrameBytes, std::uint32_t bytes) {
    const std::uint64_t ch = std::max<std::uint16_t>(1, channels);
    switch (format) {
    case Code(SoundFormat::UncompressedMono): return bytes / ch;
    case Code(SoundFormat::UncompressedStereo): return bytes / (2 * ch);
    case Code(SoundFormat::YamahaAdpcm): return std::uint64_t{bytes} * 2 / ch;
    case Code(SoundFormat::Adpcm2to1):
    case Code(SoundFormat::Adpcm4to1): return bytes / (AdpcmBlockBytes(kAdpcmBlockFrames, format == Code(SoundFormat::Adpcm2to1) ? 4 : 2) * ch) * kAdpcmBlockFrames;
    case Code(SoundFormat::ClieAudio): return atracFrameBytes == 0 ? 0 : bytes / atracFrameBytes * kAt3FrameSamples;
    default: return std::uint64_t{bytes} * 8; // a format of no decoder here: one bit a frame at the least
    }
}

} // namespace

OSErr OpenAtracDecoder(SoundDecompressor& decoder, std::uint16_t channels, std::uint32_t packetBytes) {
    // Version 4, samples per frame, the delay 0x88E, coding mode 2
    // (independent channels); big-endian.
    std::uint8_t setup[10];
    WriteBE32(setup, 4);
    WriteBE16(setup + 4, static_cast<std::uint16_t>(kAt3FrameSamples * channels));
    WriteBE16(setup + 6, 0x088E);
    WriteBE16(setup + 8, 2);
    return decoder.Open(Fcc("atrc"), kAt3SampleRate, channels, packetBytes, setup);
}

std::vector<std::uint8_t> ScrambledAtracPacket(std::span<const std::uint8_t> packet) {
    static constexpr std::uint8_t kKey[4] = {0x53, 0x7F, 0x61, 0x03};
    std::vector<std::uint8_t> out(packet.begin(), packet.end());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] ^= kKey[i % 4];
    return out;
}

namespace {

// One record of ATRAC3 frames: 1024 sample frames each, channel slices one
// after the other, each decoded as a mono stream.
OSErr DecodeAtracRecord(std::span<const std::uint8_t> data, std::uint32_t frames, std::uint16_t channels,
                        const At3EncContext& sizes, SoundDecompressor* decoders, std::int16_t* dest) {
    const std::size_t frameBytes = static_cast<std::size_t>(sizes.frameBytes);
    const std::uint32_t count = (frames + kAt3FrameSamples - 1) / kAt3FrameSamples;
    if (data.size() < count * frameBytes) return paramErr;
    std::vector<float> decoded;
    for (std::uint32_t f = 0; f < count; ++f) {
        std::size_t offset = f * frameBytes;
        for (std::uint16_t ch = 0; ch < channels; ++ch) {
            const auto bytes = static_cast<std::size_t>(sizes.channelBytes[ch]);
            const auto slice = ScrambledAtracPacket(data.subspan(offset, bytes));
            offset += bytes;
            decoded.clear();
            if (OSErr err = decoders[ch].Decode(slice, decoded)) return err;
            for (std::size_t i = 0; i < decoded.size() && f * kAt3FrameSamples + i < frames; ++i) {
                const float v = std::clamp(decoded[i] * 32768.0f, -32768.0f, 32767.0f);
                dest[(f * kAt3FrameSamples + i) * channels + ch] = static_cast<std::int16_t>(std::lrint(v));
            }
        }
    }
    return noErr;
}

} // namespace

struct MovieSoundDecoder::Impl {
    const MovieReader* reader = nullptr;
    std::uint32_t format = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::size_t next = 0; // the chunk whose decoding goes on from the state
    YamahaState yamaha;
    // "CLIÉ Audio": each channel's slice of every frame goes to its own
    // ATRAC3 decoder, as a mono stream the way RealMedia files carry it.
    At3EncContext sizes;
    SoundDecompressor atrac[2];
    std::uint64_t atracFrameBytes = 0;

    OSErr Restart();
    OSErr DecodeChunk(const MovieSound& sound, std::int16_t* dest);
};

MovieSoundDecoder::MovieSoundDecoder() = default;
MovieSoundDecoder::~MovieSoundDecoder() = default;
std::uint16_t MovieSoundDecoder::Channels() const { return impl_ ? impl_->channels : 0; }
std::uint32_t MovieSoundDecoder::Rate() const { return impl_ ? impl_->rate : 0; }

OSErr MovieSoundDecoder::Open(const MovieReader& reader) {
    impl_.reset();
    const MovieDatabase& in = reader.Database();
    if (!reader.Playable() || !in.hasAudio) return paramErr;
    const std::uint32_t format = in.audioFormat;
    if (format == Code(SoundFormat::None) || FindSoundFormat(static_cast<std::int32_t>(format)) == nullptr ||
        in.audioChannels < 1 || in.audioChannels > 2)
        return paramErr;
    auto m = std::make_unique<Impl>();
    m->reader = &reader;
    m->format = format;
    m->channels = in.audioChannels;
    m->rate = in.sampleRate;
    if (format == Code(SoundFormat::ClieAudio)) {
        if (!in.atrac || At3EncOpen(in.atrac->second, in.atrac->first, m->sizes) != kAt3Ok || m->sizes.channels != m->channels)
            return paramErr;
        At3EncClose(m->sizes);
        m->atracFrameBytes = AtracFrameBytes(in.atrac);
    }
    if (OSErr err = m->Restart()) return err;
    impl_ = std::move(m);
    return noErr;
}

OSErr MovieSoundDecoder::Impl::Restart() {
    next = 0;
    yamaha = {};
    if (format != Code(SoundFormat::ClieAudio)) return noErr;
    // Opening again replaces a decoder with a fresh one.
    for (std::uint16_t ch = 0; ch < channels; ++ch)
        if (OSErr err = OpenAtracDecoder(atrac[ch], 1, static_cast<std::uint32_t>(sizes.channelBytes[ch]))) return err;
    return noErr;
}

OSErr MovieSoundDecoder::Decode(std::size_t index, std::vector<std::int16_t>& out) {
    if (impl_ == nullptr || index >= impl_->reader->Sounds().size()) return paramErr;
    Impl& m = *impl_;
    if (index != m.next)
        if (OSErr err = m.Restart()) return err;
    const MovieSound& sound = m.reader->Sounds()[index];
    // A damaged count must not size the buffer: no more frames than the
    // chunk's bytes can code.
    if (sound.frames > MostSoundFrames(m.format, m.channels, m.atracFrameBytes, static_cast<std::uint32_t>(sound.payload.size())))
        return paramErr;
    const std::size_t at = out.size();
    out.resize(at + std::size_t{sound.frames} * m.channels);
    if (OSErr err = m.DecodeChunk(sound, out.data() + at)) {
        out.resize(at);
        m.next = m.reader->Sounds().size(); // the state is spent: the next chunk starts afresh
        return err;
    }
    m.next = index + 1;
    return noErr;
}

OSErr MovieSoundDecoder::Impl::DecodeChunk(const MovieSound& sound, std::int16_t* dest) {
    const std::uint32_t frames = sound.frames;
    const std::span<const std::uint8_t> data = sound.payload;
    if (format == Code(SoundFormat::ClieAudio)) return DecodeAtracRecord(data, frames, channels, sizes, atrac, dest);
    if (format == Code(SoundFormat::UncompressedMono)) {
        if (data.size() < frames) return paramErr;
        for (std::uint32_t i = 0; i < frames; ++i) dest[i] = static_cast<std::int16_t>((data[i] - 128) * 256);
        return noErr;
    }
    if (format == Code(SoundFormat::UncompressedStereo)) {
        if (data.size() < std::size_t{frames} * channels * 2) return paramErr;
        for (std::size_t i = 0; i < std::size_t{frames} * channels; ++i)
            dest[i] = static_cast<std::int16_t>(data[2 * i] | data[2 * i + 1] << 8);
        return noErr;
    }
    if (format == Code(SoundFormat::YamahaAdpcm)) {
        DecodeYamaha(data, frames, dest, yamaha);
        return noErr;
    }
    // ADPCM: per 256 frames a block per channel, left first.
    const std::uint32_t blockBytes = AdpcmBlockBytes(kAdpcmBlockFrames, format == Code(SoundFormat::Adpcm2to1) ? 4 : 2);
    std::int16_t channel[kAdpcmBlockFrames];
    std::size_t pos = 0;
    for (std::uint32_t f = 0; f < frames; f += kAdpcmBlockFrames)
        for (std::uint16_t ch = 0; ch < channels; ++ch, pos += blockBytes) {
            if (pos + blockBytes > data.size()) return paramErr;
            if (OSErr err = DecodeAdpcmBlock(data.subspan(pos, blockBytes), kAdpcmBlockFrames, channel)) return err;
            for (std::uint32_t i = 0; i < kAdpcmBlockFrames && f + i < frames; ++i) dest[std::size_t{f + i} * channels + ch] = channel[i];
        }
    return noErr;
}

OSErr DecodeMovieSound(const MovieReader& reader, std::vector<std::int16_t>& samples, std::uint16_t& channels,
                       std::uint32_t& rate) {
    MovieSoundDecoder decoder;
    if (OSErr err = decoder.Open(reader)) return err;
    std::vector<std::int16_t> out;
    for (std::size_t i = 0; i < reader.Sounds().size(); ++i)
        if (OSErr err = decoder.Decode(i, out)) return err;
    channels = decoder.Channels();
    rate = decoder.Rate();
    samples = std::move(out);
    return noErr;
}
