// Files over POSIX: open, create exclusively, lock, rename without replacing, temporary files.
#include "platform/files.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

OSErr StatusFromErrno(int error) {
    switch (error) {
    case 0: return noErr;
    case ENOSPC:
    case EDQUOT: return dskFulErr;
    case ENOENT:
    case ENOTDIR: return fnfErr;
    case EEXIST: return dupFNErr;
    case EACCES:
    case EPERM:
    case EROFS: return permErr;
    case ENAMETOOLONG: return bdNamErr;
    case ENOMEM: return memFullErr;
    default: return ioErr;
    }
}

// ---- File ------------------------------------------------------------------

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

OSErr File::Open(const FileSpec& path, Mode mode, File& out) {
    int flags = (mode == Mode::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) return StatusFromErrno(errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fnfErr;
    }
    out = File();
    out.fd_ = fd;
    return noErr;
}

OSErr File::OpenWith(const FileSpec& path, int flags, unsigned mode, File& out) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0) return StatusFromErrno(errno);
    out = File();
    out.fd_ = fd;
    return noErr;
}

OSErr File::CreateNew(const FileSpec& path, File& out) { return OpenWith(path, O_RDWR | O_CREAT | O_EXCL, 0644, out); }

OSErr File::CreatePrivate(const FileSpec& path, File& out) {
    return OpenWith(path, O_RDWR | O_CREAT | O_EXCL, 0600, out);
}

OSErr File::OpenOrCreate(const FileSpec& path, File& out) {
    return OpenWith(path, O_RDWR | O_CREAT | O_NOFOLLOW, 0600, out);
}

OSErr File::OpenFolder(const FileSpec& path, File& out) { return OpenWith(path, O_RDONLY | O_DIRECTORY, 0, out); }

OSErr File::Identity(FileIdentity& out) const {
    if (fd_ < 0) return paramErr;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return StatusFromErrno(errno);
    out = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return noErr;
}

namespace {

OSErr LockFile(int fd, int operation) {
    if (fd < 0) return paramErr;
    int r;
    do {
        r = ::flock(fd, operation);
    } while (r != 0 && errno == EINTR);
    if (r == 0) return noErr;
    return errno == EWOULDBLOCK ? dupFNErr : StatusFromErrno(errno);
}

} // namespace

OSErr File::TryLock() { return LockFile(fd_, LOCK_EX | LOCK_NB); }
OSErr File::Lock() { return LockFile(fd_, LOCK_EX); }

OSErr File::ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) const {
    if (fd_ < 0) return paramErr;
    std::size_t done = 0;
    while (done < dest.size()) {
        ssize_t n = ::pread(fd_, dest.data() + done, dest.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return StatusFromErrno(errno);
        }
        if (n == 0) return eofErr;
        done += static_cast<std::size_t>(n);
    }
    return noErr;
}

OSErr File::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) return paramErr;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return StatusFromErrno(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return noErr;
}

