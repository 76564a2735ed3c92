// The names of user presets: their rule and the suggestions for a name
// typed wrongly.
#include "presets/presetnames.h"

#include <algorithm>
#include <tuple>

#include "platform/textorder.h"
#include "presets/presets.h"

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

// The characters of text as code points; a byte that starts no valid
// sequence stands for itself, apart from every code point.
std::vector<char32_t> Characters(std::string_view text) {
    std::vector<char32_t> out;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        out.push_back(length ? Decode(text, at, length) : 0x110000u + static_cast<unsigned char>(text[at]));
        at += length ? length : 1;
    }
    return out;
}

// The blank at the start (or end) of text: its length, or 0.
std::size_t BlankAt(std::string_view text, bool atEnd) {
    for (std::string_view blank : {" ", "\t", "\n", "\r", "\v", "\f", "\xC2\xA0", "\xE3\x80\x80"})
        if (atEnd ? text.ends_with(blank) : text.starts_with(blank)) return blank.size();
    return 0;
}

// The edits (insertions, deletions, changes) that turn `a` into `b`; with
// `anywhere`, into any part of `b`.
std::size_t Distance(const std::vector<char32_t>& a, const std::vector<char32_t>& b, bool anywhere) {
    std::vector<std::size_t> row(b.size() + 1), next(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = anywhere ? 0 : j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        next[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j)
            next[j] = std::min({row[j] + 1, next[j - 1] + 1, row[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
        std::swap(row, next);
    }
    return anywhere ? *std::min_element(row.begin(), row.end()) : row.back();
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

std::vector<std::string> SuggestPresetNames(std::string_view typed, std::size_t most) {
    std::string key;
    if (NormalisePresetName(typed, key) != noErr || most == 0) return {};
    // Every listed device preset and every user preset, each name once.
    std::vector<std::string> names;
    auto take = [&](std::string_view category) {
        if (auto list = ListPresets(category))
            for (const std::string& name : list->Names())
                if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return EqualText(n, name); }))
                    names.push_back(name);
    };
    take("custom");
    if (auto makers = ListPresets("manufac"))
        for (const std::string& maker : makers->Names()) take(maker);

    const std::vector<char32_t> wanted = Characters(FoldText(key));
    const std::size_t n = wanted.size();
    const std::size_t near = n <= 4 ? 1 : n <= 9 ? 2 : 3;
    // Best first: a name one edit away, then names holding the text (one
    // edit aside for longer text), then names a few edits away; then fewer
    // edits, lengths closer to the typed one, the menus' order.
    struct Candidate {
        int group;
        std::size_t edits, gap;
        const std::string* name;
    };
    std::vector<Candidate> found;
    for (const std::string& name : names) {
        const std::vector<char32_t> letters = Characters(FoldText(name));
        const std::size_t gap = letters.size() > n ? letters.size() - n : n - letters.size();
        const std::size_t edits = Distance(wanted, letters, false), inside = Distance(wanted, letters, true);
        if (edits <= 1) found.push_back({0, edits, gap, &name});
        else if ((n >= 2 && inside == 0) || (n >= 5 && inside <= 1)) found.push_back({1, inside, gap, &name});
        else if (edits <= near) found.push_back({2, edits, gap, &name});
    }
    std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        if (std::tie(a.group, a.edits, a.gap) != std::tie(b.group, b.edits, b.gap))
            return std::tie(a.group, a.edits, a.gap) < std::tie(b.group, b.edits, b.gap);
        return CompareText(*a.name, *b.name) < 0;
    });
    std::vector<std::string> out;
    for (std::size_t i = 0; i < found.size() && i < most; ++i) out.push_back(*found[i].name);
    return out;
}
