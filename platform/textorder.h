// The platform's string ordering for names shown to users: case- and
// diacritic-insensitive ("Zodiac" = "zodiac", "CLIÉ" = "clie"), and the
// diacritic-sensitive variant that file lists sort by.
#pragma once

#include <string>
#include <string_view>

// The text folded: ASCII letters lowered, the accented Latin letters of
// UTF-8 reduced to their base letters.
std::string FoldText(std::string_view text);
// Negative, zero or positive as `a` sorts before, with or after `b`.
int CompareText(std::string_view a, std::string_view b);
inline bool EqualText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

// The text lowered, accents kept: ASCII letters and the accented Latin
// capitals of UTF-8 ("É" becomes "é").
std::string LowerText(std::string_view text);
// Case-insensitive but diacritic-sensitive: "Clip" = "clip", while
// "résumé" and "resume" differ. Accents only break ties, so a name sorts
// right after its unaccented twin ("resume", "résumé", "resumes").
int CompareTextWithAccents(std::string_view a, std::string_view b);
