// The movie database inspector: structure check, description, frame and sound decoding.
#include "tools/inspect.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <unordered_map>

#include "moviedb/chunk.h"
#include "moviedb/formats.h"
#include "moviedb/moviewriter.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "audio/adpcm.h"
#include "audio/atrac3/at3enc.h"
#include "platform/media.h"
#include "video/graysdecoder.h"
#include "video/graysencoder.h"

namespace {

constexpr std::uint16_t kMe = ChunkTag("me");
constexpr std::uint16_t kRe = ChunkTag("re");
constexpr std::uint16_t kMb = ChunkTag("mb");
constexpr std::uint16_t kStreamTags[3] = {ChunkTag("fr"), ChunkTag("au"), ChunkTag("tx")};

// No handheld screen has a side over 480 pixels, and a movie's picture is
// never larger than the screen's layout; a header claiming more is damaged,
// and decoding it would ask for gigabytes.
constexpr std::uint16_t kLargestPicture = 1024;

// The bytes of one ATRAC3 frame (every channel) of a "CLIÉ Audio" movie;
// 0 when its mode and code are no valid pair.
std::uint64_t AtracFrameBytes(std::optional<std::pair<std::uint16_t, std::uint16_t>> atrac) {
    At3EncContext sizes;
    if (!atrac || At3EncOpen(atrac->second, atrac->first, sizes) != kAt3Ok) return 0;
    const auto bytes = static_cast<std::uint64_t>(std::max(0, sizes.frameBytes));
    At3EncClose(sizes);
    return bytes;
}

// The most sample frames `bytes` of a sound chunk's payload can code in a
// format: the bound that keeps a damaged frame count from sizing buffers.
std::uint64_t MostSoundFrames(std::uint32_t format, std::uint16_t channels, std::uint64_t atracFrameBytes, std::uint32_t bytes) {
    const std::uint64_t ch = std::max<std::uint16_t>(1, channels);
    switch (format) {
    case Code(SoundFormat::UncompressedMono): return bytes / ch;
    case Code(SoundFormat::UncompressedStereo): return bytes / (2 * ch);
    case Code(SoundFormat::YamahaAdpcm): return std::uint64_t{bytes} * 2 / ch;
    case Code(SoundFormat::Adpcm2to1):
    case Code(SoundFormat::Adpcm4to1): return bytes / (AdpcmBlockBytes(kAdpcmBlockFrames, format == Code(SoundFormat::Adpcm2to1) ? 4 : 2) * ch) * kAdpcmBlockFrames;
    case Code(SoundFormat::ClieAudio): return atracFrameBytes == 0 ? 0 : bytes / atracFrameBytes * kAt3FrameSamples;
    default: return std::uint64_t{bytes} * 8; // a format of no decoder here: one bit a frame at the least
    }
}

std::string TagText(std::uint16_t tag) {
    std::string s;
    AppendPrintable(s, static_cast<std::uint8_t>(tag >> 8));
    AppendPrintable(s, static_cast<std::uint8_t>(tag));
    return s;
}

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

class Inspector {
public:
    Inspector(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key) : key_(key) {
        data_.assign(bytes.begin(), bytes.end());
    }

    Inspection Run() {
        if (!ReadContainer() || !ReadRecords() || !ReadHeaderChunks()) return std::move(r_);
        if (r_.scrambled && key_.size() != 512) return std::move(r_); // media unreadable without the key
        r_.mediaChecked = true;
        if (!ReadMedia()) return std::move(r_);
        CheckMarkersAndSizes();
        CheckStreams();
        return std::move(r_);
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
            InspectedRecord& rec = r_.records[i];
            rec.offset = r_.list[i].offset;
            const std::uint64_t end = i + 1 < n ? r_.list[i + 1].offset : data_.size();
            rec.size = static_cast<std::uint32_t>(end - rec.offset);
        }
        return true;
    }

