// Database names as the handheld keeps them: at most 31 bytes in the
// handheld's character set (Windows code page 1252 for Latin text), one
// database per name. Names come from file names, which are UTF-8 here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kDatabaseNameLimit = 31;

// UTF-8 text in the handheld's character set, one byte a character. A
// character the handheld cannot show becomes its base letter where it has
// one (Polish ł → l), else '_'; combining accents are dropped (a decomposed
// "é" keeps its "e"); control characters become spaces; bytes that are not
// UTF-8 become '_'.
std::string HandheldText(std::string_view utf8);

// Two names the handheld would take for one (letter case aside).
bool SameDatabaseName(std::string_view a, std::string_view b);

// The name of a database made from `utf8` (empty, or nothing the handheld
// shows: "Lumexa document") that no name in `taken` has:
// - the name in the handheld's character set, when it fits in 31 bytes;
// - a longer one keeps its first 20 and its last 10 characters with an
//   ellipsis between ("Summer holiday at th…use part 1"), since names of
//   one series tend to differ at their ends;
// - when that name is taken, " 2", " 3", … is added (the name before it
//   shortened the same way to leave room), and the first free one is used.
std::string UniqueDatabaseName(std::string_view utf8, const std::vector<std::string>& taken);
