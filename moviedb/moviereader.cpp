// The movie reader: the strict structure check of a finished database, and
// random access to its pictures, sound and layout.
#include "moviedb/moviereader.h"

#include <algorithm>
#include <iterator>

#include "moviedb/chunk.h"
#include "moviedb/moviewriter.h"
#include "platform/bytes.h"

namespace {

constexpr std::uint16_t kMe = ChunkTag("me");
constexpr std::uint16_t kRe = ChunkTag("re");
constexpr std::uint16_t kMb = ChunkTag("mb");
constexpr std::uint16_t kStreamTags[3] = {ChunkTag("fr"), ChunkTag("au"), ChunkTag("tx")};
constexpr int kPictures = 0, kSound = 1;

// No handheld screen has a side over 480 pixels, and a movie's picture is
// never larger than the screen's layout; a header claiming more is damaged,
// and decoding it would ask for gigabytes.
constexpr std::uint16_t kLargestPicture = 1024;

int StreamOf(std::uint16_t tag) {
    for (int s = 0; s < 3; ++s)
        if (kStreamTags[s] == tag) return s;
    return -1;
}

// The place of each header chunk in the fixed order; "sh" and "sx" rank by
// their stream (pictures, text, sound). -1 for a tag the header never holds.
int HeaderRank(std::uint16_t tag, std::uint16_t streamTag) {
    static constexpr std::uint16_t kOrder[] = {
        ChunkTag("mv"), ChunkTag("mt"), 0, 0, 0, 0, 0, 0, ChunkTag("ah"), ChunkTag("ax"), ChunkTag("an"),
        ChunkTag("rf"), ChunkTag("md"), ChunkTag("mr"), ChunkTag("ap"), ChunkTag("cv"), ChunkTag("ia"),
        ChunkTag("sm"), ChunkTag("bc"), ChunkTag("fs"), ChunkTag("ec"), ChunkTag("bt"), ChunkTag("py"),
        ChunkTag("ic"), ChunkTag("cl"), ChunkTag("pt"), ChunkTag("at"), ChunkTag("tt"), ChunkTag("bi"),
        ChunkTag("mb")};
    if (tag == ChunkTag("sh") || tag == ChunkTag("sx")) {
        const int pair = streamTag == ChunkTag("fr") ? 0 : streamTag == ChunkTag("tx") ? 1 : streamTag == ChunkTag("au") ? 2 : -1;
        if (pair < 0) return -1;
        return 2 + 2 * pair + (tag == ChunkTag("sx") ? 1 : 0);
    }
    for (int i = 0; i < static_cast<int>(std::size(kOrder)); ++i)
        if (kOrder[i] != 0 && kOrder[i] == tag) return i;
    return -1;
}

// Fixed payload sizes of header chunks (0: variable).
std::uint32_t FixedLength(std::uint16_t tag) {
    switch (tag) {
    case ChunkTag("mv"): return 10;
    case ChunkTag("mt"): return 6;
    case ChunkTag("sh"): return 10;
    case ChunkTag("sx"): return 14;
    case ChunkTag("ah"): return 18;
    case ChunkTag("ax"): return 8;
    case ChunkTag("an"):
    case ChunkTag("ap"):
    case ChunkTag("cv"):
    case ChunkTag("ia"):
    case ChunkTag("sm"):
    case ChunkTag("fs"):
    case ChunkTag("ec"): return 6;
    case ChunkTag("mr"): return 12;
    case ChunkTag("bc"): return 8;
    case ChunkTag("bt"):
    case ChunkTag("mb"): return 4;
    case ChunkTag("py"): return 772;
    case ChunkTag("ic"): return 8196;
    default: return 0;
    }
}

} // namespace

std::string ChunkTagText(std::uint16_t tag) {
    std::string s;
    AppendPrintable(s, static_cast<std::uint8_t>(tag >> 8));
    AppendPrintable(s, static_cast<std::uint8_t>(tag));
    return s;
}