    // Reads the chunk at pos of record i into its list; false (and the
    // problem) for anything that does not add up.
    bool NextChunk(std::size_t i, std::uint32_t& pos) {
        InspectedRecord& rec = r_.records[i];
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
                const InspectedChunk c = r_.records[i].chunks.back();
                if (c.tag == kRe) {
                    if (lastTag != ChunkTag("bi")) return Fail("header record closed before its layout items");
                    closed = true; // the header goes on in the next record
                    continue;
                }
                const std::uint32_t payload = c.length - kChunkHeaderSize;
                const std::uint8_t* p = At(c.offset + kChunkHeaderSize);
                const std::uint16_t streamTag = payload >= 2 ? ReadBE16(p) : 0;
                const int rank = HeaderRank(c.tag, streamTag);
                const std::string name = "header chunk \"" + TagText(c.tag) + "\"";
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

    bool ReadHeaderChunk(const InspectedChunk& c, const std::uint8_t* p, std::uint32_t payload) {
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
        case ChunkTag("py"): r_.colourTables = true; break;
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
            std::uint32_t rest = payload - 22;
            if (rest > 1) {
                if (rest < 4) return Fail("layout item image part does not fit");
                const std::uint16_t length = ReadBE16(p + 22);
                if (ReadBE16(p + 24) != ChunkTag("px") || length < 4 || length > rest)
                    return Fail("layout item image part does not fit");
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
            InspectedRecord& rec = r_.records[i];
            if (!SplitRecord(i, i == mbRecord_ ? mbEnd_ : 0)) return false;
            for (const InspectedChunk& c : rec.chunks) {
                if (i == mbRecord_ && c.offsetInRecord < mbEnd_) continue;
                if (c.tag == kMe || c.tag == kRe) continue;
                const int s = StreamOf(c.tag);
                const std::string where = "record " + std::to_string(i) + " offset " + std::to_string(c.offsetInRecord);
                if (s < 0) return Fail(where + ": unexpected chunk \"" + TagText(c.tag) + "\" among the media");
                if (!r_.streams[s].present) return Fail(where + ": media chunk of a stream the header does not declare");
                const std::uint8_t* p = At(c.offset);
                StreamSummary& st = r_.streams[s];
                const std::uint64_t start = st.durationSum;
                bool key = true;
                if (s == 1) {
                    if (c.length < 16) return Fail(where + ": sound chunk shorter than its header");
                    const std::uint32_t frames = ReadBE32(p + 4);
                    if (ReadBE32(p + 8) != st.durationSum) return Fail(where + ": sound chunk's first frame index is not the running total");
                    if (ReadBE32(p + 12) != 0) return Fail(where + ": sound chunk's reserved field is not zero");
                    st.durationSum += frames;
                } else {
                    if (c.length < 8) return Fail(where + ": frame chunk shorter than its header");
                    const std::uint8_t flags = p[5];
                    if ((flags & 1) && c.length < 9) return Fail(where + ": frame chunk's pad byte has no room");
                    if ((flags & 1) && p[c.length - 1] != 0) return Fail(where + ": frame pad byte is not zero");
                    key = (flags & kDifferenceFrameFlag) == 0;
                    st.durationSum += ReadBE16(p + 6);
                }
                ++st.chunks;
                if (key) ++st.keyChunks;
                st.bytes += c.length;
                places_[Key(static_cast<std::uint32_t>(i + 1), c.offsetInRecord)] = {s, start, key, st.chunks - 1, st.keyChunks - 1};
            }
        }
        return true;
    }

    static std::uint64_t Key(std::uint32_t record, std::uint32_t offset) { return (std::uint64_t{record} << 32) | offset; }

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
            const std::string name = "stream \"" + TagText(kStreamTags[s]) + "\"";
            if (!st.present) {
                if (!st.seek.empty()) Fail("seek table of a stream the header does not declare");
                continue;
            }
            std::uint64_t expected = st.durationSum;
            if (s == 1) expected = r_.sampleRate == 0 ? 0 : (st.durationSum * 100 + r_.sampleRate / 2) / r_.sampleRate;
            if (st.sxDuration != static_cast<std::uint32_t>(expected))
                Fail(name + " duration " + std::to_string(st.sxDuration) + " is not the sum of its chunks (" + std::to_string(expected) + ")");
            if (st.shDuration != std::min<std::uint64_t>(expected, 65500)) Fail(name + " short duration is wrong");
            // The seek table: every step-th eligible chunk, about 1000 at most.
            const std::uint64_t eligible = s == 0 ? st.keyChunks : st.chunks;
            const std::uint64_t step = eligible / 1000 + 1;
            const std::uint64_t entries = eligible / step;
            if (st.seek.size() != entries) {
                Fail(name + " seek table has " + std::to_string(st.seek.size()) + " entries, expected " + std::to_string(entries));
                continue;
            }
            for (std::size_t k = 0; k < st.seek.size(); ++k) {
                const SeekEntry& e = st.seek[k];
                const std::string entry = name + " seek entry " + std::to_string(k);
                auto it = places_.find(Key(e.record, e.offset));
                if (it == places_.end() || it->second.stream != s) {
                    Fail(entry + " does not point at a chunk of its stream");
                    break;
                }
                const Place& place = it->second;
                if (s == 0 && !place.key) {
                    Fail(entry + " points at a difference frame");
                    break;
                }
                if (place.start != e.time) {
                    Fail(entry + " has start time " + std::to_string(e.time) + ", expected " + std::to_string(place.start));
                    break;
                }
                const std::uint64_t ordinal = s == 0 ? place.keyOrdinal : place.ordinal;
                if (ordinal != k * step) {
                    Fail(entry + " is not every " + std::to_string(step) + "th chunk");
                    break;
                }
            }
        }
    }

    struct Place {
        int stream;
        std::uint64_t start;
        bool key;
        std::uint64_t ordinal;
        std::uint64_t keyOrdinal;
    };

    std::vector<std::uint8_t> data_;
    std::span<const std::uint8_t> key_;
    Inspection r_;
    std::size_t mbRecord_ = 0;
    std::uint32_t mbEnd_ = 0;
    std::unordered_map<std::uint64_t, Place> places_;
};

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
    return Inspector(bytes, key).Run();
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
                add("    %-4s length %5u  at %u\n", TagText(c.tag).c_str(), c.length, c.offsetInRecord);
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
    const Inspection in = InspectDatabase(bytes, key);
    if (!in.Valid() || !in.mediaChecked || in.depth != 4 || in.noPicture) return paramErr;
    // The frames in file order: where each one's payload lies.
    std::vector<std::uint8_t> plain(bytes.begin(), bytes.end());
    if (in.scrambled)
        for (std::size_t p = in.mediaStart; p < plain.size(); ++p) plain[p] ^= key[(p - in.mediaStart) % 512];
    struct Frame {
        std::uint32_t offset, length;
        bool key;
    };
    std::vector<Frame> frames;
    for (const auto& record : in.records)
        for (const auto& c : record.chunks)
            if (c.tag == ChunkTag("fr") && c.offset >= in.mediaStart) {
                const std::uint8_t flags = plain[c.offset + 5];
                const std::uint32_t size = c.length - 8 - ((flags & 1) ? 1 : 0);
                if (plain[c.offset + 4] != grays::kEncoding) return paramErr;
                frames.push_back({c.offset + 8, size, (flags & kDifferenceFrameFlag) == 0});
            }
    if (index >= frames.size()) return paramErr;
    std::uint32_t first = index;
    while (first > 0 && !frames[first].key) --first;
    width = in.pictureWidth;
    height = in.pictureHeight;
    std::vector<std::uint8_t> picture(std::size_t{grays::RowBytes(width)} * height, 0);
    for (std::uint32_t i = first; i <= index; ++i)
        if (OSErr err = DecodeGraysFrame({plain.data() + frames[i].offset, frames[i].length}, width, height, picture))
            return err;
    gray.resize(std::size_t{width} * height);
    GraysToGrayBytes(picture, width, height, gray);
    return noErr;
}

