// The MPEG-1 system stream demultiplexer and the sound source over it.
#include "import/mpegsystem.h"

#include <cstring>
#include <new>

namespace {

constexpr std::size_t kInputBytes = 20000;
constexpr std::size_t kFrameBytes = 2048;
constexpr std::uint32_t kPackCode = 0x1BA, kSystemHeaderCode = 0x1BB, kEndCode = 0x1B9;
constexpr std::uint32_t kFirstPacketCode = 0x1BC, kPaddingStream = 0xBE, kPrivateStream2 = 0xBF;

} // namespace

OSErr MpegDemuxer::Open(const FileSpec& file) {
    if (OSErr err = File::Open(file, File::Mode::Read, file_)) return err;
    try {
        buffer_.resize(kInputBytes);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    state_ = State::Pack;
    have_ = at_ = 0;
    offset_ = 0;
    packs_ = 0;
    systemHeader_ = hasPending_ = false;
    return noErr;
}

bool MpegDemuxer::Byte(std::uint8_t& b) {
    if (at_ == have_) {
        std::uint64_t size = 0;
        if (file_.Size(size) != noErr || offset_ >= size) return false;
        have_ = static_cast<std::size_t>(std::min<std::uint64_t>(kInputBytes, size - offset_));
        if (file_.ReadAt(offset_, std::span<std::uint8_t>(buffer_.data(), have_)) != noErr) return false;
        offset_ += have_;
        at_ = 0;
    }
    b = buffer_[at_++];
    return true;
}

bool MpegDemuxer::Bytes(std::size_t n, std::vector<std::uint8_t>* out) {
    if (out) out->clear();
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t b = 0;
        if (!Byte(b)) return false;
        if (out) out->push_back(b);
    }
    return true;
}

bool MpegDemuxer::Code(std::uint32_t& code) {
    if (hasPending_) {
        code = pending_;
        hasPending_ = false;
        return true;
    }
    code = 0;
    for (int i = 0; i < 4; ++i) {
        std::uint8_t b = 0;
        if (!Byte(b)) return false;
        code = code << 8 | b;
    }
    // Zero bytes may come before a start code: a Video CD fills the end of
    // every audio sector (and of the first padding one) with them, inside
    // the pack and outside any packet. Slide over them to the 00 00 01
    // prefix; anything else is left for the caller to turn down.
    while ((code >> 8) != 1 && (code >> 24) == 0) {
        std::uint8_t b = 0;
        if (!Byte(b)) return false;
        code = code << 8 | b;
    }
    return true;
}

int MpegDemuxer::NextPacket(std::uint8_t& streamId, std::span<const std::uint8_t>& payload) {
    for (;;) {
        std::uint32_t code = 0;
        switch (state_) {
        case State::Pack:
            if (!Code(code)) return kDemuxEnd;
            if (code == kEndCode) return kDemuxEnd;
            if ((code & 0x1FF) != kPackCode || (code >> 9) != 0) return kDemuxNotAPack;
            state_ = State::PackHeader;
            break;
        case State::PackHeader: {
            // '0010', the system clock reference and the mux rate with their
            // marker bits: eight bytes in an MPEG-1 pack.
            std::vector<std::uint8_t> header;
            if (!Bytes(8, &header)) return kDemuxEnd;
            if ((header[0] >> 4) != 0x2) return kDemuxNotMpeg1;
            ++packs_;
            state_ = State::Packet;
            break;
        }
        case State::Packet: {
            if (!Code(code)) return kDemuxEnd;
            if (!systemHeader_) {
                if (code != kSystemHeaderCode) return kDemuxPacketBeforeSystemHeader;
                std::uint8_t hi = 0, lo = 0;
                if (!Byte(hi) || !Byte(lo) || !Bytes(static_cast<std::size_t>(hi << 8 | lo), nullptr)) return kDemuxEnd;
                systemHeader_ = true;
                state_ = State::NextCode;
                break;
            }
            if (code == kSystemHeaderCode) {
                // A repeated system header: skipped.
                std::uint8_t hi = 0, lo = 0;
                if (!Byte(hi) || !Byte(lo) || !Bytes(static_cast<std::size_t>(hi << 8 | lo), nullptr)) return kDemuxEnd;
                state_ = State::NextCode;
                break;
            }
            if ((code >> 8) != 1 || code < kFirstPacketCode) return kDemuxNotAPack | kDemuxLowerReader;
            std::uint8_t hi = 0, lo = 0;
            if (!Byte(hi) || !Byte(lo)) return kDemuxEnd;
            std::size_t length = static_cast<std::size_t>(hi << 8 | lo);
            const std::uint8_t id = static_cast<std::uint8_t>(code);
            if (id != kPaddingStream && id != kPrivateStream2) {
                // Stuffing, the buffer size, the time stamps.
                std::uint8_t b = 0;
                for (;;) {
                    if (length == 0 || !Byte(b)) return kDemuxEnd;
                    --length;
                    if (b != 0xFF) break;
                }
                if ((b & 0xC0) == 0x40) {
                    std::uint8_t skip = 0;
                    if (length < 2 || !Byte(skip) || !Byte(b)) return kDemuxEnd;
                    length -= 2;
                }
                std::size_t stamps = 0;
                if ((b & 0xF0) == 0x20) stamps = 4;
                else if ((b & 0xF0) == 0x30) stamps = 9;
                else if (b != 0x0F) return 0x101 | kDemuxLowerReader;
                if (length < stamps || !Bytes(stamps, nullptr)) return kDemuxEnd;
                length -= stamps;
            }
            if (!Bytes(length, &payload_)) return kDemuxEnd;
            streamId = id;
            payload = payload_;
            state_ = State::NextCode;
            return 0;
        }
        case State::NextCode:
            if (!Code(code)) return kDemuxEnd;
            pending_ = code;
            hasPending_ = true;
            // Another packet (or a repeated system header) of this pack, or
            // the next pack.
            state_ = (code >> 8) == 1 && ((code & 0xFF) >= (kFirstPacketCode & 0xFF) || code == kSystemHeaderCode) ? State::Packet
                                                                                                                  : State::Pack;
            break;
        }
    }
}

