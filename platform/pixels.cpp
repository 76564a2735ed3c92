// Planes interleaved into 'BGRA' pixels.
#include "platform/pixels.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

void InterleaveBgraPlain(const std::uint8_t* blue, const std::uint8_t* green, const std::uint8_t* red,
                         const std::uint8_t* alpha, std::uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, out += 4) {
        out[0] = blue[i];
        out[1] = green[i];
        out[2] = red[i];
        out[3] = alpha != nullptr ? alpha[i] : 255;
    }
}

void InterleaveBgra(const std::uint8_t* blue, const std::uint8_t* green, const std::uint8_t* red, const std::uint8_t* alpha,
                    std::uint8_t* out, std::size_t count) {
    std::size_t i = 0;
#ifdef __SSE2__
    // Sixteen pixels a step: bytes pair up into blue-green and red-alpha
    // words, and the words into pixels.
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xFF));
    for (; i + 16 <= count; i += 16, out += 64) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + i));
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + i));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(red + i));
        const __m128i a = alpha != nullptr ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + i)) : opaque;
        const __m128i bgLow = _mm_unpacklo_epi8(b, g), bgHigh = _mm_unpackhi_epi8(b, g);
        const __m128i raLow = _mm_unpacklo_epi8(r, a), raHigh = _mm_unpackhi_epi8(r, a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bgLow, raLow));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bgLow, raLow));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_unpacklo_epi16(bgHigh, raHigh));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_unpackhi_epi16(bgHigh, raHigh));
    }
#endif
    InterleaveBgraPlain(blue + i, green + i, red + i, alpha != nullptr ? alpha + i : nullptr, out, count - i);
}
