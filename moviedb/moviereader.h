// The movie reader: reads a finished database (any bytes at all) strictly,
// names the first problem it finds (a database the writer made has none),
// and gives a player random access to its pictures and sound: chunk by
// chunk, by time through the seek tables as a handheld seeks, and the
// screen's layout.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "moviedb/pdb.h"
#include "platform/files.h"
#include "platform/status.h"

struct MovieChunk {
    std::uint16_t tag = 0;
    std::uint32_t length = 0;
    std::uint32_t offset = 0; // in the file
    std::uint32_t offsetInRecord = 0;
};

struct MovieRecord {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::vector<MovieChunk> chunks;
};

// An entry of a seek table ("pt", "at", "tt"): the chunk's start time
// (hundredths, or the sound's sample frames) and where it is, its record
// counted from 1 and its offset in that record.
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

// What the reader found, as far as it got before the first problem.
struct MovieDatabase {
    PdbHeader header;
    std::vector<PdbRecordEntry> list;
    std::vector<MovieRecord> records;

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
    std::vector<std::array<std::int16_t, 9>> layoutItems; // the "oh" values as stored
    // The screen's layout around the movie, when the movie was made with one.
    std::optional<std::array<std::uint8_t, 3>> background;    // "bc": red, green, blue
    std::optional<std::array<std::int16_t, 4>> movieRect;     // "mr": top, left, bottom, right
    std::optional<bool> fullScreen;                           // "fs": no control margins
    bool scrambled = false;
    bool colourTables = false;
    bool mediaChecked = false; // false for a scrambled movie read without its key
    std::uint32_t mediaStart = 0;

    std::string problem; // the first problem; empty when the database is sound
    bool Valid() const { return problem.empty(); }
};

// A picture chunk ("fr"): its coded picture (without the chunk's header
// and pad byte), the encoding byte, and its place on the movie's time line.
struct MoviePicture {
    std::span<const std::uint8_t> payload;
    std::uint8_t encoding = 0;
    bool key = true; // decodes without the pictures before it
    std::uint16_t duration = 0; // hundredths of a second
    std::uint64_t start = 0;    // hundredths of a second
};

// A sound chunk ("au"): its coded sound (with the pad byte of an odd size,
// which the chunk does not mark) and the sample frames it holds.
struct MovieSound {
    std::span<const std::uint8_t> payload;
    std::uint32_t frames = 0;
    std::uint64_t firstFrame = 0;
};

// A layout item ("bi"): its nine "oh" values (left, top, width, height,
// zero, kind, layer, shown, options) and, for an image, the "px" sub-chunk's
// bytes (bitmap header and compressed image).
struct MovieLayoutItem {
    std::array<std::int16_t, 9> values{};
    std::span<const std::uint8_t> picture;
};

// The reader keeps its own copy of the bytes, unscrambled, and the lists
// point into it: it moves but never copies.
class MovieReader {
public:
    // Reads the bytes; `key` (512 bytes) unscrambles a scrambled movie.
    explicit MovieReader(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key = {});
    MovieReader(MovieReader&&) = default;
    MovieReader& operator=(MovieReader&&) = default;
    MovieReader(const MovieReader&) = delete;
    MovieReader& operator=(const MovieReader&) = delete;

    const MovieDatabase& Database() const { return db_; }
    // The file's bytes with the media unscrambled (when the key was given).
    std::span<const std::uint8_t> Bytes() const { return data_; }
    // Valid, and its media read: only then are the lists below filled and
    // do the look-ups answer.
    bool Playable() const { return db_.Valid() && db_.mediaChecked; }

    // In file order, which is time order.
    std::span<const MoviePicture> Pictures() const { return pictures_; }
    std::span<const MovieSound> Sounds() const { return sounds_; }
    std::int16_t Rotation() const { return db_.rotation; }
    // Filled for a valid database, scrambled or not.
    std::span<const MovieLayoutItem> LayoutItems() const { return layout_; }
    // The colour movie's palette (256 × Y, Cb, Cr) and inverse colour map
    // (8192 entries), which a 256-colour screen shows its pictures through;
    // empty without them.
    std::span<const std::uint8_t> Palette() const { return palette_; }
    std::span<const std::uint8_t> InverseMap() const { return inverseMap_; }

    // The key picture to decode from to show picture `index`: the picture
    // seek table's last entry at or before the picture's start time, then
    // on through the chunks to the last key picture at or before `index`.
    // paramErr when the database is not playable, has no such picture, no
    // key picture before it, or a seek entry that is not a key picture's
    // chunk starting at its time.
    [[nodiscard]] OSErr KeyFrameAtOrBefore(std::size_t index, std::size_t& key) const;
    // The picture showing at a time in hundredths: the last one starting
    // at or before it (the last picture stays after the movie's end).
    // paramErr when the database is not playable or has no pictures.
    [[nodiscard]] OSErr PictureAt(std::uint64_t hundredths, std::size_t& index) const;
    // The sound chunk holding a sample frame, found through the sound seek
    // table. paramErr when the database is not playable, the frame is past
    // the sound's end, or a seek entry is not a sound chunk starting there.
    [[nodiscard]] OSErr SoundChunkAt(std::uint64_t sampleFrame, std::size_t& index) const;

private:
    friend class MovieParser;

    // Where a media chunk is: its stream, its index in the stream and
    // among the stream's key chunks, and its start.
    struct Place {
        int stream;
        std::uint64_t start;
        bool key;
        std::uint64_t ordinal;
        std::uint64_t keyOrdinal;
    };
    static std::uint64_t PlaceKey(std::uint32_t record, std::uint32_t offset) {
        return (std::uint64_t{record} << 32) | offset;
    }
    // The chunk a seek entry of a stream names, checked to be one of the
    // stream's chunks starting at the entry's time (a key picture for
    // pictures).
    [[nodiscard]] OSErr Resolve(int stream, const SeekEntry& entry, std::size_t& index) const;

    std::vector<std::uint8_t> data_;
    MovieDatabase db_;
    std::unordered_map<std::uint64_t, Place> places_;
    std::vector<MoviePicture> pictures_;
    std::vector<MovieSound> sounds_;
    std::vector<MovieLayoutItem> layout_;
    std::span<const std::uint8_t> palette_, inverseMap_;
};

// Reads a database file, unscrambled with the key in `keyFile` when one is
// named. paramErr, with the reason in `problem`, for a key file not of 512
// bytes or a database that cannot be played (damaged, or scrambled and read
// without its key); the file system's error otherwise.
[[nodiscard]] OSErr ReadMovieFile(const FileSpec& path, const FileSpec& keyFile, MovieReader& out, std::string& problem);

// The tag's two letters, other bytes escaped.
std::string ChunkTagText(std::uint16_t tag);
