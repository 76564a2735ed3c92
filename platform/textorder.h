// The platform's string ordering for names shown to users: case- and
// diacritic-insensitive ("Zodiac" = "zodiac", "CLIÉ" = "clie").
#pragma once

#include <string>
#include <string_view>

// The text folded: ASCII letters lowered, the accented Latin letters of
// UTF-8 reduced to their base letters.
std::string FoldText(std::string_view text);
// Negative, zero or positive as `a` sorts before, with or after `b`.
int CompareText(std::string_view a, std::string_view b);
inline bool EqualText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }
