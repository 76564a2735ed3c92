// The per-user preference store: one flattened atom container per preference
// type, in a file named after the type ("VTRP") in the user's configuration
// folder. Writes are atomic. A file that does not parse is renamed aside
// ("VTRP.bad-<time>") and treated as absent, so nothing the user stored is
// ever silently destroyed.
#pragma once

#include "platform/atoms.h"
#include "platform/files.h"

// Points the store at another folder (tests, portable installs).
inline constexpr const char* kPreferenceFolderVariable = "VANTRO_CONFIG_DIR";

// $VANTRO_CONFIG_DIR, else $XDG_CONFIG_HOME/vantro-davavivi, else
// $HOME/.config/vantro-davavivi.
FileSpec PreferenceFolder();
FileSpec PreferenceFile(OSType type);

// Answers fnfErr when there is no preference of that type (also after a
// corrupt file was moved aside).
[[nodiscard]] OSErr GetUserPreference(OSType type, AtomContainer& out);
[[nodiscard]] OSErr SetUserPreference(OSType type, const AtomContainer& preference);
