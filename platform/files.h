// Files: specifications are paths (UTF-8 names), I/O is POSIX, every failure
// is a status code. Temporary files live in $TMPDIR (else /tmp) under unique
// names made from a stem, and are deleted when their owner goes away.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string_view>

#include "platform/byteblock.h"
#include "platform/status.h"

using FileSpec = std::filesystem::path;

// Which file a path or an open file is: its device and inode. A path can be
// made to name another file at any moment; an identity cannot.
struct FileIdentity {
    std::uint64_t device = 0, inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The status for a POSIX errno: ENOSPC dskFulErr, ENOENT fnfErr, EEXIST
// dupFNErr, EACCES/EPERM/EROFS permErr, ENAMETOOLONG bdNamErr, ENOMEM
// memFullErr, anything else ioErr.
OSErr StatusFromErrno(int error);

// An open file, closed when the object goes away.
class File {
public:
    enum class Mode { Read, ReadWrite };

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    [[nodiscard]] static OSErr Open(const FileSpec& path, Mode mode, File& out);
    // Creates a new file; an existing file is never replaced (dupFNErr).
    [[nodiscard]] static OSErr CreateNew(const FileSpec& path, File& out);
    // CreateNew for a file only its owner may read (copies of preferences).
    [[nodiscard]] static OSErr CreatePrivate(const FileSpec& path, File& out);
    // Opens the file, creating it when there is none (lock files).
    [[nodiscard]] static OSErr OpenOrCreate(const FileSpec& path, File& out);
    // Opens a folder for locking and for its identity.
    [[nodiscard]] static OSErr OpenFolder(const FileSpec& path, File& out);

    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }
    // Reads exactly dest.size() bytes at offset; eofErr when the file ends first.
    [[nodiscard]] OSErr ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) const;
    [[nodiscard]] OSErr WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    // Writes the pieces back to back from offset, in one system call when it can.
    [[nodiscard]] OSErr WriteAt(std::uint64_t offset, std::initializer_list<std::span<const std::uint8_t>> pieces);
    [[nodiscard]] OSErr Size(std::uint64_t& size) const;
    [[nodiscard]] OSErr Truncate(std::uint64_t size);
    // Flushes to the disk.
    [[nodiscard]] OSErr Sync();
    // Closes now and answers what closing said (a write error can surface here).
    [[nodiscard]] OSErr Close();

    [[nodiscard]] OSErr Identity(FileIdentity& out) const;
    // An advisory lock on the whole file, held until this object closes it
    // (or its process ends, however it ends). TryLock answers dupFNErr at
    // once when another open of the file holds a lock; Lock waits for it.
    // Another error means the file system has no such locks.
    [[nodiscard]] OSErr TryLock();
    [[nodiscard]] OSErr Lock();

private:
    [[nodiscard]] static OSErr OpenWith(const FileSpec& path, int flags, unsigned mode, File& out);

    int fd_ = -1;
};

[[nodiscard]] OSErr ReadWholeFile(const FileSpec& path, ByteBlock& out);
// Writes a new copy beside the file, flushes it and renames it over the old
// one: readers see the old or the new contents, never a mixture.
[[nodiscard]] OSErr WriteFileAtomically(const FileSpec& path, std::span<const std::uint8_t> bytes);
// fnfErr when there is no such file.
[[nodiscard]] OSErr DeleteFile(const FileSpec& path);
bool FileExists(const FileSpec& path);
// True when anything at all has that name: a file, a folder, a symbolic link
// (even a dangling one). A name that is taken is never written over.
bool NameTaken(const FileSpec& path);
// The same as a status: `taken` is set when the name exists; an error when
// the system cannot say (a folder that is a file, one not searchable).
[[nodiscard]] OSErr NameStatus(const FileSpec& path, bool& taken);
// The identity of what the path names, not following a last symbolic link.
[[nodiscard]] OSErr IdentityOf(const FileSpec& path, FileIdentity& out);
// Deletes the path only while it still names the file of that identity:
// whatever took its place since is left alone (dupFNErr).
[[nodiscard]] OSErr DeleteFileIfSame(const FileSpec& path, const FileIdentity& identity);
// Gives `from` the name `to` unless something already has that name
// (dupFNErr): a file is never replaced, whatever arrives meanwhile.
[[nodiscard]] OSErr RenameNoReplace(const FileSpec& from, const FileSpec& to);
// Creates the folder and its missing parents; an existing folder is no error.
[[nodiscard]] OSErr CreateFolders(const FileSpec& folder);

// The value of an environment variable that names a folder ($HOME,
// $XDG_DATA_HOME, …): null when it is unset or empty.
const char* FolderVariable(const char* name);

// $TMPDIR when it names a folder, else /tmp.
FileSpec TemporaryFolder();
// Creates a new empty file "<stem><pid>-<unique><extension>" in the
// temporary folder (or in `folder` when given) and answers its path. The
// process ID in the name tells a later start whose file it is.
[[nodiscard]] OSErr CreateTemporaryFile(std::string_view stem, std::string_view extension, FileSpec& out,
                                        const FileSpec& folder = {});
// Deletes the temporary files with one of these stems that a process left
// behind when it ended without cleaning up (killed, or the power went):
// only files of this user whose process is gone; a live process's files are
// never touched. Answers how many were deleted.
int SweepTemporaryFiles(const FileSpec& folder, std::initializer_list<std::string_view> stems);

// Deletes a file when it goes out of scope, unless released first.
class ScopedFileDeletion {
public:
    ScopedFileDeletion() = default;
    explicit ScopedFileDeletion(FileSpec path) : path_(std::move(path)) {}
    ~ScopedFileDeletion();
    ScopedFileDeletion(ScopedFileDeletion&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
    ScopedFileDeletion& operator=(ScopedFileDeletion&& other) noexcept;
    ScopedFileDeletion(const ScopedFileDeletion&) = delete;
    ScopedFileDeletion& operator=(const ScopedFileDeletion&) = delete;

    const FileSpec& Path() const { return path_; }
    // Keeps the file: nothing is deleted later.
    void Release() { path_.clear(); }
    // Deletes the file now.
    void DeleteNow();

private:
    FileSpec path_;
};