// The strict read, step by step, into the reader's database and lists. It
// stops at the first problem that leaves nothing further to read; later
// checks each note their problem and go on (only the first is kept).
class MovieParser {
public:
    MovieParser(MovieReader& reader, std::span<const std::uint8_t> key)
        : data_(reader.data_), key_(key), r_(reader.db_), places_(reader.places_), reader_(reader) {}

    void Run() {
        if (!ReadContainer() || !ReadRecords() || !ReadHeaderChunks()) return;
        if (r_.scrambled && key_.size() != 512) return; // media unreadable without the key
        r_.mediaChecked = true;
        if (!ReadMedia()) return;
        CheckMarkersAndSizes();
        CheckStreams();
    }

private:
    bool Fail(const std::string& message) {
        if (r_.problem.empty()) r_.problem = message;
        return false;
    }

    const std::uint8_t* At(std::uint32_t offset) const { return data_.data() + offset; }

    bool ReadContainer() {
        if (ParsePdb(data_, r_.header, r_.list) != noErr) return Fail("file too short for its database header and record list");
        if (r_.header.type != Fcc("VMOV") || r_.header.creator != Fcc("VTRO"))
            return Fail("database type and creator are not VMOV/VTRO");
        const std::uint32_t n = r_.header.recordCount;
        if (n == 0) return Fail("database has no records");
        const std::uint64_t first = kPdbHeaderSize + std::uint64_t{kPdbRecordEntrySize} * n + kPdbGapSize;
        if (data_.size() < first) return Fail("file ends inside the gap after the record list");
        if (ReadBE16(At(static_cast<std::uint32_t>(first - 2))) != 0) return Fail("gap bytes after the record list are not zero");
        for (std::uint32_t i = 0; i < n; ++i) {
            const PdbRecordEntry& e = r_.list[i];
            if (e.attributes != kPdbRecordAttributes) return Fail("record " + std::to_string(i) + " has attributes other than 0x40");
            if (e.uniqueID != ((kPdbUniqueIDBase + i) & 0xFFFFFF))
                return Fail("record " + std::to_string(i) + " has unique ID other than 0xA48000 + index");
            const std::uint64_t expected = i == 0 ? first : r_.list[i - 1].offset;
            if (i == 0 ? e.offset != expected : e.offset < expected)
                return Fail("record " + std::to_string(i) + " does not start where the previous one ends");
            if (e.offset > data_.size()) return Fail("record " + std::to_string(i) + " starts past the end of the file");
        }
        return true;
    }