namespace {

// n bytes of the chosen stream, packet after packet.
OSErr ReadStream(MpegAudioSource& s, std::uint8_t* out, std::size_t n) {
    while (n > 0) {
        if (s.payloadAt == s.payload.size()) {
            std::uint8_t id = 0;
            std::span<const std::uint8_t> payload;
            for (;;) {
                const int r = s.demuxer.NextPacket(id, payload);
                if (r != 0) return eofErr;
                if (id == s.stream) break;
            }
            s.payload.assign(payload.begin(), payload.end());
            s.payloadAt = 0;
            continue;
        }
        const std::size_t take = std::min(n, s.payload.size() - s.payloadAt);
        std::memcpy(out, s.payload.data() + s.payloadAt, take);
        s.payloadAt += take;
        out += take;
        n -= take;
    }
    return noErr;
}

} // namespace

OSErr OpenMpegAudio(const FileSpec& file, std::span<const std::uint32_t> tables, std::unique_ptr<MpegAudioSource>& out) {
    if (tables.size() < static_cast<std::size_t>(kMpegTableEntries)) return paramErr;
    auto s = std::unique_ptr<MpegAudioSource>(new (std::nothrow) MpegAudioSource);
    if (!s) return memFullErr;
    s->tables.assign(tables.begin(), tables.end());
    if (OSErr err = s->decoder.Start()) return err == resNotFound ? memFullErr : err;
    if (OSErr err = s->demuxer.Open(file)) return err;
    // The first audio stream whose payload starts with a valid header.
    for (;;) {
        std::uint8_t id = 0;
        std::span<const std::uint8_t> payload;
        if (s->demuxer.NextPacket(id, payload) != 0) return paramErr;
        if (id < 0xC0 || id > 0xDF || payload.size() < 4) continue;
        MpegHeader h;
        if (!ParseMpegHeader(ReadBE32(payload.data()), s->tables, h)) continue;
        s->stream = id;
        s->payload.assign(payload.begin(), payload.end());
        s->payloadAt = 0;
        s->header = h;
        break;
    }
    try {
        s->frame.resize(kFrameBytes);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    s->description.format = kSoundS16;
    s->description.codec = Fcc(".mp2");
    s->description.channels = static_cast<std::uint16_t>(s->header.channels);
    s->description.sampleSize = 16;
    s->description.sampleRate = UIntToUnsignedFixed(static_cast<std::uint32_t>(s->header.sampleRate));
    out = std::move(s);
    return noErr;
}

OSErr ReadMpegFrame(MpegAudioSource& s, std::span<const std::uint8_t>& frame) {
    std::uint8_t word[4];
    if (OSErr err = ReadStream(s, word, 4)) return err;
    MpegHeader h;
    // Slide byte by byte to the next valid header.
    while (!ParseMpegHeader(ReadBE32(word), s.tables, h) || h.frameLength > static_cast<int>(kFrameBytes) || h.frameLength < 4) {
        std::memmove(word, word + 1, 3);
        if (OSErr err = ReadStream(s, word + 3, 1)) return err;
    }
    std::memcpy(s.frame.data(), word, 4);
    if (OSErr err = ReadStream(s, s.frame.data() + 4, static_cast<std::size_t>(h.frameLength - 4))) return err;
    s.header = h;
    frame = std::span<const std::uint8_t>(s.frame.data(), static_cast<std::size_t>(h.frameLength));
    return noErr;
}

OSErr DecodeMpegFrame(MpegAudioSource& s, std::span<const std::uint8_t> frame, int& sampleFrames, std::int16_t* pcm) {
    return s.decoder.DecodeFrame(frame, s.tables, sampleFrames, pcm);
}

void CloseMpegAudio(std::unique_ptr<MpegAudioSource>& source) { source.reset(); }

MpegSoundSource::MpegSoundSource(std::unique_ptr<MpegAudioSource> source, std::int64_t duration) : source_(std::move(source)) {
    timeScale_ = source_->header.sampleRate;
    duration_ = duration;
}

OSErr MpegSoundSource::GetChunk(SoundChunk& out) {
    // A quarter second of frames.
    const int channels = source_->header.channels;
    const int wanted = source_->header.sampleRate / 4;
    pcm_.clear();
    int frames = 0;
    block_.resize(1152 * 2);
    while (frames < wanted) {
        std::span<const std::uint8_t> frame;
        if (ReadMpegFrame(*source_, frame) != noErr) break;
        if (source_->header.channels != channels) break; // the stream changed: it ends here
        int count = 0;
        if (DecodeMpegFrame(*source_, frame, count, block_.data()) != noErr) continue;
        pcm_.insert(pcm_.end(), block_.begin(), block_.begin() + count * channels);
        frames += count;
    }
    if (frames == 0) return eofErr;
    out.description = source_->description;
    out.data = std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(pcm_.data()), pcm_.size() * 2);
    out.sampleCount = frames;
    out.seed = 666;
    return noErr;
}
