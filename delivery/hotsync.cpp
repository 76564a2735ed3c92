// HotSync delivery through J-Pilot's install list or the queue folders.
#include "delivery/hotsync.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

namespace {

constexpr char kCardMark = '\x01';
// J-Pilot reads its install list with fgets into 1000 bytes: a longer line
// would be cut in two.
constexpr std::size_t kLongestListLine = 998;

FileSpec JPilotList(const HotSyncRoots& roots) { return roots.jpilotHome / "jpilot.install"; }

// The value of "user" in jpilot.rc, whose lines are "NAME VALUE".
std::string JPilotUserName(const HotSyncRoots& roots) {
    std::ifstream rc(roots.jpilotHome / "jpilot.rc");
    std::string line;
    while (std::getline(rc, line)) {
        if (!line.starts_with("user ")) continue;
        std::string name = line.substr(5);
        while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
        return name;
    }
    return {};
}

// The paths in J-Pilot's install list, card marks taken off.
std::set<FileSpec> JPilotListedFiles(const HotSyncRoots& roots) {
    std::set<FileSpec> listed;
    std::ifstream list(JPilotList(roots), std::ios::binary);
    std::string line;
    while (std::getline(list, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == kCardMark) line.erase(0, 1);
        if (!line.empty()) listed.insert(FileSpec(line));
    }
    return listed;
}

bool IsFolder(const FileSpec& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

// A name that can be one folder's, shown as the user typed it.
bool UsableFolderName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name.front() == '.') return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '/' || static_cast<unsigned char>(c) < 0x20; });
}

// Moves `file` into `folder` under its own name, else NAME-1, NAME-2, …
// whichever is free at the moment of the move.
OSErr MoveUnderFreeName(FileSpec& file, const FileSpec& folder) {
    if (OSErr err = CreateFolders(folder)) return err;
    const std::string stem = file.stem().string(), extension = file.extension().string();
    for (int n = 0; n < 10000; ++n) {
        const FileSpec to = folder / (n == 0 ? stem + extension : stem + "-" + std::to_string(n) + extension);
        const OSErr err = RenameNoReplace(file, to);
        if (err == dupFNErr) continue;
        if (err == noErr) file = to;
        return err;
    }
    return dupFNErr;
}

OSErr AppendLine(const FileSpec& path, const std::string& line) {
    std::FILE* out = std::fopen(path.c_str(), "ab");
    if (out == nullptr) return StatusFromErrno(errno);
    const bool written = std::fputs((line + "\n").c_str(), out) >= 0;
    const bool closed = std::fclose(out) == 0;
    return written && closed ? noErr : ioErr;
}

} // namespace

HotSyncRoots HotSyncRoots::FromEnvironment() {
    const char* home = FolderVariable("HOME");
    const FileSpec homeFolder = home != nullptr ? FileSpec(home) : FileSpec(".");
    HotSyncRoots roots;
    const char* jpilotHome = FolderVariable("JPILOT_HOME");
    roots.jpilotHome = (jpilotHome != nullptr ? FileSpec(jpilotHome) : homeFolder) / ".jpilot";
    const char* data = FolderVariable("XDG_DATA_HOME");
    roots.dataFolder = (data != nullptr ? FileSpec(data) : homeFolder / ".local" / "share") / "vantro-davavivi";
    return roots;
}

std::vector<HotSyncUser> InstallAide::Users() const {
    std::vector<HotSyncUser> users;
    // J-Pilot syncs one handheld; whether it has a card shows only at the
    // sync, so its card is always offered.
    if (std::string name = JPilotUserName(roots_); !name.empty())
        users.push_back({std::move(name), InstallQueue::JPilot, JPilotFolder(), {kExpansionCardName}});

    std::vector<HotSyncUser> folders;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(QueueRoot(), ec)) {
        const std::string name = entry.path().filename().string();
        if (!UsableFolderName(name) || !IsFolder(entry.path())) continue;
        if (!users.empty() && users.front().name == name) continue;
        HotSyncUser user{name, InstallQueue::Folder, entry.path(), {}};
        if (IsFolder(entry.path() / "card")) user.cards.push_back(kExpansionCardName);
        folders.push_back(std::move(user));
    }
    std::sort(folders.begin(), folders.end(), [](const HotSyncUser& a, const HotSyncUser& b) { return a.name < b.name; });
    users.insert(users.end(), folders.begin(), folders.end());
    return users;
}

OSErr InstallAide::AddUser(const std::string& name) const {
    if (!UsableFolderName(name)) return bdNamErr;
    const FileSpec folder = QueueRoot() / name;
    if (NameTaken(folder)) return dupFNErr;
    for (const char* queue : {"install", "card"})
        if (OSErr err = CreateFolders(folder / queue)) return err;
    return noErr;
}

OSErr InstallAide::Queue(const HotSyncUser& user, FileSpec& file, bool toCard) const {
    if (user.queue == InstallQueue::JPilot) return QueueForJPilot(file, toCard);
    return MoveUnderFreeName(file, user.folder / (toCard ? "card" : "install"));
}

OSErr InstallAide::QueueForJPilot(FileSpec& file, bool toCard) const {
    // The files J-Pilot has installed (no longer on its list) go first.
    const FileSpec kept = JPilotFolder() / "queued";
    const std::set<FileSpec> listed = JPilotListedFiles(roots_);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(kept, ec))
        if (entry.is_regular_file(ec) && !listed.contains(entry.path())) (void)DeleteFile(entry.path());

    const FileSpec converted = file;
    if (OSErr err = MoveUnderFreeName(file, kept)) return err;
    const std::string line = (toCard ? std::string(1, kCardMark) : std::string()) + file.string();
    OSErr err = line.size() > kLongestListLine || line.find('\n') != std::string::npos ? bdNamErr : noErr;
    if (err == noErr) err = CreateFolders(roots_.jpilotHome);
    if (err == noErr) err = AppendLine(JPilotList(roots_), line);
    if (err != noErr && RenameNoReplace(file, converted) == noErr) file = converted;
    return err;
}

bool NeedsUserDialog(const std::vector<HotSyncUser>& users) {
    return users.size() > 1 || (users.size() == 1 && !users.front().cards.empty());
}

std::vector<std::string> TargetNames(const HotSyncUser& user) {
    std::vector<std::string> names{"Handheld"};
    if (!user.cards.empty() && !user.cards.front().empty()) names.push_back(user.cards.front());
    return names;
}

OSErr QueueForHotSync(const InstallAide& aide, const HotSyncTarget& target, FileSpec& file) {
    const std::vector<HotSyncUser> users = aide.Users();
    const auto user = std::find_if(users.begin(), users.end(), [&](const HotSyncUser& u) {
        return target.user.empty() ? file.parent_path() == u.folder : u.name == target.user;
    });
    if (user == users.end()) return fnfErr;
    return aide.Queue(*user, file, target.toCard && !user->cards.empty());
}
