// The per-user preference store: atomic writes, a lock, files kept aside.
#include "platform/preferences.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <utility>

namespace {

std::string Stamp() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return stamp;
}

// Moves an unreadable preference file aside under a name that says when.
void SetAside(const FileSpec& path) {
    const std::string base = path.string() + ".bad-" + Stamp();
    for (int n = 0; n < 1000; ++n) {
        FileSpec aside = n == 0 ? FileSpec(base) : FileSpec(base + "-" + std::to_string(n));
        if (NameTaken(aside)) continue;
        if (RenameNoReplace(path, aside) == noErr) {
            AddPreferenceNotice("The settings file " + path.string() + " could not be read; it was kept as " +
                                aside.string() + " and the settings start afresh.");
            return;
        }
        if (NameTaken(aside)) continue;
        break;
    }
}

std::mutex gNoticesLock;
std::vector<std::string> gNotices;

} // namespace

FileSpec PreferenceFolder() {
    if (const char* folder = FolderVariable(kPreferenceFolderVariable)) return FileSpec(folder);
    if (const char* config = FolderVariable("XDG_CONFIG_HOME")) return FileSpec(config) / "vantro-davavivi";
    if (const char* home = FolderVariable("HOME")) return FileSpec(home) / ".config" / "vantro-davavivi";
    return FileSpec(".config") / "vantro-davavivi";
}

FileSpec PreferenceFile(OSType type) { return PreferenceFolder() / FourCharCodeToText(type); }

std::vector<std::string> TakePreferenceNotices() {
    const std::lock_guard<std::mutex> hold(gNoticesLock);
    return std::exchange(gNotices, {});
}

void AddPreferenceNotice(std::string notice) {
    const std::lock_guard<std::mutex> hold(gNoticesLock);
    gNotices.push_back(std::move(notice));
}

OSErr KeepAside(OSType type, std::string_view what, std::span<const std::uint8_t> bytes, FileSpec& kept) {
    const std::string base = PreferenceFile(type).string() + ".bad-" + std::string(what) + "-" + Stamp();
    for (int n = 0; n < 1000; ++n) {
        const FileSpec aside = n == 0 ? FileSpec(base) : FileSpec(base + "-" + std::to_string(n));
        File file;
        const OSErr err = File::CreatePrivate(aside, file);
        if (err == dupFNErr) continue;
        if (err) return err;
        OSErr written = file.WriteAt(0, bytes);
        if (!written) written = file.Close();
        if (written) {
            (void)file.Close();
            (void)DeleteFile(aside);
            return written;
        }
        kept = aside;
        return noErr;
    }
    return dupFNErr;
}

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
