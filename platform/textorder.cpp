// Case-insensitive ordering of names, with and without regard to accents.
#include "platform/textorder.h"

namespace {

// Base letters of U+00C0 to U+00FF (0 keeps the character as it is).
constexpr char kLatin1Base[64] = {
    'a', 'a', 'a', 'a', 'a', 'a', 0,   'c', 'e', 'e', 'e', 'e', 'i', 'i', 'i', 'i',  // C0-CF
    0,   'n', 'o', 'o', 'o', 'o', 'o', 0,   'o', 'u', 'u', 'u', 'u', 'y', 0,   0,    // D0-DF
    'a', 'a', 'a', 'a', 'a', 'a', 0,   'c', 'e', 'e', 'e', 'e', 'i', 'i', 'i', 'i',  // E0-EF
    0,   'n', 'o', 'o', 'o', 'o', 'o', 0,   'o', 'u', 'u', 'u', 'u', 'y', 0,   'y'}; // F0-FF

} // namespace

std::string FoldText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xC3 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0xBF && kLatin1Base[next - 0x80] != 0) {
                out.push_back(kLatin1Base[next - 0x80]);
                ++i;
                continue;
            }
        }
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c));
    }
    return out;
}

int CompareText(std::string_view a, std::string_view b) { return FoldText(a).compare(FoldText(b)); }

std::string LowerText(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c - 'A' + 'a');
        } else if (c == 0xC3 && i + 1 < out.size()) {
            // U+00C0 to U+00DE are the capitals of U+00E0 to U+00FE, but for
            // the multiplication sign (U+00D7).
            const auto next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0x80 && next <= 0x9E && next != 0x97) out[i + 1] = static_cast<char>(next + 0x20);
            ++i;
        }
    }
    return out;
}

int CompareTextWithAccents(std::string_view a, std::string_view b) {
    if (const int folded = CompareText(a, b); folded != 0) return folded;
    return LowerText(a).compare(LowerText(b));
}
