// Removable drives from the kernel's mount table and sysfs; the handheld's
// folder on a card.
#include "delivery/removabledrives.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <set>
#include <string_view>

namespace {

// One line of the mount table, as proc(5) describes /proc/PID/mountinfo:
//   id parent MAJ:MIN root mountpoint options [optional fields...] - fstype source superoptions
struct Mount {
    std::uint64_t key = 0;   // major and minor in one number, to tell devices apart
    std::string device;      // "MAJ:MIN", the device's name under sys/dev/block
    FileSpec root;           // what of the file system is mounted: "/" for all of it
    FileSpec mountPoint;
};

// The whole of a file whose size the system does not tell beforehand: the
// files under /proc and /sys all claim a size of 0 or 4096.
OSErr ReadText(const FileSpec& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return StatusFromErrno(errno);
    text.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return StatusFromErrno(error);
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return noErr;
}

// A sysfs attribute's text without its line end; empty when it cannot be read.
std::string Attribute(const FileSpec& path) {
    std::string text;
    if (ReadText(path, text) != noErr) return {};
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

bool ParseNumber(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

// The kernel writes a space, tab, newline or backslash in a path as a
// backslash and three octal digits ("\040"); any other backslash stands for
// itself, as the kernel never writes one alone. False for what cannot be a
// path at all: a NUL byte, written or escaped.
bool Unescape(std::string_view field, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && field.size() - i > 3 && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            c = static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        }
        if (c == '\0') return false;
        out += c;
    }
    return true;
}

// One line of the mount table; false for a line that does not have the
// table's shape, which is then skipped.
bool ParseMount(std::string_view line, Mount& mount) {
    // Fields are separated by single spaces; an empty one (a file system
    // with an empty source) is no field.
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        const std::size_t space = line.find(' ');
        const std::string_view field = line.substr(0, space);
        if (!field.empty()) fields.push_back(field);
        if (space == std::string_view::npos) break;
        line.remove_prefix(space + 1);
    }
    // Six fixed fields, the optional ones, "-", then at least the type.
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") ++separator;
    if (separator + 1 >= fields.size()) return false;

    const std::string_view device = fields[2];
    const std::size_t colon = device.find(':');
    std::uint64_t major = 0, minor = 0;
    if (colon == std::string_view::npos || !ParseNumber(device.substr(0, colon), major) ||
        !ParseNumber(device.substr(colon + 1), minor) || major > UINT32_MAX || minor > UINT32_MAX)
        return false;
    mount.key = major << 32 | minor;
    mount.device = std::to_string(major) + ":" + std::to_string(minor);

    std::string root, mountPoint;
    if (!Unescape(fields[3], root) || !Unescape(fields[4], mountPoint)) return false;
    if (root.empty() || root.front() != '/' || mountPoint.empty() || mountPoint.front() != '/') return false;
    mount.root = root;
    mount.mountPoint = mountPoint;
    return true;
}

// The system's own mounts: the root and the folders the system runs from.
// A stick that carries them is the system's disk, however removable.
bool IsSystemMount(const FileSpec& mountPoint) {
    static constexpr std::array<std::string_view, 7> kSystemFolders = {"boot", "usr", "var", "etc", "home", "opt", "srv"};
    const FileSpec normal = mountPoint.lexically_normal();
    auto component = normal.begin();
    if (component == normal.end() || *component != "/") return false;
    if (++component == normal.end() || component->empty()) return true; // "/" itself
    for (std::string_view folder : kSystemFolders)
        if (component->native() == folder) return true;
    return false;
}

// The device's folder under sysfs, from sys/dev/block/MAJ:MIN: a symbolic
// link into sys/devices/... Empty when it is no block device (a pseudo file
// system's anonymous device has no link) or the link leads out of sysfs.
FileSpec DeviceFolder(const FileSpec& sys, const std::string& device, FileSpec& underSys) {
    std::error_code ec;
    const FileSpec resolved = std::filesystem::canonical(sys / "dev" / "block" / device, ec);
    if (ec) return {};
    underSys = resolved.lexically_relative(sys);
    if (underSys.empty() || *underSys.begin() != "devices") return {};
    return resolved;
}