OSErr WritePgm(const std::string& path, std::span<const std::uint8_t> gray, std::uint32_t width, std::uint32_t height) {
    const std::string header = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    ByteBlock image;
    if (OSErr err = image.Append({reinterpret_cast<const std::uint8_t*>(header.data()), header.size()})) return err;
    if (OSErr err = image.Append(gray)) return err;
    (void)DeleteFile(path);
    File file;
    if (OSErr err = File::CreateNew(path, file)) return err;
    if (OSErr err = file.WriteAt(0, image.Span())) return err;
    return file.Close();
}

OSErr OpenAtracDecoder(SoundDecompressor& decoder, std::uint16_t channels, std::uint32_t packetBytes) {
    // Version 4, samples per frame, the delay 0x88E, coding mode 2
    // (independent channels); big-endian.
    std::uint8_t setup[10];
    WriteBE32(setup, 4);
    WriteBE16(setup + 4, static_cast<std::uint16_t>(kAt3FrameSamples * channels));
    WriteBE16(setup + 6, 0x088E);
    WriteBE16(setup + 8, 2);
    return decoder.Open(Fcc("atrc"), kAt3SampleRate, channels, packetBytes, setup);
}

std::vector<std::uint8_t> ScrambledAtracPacket(std::span<const std::uint8_t> packet) {
    static constexpr std::uint8_t kKey[4] = {0x53, 0x7F, 0x61, 0x03};
    std::vector<std::uint8_t> out(packet.begin(), packet.end());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] ^= kKey[i % 4];
    return out;
}