OSErr File::WriteAt(std::uint64_t offset, std::initializer_list<std::span<const std::uint8_t>> pieces) {
    if (fd_ < 0) return paramErr;
    iovec vectors[8];
    int count = 0;
    std::size_t total = 0;
    for (auto piece : pieces) {
        if (piece.empty()) continue;
        if (count == 8) return paramErr;
        vectors[count++] = {const_cast<std::uint8_t*>(piece.data()), piece.size()};
        total += piece.size();
    }
    ssize_t n;
    do {
        n = ::pwritev(fd_, vectors, count, static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return StatusFromErrno(errno);
    if (static_cast<std::size_t>(n) == total) return noErr;
    // A short write: finish piece by piece.
    std::size_t done = static_cast<std::size_t>(n);
    std::uint64_t at = offset;
    for (auto piece : pieces) {
        if (done >= piece.size()) {
            done -= piece.size();
            at += piece.size();
            continue;
        }
        if (OSErr err = WriteAt(at + done, piece.subspan(done))) return err;
        at += piece.size();
        done = 0;
    }
    return noErr;
}

OSErr File::Size(std::uint64_t& size) const {
    if (fd_ < 0) return paramErr;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return StatusFromErrno(errno);
    size = static_cast<std::uint64_t>(st.st_size);
    return noErr;
}

OSErr File::Truncate(std::uint64_t size) {
    if (fd_ < 0) return paramErr;
    // Some card file systems (FAT through FUSE) refuse ftruncate; a file
    // already of that size needs none.
    std::uint64_t current = 0;
    if (Size(current) == noErr && current == size) return noErr;
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return StatusFromErrno(errno);
    return noErr;
}

OSErr File::Sync() {
    if (fd_ < 0) return paramErr;
    if (::fsync(fd_) != 0) return StatusFromErrno(errno);
    return noErr;
}

OSErr File::Close() {
    if (fd_ < 0) return noErr;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return StatusFromErrno(errno);
    return noErr;
}

// ---- Whole files -------------------------------------------------------------

OSErr ReadWholeFile(const FileSpec& path, ByteBlock& out) {
    File file;
    if (OSErr err = File::Open(path, File::Mode::Read, file)) return err;
    std::uint64_t size;
    if (OSErr err = file.Size(size)) return err;
    if (size > ByteBlock::kMaxSize) return memFullErr;
    ByteBlock block;
    if (OSErr err = block.Grow(static_cast<std::uint32_t>(size))) return err;
    if (OSErr err = file.ReadAt(0, block.Span())) return err;
    out = std::move(block);
    return noErr;
}

OSErr WriteFileAtomically(const FileSpec& path, std::span<const std::uint8_t> bytes) {
    FileSpec folder = path.parent_path();
    if (folder.empty()) folder = ".";
    FileSpec temporary;
    if (OSErr err = CreateTemporaryFile(path.filename().string() + ".", ".tmp", temporary, folder)) return err;
    ScopedFileDeletion cleanup(temporary);
    File file;
    if (OSErr err = File::Open(temporary, File::Mode::ReadWrite, file)) return err;
    if (OSErr err = file.WriteAt(0, bytes)) return err;
    if (OSErr err = file.Sync()) return err;
    if (OSErr err = file.Close()) return err;
    if (::rename(temporary.c_str(), path.c_str()) != 0) return StatusFromErrno(errno);
    cleanup.Release();
    // Make the rename itself durable.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return noErr;
}

OSErr DeleteFile(const FileSpec& path) {
    if (::unlink(path.c_str()) != 0) return StatusFromErrno(errno);
    return noErr;
}

bool FileExists(const FileSpec& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

OSErr NameStatus(const FileSpec& path, bool& taken) {
    struct stat st;
    taken = ::lstat(path.c_str(), &st) == 0;
    return taken || errno == ENOENT ? noErr : StatusFromErrno(errno);
}

bool NameTaken(const FileSpec& path) {
    bool taken = true;
    return NameStatus(path, taken) != noErr || taken;
}

OSErr IdentityOf(const FileSpec& path, FileIdentity& out) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return StatusFromErrno(errno);
    out = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return noErr;
}

OSErr DeleteFileIfSame(const FileSpec& path, const FileIdentity& identity) {
    FileIdentity now;
    if (OSErr err = IdentityOf(path, now)) return err;
    if (!(now == identity)) return dupFNErr;
    return DeleteFile(path);
}

OSErr RenameNoReplace(const FileSpec& from, const FileSpec& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return noErr;
    if (errno != EINVAL && errno != ENOSYS) return StatusFromErrno(errno);
    // A file system without the no-replace rename: a second link fails on
    // an existing name just the same.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return noErr;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS) return StatusFromErrno(errno);
    // Nor links (FAT cards on old kernels): look, then rename. The window
    // between the two is the only one left, and it is tiny.
    if (NameTaken(to)) return dupFNErr;
    if (::rename(from.c_str(), to.c_str()) != 0) return StatusFromErrno(errno);
    return noErr;
}

OSErr CreateFolders(const FileSpec& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return StatusFromErrno(ec.value());
    if (!std::filesystem::is_directory(folder, ec)) return dupFNErr;
    return noErr;
}

// ---- Temporary files ------------------------------------------------------------

const char* FolderVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

FileSpec TemporaryFolder() {
    if (const char* tmpdir = FolderVariable("TMPDIR")) {
        struct stat st;
        if (::stat(tmpdir, &st) == 0 && S_ISDIR(st.st_mode)) return FileSpec(tmpdir);
    }
    return FileSpec("/tmp");
}

OSErr CreateTemporaryFile(std::string_view stem, std::string_view extension, FileSpec& out, const FileSpec& folder) {
    static std::atomic<std::uint32_t> counter{0};
    const FileSpec where = folder.empty() ? TemporaryFolder() : folder;
    // Process ID, a counter and the clock make the name unique in practice;
    // O_EXCL makes it certain, and a clash simply tries the next name.
    const auto clock = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char unique[32];
        std::snprintf(unique, sizeof unique, "%d-%08x", static_cast<int>(::getpid()),
                      (clock ^ (counter.fetch_add(1) * 0x9E3779B9u)));
        FileSpec candidate = where / (std::string(stem) + unique + std::string(extension));
        int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            out = std::move(candidate);
            return noErr;
        }
        if (errno != EEXIST) return StatusFromErrno(errno);
    }
    return ioErr;
}

namespace {

// The process ID in a temporary name made by CreateTemporaryFile from this
// stem: "<stem><pid>-<8 hex digits><extension>"; 0 when the name is not one.
pid_t OwnerOfTemporaryName(std::string_view name, std::string_view stem) {
    if (name.size() <= stem.size() || name.substr(0, stem.size()) != stem) return 0;
    std::size_t i = stem.size();
    long pid = 0;
    const std::size_t digits = i;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - digits < 10) pid = pid * 10 + (name[i++] - '0');
    if (i == digits || i >= name.size() || name[i] != '-') return 0;
    for (std::size_t h = 1; h <= 8; ++h)
        if (i + h >= name.size() || !std::isxdigit(static_cast<unsigned char>(name[i + h]))) return 0;
    return static_cast<pid_t>(pid);
}

bool ProcessAlive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

} // namespace

int SweepTemporaryFiles(const FileSpec& folder, std::initializer_list<std::string_view> stems) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return 0;
    int deleted = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        pid_t owner = 0;
        for (std::string_view stem : stems)
            if ((owner = OwnerOfTemporaryName(name, stem)) != 0) break;
        if (owner <= 0 || owner == ::getpid() || ProcessAlive(owner)) continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::getuid())
            continue;
        if (::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) ++deleted;
    }
    ::closedir(dir);
    return deleted;
}

// ---- ScopedFileDeletion ------------------------------------------------------------

ScopedFileDeletion::~ScopedFileDeletion() { DeleteNow(); }

ScopedFileDeletion& ScopedFileDeletion::operator=(ScopedFileDeletion&& other) noexcept {
    if (this != &other) {
        DeleteNow();
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

void ScopedFileDeletion::DeleteNow() {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        path_.clear();
    }
}
