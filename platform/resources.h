// The resource manager. The system's dialogs' strings, error table, presets,
// maker table and decoder tables are resources: typed, numbered, optionally
// named blobs. Here they are compiled into the executable from readable text
// files (see resources/) and handed to the resource manager as a resource
// file; lookups search the open files, the most recently opened first.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/bytes.h"
#include "platform/status.h"

using ResID = std::int16_t;
using ResType = FourCharCode;

struct ResourceEntry {
    ResType type;
    ResID id;
    std::string_view name;
    std::span<const std::uint8_t> data;
};

// A resource file: a table of entries whose bytes live for the whole process
// (the compiled-in tables are static).
struct ResourceFile {
    std::span<const ResourceEntry> entries;
};

// A read-only view of one resource; the bytes stay valid for the process.
struct Resource {
    ResType type = 0;
    ResID id = 0;
    std::string_view name;
    std::span<const std::uint8_t> data;
};

// Opens a resource file; answers its reference number (1 and up) in refNum.
[[nodiscard]] OSErr OpenResourceFile(const ResourceFile& file, std::int16_t& refNum);
// Closes it; lookups no longer see its resources.
[[nodiscard]] OSErr CloseResourceFile(std::int16_t refNum);

// Lookups answer resNotFound when nothing matches.
[[nodiscard]] OSErr GetResource(ResType type, ResID id, Resource& out);
// index is 1-based, counting the resources of that type in every open file,
// the most recently opened file first, each file in its stored order.
[[nodiscard]] OSErr GetIndResource(ResType type, std::int16_t index, Resource& out);
// Names compare without regard to ASCII case ("alloc_0" finds "ALLOC_0").
[[nodiscard]] OSErr GetNamedResource(ResType type, std::string_view name, Resource& out);
std::int16_t CountResources(ResType type);

// 'STR#' lists: a big-endian 16-bit count, then length-prefixed strings.
// Item numbers are 1-based. An item past the end, or a list that is cut
// short, answers resNotFound.
[[nodiscard]] OSErr GetIndString(ResID listID, std::int16_t item, std::string& out);
std::int16_t CountStrings(ResID listID);