namespace {

// One record of ATRAC3 frames: 1024 sample frames each, channel slices one
// after the other, each decoded as a mono stream.
OSErr DecodeAtracRecord(std::span<const std::uint8_t> data, std::uint32_t frames, std::uint16_t channels,
                        const At3EncContext& sizes, SoundDecompressor* decoders, std::int16_t* dest) {
    const std::size_t frameBytes = static_cast<std::size_t>(sizes.frameBytes);
    const std::uint32_t count = (frames + kAt3FrameSamples - 1) / kAt3FrameSamples;
    if (data.size() < count * frameBytes) return paramErr;
    std::vector<float> decoded;
    for (std::uint32_t f = 0; f < count; ++f) {
        std::size_t offset = f * frameBytes;
        for (std::uint16_t ch = 0; ch < channels; ++ch) {
            const auto bytes = static_cast<std::size_t>(sizes.channelBytes[ch]);
            const auto slice = ScrambledAtracPacket(data.subspan(offset, bytes));
            offset += bytes;
            decoded.clear();
            if (OSErr err = decoders[ch].Decode(slice, decoded)) return err;
            for (std::size_t i = 0; i < decoded.size() && f * kAt3FrameSamples + i < frames; ++i) {
                const float v = std::clamp(decoded[i] * 32768.0f, -32768.0f, 32767.0f);
                dest[(f * kAt3FrameSamples + i) * channels + ch] = static_cast<std::int16_t>(std::lrint(v));
            }
        }
    }
    return noErr;
}

} // namespace

