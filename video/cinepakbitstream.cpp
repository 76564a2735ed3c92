// The bit stream of "Cinepak Mobile" frames.
#include "video/cinepakbitstream.h"

#include "platform/bytes.h"

namespace cinepak {
namespace {

// Strip and vector chunk identifiers, intra for key frames.
constexpr std::uint8_t kIntraStrip = 0x10, kInterStrip = 0x11;
constexpr std::uint8_t kIntraVectors = 0x30, kInterVectors = 0x31;
// The bit that turns a codebook chunk into one that updates flagged slots only.
constexpr std::uint8_t kPartial = 0x01;
// Frame flags: each strip keeps codebooks of its own.
constexpr std::uint8_t kOwnCodebooks = 0x01;

} // namespace

OSErr FrameWriter::BeginFrame(std::uint16_t width, std::uint16_t height, std::uint16_t strips, std::size_t expected) {
    if (OSErr err = frame_.Reserve(static_cast<std::uint32_t>(expected))) return err;
    std::uint8_t header[kFrameHeaderBytes] = {kOwnCodebooks}; // its size patched in by Finish()
    WriteBE16(header + 4, width);
    WriteBE16(header + 6, height);
    WriteBE16(header + 8, strips);
    return frame_.Append(header);
}

OSErr FrameWriter::BeginStrip(std::uint16_t height, std::uint16_t width) {
    // Its size, then its top left corner and its height and width.
    stripAt_ = frame_.Size();
    std::uint8_t header[kStripHeaderBytes] = {key_ ? kIntraStrip : kInterStrip};
    WriteBE16(header + 8, height);
    WriteBE16(header + 10, width);
    return frame_.Append(header);
}

OSErr FrameWriter::PutCodebook(Book book, const BookUpdate& update, const std::array<Vec, 256>& entries) {
    if (update.highest < 0) return noErr;
    const auto id = static_cast<std::uint8_t>(book);
    std::uint32_t at = 0;
    if (!update.partial) {
        if (OSErr err = BeginChunk(id, at)) return err;
        for (int i = 0; i <= update.highest; ++i)
            if (OSErr err = PutEntry(entries[static_cast<std::size_t>(i)])) return err;
        EndChunk(at);
        return noErr;
    }
    if (OSErr err = BeginChunk(static_cast<std::uint8_t>(id | kPartial), at)) return err;
    for (std::size_t group = 0; group <= static_cast<std::size_t>(update.highest) / 32; ++group) {
        std::uint32_t flags = 0;
        for (std::size_t k = 0; k < 32; ++k)
            if (update.filled[group * 32 + k]) flags |= 0x80000000u >> k;
        if (OSErr err = frame_.AppendBE32(flags)) return err;
        for (std::size_t k = 0; k < 32; ++k)
            if (update.filled[group * 32 + k])
                if (OSErr err = PutEntry(entries[group * 32 + k])) return err;
    }
    EndChunk(at);
    return noErr;
}

OSErr FrameWriter::BeginVectors() {
    flagsUsed_ = 32;
    return BeginChunk(key_ ? kIntraVectors : kInterVectors, vectorsAt_);
}

// A difference frame flags each macroblock coded or not; a key frame codes
// them all. A coded one is then flagged V4 or V1.
OSErr FrameWriter::PutSkip() { return key_ ? noErr : PutFlag(false); }

OSErr FrameWriter::PutV1(std::uint8_t slot) {
    if (!key_)
        if (OSErr err = PutFlag(true)) return err;
    if (OSErr err = PutFlag(false)) return err;
    return frame_.AppendByte(slot);
}

OSErr FrameWriter::PutV4(const std::array<std::uint8_t, 4>& slots) {
    if (!key_)
        if (OSErr err = PutFlag(true)) return err;
    if (OSErr err = PutFlag(true)) return err;
    return frame_.Append(slots);
}

void FrameWriter::EndStrip() {
    EndChunk(vectorsAt_);
    EndChunk(stripAt_);
}

void FrameWriter::Finish(ByteBlock& out) {
    EndChunk(0);
    out = std::move(frame_);
}

OSErr FrameWriter::BeginChunk(std::uint8_t id, std::uint32_t& at) {
    at = frame_.Size();
    const std::uint8_t header[kChunkHeaderBytes] = {id};
    return frame_.Append(header);
}

void FrameWriter::EndChunk(std::uint32_t at) {
    const std::uint32_t size = frame_.Size() - at;
    frame_.Data()[at + 1] = static_cast<std::uint8_t>(size >> 16);
    frame_.Data()[at + 2] = static_cast<std::uint8_t>(size >> 8);
    frame_.Data()[at + 3] = static_cast<std::uint8_t>(size);
}

OSErr FrameWriter::PutEntry(const Vec& v) {
    std::uint8_t entry[kEntryBytes];
    for (std::size_t c = 0; c < 4; ++c) entry[c] = static_cast<std::uint8_t>(v.c[c]);
    entry[4] = static_cast<std::uint8_t>(static_cast<std::int8_t>(v.c[4]));
    entry[5] = static_cast<std::uint8_t>(static_cast<std::int8_t>(v.c[5]));
    return frame_.Append(entry);
}

OSErr FrameWriter::PutFlag(bool bit) {
    if (flagsUsed_ == 32) {
        if (OSErr err = frame_.Grow(4, &flagWord_)) return err;
        flagsUsed_ = 0;
    }
    if (bit)
        frame_.Data()[flagWord_ + static_cast<std::uint32_t>(flagsUsed_ / 8)] |= static_cast<std::uint8_t>(0x80 >> (flagsUsed_ % 8));
    ++flagsUsed_;
    return noErr;
}

} // namespace cinepak
