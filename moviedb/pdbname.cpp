// Database names in the handheld's character set, kept distinct.
#include "moviedb/pdbname.h"

#include <algorithm>
#include <cstdint>

namespace {

// Code page 1252's bytes 0x80 to 0x9F as Unicode (0 where the byte is unused).
constexpr char32_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

// The base letters of Latin Extended-A (U+0100 to U+017F), for the letters
// code page 1252 lacks.
constexpr char kLatinExtendedA[] = "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIiIiJjKkkLlLlLlL"
                                   "lLlNnNnNnnNnOoOoOoOoRrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs";
static_assert(sizeof kLatinExtendedA == 129);

constexpr unsigned char kEllipsis = 0x85;
constexpr unsigned char kReplacement = '_';

// Combining marks: names written in decomposed form (an accent after its
// letter, as some systems store file names) keep the letter.
bool Combining(char32_t c) { return c >= 0x300 && c <= 0x36F; }

unsigned char ToCodePage(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return ' ';
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == c) return static_cast<unsigned char>(0x80 + i);
    if (c >= 0x100 && c <= 0x17F) return static_cast<unsigned char>(kLatinExtendedA[c - 0x100]);
    return kReplacement;
}

// The next character of UTF-8 text; false for a byte that starts none (it
// is skipped by itself).
bool NextCharacter(std::string_view text, std::size_t& i, char32_t& c) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) {
        ++i;
        return false;
    }
    c = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(i + static_cast<std::size_t>(k)) & 0xC0) != 0x80) {
            ++i;
            return false;
        }
        c = (c << 6) | (byte(i + static_cast<std::size_t>(k)) & 0x3F);
    }
    // Overlong forms and surrogates are not characters.
    constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return false;
    }
    i += static_cast<std::size_t>(length);
    return true;
}

// At most `limit` bytes of a name already in the handheld's character set:
// a longer one keeps its start and its last ten characters around an
// ellipsis.
std::string Shorten(const std::string& name, std::size_t limit) {
    if (name.size() <= limit) return name;
    constexpr std::size_t kEnd = 10;
    const std::size_t start = limit - kEnd - 1;
    return name.substr(0, start) + static_cast<char>(kEllipsis) + name.substr(name.size() - kEnd);
}

} // namespace

std::string HandheldText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        if (!NextCharacter(utf8, i, c)) out += static_cast<char>(kReplacement);
        else if (!Combining(c)) out += static_cast<char>(ToCodePage(c));
    }
    return out;
}

bool SameDatabaseName(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), kDatabaseNameLimit);
    if (n != std::min(b.size(), kDatabaseNameLimit)) return false;
    const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    for (std::size_t i = 0; i < n; ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

std::string UniqueDatabaseName(std::string_view utf8, const std::vector<std::string>& taken) {
    // A name with nothing the handheld shows (only accents) is no name.
    std::string whole = HandheldText(utf8);
    if (whole.empty()) whole = "Lumexa document";
    const auto free = [&](const std::string& name) {
        return std::none_of(taken.begin(), taken.end(), [&](const std::string& t) { return SameDatabaseName(name, t); });
    };
    std::string name = Shorten(whole, kDatabaseNameLimit);
    for (unsigned n = 2; !free(name); ++n) {
        const std::string suffix = " " + std::to_string(n);
        name = Shorten(whole, kDatabaseNameLimit - suffix.size()) + suffix;
    }
    return name;
}