OSErr DecodeSoundOf(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> key, std::vector<std::int16_t>& samples,
                    std::uint16_t& channels, std::uint32_t& rate) {
    const Inspection in = InspectDatabase(bytes, key);
    if (!in.Valid() || !in.mediaChecked || !in.hasAudio) return paramErr;
    const std::uint32_t format = in.audioFormat;
    if (format == Code(SoundFormat::None) || FindSoundFormat(static_cast<std::int32_t>(format)) == nullptr ||
        in.audioChannels < 1 || in.audioChannels > 2)
        return paramErr;
    channels = in.audioChannels;
    rate = in.sampleRate;
    std::vector<std::uint8_t> plain(bytes.begin(), bytes.end());
    if (in.scrambled)
        for (std::size_t p = in.mediaStart; p < plain.size(); ++p) plain[p] ^= key[(p - in.mediaStart) % 512];
    std::vector<std::int16_t> out;
    YamahaState yamaha;
    // "CLIÉ Audio": each channel's slice of every frame goes to its own ATRAC3
    // decoder, as a mono stream the way RealMedia files carry it.
    At3EncContext sizes;
    SoundDecompressor atrac[2];
    std::uint64_t atracFrameBytes = 0;
    if (format == Code(SoundFormat::ClieAudio)) {
        if (!in.atrac || At3EncOpen(in.atrac->second, in.atrac->first, sizes) != kAt3Ok || sizes.channels != channels)
            return paramErr;
        At3EncClose(sizes);
        atracFrameBytes = AtracFrameBytes(in.atrac);
        for (std::uint16_t ch = 0; ch < channels; ++ch)
            if (OSErr err = OpenAtracDecoder(atrac[ch], 1, static_cast<std::uint32_t>(sizes.channelBytes[ch]))) return err;
    }
    for (const auto& record : in.records)
        for (const auto& c : record.chunks) {
            if (c.tag != ChunkTag("au") || c.offset < in.mediaStart) continue;
            const std::uint8_t* p = plain.data() + c.offset;
            const std::uint32_t frames = ReadBE32(p + 4);
            std::span<const std::uint8_t> data(p + 16, c.length - 16);
            // A damaged count must not size the buffer: no more frames than
            // the chunk's bytes can code.
            if (frames > MostSoundFrames(format, channels, atracFrameBytes, static_cast<std::uint32_t>(data.size())))
                return paramErr;
            const std::size_t at = out.size();
            out.resize(at + std::size_t{frames} * channels);
            std::int16_t* dest = out.data() + at;
            if (format == Code(SoundFormat::ClieAudio)) {
                if (OSErr err = DecodeAtracRecord(data, frames, channels, sizes, atrac, dest)) return err;
            } else if (format == Code(SoundFormat::UncompressedMono)) {
                if (data.size() < frames) return paramErr;
                for (std::uint32_t i = 0; i < frames; ++i) dest[i] = static_cast<std::int16_t>((data[i] - 128) * 256);
            } else if (format == Code(SoundFormat::UncompressedStereo)) {
                if (data.size() < std::size_t{frames} * channels * 2) return paramErr;
                for (std::size_t i = 0; i < std::size_t{frames} * channels; ++i)
                    dest[i] = static_cast<std::int16_t>(data[2 * i] | data[2 * i + 1] << 8);
            } else if (format == Code(SoundFormat::YamahaAdpcm)) {
                DecodeYamaha(data, frames, dest, yamaha);
            } else {
                // ADPCM: per 256 frames a block per channel, left first.
                const std::uint32_t blockBytes = AdpcmBlockBytes(kAdpcmBlockFrames, format == Code(SoundFormat::Adpcm2to1) ? 4 : 2);
                std::int16_t channel[kAdpcmBlockFrames];
                std::size_t pos = 0;
                for (std::uint32_t f = 0; f < frames; f += kAdpcmBlockFrames)
                    for (std::uint16_t ch = 0; ch < channels; ++ch, pos += blockBytes) {
                        if (pos + blockBytes > data.size()) return paramErr;
                        if (OSErr err = DecodeAdpcmBlock(data.subspan(pos, blockBytes), kAdpcmBlockFrames, channel)) return err;
                        for (std::uint32_t i = 0; i < kAdpcmBlockFrames && f + i < frames; ++i)
                            dest[std::size_t{f + i} * channels + ch] = channel[i];
                    }
            }
        }
    samples = std::move(out);
    return noErr;
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
    (void)DeleteFile(path);
    File file;
    if (OSErr e = File::CreateNew(path, file)) return e;
    if (OSErr e = file.WriteAt(0, wav.Span())) return e;
    return file.Close();
}