    bool ReadRecords() {
        const std::size_t n = r_.list.size();
        r_.records.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            MovieRecord& rec = r_.records[i];
            rec.offset = r_.list[i].offset;
            const std::uint64_t end = i + 1 < n ? r_.list[i + 1].offset : data_.size();
            rec.size = static_cast<std::uint32_t>(end - rec.offset);
        }
        return true;
    }

    // Reads the chunk at pos of record i into its list; false (and the
    // problem) for anything that does not add up.
    bool NextChunk(std::size_t i, std::uint32_t& pos) {
        MovieRecord& rec = r_.records[i];
        const std::string where = "record " + std::to_string(i) + " offset " + std::to_string(pos);
        if (rec.size - pos < kChunkHeaderSize) return Fail(where + ": bytes outside any chunk");
        const std::uint32_t length = ReadBE16(At(rec.offset + pos));
        if (length < kChunkHeaderSize) return Fail(where + ": chunk shorter than its header");
        if (length % 2 != 0) return Fail(where + ": odd chunk length " + std::to_string(length));
        if (length > rec.size - pos) return Fail(where + ": chunk runs past the end of its record");
        rec.chunks.push_back({ReadBE16(At(rec.offset + pos + 2)), length, rec.offset + pos, pos});
        pos += length;
        return true;
    }

    bool SplitRecord(std::size_t i, std::uint32_t from) {
        for (std::uint32_t pos = from; pos < r_.records[i].size;)
            if (!NextChunk(i, pos)) return false;
        return true;
    }

    // The header part: record 0 and any records the layout items spilled
    // into, up to and including "mb". Read chunk by chunk: what follows "mb"
    // may be scrambled.
    bool ReadHeaderChunks() {
        int lastRank = -1;
        std::uint16_t lastTag = 0;
        for (std::size_t i = 0; i < r_.records.size(); ++i) {
            std::uint32_t pos = 0;
            bool closed = false;
            while (pos < r_.records[i].size && !closed) {
                if (!NextChunk(i, pos)) return false;
                const MovieChunk c = r_.records[i].chunks.back();
                if (c.tag == kRe) {
                    if (lastTag != ChunkTag("bi")) return Fail("header record closed before its layout items");
                    closed = true; // the header goes on in the next record
                    continue;
                }
                const std::uint32_t payload = c.length - kChunkHeaderSize;
                const std::uint8_t* p = At(c.offset + kChunkHeaderSize);
                const std::uint16_t streamTag = payload >= 2 ? ReadBE16(p) : 0;
                const int rank = HeaderRank(c.tag, streamTag);
                const std::string name = "header chunk \"" + ChunkTagText(c.tag) + "\"";
                if (lastRank < 0 && c.tag != ChunkTag("mv")) return Fail("header record does not start with \"mv\"");
                if (rank < 0) return Fail("unexpected " + name);
                if (rank < lastRank || (rank == lastRank && c.tag != ChunkTag("bi")))
                    return Fail(name + " out of order");
                lastRank = rank;
                lastTag = c.tag;
                if (FixedLength(c.tag) != 0 && c.length != FixedLength(c.tag)) return Fail(name + " has the wrong length");
                if (!ReadHeaderChunk(c, p, payload)) return false;
                if (c.tag == kMb) {
                    mbRecord_ = i;
                    mbEnd_ = pos;
                    // Counted from the first record's start, as the writer does.
                    r_.mediaStart = r_.records[0].offset + mbEnd_;
                    if (r_.scrambled && key_.size() == 512) Unscramble();
                    return true;
                }
            }
            if (!closed) break;
            if (pos < r_.records[i].size) return Fail("record " + std::to_string(i) + " has chunks after its \"re\"");
        }
        return Fail("header has no \"mb\" chunk");
    }

    void Unscramble() {
        for (std::uint64_t pos = r_.mediaStart; pos < data_.size(); ++pos)
            data_[pos] ^= key_[(pos - r_.mediaStart) % 512];
    }

    bool ReadHeaderChunk(const MovieChunk& c, const std::uint8_t* p, std::uint32_t payload) {
        switch (c.tag) {
        case ChunkTag("mv"):
            r_.pictureWidth = ReadBE16(p);
            r_.pictureHeight = ReadBE16(p + 2);
            if (r_.pictureWidth > kLargestPicture || r_.pictureHeight > kLargestPicture)
                return Fail("picture larger than any handheld's (" + std::to_string(kLargestPicture) + " pixels a side)");
            r_.noPicture = p[4];
            r_.depth = p[5];
            break;
        case ChunkTag("mt"): r_.movieKind = ReadBE16(p); break;
        case ChunkTag("sh"):
        case ChunkTag("sx"): {
            const int s = StreamOf(ReadBE16(p));
            if (s < 0) return Fail("stream chunk names an unknown stream");
            r_.streams[s].present = true;
            if (c.tag == ChunkTag("sh")) r_.streams[s].shDuration = ReadBE16(p + 4);
            else r_.streams[s].sxDuration = ReadBE32(p + 6);
            break;
        }
        case ChunkTag("ah"):
            r_.hasAudio = true;
            r_.audioFormat = ReadBE32(p);
            r_.audioChannels = ReadBE16(p + 4);
            r_.sampleRate = ReadBE32(p + 6);
            r_.leadIn = ReadBE32(p + 10);
            break;
        case ChunkTag("ax"): r_.atrac = {ReadBE16(p), ReadBE16(p + 2)}; break;
        case ChunkTag("an"): r_.rotation = static_cast<std::int16_t>(ReadBE16(p)); break;
        case ChunkTag("ec"): r_.scrambled = true; break;
        case ChunkTag("bc"): r_.background = std::array<std::uint8_t, 3>{p[0], p[1], p[2]}; break;
        case ChunkTag("mr"):
            r_.movieRect = std::array<std::int16_t, 4>{static_cast<std::int16_t>(ReadBE16(p)), static_cast<std::int16_t>(ReadBE16(p + 2)),
                                                       static_cast<std::int16_t>(ReadBE16(p + 4)), static_cast<std::int16_t>(ReadBE16(p + 6))};
            break;
        case ChunkTag("fs"): r_.fullScreen = ReadBE16(p) != 0; break;
        case ChunkTag("py"):
            r_.colourTables = true;
            reader_.palette_ = {p, payload};
            break;
        case ChunkTag("ic"): reader_.inverseMap_ = {p, payload}; break;
        case ChunkTag("md"): {
            std::uint32_t pos = 0;
            for (int i = 0; i < 3; ++i) {
                const std::uint8_t* end = std::find(p + pos, p + payload, std::uint8_t{0});
                if (end == p + payload) return Fail("metadata text without its NUL");
                r_.metadata.emplace_back(p + pos, end);
                pos = static_cast<std::uint32_t>(end - p) + 1;
            }
            if (payload - pos > 1) return Fail("metadata chunk has bytes after its three texts");
            break;
        }
        case ChunkTag("cl"): {
            if (payload < 2) return Fail("chapter list without its count");
            const std::uint16_t count = ReadBE16(p);
            std::uint32_t pos = 2;
            for (std::uint16_t i = 0; i < count; ++i) {
                if (payload - pos < 6) return Fail("chapter list shorter than its count");
                const std::uint32_t time = ReadBE32(p + pos);
                pos += 4;
                const std::uint8_t* end = std::find(p + pos, p + payload, std::uint8_t{0});
                const auto length = static_cast<std::uint32_t>(end - (p + pos));
                const std::uint32_t zeros = 2 + (length % 2);
                if (payload - pos < length + zeros) return Fail("chapter text runs past its list");
                for (std::uint32_t z = 0; z < zeros; ++z)
                    if (p[pos + length + z] != 0) return Fail("chapter text not followed by its zero bytes");
                r_.chapters.emplace_back(time, std::string(p + pos, end));
                pos += length + zeros;
            }
            if (payload - pos > 1) return Fail("chapter list has bytes after its entries");
            break;
        }
        case ChunkTag("pt"):
        case ChunkTag("at"):
        case ChunkTag("tt"): {
            if (payload % 8 != 0) return Fail("seek table of a partial entry");
            const int s = c.tag == ChunkTag("pt") ? 0 : c.tag == ChunkTag("at") ? 1 : 2;
            for (std::uint32_t pos = 0; pos < payload; pos += 8)
                r_.streams[s].seek.push_back({ReadBE32(p + pos), ReadBE16(p + pos + 4), ReadBE16(p + pos + 6)});
            break;
        }
        case ChunkTag("bi"): {
            if (payload < 22 || ReadBE16(p) != 22 || ReadBE16(p + 2) != ChunkTag("oh"))
                return Fail("layout item without its \"oh\" part");
            std::array<std::int16_t, 9> values{};
            for (int i = 0; i < 9; ++i) values[i] = static_cast<std::int16_t>(ReadBE16(p + 4 + 2 * i));
            r_.layoutItems.push_back(values);
            reader_.layout_.push_back({values, {}});
            std::uint32_t rest = payload - 22;
            if (rest > 1) {
                if (rest < 4) return Fail("layout item image part does not fit");
                const std::uint16_t length = ReadBE16(p + 22);
                if (ReadBE16(p + 24) != ChunkTag("px") || length < 4 || length > rest)
                    return Fail("layout item image part does not fit");
                reader_.layout_.back().picture = {p + 26, length - 4u};
                rest -= length;
            }
            if (rest > 1) return Fail("layout item has bytes after its parts");
            break;
        }
        default: break;
        }
        return true;
    }

    bool ReadMedia() {
        // Records from the one holding "mb" on.
        for (std::size_t i = mbRecord_; i < r_.records.size(); ++i) {
            if (!SplitRecord(i, i == mbRecord_ ? mbEnd_ : 0)) return false;
            for (const MovieChunk& c : r_.records[i].chunks) {
                if (i == mbRecord_ && c.offsetInRecord < mbEnd_) continue;
                if (c.tag == kMe || c.tag == kRe) continue;
                if (!ReadMediaChunk(i, c)) return false;
            }
        }
        return true;
    }

    // Checks a media chunk of record i, counts it in its stream, lists it
    // and notes its place for the seek tables.
    bool ReadMediaChunk(std::size_t i, const MovieChunk& c) {
        const int s = StreamOf(c.tag);
        const std::string where = "record " + std::to_string(i) + " offset " + std::to_string(c.offsetInRecord);
        if (s < 0) return Fail(where + ": unexpected chunk \"" + ChunkTagText(c.tag) + "\" among the media");
        if (!r_.streams[s].present) return Fail(where + ": media chunk of a stream the header does not declare");
        StreamSummary& st = r_.streams[s];
        const std::uint64_t start = st.durationSum;
        bool key = true;
        if (s == kSound ? !ReadSoundChunk(c, where, st) : !ReadFrameChunk(s, c, where, st, key)) return false;
        ++st.chunks;
        if (key) ++st.keyChunks;
        st.bytes += c.length;
        places_[MovieReader::PlaceKey(static_cast<std::uint32_t>(i + 1), c.offsetInRecord)] = {s, start, key, st.chunks - 1, st.keyChunks - 1};
        return true;
    }

    bool ReadSoundChunk(const MovieChunk& c, const std::string& where, StreamSummary& st) {
        const std::uint8_t* p = At(c.offset);
        if (c.length < 16) return Fail(where + ": sound chunk shorter than its header");
        const std::uint32_t frames = ReadBE32(p + 4);
        if (ReadBE32(p + 8) != st.durationSum) return Fail(where + ": sound chunk's first frame index is not the running total");
        if (ReadBE32(p + 12) != 0) return Fail(where + ": sound chunk's reserved field is not zero");
        reader_.sounds_.push_back({{p + 16, c.length - 16}, frames, st.durationSum});
        st.durationSum += frames;
        return true;
    }

    // A picture or text chunk: encoding, flags, duration, then the data.
    bool ReadFrameChunk(int s, const MovieChunk& c, const std::string& where, StreamSummary& st, bool& key) {
        const std::uint8_t* p = At(c.offset);
        if (c.length < 8) return Fail(where + ": frame chunk shorter than its header");
        const std::uint8_t flags = p[5];
        const bool pad = (flags & 1) != 0;
        if (pad && c.length < 9) return Fail(where + ": frame chunk's pad byte has no room");
        if (pad && p[c.length - 1] != 0) return Fail(where + ": frame pad byte is not zero");
        key = (flags & kDifferenceFrameFlag) == 0;
        const std::uint16_t duration = ReadBE16(p + 6);
        if (s == kPictures) reader_.pictures_.push_back({{p + 8, c.length - 8 - (pad ? 1u : 0u)}, p[4], key, duration, st.durationSum});
        st.durationSum += duration;
        return true;
    }

    void CheckMarkersAndSizes() {
        const std::size_t last = r_.records.size() - 1;
        bool anyMedia = false;
        for (const StreamSummary& s : r_.streams) anyMedia = anyMedia || s.chunks > 0;
        for (std::size_t i = 0; i < r_.records.size(); ++i) {
            const auto& chunks = r_.records[i].chunks;
            const std::string name = "record " + std::to_string(i);
            std::size_t markers = 0;
            if (i < last) {
                if (chunks.empty() || chunks.back().tag != kRe) {
                    Fail(name + " does not end with \"re\"");
                    return;
                }
                markers = 1;
            } else if (anyMedia) {
                if (chunks.size() < 2 || chunks[chunks.size() - 2].tag != kMe || chunks.back().tag != kRe) {
                    Fail("last record does not end with \"me\" and \"re\"");
                    return;
                }
                markers = 2;
            } else {
                if (chunks.empty() || chunks.back().tag != kMe) {
                    Fail("movie without media does not end with \"me\"");
                    return;
                }
                markers = 1;
            }
            std::uint64_t content = 0;
            for (std::size_t k = 0; k + markers < chunks.size(); ++k) {
                if (chunks[k].tag == kMe || chunks[k].tag == kRe) {
                    Fail(name + " has a marker chunk before its end");
                    return;
                }
                content += chunks[k].length;
            }
            if (content > kRecordContentLimit && chunks.size() - markers != 1) {
                Fail(name + " holds " + std::to_string(content) + " bytes of content, over the limit of 63998");
                return;
            }
        }
    }

    void CheckStreams() {
        // Movie kind.
        const bool pictures = r_.streams[0].present || r_.streams[2].present;
        const bool sound = r_.streams[1].present;
        std::uint16_t kind = !pictures ? (sound ? 5 : 0) : sound ? 6 : (r_.streams[0].chunks == 1 ? 4 : 1);
        if (r_.movieKind != kind) Fail("movie kind " + std::to_string(r_.movieKind) + " does not match the streams (" + std::to_string(kind) + ")");
        if (sound != r_.hasAudio) Fail("sound stream and audio description disagree");
        for (int s = 0; s < 3; ++s) {
            const StreamSummary& st = r_.streams[s];
            const std::string name = "stream \"" + ChunkTagText(kStreamTags[s]) + "\"";
            if (!st.present) {
                if (!st.seek.empty()) Fail("seek table of a stream the header does not declare");
                continue;
            }
            std::uint64_t expected = st.durationSum;
            if (s == kSound) expected = r_.sampleRate == 0 ? 0 : (st.durationSum * 100 + r_.sampleRate / 2) / r_.sampleRate;
            if (st.sxDuration != static_cast<std::uint32_t>(expected))
                Fail(name + " duration " + std::to_string(st.sxDuration) + " is not the sum of its chunks (" + std::to_string(expected) + ")");
            if (st.shDuration != std::min<std::uint64_t>(expected, 65500)) Fail(name + " short duration is wrong");
            CheckSeekTable(s, name);
        }
    }

    // The seek table: every step-th eligible chunk, about 1000 at most, each
    // entry naming its chunk's place and start.
    void CheckSeekTable(int s, const std::string& name) {
        const StreamSummary& st = r_.streams[s];
        const std::uint64_t eligible = s == kPictures ? st.keyChunks : st.chunks;
        const std::uint64_t step = eligible / 1000 + 1;
        const std::uint64_t entries = eligible / step;
        if (st.seek.size() != entries) {
            Fail(name + " seek table has " + std::to_string(st.seek.size()) + " entries, expected " + std::to_string(entries));
            return;
        }
        for (std::size_t k = 0; k < st.seek.size(); ++k) {
            const SeekEntry& e = st.seek[k];
            const std::string entry = name + " seek entry " + std::to_string(k);
            auto it = places_.find(MovieReader::PlaceKey(e.record, e.offset));
            if (it == places_.end() || it->second.stream != s) {
                Fail(entry + " does not point at a chunk of its stream");
                return;
            }
            const MovieReader::Place& place = it->second;
            if (s == kPictures && !place.key) {
                Fail(entry + " points at a difference frame");
                return;
            }
            if (place.start != e.time) {
                Fail(entry + " has start time " + std::to_string(e.time) + ", expected " + std::to_string(place.start));
                return;
            }
            const std::uint64_t ordinal = s == kPictures ? place.keyOrdinal : place.ordinal;
            if (ordinal != k * step) {
                Fail(entry + " is not every " + std::to_string(step) + "th chunk");
                return;
            }
        }
    }

    std::vector<std::uint8_t>& data_;
    std::span<const std::uint8_t> key_;
    MovieDatabase& r_;
    std::size_t mbRecord_ = 0;
    std::uint32_t mbEnd_ = 0;
    std::unordered_map<std::uint64_t, MovieReader::Place>& places_;
    MovieReader& reader_;
};

