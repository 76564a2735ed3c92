// The movie database inspector: description, frame and sound decoding.
#include "tools/inspect.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdio>

#include "moviedb/formats.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/media.h"
#include "video/graysdecoder.h"
#include "video/graysencoder.h"

namespace {

std::string Date(std::uint32_t palmDate) {
    if (palmDate < kPalmEpochOffset) return std::to_string(palmDate);
    const std::time_t t = static_cast<std::time_t>(palmDate - kPalmEpochOffset);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return buf;
}

} // namespace

Inspection InspectDatabase(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key) {
    return MovieReader(bytes, key).Database();
}

std::string DescribeInspection(const Inspection& r, bool chunks) {
    std::string out;
    char line[512];
    auto add = [&](const char* format, auto... values) {
        std::snprintf(line, sizeof line, format, values...);
        out += line;
    };
    add("Database \"%s\"  type %s  creator %s  version %u\n", r.header.name.c_str(),
        FourCharCodeToText(r.header.type).c_str(), FourCharCodeToText(r.header.creator).c_str(), r.header.version);
    add("Created %s  modified %s\n", Date(r.header.creationDate).c_str(), Date(r.header.modificationDate).c_str());
    add("Records: %zu\n", r.list.size());
    for (std::size_t i = 0; i < r.records.size(); ++i) {
        const InspectedRecord& rec = r.records[i];
        add("  record %zu  offset %u  size %u  id 0x%06X  %zu chunks\n", i, rec.offset, rec.size, r.list[i].uniqueID,
            rec.chunks.size());
        if (chunks)
            for (const InspectedChunk& c : rec.chunks)
                add("    %-4s length %5u  at %u\n", ChunkTagText(c.tag).c_str(), c.length, c.offsetInRecord);
    }
    add("Picture %ux%u%s  depth %u  movie kind %u\n", r.pictureWidth, r.pictureHeight,
        r.noPicture ? " (presentation size)" : "", r.depth, r.movieKind);
    static const char* kNames[3] = {"pictures", "sound", "text"};
    for (int s = 0; s < 3; ++s) {
        const StreamSummary& st = r.streams[s];
        if (!st.present) continue;
        add("Stream %s: %llu chunks (%llu key), %llu bytes, duration %u (short %u), %zu seek entries\n", kNames[s],
            static_cast<unsigned long long>(st.chunks), static_cast<unsigned long long>(st.keyChunks),
            static_cast<unsigned long long>(st.bytes), st.sxDuration, st.shDuration, st.seek.size());
    }
    if (r.hasAudio) {
        add("Audio format %u (%s), %u channel(s), %u Hz, lead-in %u frames\n", r.audioFormat,
            SoundFormatName(static_cast<std::int32_t>(r.audioFormat)).c_str(), r.audioChannels, r.sampleRate,
            r.leadIn);
        if (r.atrac) add("CLIE Audio channel mode %u, bit-rate code %u\n", r.atrac->first, r.atrac->second);
    }
    if (r.rotation != 0) add("Rotation %d\n", r.rotation);
    if (r.metadata.size() == 3)
        add("Title \"%s\"  information \"%s\"  rights \"%s\"\n", r.metadata[0].c_str(), r.metadata[1].c_str(),
            r.metadata[2].c_str());
    for (const auto& [time, text] : r.chapters) add("Chapter at %u/100 s: %s\n", time, text.c_str());
    for (const auto& item : r.layoutItems)
        add("Layout item kind %d at (%d, %d) size %dx%d\n", item[5], item[0], item[1], item[2], item[3]);
    if (r.scrambled) add("Scrambled from offset %u%s\n", r.mediaStart, r.mediaChecked ? "" : "; media not checked without the key");
    out += r.Valid() ? "Check: valid\n" : "Check: INVALID: " + r.problem + "\n";
    return out;
}

OSErr DecodeGraysFrameOf(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key, std::uint32_t index,
                         std::vector<std::uint8_t>& gray, std::uint32_t& width, std::uint32_t& height) {
    const MovieReader reader(bytes, key);
    const MovieDatabase& in = reader.Database();
    if (!reader.Playable() || in.depth != 4 || in.noPicture) return paramErr;
    const std::span<const MoviePicture> pictures = reader.Pictures();
    if (std::any_of(pictures.begin(), pictures.end(), [](const MoviePicture& p) { return p.encoding != grays::kEncoding; }))
        return paramErr;
    if (index >= pictures.size()) return paramErr;
    // Pictures before the movie's first key picture decode onto a blank one.
    std::size_t first = 0;
    if (reader.KeyFrameAtOrBefore(index, first) != noErr) first = 0;
    width = in.pictureWidth;
    height = in.pictureHeight;
    std::vector<std::uint8_t> picture(std::size_t{grays::RowBytes(width)} * height, 0);
    for (std::size_t i = first; i <= index; ++i)
        if (OSErr err = DecodeGraysFrame(pictures[i].payload, width, height, picture)) return err;
    gray.resize(std::size_t{width} * height);
    GraysToGrayBytes(picture, width, height, gray);
    return noErr;
}

OSErr WritePgm(const std::string& path, std::span<const std::uint8_t> gray, std::uint32_t width, std::uint32_t height) {
    const std::string header = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    ByteBlock image;
    if (OSErr err = image.Append({reinterpret_cast<const std::uint8_t*>(header.data()), header.size()})) return err;
    if (OSErr err = image.Append(gray)) return err;
    File file;
    if (OSErr err = File::CreateNew(path, file)) return err;
    if (OSErr err = file.WriteAt(0, image.Span())) return err;
    return file.Close();
}

OSErr DecodeSoundOf(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key, std::vector<std::int16_t>& samples,
                    std::uint16_t& channels, std::uint32_t& rate) {
    const MovieReader reader(bytes, key);
    return DecodeMovieSound(reader, samples, channels, rate);
}

OSErr WriteWav(const std::string& path, std::span<const std::int16_t> samples, std::uint16_t channels, std::uint32_t rate) {
    ByteBlock wav;
    auto u32 = [&](std::uint32_t v) {
        const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                   static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        return wav.Append(b);
    };
    auto u16 = [&](std::uint16_t v) {
        const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
        return wav.Append(b);
    };
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    OSErr err = wav.AppendCString("RIFF");
    if (!err) err = u32(36 + dataBytes);
    if (!err) err = wav.AppendCString("WAVEfmt ");
    if (!err) err = u32(16);
    if (!err) err = u16(1);
    if (!err) err = u16(channels);
    if (!err) err = u32(rate);
    if (!err) err = u32(rate * channels * 2u);
    if (!err) err = u16(static_cast<std::uint16_t>(channels * 2));
    if (!err) err = u16(16);
    if (!err) err = wav.AppendCString("data");
    if (!err) err = u32(dataBytes);
    for (std::int16_t s : samples)
        if (!err) err = u16(static_cast<std::uint16_t>(s));
    if (err) return err;
    File file;
    if (OSErr e = File::CreateNew(path, file)) return e;
    if (OSErr e = file.WriteAt(0, wav.Span())) return e;
    return file.Close();
}
