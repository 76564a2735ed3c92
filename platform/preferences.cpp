#include "platform/preferences.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

const char* NonEmptyVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// Moves an unreadable preference file aside under a name that says when.
void SetAside(const FileSpec& path) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    const std::string base = path.string() + ".bad-" + stamp;
    for (int n = 0; n < 1000; ++n) {
        FileSpec aside = n == 0 ? FileSpec(base) : FileSpec(base + "-" + std::to_string(n));
        if (FileExists(aside)) continue;
        if (std::rename(path.c_str(), aside.c_str()) == 0) return;
        break;
    }
}

} // namespace

FileSpec PreferenceFolder() {
    if (const char* folder = NonEmptyVariable(kPreferenceFolderVariable)) return FileSpec(folder);
    if (const char* config = NonEmptyVariable("XDG_CONFIG_HOME")) return FileSpec(config) / "vantro-davavivi";
    if (const char* home = NonEmptyVariable("HOME")) return FileSpec(home) / ".config" / "vantro-davavivi";
    return FileSpec(".config") / "vantro-davavivi";
}

FileSpec PreferenceFile(OSType type) { return PreferenceFolder() / FourCharCodeToText(type); }

namespace {
thread_local int gLockDepth = 0;
}

PreferenceLock::PreferenceLock(OSType type) {
    if (gLockDepth++ > 0) return;
    if (CreateFolders(PreferenceFolder()) != noErr) return;
    const FileSpec path = PreferenceFolder() / (FourCharCodeToText(type) + ".lock");
    if (File::OpenOrCreate(path, file_) == noErr && file_.Lock() != noErr) (void)file_.Close();
}

PreferenceLock::~PreferenceLock() { --gLockDepth; }

OSErr GetUserPreference(OSType type, AtomContainer& out) {
    const FileSpec path = PreferenceFile(type);
    ByteBlock bytes;
    if (OSErr err = ReadWholeFile(path, bytes)) return err;
    AtomContainer preference;
    OSErr err = AtomContainer::Parse(bytes.Span(), preference);
    if (err == memFullErr) return err;
    if (err != noErr) {
        SetAside(path);
        return fnfErr;
    }
    out = std::move(preference);
    return noErr;
}

OSErr SetUserPreference(OSType type, const AtomContainer& preference) {
    if (preference.IsNull()) return paramErr;
    if (OSErr err = CreateFolders(PreferenceFolder())) return err;
    return WriteFileAtomically(PreferenceFile(type), preference.Bytes());
}
