// Helpers that drive a MovieWriter the way the conversion does and read the
// finished database back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "moviedb/moviewriter.h"
#include "tools/inspect.h"

inline OwnedMovieWriter NewWriter(const char* name = "Test movie") {
    MovieWriter* raw = nullptr;
    EXPECT_EQ(NewMovieWriter(&raw), noErr);
    OwnedMovieWriter w(raw);
    EXPECT_EQ(SetDatabaseName(w.get(), name), noErr);
    return w;
}

inline void ConfigureVideo(MovieWriter* w, std::uint16_t width = 160, std::uint16_t height = 120,
                           std::int16_t format = 4, std::int32_t timeScale = 100) {
    ASSERT_EQ(SetPictureSize(w, width, height), noErr);
    ASSERT_EQ(SetVideoFormat(w, format), noErr);
    ASSERT_EQ(SetWriterParameter(w, kWriterMovieTimeScale, timeScale), noErr);
}

inline void ConfigureSound(MovieWriter* w, std::uint32_t rate = 8000, std::int32_t code = 626,
                           std::uint16_t channels = 1) {
    WaveFormat format;
    format.channels = channels;
    format.sampleRate = rate;
    ASSERT_EQ(SetSoundFormat(w, format), noErr);
    ASSERT_EQ(SetAudioFormatCode(w, code), noErr);
    ASSERT_EQ(SetWriterParameter(w, kWriterSoundLeadIn, 2 * rate), noErr);
    std::int32_t periods[2] = {static_cast<std::int32_t>(rate), 100};
    ASSERT_EQ(SetWriterParameter(w, kWriterInterleave, reinterpret_cast<std::intptr_t>(periods)), noErr);
}

// A frame whose bytes say which frame it is.
inline std::vector<std::uint8_t> FrameData(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    return data;
}

inline std::vector<std::uint8_t> ReadAll(const MovieWriter* w) {
    std::uint32_t size = 0;
    EXPECT_EQ(GetDatabaseSize(w, size), noErr);
    std::vector<std::uint8_t> bytes(size);
    EXPECT_EQ(ReadDatabase(w, bytes.data(), 0, size), noErr);
    return bytes;
}

inline std::vector<std::uint8_t> Finish(MovieWriter* w) {
    EXPECT_EQ(EndMovie(w), noErr);
    return ReadAll(w);
}

// A movie of nothing but a background layout item.
inline std::vector<std::uint8_t> LayoutOnlyMovie() {
    auto w = NewWriter();
    LayoutItem background;
    background.kind = 1;
    background.layer = 1;
    EXPECT_EQ(SetWriterParameter(w.get(), kWriterLayoutItem, reinterpret_cast<std::intptr_t>(&background)), noErr);
    EXPECT_EQ(BeginMovie(w.get()), noErr);
    return Finish(w.get());
}

// The media chunk tags after the header, in file order.
inline std::vector<std::uint16_t> MediaOrder(const Inspection& inspection) {
    std::vector<std::uint16_t> order;
    for (const auto& record : inspection.records)
        for (const auto& chunk : record.chunks)
            if (chunk.tag == 0x6672 /* fr */ || chunk.tag == 0x6175 /* au */) order.push_back(chunk.tag);
    return order;
}

// A media chunk of a finished database: where it is and how long it lasts.
struct PlacedChunk {
    std::uint16_t tag;
    std::size_t record; // index in the record list
    std::uint32_t offsetInRecord;
    std::uint32_t length;
    std::uint32_t duration; // hundredths ("fr") or sample frames ("au")
};

inline std::vector<PlacedChunk> PlacedChunks(const Inspection& inspection, const std::vector<std::uint8_t>& bytes) {
    std::vector<PlacedChunk> out;
    for (std::size_t r = 0; r < inspection.records.size(); ++r)
        for (const auto& c : inspection.records[r].chunks) {
            if (c.tag == 0x6672 /* fr */)
                out.push_back({c.tag, r, c.offsetInRecord, c.length, ReadBE16(bytes.data() + c.offset + 6)});
            else if (c.tag == 0x6175 /* au */)
                out.push_back({c.tag, r, c.offsetInRecord, c.length, ReadBE32(bytes.data() + c.offset + 4)});
        }
    return out;
}
