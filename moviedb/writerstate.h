// The movie writer's state, shared by the files of moviedb/ only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "moviedb/chunk.h"
#include "moviedb/moviewriter.h"
#include "moviedb/spoolfile.h"
#include "platform/byteblock.h"

// One piece of a record that lives in the spool file: the movie end marker
// "me", the record end marker "re" (which also ends the record), or a media
// chunk copied from the spool file.
struct SpoolDescriptor {
    enum Kind : std::uint32_t { MovieEnd = 1, RecordEnd = 2, Chunk = 3 };
    Kind kind;
    std::uint64_t offset; // in the spool file, for Chunk
    std::uint32_t size;
};

// Where a stream's duration goes in the header record.
struct StreamPatch {
    std::uint32_t sh = 0; // payload offset of "sh"
    std::uint32_t sx = 0; // payload offset of "sx"
};

struct SeekTable {
    std::uint32_t payload = 0; // payload offset in record 0
    std::uint32_t entries = 0;
    std::uint32_t step = 0;
};

struct MovieWriter {
    WriterState state = WriterState::Configuring;
    std::string name;
    bool hasName = false;
    WriterProgressProc progress = nullptr;
    std::int32_t progressRefcon = 0;

    // ---- Configuration ----
    std::uint16_t width = 0, height = 0;
    std::uint16_t paddedWidth = 0, paddedHeight = 0;
    std::int16_t videoFormat = 0;
    std::uint32_t videoDataRate = 40000; // bytes per second
    std::int32_t timeScale = 1000;
    std::uint32_t pictureInterleave = 100; // hundredths
    std::uint32_t audioInterleave = 44100; // sample frames
    std::uint32_t soundLeadIn = 88200;     // sample frames

    std::int32_t audioFormatCode = 0;
    WaveFormat wave;
    std::uint32_t samplesPerRecord = 0;
    float boostFactor = 1.0f;
    std::uint32_t atracBitRate = 0;
    std::uint16_t atracChannelMode = 0;
    // Settled at begin by the sound encoder ("ah", "ax").
    bool audioSettled = false;
    std::uint16_t encodingChannels = 0;
    std::uint16_t settledChannelMode = 0;
    std::uint16_t bitRateCode = 0;

    std::int16_t rotation = 0;
    std::array<std::string, 3> metadata;
    std::array<bool, 3> metadataSet{};
    bool hasReference = false;
    std::uint16_t referenceNumber = 0;
    std::string referenceText;
    bool hasRect = false;
    std::array<std::int16_t, 4> rect{}; // top, left, bottom, right
    bool hasAp = false, ap = false;
    bool hasCv = false, cv = false;
    bool hasIa = false, ia = false;
    std::uint8_t sm = 0;
    bool hasColor = false;
    std::array<std::uint8_t, 3> color{};
    bool hasPresentation = false;
    std::array<std::uint16_t, 2> presentation{};
    bool hasFullScreen = false, fullScreen = false;
    bool hasKey = false;
    std::array<std::uint8_t, 512> key{};
    bool textStream = false;
    std::vector<ByteBlock> layoutItems; // finished "bi" chunks
    std::uint16_t chapterCount = 0;
    ByteBlock chapterEntries; // the entries of "cl"

    std::unique_ptr<WriterEncoder> videoEncoder;
    std::unique_ptr<WriterEncoder> soundEncoder;

    // ---- Running ----
    bool hasVideo = false, hasSound = false, hasText = false, hasLayout = false;
    ByteBlock header; // the header record while it is built
    std::uint32_t mtAt = 0, ahAt = 0, pyAt = 0, icAt = 0;
    StreamPatch videoPatch, textPatch, soundPatch;
    SpoolFile spool;
    std::array<std::vector<MediaIndexEntry>, 3> index; // video, sound, text
    std::uint32_t videoFrames = 0;
    std::uint64_t videoDuration = 0;  // hundredths
    std::uint64_t durationCarry = 0;  // movie time scale units not yet written
    std::uint64_t soundFrames = 0;

    // ---- Finished ----
    std::vector<ByteBlock> memoryRecords;
    std::vector<SpoolDescriptor> descriptors;
    std::vector<std::uint64_t> descriptorStarts; // file position of each descriptor
    std::uint64_t spooledSize = 0;
    ByteBlock image;
    std::uint32_t mediaStartInRecord = 0;
    std::uint32_t mediaStart = 0;

    void Progress(std::int32_t percentage) const {
        if (progress) progress(percentage, progressRefcon);
    }
};

// The record layout of EndMovie, after the header's patch points are filled.
[[nodiscard]] OSErr LayOutRecords(MovieWriter& w);
// The database image (header, record list, gap, in-memory records).
[[nodiscard]] OSErr BuildDatabaseImage(MovieWriter& w);
