// The names of user presets: their rule.
#include "presets/presetnames.h"

#include <algorithm>

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF).
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[at + k]);
        if (byte < (k == 1 ? low : 0x80u) || byte > (k == 1 ? high : 0xBFu)) return 0;
    }
    return length;
}

// The code point of a valid sequence.
char32_t Decode(std::string_view text, std::size_t at, std::size_t length) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (length == 1) return lead;
    char32_t c = lead & (0xFFu >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) c = c << 6 | (static_cast<unsigned char>(text[at + k]) & 0x3Fu);
    return c;
}

// The blank at the start (or end) of text: its length, or 0.
std::size_t BlankAt(std::string_view text, bool atEnd) {
    for (std::string_view blank : {" ", "\t", "\n", "\r", "\v", "\f", "\xC2\xA0", "\xE3\x80\x80"})
        if (atEnd ? text.ends_with(blank) : text.starts_with(blank)) return blank.size();
    return 0;
}

} // namespace

std::string_view FirstCharacters(std::string_view text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t n = 0; n < count && at < text.size(); ++n) at += std::max<std::size_t>(SequenceLength(text, at), 1);
    return text.substr(0, at);
}

OSErr NormalisePresetName(std::string_view typed, std::string& name, std::string* problem, bool* cut) {
    auto refuse = [&](const char* why) {
        if (problem) *problem = why;
        return paramErr;
    };
    while (std::size_t n = BlankAt(typed, false)) typed.remove_prefix(n);
    while (std::size_t n = BlankAt(typed, true)) typed.remove_suffix(n);
    if (typed.empty()) return refuse("the name is blank");
    for (std::size_t at = 0; at < typed.size();) {
        const std::size_t length = SequenceLength(typed, at);
        if (length == 0) return refuse("the name is not UTF-8 text");
        const char32_t c = Decode(typed, at, length);
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return refuse("the name holds a control character");
        at += length;
    }
    const std::string_view kept = FirstCharacters(typed, kPresetNameLimit);
    if (cut) *cut = kept.size() < typed.size();
    name.assign(kept);
    return noErr;
}