MovieReader::MovieReader(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key)
    : data_(bytes.begin(), bytes.end()) {
    MovieParser(*this, key).Run();
    // A damaged database plays nothing: no list is left half read.
    if (!db_.Valid()) {
        places_.clear();
        pictures_.clear();
        sounds_.clear();
        layout_.clear();
        palette_ = inverseMap_ = {};
    }
}

OSErr MovieReader::Resolve(int stream, const SeekEntry& entry, std::size_t& index) const {
    const auto it = places_.find(PlaceKey(entry.record, entry.offset));
    if (it == places_.end()) return paramErr;
    const Place& place = it->second;
    if (place.stream != stream || place.start != entry.time || (stream == kPictures && !place.key)) return paramErr;
    index = static_cast<std::size_t>(place.ordinal);
    return noErr;
}

OSErr MovieReader::KeyFrameAtOrBefore(std::size_t index, std::size_t& key) const {
    if (!Playable() || index >= pictures_.size()) return paramErr;
    // The last entry at or before the picture's start time; pictures of no
    // duration share a start, so an entry of that time may lie past `index`.
    const std::vector<SeekEntry>& table = db_.streams[kPictures].seek;
    const std::uint64_t time = pictures_[index].start;
    auto entry = std::upper_bound(table.begin(), table.end(), time,
                                  [](std::uint64_t t, const SeekEntry& e) { return t < e.time; });
    std::size_t from = 0;
    while (entry != table.begin()) {
        std::size_t at = 0;
        if (OSErr err = Resolve(kPictures, *--entry, at)) return err;
        if (at <= index) {
            from = at;
            break;
        }
    }
    // On through the chunks: the table holds every step-th key picture only.
    bool found = false;
    for (std::size_t i = from; i <= index; ++i)
        if (pictures_[i].key) {
            key = i;
            found = true;
        }
    return found ? noErr : paramErr;
}

