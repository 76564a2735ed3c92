// Output folders and names: a name reserved and its file created in one step,
// moved into place only when complete.
#include "delivery/outputfile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "moviedb/pdbname.h"

namespace {

constexpr std::string_view kExtension = ".pdb";
constexpr std::size_t kNameField = 32; // the database header's name field

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A folder for the file system's calls: the current one when unnamed.
FileSpec Here(const FileSpec& folder) { return folder.empty() ? FileSpec(".") : folder; }

FileSpec Candidate(const FileSpec& folder, const std::string& base, int n) {
    return folder / (n == 0 ? base + std::string(kExtension) : base + "-" + std::to_string(n) + std::string(kExtension));
}

// The database name at the start of a movie database, or of a partial file
// (whose reservation stores it there first).
bool ReadDatabaseName(const FileSpec& path, std::string& name) {
    File file;
    if (File::Open(path, File::Mode::Read, file) != noErr) return false;
    std::uint8_t field[kNameField] = {};
    if (file.ReadAt(0, field) != noErr) return false;
    const auto* end = std::find(field, field + kDatabaseNameLimit, 0);
    name.assign(reinterpret_cast<const char*>(field), reinterpret_cast<const char*>(end));
    return true;
}

// The names of the databases in a folder: finished ones and those being
// written.
std::vector<std::string> NamesInFolder(const FileSpec& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(Here(folder), ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const auto& entry = *it;
        const std::string file = entry.path().filename().string();
        std::string lower = file;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (!EndsWith(lower, kExtension) && !EndsWith(file, kPartialSuffix)) continue;
        // Only files: a pipe or a device under such a name is never opened.
        if (std::error_code regular; !entry.is_regular_file(regular)) continue;
        if (std::string name; ReadDatabaseName(entry.path(), name)) names.push_back(std::move(name));
    }
    return names;
}

// The folder locked while names are chosen, so that runs in other processes
// and threads choose one after the other. The lock is held for milliseconds;
// should a stopped process hold it, the wait ends after ten seconds and the
// run goes on without it. A folder that cannot be locked still works:
// partial files are created exclusively either way, so the lock only keeps
// database names apart, never files.
class FolderLock {
public:
    explicit FolderLock(const FileSpec& folder) {
        if (File::OpenFolder(Here(folder), folder_) != noErr) return;
        for (int tries = 0; tries < 1000; ++tries) {
            if (folder_.TryLock() != dupFNErr) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    File folder_;
};

// Removes the partial files no live run holds; the caller has the folder
// locked, so that no run is between creating its partial file and locking it.
int SweepUnlocked(const FileSpec& folder) {
    int removed = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(Here(folder), ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const auto& entry = *it;
        const std::string name = entry.path().filename().string();
        if (name.empty() || name[0] != '.' || !EndsWith(name, kPartialSuffix) || !entry.is_regular_file(ec)) continue;
        File file;
        FileIdentity identity;
        // Writable where it can be: some network file systems lock only
        // files open for writing.
        if (File::Open(entry.path(), File::Mode::ReadWrite, file) != noErr &&
            File::Open(entry.path(), File::Mode::Read, file) != noErr)
            continue;
        if (file.Identity(identity) != noErr) continue;
        // A live run holds its partial file's lock until it ends; where the
        // file system has no locks nothing can tell, and nothing is swept.
        if (file.TryLock() != noErr) continue;
        if (DeleteFileIfSame(entry.path(), identity) == noErr) ++removed;
    }
    return removed;
}

// Creates and locks a partial file; dupFNErr when the name is not to be had.
OSErr CreatePartial(const FileSpec& path, File& file, FileIdentity& identity) {
    if (OSErr err = File::CreateNew(path, file)) return err;
    if (OSErr err = file.Identity(identity)) {
        (void)file.Close();
        (void)DeleteFile(path);
        return err;
    }
    // Another open of it holds the lock: a sweeper that could not lock the
    // folder took it for a dead run's and deletes it. A file system without
    // locks: the file stays unlocked, and no sweeper can lock it either.
    if (file.TryLock() == dupFNErr) {
        (void)file.Close();
        return dupFNErr;
    }
    FileIdentity there;
    if (IdentityOf(path, there) != noErr || !(there == identity)) {
        (void)file.Close(); // swept already: the name is free again, not ours
        return dupFNErr;
    }
    return noErr;
}

// Whether a candidate's final name and partial name are both free.
OSErr CandidateFree(const FileSpec& final, bool& free) {
    bool taken = false;
    if (OSErr err = NameStatus(final, taken)) return err;
    if (!taken)
        if (OSErr err = NameStatus(PartialNameOf(final), taken)) return err;
    free = !taken;
    return noErr;
}

// Names of the same folder tried before giving up: far more than anyone keeps.
constexpr int kMostCandidates = 100000;
// The longest file name the usual file systems take, in bytes.
constexpr std::size_t kLongestFileName = 255;

} // namespace

FileSpec OutputFolder(const FileSpec& source, bool useSourceFolder, const FileSpec& exportFolder) {
    return useSourceFolder ? source.parent_path() : exportFolder;
}

OSErr OutputBaseName(const FileSpec& source, std::string_view movieName, std::string& base) {
    if (movieName.empty()) {
        base = source.filename().string();
    } else {
        base = movieName;
    }
    if (const auto dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
    // A typed name is a name: never a way out of the folder.
    if (!movieName.empty() && (base.empty() || base == "." || base == ".." || base.find('/') != std::string::npos))
        return bdNamErr;
    return noErr;
}

FileSpec ProposedOutput(const FileSpec& folder, const std::string& base) {
    for (int n = 0; n < kMostCandidates; ++n) {
        const FileSpec final = Candidate(folder, base, n);
        bool free = false;
        if (CandidateFree(final, free) != noErr || free) return final;
    }
    return Candidate(folder, base, 0);
}

FileSpec PartialNameOf(const FileSpec& final) {
    return final.parent_path() / ("." + final.filename().string() + std::string(kPartialSuffix));
}

int SweepDeadPartials(const FileSpec& folder) {
    const FolderLock lock(folder);
    return SweepUnlocked(folder);
}

OSErr ReserveOutputFile(const FileSpec& folder, const std::string& base, BatchNames* batchNames,
                        OutputReservation& out, bool underscoresAsSpaces) {
    out.Discard();
    // The run's names first, then the folder: always in this order.
    std::unique_lock<std::mutex> batch;
    if (batchNames != nullptr) batch = std::unique_lock(batchNames->lock);
    const FolderLock lock(folder);
    (void)SweepUnlocked(folder);
    OutputReservation r;
    r.folder_ = folder;
    r.base_ = base;
    // The longest partial name ("." + base + "-NNNNN.pdb" + suffix) must fit.
    if (base.size() + 1 + 6 + kExtension.size() + kPartialSuffix.size() > kLongestFileName) return bdNamErr;
    for (int n = 0;; ++n) {
        if (n == kMostCandidates) return dupFNErr;
        const FileSpec final = Candidate(folder, base, n);
        bool free = false;
        if (OSErr err = CandidateFree(final, free)) return err == fnfErr || err == permErr ? fnOpnErr : err;
        if (!free) continue;
        const FileSpec partial = PartialNameOf(final);
        const OSErr err = CreatePartial(partial, r.file_, r.identity_);
        if (err == dupFNErr) continue;
        if (err) return err == fnfErr ? fnOpnErr : err;
        r.final_ = final;
        r.partial_ = partial;
        break;
    }

    // The database's name: unique in the folder and in the batch.
    std::vector<std::string> taken = NamesInFolder(folder);
    if (batchNames != nullptr) taken.insert(taken.end(), batchNames->names.begin(), batchNames->names.end());
    std::string stem = r.final_.filename().string();
    stem.resize(stem.size() - kExtension.size());
    if (underscoresAsSpaces) std::replace(stem.begin(), stem.end(), '_', ' ');
    r.databaseName_ = UniqueDatabaseName(stem, taken);
    std::uint8_t field[kNameField] = {};
    std::memcpy(field, r.databaseName_.data(), r.databaseName_.size());
    if (OSErr err = r.file_.WriteAt(0, field)) return err;
    if (batchNames != nullptr) batchNames->names.push_back(r.databaseName_);
    out = std::move(r);
    return noErr;
}

FileSpec OutputReservation::WritePath() const {
    const FileSpec byDescriptor = FileSpec("/proc/self/fd") / std::to_string(file_.Descriptor());
    return file_.IsOpen() && FileExists(byDescriptor) ? byDescriptor : partial_;
}

OutputReservation& OutputReservation::operator=(OutputReservation&& other) noexcept {
    if (this != &other) {
        Discard();
        file_ = std::move(other.file_);
        identity_ = other.identity_;
        folder_ = std::move(other.folder_);
        final_ = std::move(other.final_);
        partial_ = std::move(other.partial_);
        base_ = std::move(other.base_);
        databaseName_ = std::move(other.databaseName_);
        other.partial_.clear();
    }
    return *this;
}

void OutputReservation::Discard() {
    if (!file_.IsOpen()) return;
    // Deleted while the lock is still held: no sweeper can mistake it for a
    // dead run's file and no other run can have taken its name.
    if (!partial_.empty()) (void)DeleteFileIfSame(partial_, identity_);
    (void)file_.Close();
}

OSErr OutputReservation::Commit() {
    if (!file_.IsOpen()) return paramErr;
    if (OSErr err = file_.Sync()) return err;
    const FolderLock lock(folder_);
    // Only this reservation's own file is ever moved.
    FileIdentity named;
    if (IdentityOf(partial_, named) != noErr || !(named == identity_)) return fnOpnErr;
    FileSpec final = final_;
    for (int n = 0;;) {
        const OSErr err = RenameNoReplace(partial_, final);
        if (err == noErr) break;
        if (err == fnfErr) return fnOpnErr; // the folder is gone
        if (err != dupFNErr) return err;
        // Taken meanwhile by something else: that stays, and this database
        // takes the next free name (whose partial name no run holds).
        for (bool free = false; !free;) {
            if (++n == kMostCandidates) return dupFNErr;
            final = Candidate(folder_, base_, n);
            if (OSErr status = CandidateFree(final, free)) return status;
        }
    }
    partial_.clear();
    final_ = final;
    // Done only when the complete file is there under its name.
    FileIdentity there;
    if (IdentityOf(final_, there) != noErr || !(there == identity_)) {
        (void)file_.Close();
        return fnOpnErr;
    }
    if (File folder; File::OpenFolder(Here(folder_), folder) == noErr) (void)folder.Sync();
    return file_.Close();
}
