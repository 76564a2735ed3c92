// The names of user presets: what a name may be, who already holds one, and
// which names are close to one typed wrongly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Who holds a name, compared the way names are (trimmed, cut, without
// regard to case or accents): no preset, a user preset, or a device
// preset (hidden ones too). Device first when both do.
enum class PresetNameOwner : std::uint8_t { None, User, Device };
PresetNameOwner PresetNameTaken(std::string_view name);

// The device presets (listed ones) and user presets whose names are closest
// to a name typed wrongly, best first, at most `most`: a name one letter
// away, then names holding the typed text, then names a few letters away
// (fewer for short text), without regard to case or accents. Empty when
// none is close.
std::vector<std::string> SuggestPresetNames(std::string_view typed, std::size_t most = 3);
