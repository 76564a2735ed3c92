// The run-length repack of "Cinepak Mobile" frames and its undoing.
#include "video/cinepakrepack.h"

#include <algorithm>

namespace {

constexpr std::size_t kHeader = 4;
constexpr std::size_t kLongestLiteral = 4096; // 12 bits of length
constexpr std::size_t kLongestRepeat = 64;

OSErr EmitLiteral(ByteBlock& out, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t n = std::min(bytes.size(), kLongestLiteral);
        OSErr err = noErr;
        if (n <= 128) {
            err = out.AppendByte(static_cast<std::uint8_t>(0x80 | (n - 1)));
        } else {
            err = out.AppendByte(static_cast<std::uint8_t>(0x10 | ((n - 1) >> 8)));
            if (!err) err = out.AppendByte(static_cast<std::uint8_t>((n - 1) & 0xFF));
        }
        if (!err) err = out.Append(bytes.first(n));
        if (err) return err;
        bytes = bytes.subspan(n);
    }
    return noErr;
}

OSErr EmitRepeat(ByteBlock& out, std::uint8_t value, std::size_t count) {
    // Zeros and 0xFF have one-byte codes of their own.
    const std::size_t piece = value == 0x00 ? 32 : value == 0xFF ? 8 : 64;
    while (count > 0) {
        const std::size_t n = std::min(count, piece);
        OSErr err;
        if (value == 0x00) {
            err = out.AppendByte(static_cast<std::uint8_t>(0x20 | (n - 1)));
        } else if (value == 0xFF) {
            err = out.AppendByte(static_cast<std::uint8_t>(0x08 | (n - 1)));
        } else {
            err = out.AppendByte(static_cast<std::uint8_t>(0x40 | (n - 1)));
            if (!err) err = out.AppendByte(value);
        }
        if (err) return err;
        count -= n;
    }
    return noErr;
}

} // namespace

OSErr RepackCinepakFrame(std::span<const std::uint8_t> frame, ByteBlock& out, bool& packed) {
    packed = false;
    if (frame.size() < kHeader) return ByteBlock::FromBytes(frame, out);
    ByteBlock p;
    if (OSErr err = p.Reserve(static_cast<std::uint32_t>(std::min<std::size_t>(2 * frame.size() + 16, ByteBlock::kMaxSize))))
        return err;
    if (OSErr err = p.Append(frame.first(kHeader))) return err;
    const std::size_t n = frame.size();
    std::size_t pos = kHeader;
    while (pos < n) {
        // A literal runs until three equal bytes start, or two bytes remain.
        const std::size_t literal = pos;
        while (pos + 2 < n && !(frame[pos] == frame[pos + 1] && frame[pos] == frame[pos + 2])) ++pos;
        if (OSErr err = EmitLiteral(p, frame.subspan(literal, pos - literal))) return err;
        // Then the repeat of the byte where it stopped.
        if (pos < n) {
            std::size_t count = 1;
            while (count < kLongestRepeat && pos + count < n && frame[pos + count] == frame[pos]) ++count;
            if (OSErr err = EmitRepeat(p, frame[pos], count)) return err;
            pos += count;
        }
    }
    const float gain = static_cast<float>(frame.size() - std::min<std::size_t>(p.Size(), frame.size())) /
                       static_cast<float>(frame.size()) * 100.0f;
    if (p.Size() >= frame.size() || gain < 2.0f) return ByteBlock::FromBytes(frame, out);
    p.Data()[0] |= 0x80;
    out = std::move(p);
    packed = true;
    return noErr;
}

OSErr UnpackCinepakFrame(std::span<const std::uint8_t> payload, ByteBlock& out) {
    if (payload.size() < kHeader || (payload[0] & 0x80) == 0) return ByteBlock::FromBytes(payload, out);
    ByteBlock f;
    if (OSErr err = f.Append(payload.first(kHeader))) return err;
    f.Data()[0] &= 0x7F;
    std::size_t pos = kHeader;
    while (pos < payload.size()) {
        const std::uint8_t c = payload[pos++];
        OSErr err = noErr;
        if (c >= 0x80 || (c >= 0x10 && c < 0x20)) {
            std::size_t n = (c & 0x7F) + 1u;
            if (c < 0x80) {
                if (pos >= payload.size()) return paramErr;
                n = (std::size_t{c & 0x0Fu} << 8) + payload[pos++] + 1;
            }
            if (payload.size() - pos < n) return paramErr;
            err = f.Append(payload.subspan(pos, n));
            pos += n;
        } else if (c >= 0x40) {
            if (pos >= payload.size()) return paramErr;
            const std::uint8_t value = payload[pos++];
            for (int i = 0; i <= (c & 0x3F) && !err; ++i) err = f.AppendByte(value);
        } else if (c >= 0x20) {
            std::uint32_t at = 0;
            err = f.Grow((c & 0x1Fu) + 1, &at);
        } else if (c >= 0x08) {
            for (int i = 0; i <= (c & 7) && !err; ++i) err = f.AppendByte(0xFF);
        } else {
            return paramErr; // 0x00 to 0x07: no such code
        }
        if (err) return err;
    }
    out = std::move(f);
    return noErr;
}
