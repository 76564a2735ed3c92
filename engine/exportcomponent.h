// The conversion engine as a movie export component (type 'spit', subtype
// 'Gld0'): the application registers it at start-up, opens an instance,
// gives it settings and converts movies through its selectors. Besides the
// platform's exporter selectors it has one private selector, the merge of
// movie databases into one 'VMRG' database.
#pragma once

#include <cstdint>
#include <string>

#include "platform/components.h"
#include "platform/exporter.h"

inline constexpr OSType kVantroExportSubType = Fcc("Gld0");
inline constexpr OSType kVantroExportMaker = Fcc("LmxA");
inline constexpr std::uint32_t kVantroExportFlags = 0x98030;
inline constexpr ComponentResult kVantroExportVersion = 0x00010005;
inline constexpr std::int16_t kMergeMovieDatabasesSelect = 0x401;

// Registers the component (and the standard exporter it builds on) once
// per process; answers it.
Component RegisterExportComponent();
// Opens the standard exporter, which gives the data procedures of a movie.
[[nodiscard]] OSErr OpenStandardExporter(ComponentInstance& out);

// The short file type string selector's record.
struct MovieExportStringParams {
    std::string* value;
};

// The merge selector's record: `count` movie databases into one.
struct MergeMovieDatabasesParams {
    const FileSpec* sources;
    std::int32_t count;
    const FileSpec* destination;
    const std::string* name; // at most 31 characters
};

// A data reference type of the exporter's own: a file reserved for the
// conversion, which exists and holds the database's name in its first 32
// bytes (the name field of the database header); the database is written
// into it in place.
inline constexpr OSType kReservedFileDataRefType = Fcc("rsvf");

// Typed calls.
[[nodiscard]] ComponentResult MovieExportToFile(ComponentInstance exporter, const FileSpec& file, const Movie& movie);
[[nodiscard]] ComponentResult MovieExportSetProgressProc(ComponentInstance exporter, MovieProgressProc proc, void* refcon);
[[nodiscard]] ComponentResult MovieExportSetSettings(ComponentInstance exporter, AtomContainer& settings);
[[nodiscard]] ComponentResult MovieExportGetSettings(ComponentInstance exporter, AtomContainer& settings);
// After noCodecErr: the format that had no decoder.
[[nodiscard]] ComponentResult MovieExportGetMissingDecoder(ComponentInstance exporter, OSType& format);
[[nodiscard]] ComponentResult MergeMovieDatabases(ComponentInstance exporter, const FileSpec* sources, std::int32_t count,
                                                  const FileSpec& destination, const std::string& name);
