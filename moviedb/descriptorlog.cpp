// The spooled descriptors of the record layout.
#include "moviedb/descriptorlog.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/bytes.h"

OSErr DescriptorLog::Create() {
    Dispose();
    FileSpec path;
    if (CreateTemporaryFile("lxmv", ".layout", path) != noErr) return fnOpnErr;
    owner_ = ScopedFileDeletion(path);
    if (File::Open(path, File::Mode::ReadWrite, file_) != noErr) {
        owner_.DeleteNow();
        return fnOpnErr;
    }
    return noErr;
}

void DescriptorLog::Dispose() {
    (void)file_.Close();
    owner_.DeleteNow();
    pending_.Release();
    written_ = count_ = total_ = 0;
    checkpoints_.clear();
    checkpoints_.shrink_to_fit();
    block_.clear();
    blockIndex_ = ~std::uint64_t{0};
    cursorIndex_ = cursorPosition_ = 0;
}

OSErr DescriptorLog::Append(const SpoolDescriptor& d) {
    if (count_ % kCheckpointEvery == 0) {
        try {
            checkpoints_.push_back({count_, total_});
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
    }
    std::uint8_t entry[kEntrySize];
    WriteBE32(entry, d.kind);
    WriteBE32(entry + 4, static_cast<std::uint32_t>(d.offset >> 32));
    WriteBE32(entry + 8, static_cast<std::uint32_t>(d.offset));
    WriteBE32(entry + 12, d.size);
    if (OSErr err = pending_.Append(entry)) return err;
    ++count_;
    total_ += d.size;
    if (pending_.Size() >= kEntrySize * kBlockEntries) return Flush();
    return noErr;
}

OSErr DescriptorLog::Flush() {
    if (pending_.Empty()) return noErr;
    if (file_.WriteAt(written_, pending_.Span()) != noErr) return dskFulErr;
    written_ += pending_.Size();
    pending_.Clear();
    blockIndex_ = ~std::uint64_t{0}; // the last block may have grown
    return noErr;
}

OSErr DescriptorLog::Load(std::uint64_t index, SpoolDescriptor& d) const {
    if (index >= count_) return paramErr;
    const std::uint64_t block = index / kBlockEntries;
    if (block != blockIndex_) {
        const std::uint64_t first = block * kBlockEntries;
        const std::uint64_t entries = std::min<std::uint64_t>(kBlockEntries, count_ - first);
        try {
            block_.resize(entries * kEntrySize);
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
        if (file_.ReadAt(first * kEntrySize, block_) != noErr) return ioErr;
        blockIndex_ = block;
    }
    const std::uint8_t* e = block_.data() + (index % kBlockEntries) * kEntrySize;
    d.kind = static_cast<SpoolDescriptor::Kind>(ReadBE32(e));
    d.offset = (std::uint64_t{ReadBE32(e + 4)} << 32) | ReadBE32(e + 8);
    d.size = ReadBE32(e + 12);
    return noErr;
}

OSErr DescriptorLog::Read(const SpoolFile& spool, std::uint64_t position, std::span<std::uint8_t> dest) const {
    static const std::uint8_t kMovieEnd[4] = {0x00, 0x04, 'm', 'e'};
    static const std::uint8_t kRecordEnd[4] = {0x00, 0x04, 'r', 'e'};
    if (position + dest.size() > total_) return paramErr;
    // Start from the cursor when the read goes on from there, else from the
    // last checkpoint at or before the position.
    std::uint64_t index = cursorIndex_, at = cursorPosition_;
    if (at > position || index >= count_) {
        auto it = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), position,
                                   [](std::uint64_t p, const Checkpoint& c) { return p < c.position; });
        if (it == checkpoints_.begin()) return paramErr;
        --it;
        index = it->index;
        at = it->position;
    }
    std::size_t done = 0;
    while (done < dest.size()) {
        SpoolDescriptor d;
        if (OSErr err = Load(index, d)) return err;
        const std::uint64_t want = position + done;
        if (at + d.size <= want) {
            at += d.size;
            ++index;
            continue;
        }
        const std::uint64_t within = want - at;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(d.size - within, dest.size() - done));
        std::uint8_t* out = dest.data() + done;
        switch (d.kind) {
        case SpoolDescriptor::MovieEnd: std::memcpy(out, kMovieEnd + within, n); break;
        case SpoolDescriptor::RecordEnd: std::memcpy(out, kRecordEnd + within, n); break;
        case SpoolDescriptor::Chunk:
            if (OSErr err = spool.ReadAt(d.offset + within, {out, n})) return err;
            break;
        default: return ioErr;
        }
        done += n;
        cursorIndex_ = index;
        cursorPosition_ = at;
    }
    return noErr;
}
