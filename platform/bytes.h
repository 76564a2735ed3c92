// Byte-level helpers shared by every file format of the system: big-endian
// numbers, four-char codes, 16.16 fixed point and time-scale conversion.
// Every number in the movie database and in atom containers is big-endian;
// these are the only places that swap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// ---- Big-endian access ---------------------------------------------------

constexpr std::uint16_t ReadBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
constexpr std::uint32_t ReadBE32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
constexpr void WriteBE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
constexpr void WriteBE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// ---- Little-endian access (RIFF files) --------------------------------------

constexpr std::uint16_t ReadLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
constexpr std::uint32_t ReadLE32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

// A bounds-checked big-endian reader over untrusted bytes. A read past the end
// fails (answers false) and leaves the position where it was; nothing is ever
// read outside the span.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    [[nodiscard]] bool U8(std::uint8_t& v);
    [[nodiscard]] bool U16(std::uint16_t& v);
    [[nodiscard]] bool U32(std::uint32_t& v);
    [[nodiscard]] bool I16(std::int16_t& v);
    [[nodiscard]] bool I32(std::int32_t& v);
    [[nodiscard]] bool Bytes(std::size_t n, std::span<const std::uint8_t>& out);
    // A length-prefixed string: one length byte, then that many characters.
    [[nodiscard]] bool PString(std::string& out);
    [[nodiscard]] bool Skip(std::size_t n);

    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return bytes_.size() - pos_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// ---- Four-char codes -----------------------------------------------------

using FourCharCode = std::uint32_t;
using OSType = FourCharCode;

// 'sean' as a 32-bit value, first character in the most significant byte.
consteval FourCharCode Fcc(const char (&s)[5]) {
    return (FourCharCode(std::uint8_t(s[0])) << 24) | (FourCharCode(std::uint8_t(s[1])) << 16) |
           (FourCharCode(std::uint8_t(s[2])) << 8) | FourCharCode(std::uint8_t(s[3]));
}
// The same at run time; text shorter than four characters is padded with
// blanks ("pdb" -> 'pdb '), longer text is cut.
FourCharCode FourCharCodeFromText(std::string_view text);
// Four characters for messages. Unprintable bytes appear as \xNN.
std::string FourCharCodeToText(FourCharCode code);
// Appends one byte as text: itself when printable ASCII, else \xNN.
void AppendPrintable(std::string& text, std::uint8_t byte);

// ---- 16.16 fixed point ---------------------------------------------------
//
// Rounding rule, shared by every operation below: results are rounded to the
// nearest representable value, halves away from zero, and saturate to
// fixed1Max / fixed1Min instead of wrapping. Division by zero saturates to the
// sign of the dividend (0 / 0 gives fixed1Max).

using Fixed = std::int32_t;
inline constexpr Fixed fixed1 = 0x00010000;
inline constexpr Fixed fixed1Max = 0x7FFFFFFF;
inline constexpr Fixed fixed1Min = static_cast<Fixed>(0x80000000u);

constexpr Fixed IntToFixed(std::int32_t n) { return static_cast<Fixed>(static_cast<std::uint32_t>(n) << 16); }
// The integer part: the value rounded toward minus infinity (-1.5 gives -2).
// For the rates and sizes of the system, which are positive, it is the
// whole-number part before the point.
constexpr std::int32_t FixedIntegerPart(Fixed f) { return f >> 16; }
// Clears the 16 fraction bits.
constexpr Fixed FixedTruncate(Fixed f) { return static_cast<Fixed>(static_cast<std::uint32_t>(f) & 0xFFFF0000u); }

// Unsigned 16.16 for sample rates: 44100.0 needs the sign bit.
using UnsignedFixed = std::uint32_t;
constexpr UnsignedFixed UIntToUnsignedFixed(std::uint32_t n) { return n << 16; }
constexpr std::uint32_t UnsignedFixedIntegerPart(UnsignedFixed f) { return f >> 16; }
constexpr UnsignedFixed UnsignedFixedTruncate(UnsignedFixed f) { return f & 0xFFFF0000u; }
double UnsignedFixedToDouble(UnsignedFixed f);
// Rounded to nearest; saturates at 0 and 65535.99998.
UnsignedFixed DoubleToUnsignedFixed(double d);

Fixed FixMul(Fixed a, Fixed b);
Fixed FixDiv(Fixed a, Fixed b);
// numerator / denominator of two integers, as 16.16.
Fixed FixRatio(std::int32_t numerator, std::int32_t denominator);
// Nearest integer.
std::int32_t FixRound(Fixed f);
double FixedToDouble(Fixed f);
Fixed DoubleToFixed(double d);

// ---- Time scales ---------------------------------------------------------

// A time value counted in units of 1/fromScale seconds, expressed in units of
// 1/toScale seconds. Rounds toward minus infinity, so a time that falls
// inside a unit maps to that unit's start (a frame shown at 0.999 s belongs
// to second 0). Scales must be positive; anything else gives 0.
std::int64_t ConvertTimeScale(std::int64_t value, std::int32_t fromScale, std::int32_t toScale);
