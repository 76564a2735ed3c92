// The spool file of one conversion's media chunks.
#include "moviedb/spoolfile.h"

OSErr SpoolFile::Create() {
    Dispose();
    const FileSpec folder = TemporaryFolder();
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return paramErr;
    FileSpec path;
    if (CreateTemporaryFile("lxmv", ".tmp", path) != noErr) return fnOpnErr;
    owner_ = ScopedFileDeletion(path);
    if (File::Open(path, File::Mode::ReadWrite, file_) != noErr) {
        owner_.DeleteNow();
        return fnOpnErr;
    }
    size_ = 0;
    return noErr;
}

void SpoolFile::Dispose() {
    (void)file_.Close();
    owner_.DeleteNow();
    size_ = 0;
}

OSErr SpoolFile::Append(std::initializer_list<std::span<const std::uint8_t>> pieces, std::uint64_t& offset) {
    if (!file_.IsOpen()) return paramErr;
    std::uint64_t bytes = 0;
    for (auto piece : pieces) bytes += piece.size();
    if (file_.WriteAt(size_, pieces) != noErr) return dskFulErr;
    offset = size_;
    size_ += bytes;
    return noErr;
}

OSErr SpoolFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) const {
    if (!file_.IsOpen()) return ioErr;
    return file_.ReadAt(offset, dest) == noErr ? noErr : ioErr;
}
