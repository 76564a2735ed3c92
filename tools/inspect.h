// The movie database inspector: reads a finished database (any bytes at all),
// describes what is inside, and checks its structure strictly. The check
// names the first problem it finds; a database the writer made has none.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "moviedb/pdb.h"
#include "platform/media.h"

struct InspectedChunk {
    std::uint16_t tag = 0;
    std::uint32_t length = 0;
    std::uint32_t offset = 0; // in the file
    std::uint32_t offsetInRecord = 0;
};

struct InspectedRecord {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::vector<InspectedChunk> chunks;
};

struct SeekEntry {
    std::uint32_t time = 0;
    std::uint16_t record = 0;
    std::uint16_t offset = 0;
};

struct StreamSummary {
    bool present = false;
    std::uint32_t shDuration = 0;
    std::uint32_t sxDuration = 0;
    std::uint64_t chunks = 0;
    std::uint64_t keyChunks = 0;
    std::uint64_t durationSum = 0; // hundredths (pictures) or sample frames (sound)
    std::uint64_t bytes = 0;
    std::vector<SeekEntry> seek;
};

struct Inspection {
    PdbHeader header;
    std::vector<PdbRecordEntry> list;
    std::vector<InspectedRecord> records;

    // Values of the header record.
    std::uint16_t pictureWidth = 0, pictureHeight = 0;
    std::uint8_t noPicture = 0, depth = 0;
    std::uint16_t movieKind = 0;
    std::array<StreamSummary, 3> streams; // "fr", "au", "tx"
    bool hasAudio = false;
    std::uint32_t audioFormat = 0, sampleRate = 0, leadIn = 0;
    std::uint16_t audioChannels = 0;
    std::optional<std::pair<std::uint16_t, std::uint16_t>> atrac; // channel mode, bit-rate code
    std::int16_t rotation = 0;
    std::vector<std::string> metadata; // title, information, rights
    std::vector<std::pair<std::uint32_t, std::string>> chapters;
    std::vector<std::array<std::int16_t, 9>> layoutItems;
    bool scrambled = false;
    bool colourTables = false;
    bool mediaChecked = false; // false for a scrambled movie read without its key
    std::uint32_t mediaStart = 0;

    std::string problem; // the first problem; empty when the database is sound
    bool Valid() const { return problem.empty(); }
};

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

// ATRAC3 frames the way libavcodec's decoder takes them, as RealMedia files
// carry them: set-up data for `channels` independent channels of
// `packetBytes` a frame, and every packet scrambled by XOR with 0x537F6103
// per 32-bit word.
[[nodiscard]] OSErr OpenAtracDecoder(SoundDecompressor& decoder, std::uint16_t channels, std::uint32_t packetBytes);
std::vector<std::uint8_t> ScrambledAtracPacket(std::span<const std::uint8_t> packet);

// The sound of a database (formats 624, 626 to 630) as interleaved 16-bit
// samples; 8-bit sound is widened. paramErr when there is none to decode.
[[nodiscard]] OSErr DecodeSoundOf(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key,
                                  std::vector<std::int16_t>& samples, std::uint16_t& channels, std::uint32_t& rate);
[[nodiscard]] OSErr WriteWav(const std::string& path, std::span<const std::int16_t> samples, std::uint16_t channels,
                             std::uint32_t rate);
