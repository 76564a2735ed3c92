// The spool file: a private temporary file ("lxmv…") that holds every media
// chunk of one movie in the order it was written, until the record layout
// reads the chunks back. It is deleted when the object goes away.
#pragma once

#include <cstdint>
#include <span>

#include "platform/files.h"
#include "platform/status.h"

class SpoolFile {
public:
    // Closes and deletes any earlier file, then creates a fresh one.
    // fnOpnErr when it cannot be created, paramErr without a temporary folder.
    [[nodiscard]] OSErr Create();
    // Closes the file and deletes it.
    void Dispose();
    bool IsOpen() const { return file_.IsOpen(); }

    // Appends the pieces of one chunk back to back; `offset` receives where
    // the first piece starts. A failed write is dskFulErr, and the size stays
    // as it was so that a later chunk does not land behind a hole.
    [[nodiscard]] OSErr Append(std::initializer_list<std::span<const std::uint8_t>> pieces, std::uint64_t& offset);
    // ioErr when the bytes cannot be read back.
    [[nodiscard]] OSErr ReadAt(std::uint64_t offset, std::span<std::uint8_t> dest) const;
    std::uint64_t Size() const { return size_; }
    const FileSpec& Path() const { return owner_.Path(); }

private:
    File file_;
    ScopedFileDeletion owner_;
    std::uint64_t size_ = 0;
};
