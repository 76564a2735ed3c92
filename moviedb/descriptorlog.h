// The layout of the spooled records: one descriptor per piece (a media chunk
// in the spool file, or a "me" / "re" marker), in file order. The list lives
// in its own temporary file so that memory stays flat however long the movie
// is; a checkpoint every 1024 descriptors and a cursor that follows
// sequential reads find the piece at any file position quickly.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "moviedb/spoolfile.h"
#include "platform/byteblock.h"
#include "platform/files.h"

struct SpoolDescriptor {
    enum Kind : std::uint32_t { MovieEnd = 1, RecordEnd = 2, Chunk = 3 };
    Kind kind;
    std::uint64_t offset; // in the spool file, for Chunk
    std::uint32_t size;
};

class DescriptorLog {
public:
    [[nodiscard]] OSErr Create();
    void Dispose();

    [[nodiscard]] OSErr Append(const SpoolDescriptor& d);
    // Writes out what is buffered; needed before any read.
    [[nodiscard]] OSErr Flush();

    std::uint64_t Count() const { return count_; }
    // Bytes of all pieces, markers included.
    std::uint64_t TotalSize() const { return total_; }

    // Reads `dest.size()` bytes of the spooled records starting `position`
    // bytes after their start: markers from their fixed bytes, chunks from
    // the spool file.
    [[nodiscard]] OSErr Read(const SpoolFile& spool, std::uint64_t position, std::span<std::uint8_t> dest) const;
    // Calls visit(descriptor) for each descriptor in order; stops at the
    // first error visit answers.
    template <typename Visit>
    [[nodiscard]] OSErr ForEach(Visit visit) const {
        for (std::uint64_t i = 0; i < count_; ++i) {
            SpoolDescriptor d;
            if (OSErr err = Load(i, d)) return err;
            if (OSErr err = visit(d)) return err;
        }
        return noErr;
    }

private:
    static constexpr std::uint32_t kEntrySize = 16;
    static constexpr std::uint32_t kBlockEntries = 256;
    static constexpr std::uint64_t kCheckpointEvery = 1024;

    struct Checkpoint {
        std::uint64_t index;
        std::uint64_t position;
    };

    [[nodiscard]] OSErr Load(std::uint64_t index, SpoolDescriptor& d) const;

    File file_;
    ScopedFileDeletion owner_;
    ByteBlock pending_; // appended, not yet written
    std::uint64_t written_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t total_ = 0;
    std::vector<Checkpoint> checkpoints_;

    // Read-side caches: one block of descriptors, and where the last read ended.
    mutable std::vector<std::uint8_t> block_;
    mutable std::uint64_t blockIndex_ = ~std::uint64_t{0};
    mutable std::uint64_t cursorIndex_ = 0;
    mutable std::uint64_t cursorPosition_ = 0;
};
