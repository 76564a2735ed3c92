// The names of user presets: what a name may be.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/status.h"

// The most characters (UTF-8 code points) a preset's name keeps.
inline constexpr std::size_t kPresetNameLimit = 63;

// The first `count` characters of UTF-8 text, never part of one; a byte
// that starts no valid sequence counts as one character.
std::string_view FirstCharacters(std::string_view text, std::size_t count);

// A user preset's name as stored: blanks around it trimmed (spaces, tabs,
// line ends, no-break and ideographic spaces) and cut to its first 63
// characters. paramErr for a name that is blank, is not UTF-8 text or holds
// a control character; `problem`, when given, then says which in a few
// words. `cut`, when given, tells whether characters were cut off.
[[nodiscard]] OSErr NormalisePresetName(std::string_view typed, std::string& name, std::string* problem = nullptr,
                                        bool* cut = nullptr);