OSErr MovieReader::PictureAt(std::uint64_t hundredths, std::size_t& index) const {
    if (!Playable() || pictures_.empty()) return paramErr;
    // The first picture starts at 0, so one always starts at or before.
    const auto after = std::upper_bound(pictures_.begin(), pictures_.end(), hundredths,
                                        [](std::uint64_t t, const MoviePicture& p) { return t < p.start; });
    index = static_cast<std::size_t>(after - pictures_.begin()) - 1;
    return noErr;
}

OSErr MovieReader::SoundChunkAt(std::uint64_t sampleFrame, std::size_t& index) const {
    if (!Playable() || sampleFrame >= db_.streams[kSound].durationSum) return paramErr;
    const std::vector<SeekEntry>& table = db_.streams[kSound].seek;
    const auto entry = std::upper_bound(table.begin(), table.end(), sampleFrame,
                                        [](std::uint64_t f, const SeekEntry& e) { return f < e.time; });
    std::size_t at = 0;
    if (entry != table.begin())
        if (OSErr err = Resolve(kSound, *std::prev(entry), at)) return err;
    // On through the chunks to the last one starting at or before the frame:
    // it holds the frame, as the frame is before the sound's end.
    while (at + 1 < sounds_.size() && sounds_[at + 1].firstFrame <= sampleFrame) ++at;
    index = at;
    return noErr;
}

OSErr ReadMovieFile(const FileSpec& path, const FileSpec& keyFile, MovieReader& out, std::string& problem) {
    ByteBlock bytes, key;
    if (OSErr err = ReadWholeFile(path, bytes)) return problem = path.string(), err;
    if (!keyFile.empty())
        if (OSErr err = ReadWholeFile(keyFile, key); err != noErr || key.Size() != 512)
            return problem = keyFile.string() + ": a key is 512 bytes", err != noErr ? err : paramErr;
    out = MovieReader(bytes.Span(), key.Span());
    if (out.Playable()) return noErr;
    problem = out.Database().problem.empty() ? "scrambled: give its key" : out.Database().problem;
    return paramErr;
}
