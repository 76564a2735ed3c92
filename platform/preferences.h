// The per-user preference store: one flattened atom container per preference
// type, in a file named after the type ("VTRP") in the user's configuration
// folder. Writes are atomic. A file that does not parse is renamed aside
// ("VTRP.bad-<time>") and treated as absent, so nothing the user stored is
// ever silently destroyed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/atoms.h"
#include "platform/files.h"

// Points the store at another folder (tests, portable installs).
inline constexpr const char* kPreferenceFolderVariable = "VANTRO_CONFIG_DIR";

// $VANTRO_CONFIG_DIR, else $XDG_CONFIG_HOME/vantro-davavivi, else
// $HOME/.config/vantro-davavivi.
FileSpec PreferenceFolder();
FileSpec PreferenceFile(OSType type);

// What the store had to do that the user should hear of (a file or part of
// one kept aside), one sentence each, naming the file kept; taken once.
std::vector<std::string> TakePreferenceNotices();
void AddPreferenceNotice(std::string notice);
// Writes damaged bytes of a preference beside its file, as
// "<TYPE>.bad-<what>-<time>", and answers the path.
[[nodiscard]] OSErr KeepAside(OSType type, std::string_view what, std::span<const std::uint8_t> bytes, FileSpec& kept);

// Answers fnfErr when there is no preference of that type (also after a
// corrupt file was moved aside).
[[nodiscard]] OSErr GetUserPreference(OSType type, AtomContainer& out);
[[nodiscard]] OSErr SetUserPreference(OSType type, const AtomContainer& preference);

// The store's lock for one preference type, held while the object lives: an
// advisory lock on "<TYPE>.lock" beside the file. A read-modify-write of a
// preference happens under it, so that processes and threads changing it
// at once (the command line, the window) keep each other's changes. Nested
// in one thread it locks once. Where the lock cannot be had (no folder to
// write), the store works unlocked.
class PreferenceLock {
public:
    explicit PreferenceLock(OSType type);
    ~PreferenceLock();
    PreferenceLock(const PreferenceLock&) = delete;
    PreferenceLock& operator=(const PreferenceLock&) = delete;

private:
    File file_;
};
