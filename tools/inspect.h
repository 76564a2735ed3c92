// The movie database inspector: describes what is inside a finished
// database (any bytes at all) and decodes its pictures and sound, over the
// movie reader's strict check. The check names the first problem it finds;
// a database the writer made has none.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/moviesound.h"
#include "moviedb/moviereader.h"
#include "platform/media.h"

using InspectedChunk = MovieChunk;
using InspectedRecord = MovieRecord;
using Inspection = MovieDatabase;

// Inspects the bytes; `key` (512 bytes) unscrambles a scrambled movie.
Inspection InspectDatabase(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key = {});

// A readable report; `chunks` lists every chunk of every record.
std::string DescribeInspection(const Inspection& inspection, bool chunks);

// Frame `index` (0-based, in file order) of a "16 Grays" database as 8-bit
// gray pixels (255 white), decoded from the key frame before it. paramErr
// when the database is not valid, has no such frame or is not "16 Grays".
[[nodiscard]] OSErr DecodeGraysFrameOf(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key,
                                       std::uint32_t index, std::vector<std::uint8_t>& gray, std::uint32_t& width,
                                       std::uint32_t& height);
// A binary PGM image of 8-bit gray pixels.
[[nodiscard]] OSErr WritePgm(const std::string& path, std::span<const std::uint8_t> gray, std::uint32_t width,
                             std::uint32_t height);

// The sound of a database (formats 624, 626 to 630) as interleaved 16-bit
// samples; 8-bit sound is widened. paramErr when there is none to decode.
[[nodiscard]] OSErr DecodeSoundOf(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key,
                                  std::vector<std::int16_t>& samples, std::uint16_t& channels, std::uint32_t& rate);
[[nodiscard]] OSErr WriteWav(const std::string& path, std::span<const std::int16_t> samples, std::uint16_t channels,
                             std::uint32_t rate);
