// Helpers that drive a MovieWriter (or a whole conversion) the way the
// program does, read the finished database back and measure its sound.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine/conversion.h"
#include "moviedb/moviewriter.h"
#include "tests/test_folder.h"
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

// A writer of 160 × 120 "16 Grays" pictures, begun.
inline OwnedMovieWriter BegunVideoWriter(const char* name = "Test movie") {
    auto w = NewWriter(name);
    ConfigureVideo(w.get());
    EXPECT_EQ(BeginMovie(w.get()), noErr);
    return w;
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

// The chunk with the tag (the nth of them, from 0) over all records; null when there is none.
inline const InspectedChunk* FindChunk(const Inspection& in, std::uint16_t tag, int nth = 0) {
    for (const auto& record : in.records)
        for (const auto& chunk : record.chunks)
            if (chunk.tag == tag && nth-- == 0) return &chunk;
    return nullptr;
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

// Settings for a conversion: "16 Grays" at 160 × 120 at the source's own
// rate without sound unless told otherwise.
inline ExportSettings TestSettings(std::int16_t depth = kDepthSixteenGrays, Fixed rate = 0, std::int32_t sound = kSoundNone,
                                   std::uint32_t soundRate = 8192, std::uint16_t channels = 1) {
    ExportSettings s;
    s.depth = depth;
    s.frameRate = rate;
    s.sizeCode = 4; // 160 × 120
    s.soundFormat = sound;
    s.sampleRate = UIntToUnsignedFixed(soundRate);
    s.channels = channels;
    return s;
}

// A database's bytes with the header's creation and modification times,
// which are the clock's, blanked: two makings of one movie compare equal.
inline std::vector<std::uint8_t> WithoutClockTimes(std::vector<std::uint8_t> bytes) {
    if (bytes.size() >= 44) std::fill(bytes.begin() + 36, bytes.begin() + 44, 0);
    return bytes;
}

// A conversion into a fresh folder, its database read back and inspected.
struct Converted {
    OSErr err;
    std::vector<std::uint8_t> bytes;
    Inspection inspection;
};

inline Converted ConvertTo(const std::filesystem::path& source, const ExportSettings& settings,
                           ConversionProgressProc progress = nullptr, void* refcon = nullptr) {
    TestFolder folder;
    const auto out = folder.Path() / "movie.pdb";
    Converted c;
    c.err = ConvertMovie(source, settings, out, progress, refcon);
    if (c.err == noErr) {
        c.bytes = FileBytes(out);
        c.inspection = InspectDatabase(c.bytes);
        EXPECT_TRUE(c.inspection.Valid()) << c.inspection.problem;
    }
    return c;
}

// The sound of a finished database, decoded to 16 bits.
struct DecodedSound {
    OSErr err;
    std::vector<std::int16_t> samples;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    double Seconds() const { return channels == 0 ? 0 : static_cast<double>(samples.size() / channels) / rate; }
};

inline DecodedSound SoundOf(std::span<const std::uint8_t> bytes) {
    DecodedSound d;
    d.err = DecodeSoundOf(bytes, {}, d.samples, d.channels, d.rate);
    return d;
}

// A tone's frequency from the first channel's rising crossings (from below
// -1000 to above +1000, so coding noise near zero does not count): a garbled
// or mis-timed sound shows up as the wrong pitch.
inline double TonePitch(std::span<const std::int16_t> samples, std::uint16_t channels, std::uint32_t rate) {
    std::size_t crossings = 0, first = 0, last = 0;
    bool low = false;
    for (std::size_t i = 0; i < samples.size(); i += channels) {
        if (samples[i] < -1000) low = true;
        if (low && samples[i] > 1000) {
            low = false;
            if (crossings++ == 0) first = i / channels;
            last = i / channels;
        }
    }
    if (crossings < 2) return 0;
    return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}

// Signal to noise in dB of decoded samples against their reference.
inline double Snr(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < reference.size() && i < decoded.size(); ++i) {
        signal += double(reference[i]) * reference[i];
        noise += double(reference[i] - decoded[i]) * (reference[i] - decoded[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}
