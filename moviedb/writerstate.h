// The movie writer's state, shared by the files of moviedb/ only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "moviedb/chunk.h"
#include "moviedb/descriptorlog.h"
#include "moviedb/moviewriter.h"
#include "moviedb/spoolfile.h"
#include "platform/byteblock.h"

// Where a stream's duration goes in the header record.
struct StreamPatch {
    std::uint32_t sh = 0; // payload offset of "sh"
    std::uint32_t sx = 0; // payload offset of "sx"
};

struct StreamCount {
    std::uint64_t chunks = 0;
    std::uint64_t eligible = 0; // chunks a seek table may point at (key frames for pictures)
    std::uint64_t duration = 0; // hundredths for pictures, sample frames for sound
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
    std::intptr_t progressRefcon = 0;

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
    // What each stream wrote, counted as it is written; the chunks
    // themselves (with their sizes and durations) are only in the spool file.
    std::array<StreamCount, 3> counts; // video, sound, text
    std::uint64_t durationCarry = 0;   // hundredths of movie time scale units not yet written

    // ---- Finished ----
    std::vector<ByteBlock> memoryRecords;
    DescriptorLog layout;          // the spooled records' pieces
    std::uint64_t spooledRecords = 0;
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