// Whether the block device at `folder` (its path under sysfs `underSys`)
// is removable media that is there.
bool IsRemovableMedia(const FileSpec& folder, const FileSpec& underSys) {
    auto component = underSys.begin();
    // Loop, device-mapper, zram and RAM disks: never a card, whatever they claim.
    if (++component != underSys.end() && *component == "virtual") return false;
    // A partition's folder lies inside its disk's.
    std::error_code ec;
    const FileSpec disk = std::filesystem::is_regular_file(folder / "partition", ec) ? folder.parent_path() : folder;
    // A card reader's slot without a card reads as a disk of no sectors.
    std::uint64_t sectors = 0;
    if (ParseNumber(Attribute(disk / "size"), sectors) && sectors == 0) return false;
    if (Attribute(disk / "removable") == "1") return true;
    // USB sticks and SD slots on MMC hosts often say they are fixed disks;
    // their place in the device tree tells them apart.
    for (const FileSpec& name : underSys) {
        const std::string& text = name.native();
        if (text.starts_with("usb") || text.starts_with("mmc")) return true;
    }
    return false;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// The folder `wanted` in `parent`: an existing folder whose name differs only
// in letter case, the exact name first and else the first in name order so
// that the choice does not depend on the directory's order; otherwise a new
// one under the wanted name.
OSErr FolderLevel(const FileSpec& parent, std::string_view wanted, FileSpec& out) {
    std::error_code ec;
    std::string found;
    for (auto it = std::filesystem::directory_iterator(parent, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!SameIgnoringCase(name, wanted)) continue;
        // Only a folder itself: a link could lead anywhere, even off the card.
        std::error_code typeError;
        if (it->symlink_status(typeError).type() != std::filesystem::file_type::directory) continue;
        if (name == wanted) {
            found = name;
            break;
        }
        if (found.empty() || name < found) found = name;
    }
    if (ec) return StatusFromErrno(ec.value());
    if (!found.empty()) {
        out = parent / found;
        return noErr;
    }
    const FileSpec created = parent / std::string(wanted);
    if (::mkdir(created.c_str(), 0777) != 0) {
        const int error = errno;
        // A folder made meanwhile by someone else serves as well.
        struct stat st;
        if (error != EEXIST || ::lstat(created.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return StatusFromErrno(error);
    }
    out = created;
    return noErr;
}

} // namespace

OSErr ListRemovableDrives(const SystemRoots& roots, std::vector<RemovableDrive>& out) {
    std::string table;
    if (OSErr err = ReadText(roots.mountinfo, table)) return err;
    std::vector<Mount> mounts;
    for (std::string_view rest = table; !rest.empty();) {
        const std::size_t end = rest.find('\n');
        Mount mount;
        if (ParseMount(rest.substr(0, end), mount)) mounts.push_back(std::move(mount));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    // Devices that carry a system mount, wherever else they are mounted too.
    std::set<std::uint64_t> system, offered;
    for (const Mount& mount : mounts)
        if (IsSystemMount(mount.mountPoint)) system.insert(mount.key);

    std::vector<RemovableDrive> drives;
    std::error_code ec;
    const FileSpec sys = std::filesystem::canonical(roots.sys, ec);
    if (ec) { // no sysfs: no block devices to tell
        out.clear();
        return noErr;
    }
    for (const Mount& mount : mounts) {
        // A bind mount shows only a sub-folder of its file system.
        if (mount.root != "/" || system.contains(mount.key) || offered.contains(mount.key)) continue;
        FileSpec underSys;
        const FileSpec folder = DeviceFolder(sys, mount.device, underSys);
        if (folder.empty() || !IsRemovableMedia(folder, underSys)) continue;
        offered.insert(mount.key);
        RemovableDrive drive;
        drive.mountPoint = mount.mountPoint;
        drive.device = folder.filename().string();
        drive.label = mount.mountPoint.lexically_normal().filename().string();
        if (drive.label.empty()) drive.label = drive.device;
        drives.push_back(std::move(drive));
    }
    out = std::move(drives);
    return noErr;
}

OSErr MakeCardFolder(const FileSpec& cardRoot, FileSpec& folder) {
    std::error_code ec;
    const auto status = std::filesystem::status(cardRoot, ec);
    if (ec) return StatusFromErrno(ec.value());
    if (status.type() != std::filesystem::file_type::directory) return fnfErr;
    // The handheld's own spelling of its folders on a card.
    FileSpec at = cardRoot;
    for (std::string_view level : {"PALM", "Programs", "VANTRO"}) {
        FileSpec next;
        if (OSErr err = FolderLevel(at, level, next)) return err;
        at = std::move(next);
    }
    folder = std::move(at);
    return noErr;
}
