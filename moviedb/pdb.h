// The Palm OS database container: a 78-byte header, a record list of 8 bytes
// per record, two gap bytes, then the records back to back. Dates count
// seconds since 1 January 1904.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/byteblock.h"
#include "platform/bytes.h"
#include "platform/status.h"

inline constexpr std::uint32_t kPdbHeaderSize = 78;
inline constexpr std::uint32_t kPdbRecordEntrySize = 8;
inline constexpr std::uint32_t kPdbGapSize = 2;
// Seconds from 1 January 1904 to 1 January 1970.
inline constexpr std::uint32_t kPalmEpochOffset = 2082844800u;
inline constexpr std::uint8_t kPdbRecordAttributes = 0x40;
inline constexpr std::uint32_t kPdbUniqueIDBase = 0xA48000;

struct PdbHeader {
    std::string name; // at most 31 bytes are stored
    std::uint16_t attributes = 0;
    std::uint16_t version = 1;
    std::uint32_t creationDate = 0;
    std::uint32_t modificationDate = 0;
    std::uint32_t backupDate = 0;
    std::uint32_t modificationNumber = 0;
    std::uint32_t appInfoOffset = 0;
    std::uint32_t sortInfoOffset = 0;
    OSType type = 0;
    OSType creator = 0;
    std::uint32_t uniqueIDSeed = 0;
    std::uint32_t nextRecordListID = 0;
    std::uint16_t recordCount = 0;
};

struct PdbRecordEntry {
    std::uint32_t offset = 0;
    std::uint8_t attributes = 0;
    std::uint32_t uniqueID = 0; // 24 bits
};

// The current time as a Palm date.
std::uint32_t PalmDateNow();

[[nodiscard]] OSErr AppendPdbHeader(ByteBlock& out, const PdbHeader& header);
// The entry of the record with index i as the writer makes it: attributes
// 0x40, unique ID 0xA48000 + i.
[[nodiscard]] OSErr AppendPdbRecordEntry(ByteBlock& out, std::uint32_t offset, std::uint32_t index);

// Reads the header and the record list from untrusted bytes. Answers paramErr
// for a file too short for what it declares.
[[nodiscard]] OSErr ParsePdb(std::span<const std::uint8_t> bytes, PdbHeader& header,
                             std::vector<PdbRecordEntry>& records);
