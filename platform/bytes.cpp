// Big- and little-endian helpers, fixed point, four-char codes and time scales.
#include "platform/bytes.h"

#include <cmath>
#include <cstdio>
#include <limits>

// ---- ByteReader ----------------------------------------------------------

bool ByteReader::U8(std::uint8_t& v) {
    if (Remaining() < 1) return false;
    v = bytes_[pos_++];
    return true;
}

bool ByteReader::U16(std::uint16_t& v) {
    if (Remaining() < 2) return false;
    v = ReadBE16(bytes_.data() + pos_);
    pos_ += 2;
    return true;
}

bool ByteReader::U32(std::uint32_t& v) {
    if (Remaining() < 4) return false;
    v = ReadBE32(bytes_.data() + pos_);
    pos_ += 4;
    return true;
}

bool ByteReader::I16(std::int16_t& v) {
    std::uint16_t u;
    if (!U16(u)) return false;
    v = static_cast<std::int16_t>(u);
    return true;
}

bool ByteReader::I32(std::int32_t& v) {
    std::uint32_t u;
    if (!U32(u)) return false;
    v = static_cast<std::int32_t>(u);
    return true;
}

bool ByteReader::Bytes(std::size_t n, std::span<const std::uint8_t>& out) {
    if (Remaining() < n) return false;
    out = bytes_.subspan(pos_, n);
    pos_ += n;
    return true;
}

bool ByteReader::PString(std::string& out) {
    std::size_t start = pos_;
    std::uint8_t length;
    std::span<const std::uint8_t> chars;
    if (!U8(length) || !Bytes(length, chars)) {
        pos_ = start;
        return false;
    }
    out.assign(chars.begin(), chars.end());
    return true;
}

bool ByteReader::Skip(std::size_t n) {
    if (Remaining() < n) return false;
    pos_ += n;
    return true;
}

// ---- Four-char codes -----------------------------------------------------

FourCharCode FourCharCodeFromText(std::string_view text) {
    FourCharCode code = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        std::uint8_t c = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
        code = (code << 8) | c;
    }
    return code;
}

void AppendPrintable(std::string& text, std::uint8_t byte) {
    if (byte >= 0x20 && byte < 0x7F) {
        text.push_back(static_cast<char>(byte));
        return;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    text += escaped;
}

std::string FourCharCodeToText(FourCharCode code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) AppendPrintable(text, static_cast<std::uint8_t>(code >> shift));
    return text;
}

// ---- Fixed point ---------------------------------------------------------

namespace {

Fixed Saturate(std::int64_t v) {
    if (v > fixed1Max) return fixed1Max;
    if (v < fixed1Min) return fixed1Min;
    return static_cast<Fixed>(v);
}

// numerator / denominator rounded to nearest, halves away from zero.
std::int64_t DivideRounded(std::int64_t numerator, std::int64_t denominator) {
    bool negative = (numerator < 0) != (denominator < 0);
    // Callers pass magnitudes below 2^62 (a product of two 32-bit values), so
    // the rounding addend cannot overflow.
    std::uint64_t n = numerator < 0 ? 0 - static_cast<std::uint64_t>(numerator) : static_cast<std::uint64_t>(numerator);
    std::uint64_t d = denominator < 0 ? 0 - static_cast<std::uint64_t>(denominator) : static_cast<std::uint64_t>(denominator);
    std::uint64_t q = (n + d / 2) / d;
    return negative ? -static_cast<std::int64_t>(q) : static_cast<std::int64_t>(q);
}

Fixed DivideByZero(std::int64_t numerator) { return numerator < 0 ? fixed1Min : fixed1Max; }

} // namespace

Fixed FixMul(Fixed a, Fixed b) {
    std::int64_t product = std::int64_t{a} * std::int64_t{b};
    return Saturate(DivideRounded(product, fixed1));
}

Fixed FixDiv(Fixed a, Fixed b) {
    if (b == 0) return DivideByZero(a);
    return Saturate(DivideRounded(std::int64_t{a} * fixed1, b));
}

Fixed FixRatio(std::int32_t numerator, std::int32_t denominator) {
    if (denominator == 0) return DivideByZero(numerator);
    return Saturate(DivideRounded(std::int64_t{numerator} * fixed1, denominator));
}

std::int32_t FixRound(Fixed f) {
    return static_cast<std::int32_t>(DivideRounded(f, fixed1));
}

double FixedToDouble(Fixed f) { return static_cast<double>(f) / fixed1; }

Fixed DoubleToFixed(double d) {
    if (std::isnan(d)) return 0;
    double scaled = std::round(d * fixed1); // std::round: halves away from zero
    if (scaled >= static_cast<double>(fixed1Max)) return fixed1Max;
    if (scaled <= static_cast<double>(fixed1Min)) return fixed1Min;
    return static_cast<Fixed>(scaled);
}

double UnsignedFixedToDouble(UnsignedFixed f) { return static_cast<double>(f) / 65536.0; }

UnsignedFixed DoubleToUnsignedFixed(double d) {
    if (std::isnan(d) || d <= 0) return 0;
    const double scaled = std::round(d * 65536.0);
    if (scaled >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<UnsignedFixed>(scaled);
}

// ---- Time scales ---------------------------------------------------------

std::int64_t ConvertTimeScale(std::int64_t value, std::int32_t fromScale, std::int32_t toScale) {
    if (fromScale <= 0 || toScale <= 0) return 0;
    if (fromScale == toScale) return value;
    __int128 scaled = static_cast<__int128>(value) * toScale;
    __int128 q = scaled / fromScale;
    if (scaled % fromScale != 0 && scaled < 0) --q; // toward minus infinity
    if (q > std::numeric_limits<std::int64_t>::max()) return std::numeric_limits<std::int64_t>::max();
    if (q < std::numeric_limits<std::int64_t>::min()) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(q);
}
