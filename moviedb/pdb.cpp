// The Palm OS database container's header and record list.
#include "moviedb/pdb.h"

#include <algorithm>
#include <ctime>

std::uint32_t PalmDateNow() {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::time(nullptr)) + kPalmEpochOffset);
}

OSErr AppendPdbHeader(ByteBlock& out, const PdbHeader& h) {
    std::uint8_t bytes[kPdbHeaderSize] = {};
    // The name field is 32 bytes: at most 31 bytes of the name, then zeros.
    std::copy_n(h.name.begin(), std::min<std::size_t>(h.name.size(), 31), bytes);
    WriteBE16(bytes + 32, h.attributes);
    WriteBE16(bytes + 34, h.version);
    WriteBE32(bytes + 36, h.creationDate);
    WriteBE32(bytes + 40, h.modificationDate);
    WriteBE32(bytes + 44, h.backupDate);
    WriteBE32(bytes + 48, h.modificationNumber);
    WriteBE32(bytes + 52, h.appInfoOffset);
    WriteBE32(bytes + 56, h.sortInfoOffset);
    WriteBE32(bytes + 60, h.type);
    WriteBE32(bytes + 64, h.creator);
    WriteBE32(bytes + 68, h.uniqueIDSeed);
    WriteBE32(bytes + 72, h.nextRecordListID);
    WriteBE16(bytes + 76, h.recordCount);
    return out.Append(bytes);
}

OSErr AppendPdbRecordEntry(ByteBlock& out, std::uint32_t offset, std::uint32_t index) {
    std::uint8_t bytes[kPdbRecordEntrySize];
    WriteBE32(bytes, offset);
    bytes[4] = kPdbRecordAttributes;
    const std::uint32_t id = kPdbUniqueIDBase + index;
    bytes[5] = static_cast<std::uint8_t>(id >> 16);
    bytes[6] = static_cast<std::uint8_t>(id >> 8);
    bytes[7] = static_cast<std::uint8_t>(id);
    return out.Append(bytes);
}

OSErr ParsePdb(std::span<const std::uint8_t> bytes, PdbHeader& header, std::vector<PdbRecordEntry>& records) {
    if (bytes.size() < kPdbHeaderSize) return paramErr;
    const std::uint8_t* p = bytes.data();
    PdbHeader h;
    const auto nameEnd = std::find(p, p + 32, std::uint8_t{0});
    h.name.assign(p, nameEnd);
    h.attributes = ReadBE16(p + 32);
    h.version = ReadBE16(p + 34);
    h.creationDate = ReadBE32(p + 36);
    h.modificationDate = ReadBE32(p + 40);
    h.backupDate = ReadBE32(p + 44);
    h.modificationNumber = ReadBE32(p + 48);
    h.appInfoOffset = ReadBE32(p + 52);
    h.sortInfoOffset = ReadBE32(p + 56);
    h.type = ReadBE32(p + 60);
    h.creator = ReadBE32(p + 64);
    h.uniqueIDSeed = ReadBE32(p + 68);
    h.nextRecordListID = ReadBE32(p + 72);
    h.recordCount = ReadBE16(p + 76);
    if (bytes.size() < kPdbHeaderSize + std::size_t{h.recordCount} * kPdbRecordEntrySize) return paramErr;
    std::vector<PdbRecordEntry> list;
    try {
        list.reserve(h.recordCount);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (std::uint32_t i = 0; i < h.recordCount; ++i) {
        const std::uint8_t* e = p + kPdbHeaderSize + kPdbRecordEntrySize * i;
        list.push_back({ReadBE32(e), e[4], (std::uint32_t{e[5]} << 16) | (std::uint32_t{e[6]} << 8) | e[7]});
    }
    header = std::move(h);
    records = std::move(list);
    return noErr;
}
