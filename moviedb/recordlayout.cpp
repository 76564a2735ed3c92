// The record layout of EndMovie: fills the header record's patch points,
// reserves the seek tables, and interleaves the media chunks of the spool file
// into records of at most 63998 bytes of content, so that the player always
// finds about one second of sound next to the pictures it belongs to.
#include <algorithm>
#include <cmath>
#include <limits>

#include "moviedb/formats.h"
#include "moviedb/writerstate.h"
#include "platform/bytes.h"

namespace {

constexpr std::uint8_t kMovieEndBytes[4] = {0x00, 0x04, 'm', 'e'};
constexpr std::uint8_t kRecordEndBytes[4] = {0x00, 0x04, 'r', 'e'};
constexpr std::uint64_t kNoPassDuration = 0x7FFFFFFF;

enum Stream { kVideo = 0, kSound = 1, kText = 2 };

// Closes an in-memory record into the writer's list of finished records.
OSErr KeepRecord(MovieWriter& w, ByteBlock& record) {
    try {
        w.memoryRecords.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    record = ByteBlock();
    return noErr;
}

enum class StopRule {
    AtLeast, // sound: the pass reaches its limit
    Closest, // pictures: the pass ends as close to its limit as frames allow
};

// One media chunk as the layout sees it, read back from its header in the
// spool file.
struct MediaChunk {
    std::uint64_t spoolOffset = 0;
    std::uint32_t size = 0;
    std::uint32_t duration = 0; // hundredths for pictures, sample frames for sound
    bool eligible = true;       // a seek table may point at it
};

// Walks the spool file's chunks of one stream in the order they were
// written. The spool holds every chunk with its header, so nothing about
// the chunks has to stay in memory.
class SpoolCursor {
public:
    SpoolCursor() = default;
    SpoolCursor(const SpoolFile* spool, std::uint16_t tag, std::uint64_t count)
        : spool_(spool), tag_(tag), left_(count) {}

    bool HasNext() const { return has_; }
    const MediaChunk& Next() const { return next_; }

    // Loads the next chunk of the stream.
    OSErr Advance() {
        has_ = false;
        if (left_ == 0) return noErr;
        while (pos_ < spool_->Size()) {
            std::uint8_t header[8];
            if (OSErr err = spool_->ReadAt(pos_, header)) return err;
            const std::uint32_t length = ReadBE16(header);
            if (length < kChunkHeaderSize) return ioErr;
            if (ReadBE16(header + 2) == tag_) {
                next_.spoolOffset = pos_;
                next_.size = length;
                if (tag_ == ChunkTag("au")) {
                    next_.duration = ReadBE32(header + 4); // sample frames
                    next_.eligible = true;
                } else {
                    next_.duration = ReadBE16(header + 6); // hundredths
                    next_.eligible = tag_ != ChunkTag("fr") || (header[5] & kDifferenceFrameFlag) == 0;
                }
                pos_ += length;
                --left_;
                has_ = true;
                return noErr;
            }
            pos_ += length;
        }
        return ioErr; // fewer chunks than were written
    }

private:
    const SpoolFile* spool_ = nullptr;
    std::uint16_t tag_ = 0;
    std::uint64_t left_ = 0;
    std::uint64_t pos_ = 0;
    bool has_ = false;
    MediaChunk next_;
};

class Interleaver {
public:
    Interleaver(MovieWriter& w, ByteBlock firstRecord, const SeekTable* tables) : w_(w), current_(std::move(firstRecord)) {
        currentLength_ = current_.Size();
        closedRecords_ = static_cast<std::uint32_t>(w.memoryRecords.size()); // layout items may have spilled
        static constexpr std::uint16_t kTags[3] = {ChunkTag("fr"), ChunkTag("au"), ChunkTag("tx")};
        for (int s = 0; s < 3; ++s) {
            streams_[s].cursor = SpoolCursor(&w.spool, kTags[s], w.counts[s].chunks);
            streams_[s].table = tables[s];
            total_ += w.counts[s].chunks;
        }
    }

    // Lays out every chunk. The report of the sound lead-in pass is the lead-in
    // actually placed (0 when there was none).
    OSErr Run(std::uint64_t& leadInPlaced) {
        for (StreamCursor& s : streams_)
            if (OSErr err = s.cursor.Advance()) return err;
        leadInPlaced = 0;
        if (Remaining(kSound)) {
            std::uint64_t report = 0;
            if (OSErr err = Pass({kSound}, w_.soundLeadIn, StopRule::AtLeast, report)) return err;
            if (report != kNoPassDuration) leadInPlaced = report;
        }
        const auto P = static_cast<std::int64_t>(w_.audioInterleave);
        const auto L = static_cast<std::uint64_t>(w_.pictureInterleave);
        std::int64_t limit = P; // A: the sound pass's limit
        std::int64_t carry = 0; // C: sound placed beyond the targets so far
        while (placed_ < total_) {
            std::vector<int> pictures;
            if (Remaining(kVideo)) pictures.push_back(kVideo);
            if (Remaining(kText)) pictures.push_back(kText);
            bool ran = false;
            std::uint64_t r = 0;
            if (!pictures.empty()) {
                if (OSErr err = Pass(pictures, L, StopRule::Closest, r)) return err;
                ran = true;
            }
            if (!Remaining(kSound)) continue;
            // A picture pass that overshot its period takes the sound along.
            bool compensated = false;
            if (ran && r > L) {
                const double extra = static_cast<double>(r - L) * w_.wave.sampleRate * 0.01;
                limit = P + static_cast<std::int64_t>(std::trunc(extra)) - carry;
                compensated = true;
            }
            if (limit < 0) {
                limit = P;
                compensated = false;
            }
            std::uint64_t s = 0;
            if (OSErr err = Pass({kSound}, static_cast<std::uint64_t>(limit), StopRule::AtLeast, s)) return err;
            if (compensated) {
                carry = static_cast<std::int64_t>(s) - limit;
            } else {
                carry = carry + static_cast<std::int64_t>(s) - P;
                limit = P - carry;
            }
        }
        return Finish();
    }

private:
    struct StreamCursor {
        SpoolCursor cursor;
        SeekTable table;
        std::uint64_t eligibleSeen = 0;
        std::uint32_t seekWritten = 0;
        std::uint64_t total = 0; // duration placed over all passes: the next chunk's start time
        std::uint64_t pass = 0;  // duration placed in this pass
        bool done = false;
    };

    bool Remaining(int s) const { return streams_[s].cursor.HasNext(); }

    // The stream with the least duration placed so far; the later one wins ties.
    int Choose(const std::vector<int>& set) const {
        int best = -1;
        for (int s : set)
            if (Remaining(s) && (best < 0 || streams_[s].total <= streams_[best].total)) best = s;
        return best;
    }

    OSErr Pass(const std::vector<int>& set, std::uint64_t limit, StopRule rule, std::uint64_t& report) {
        for (int s : set) {
            streams_[s].pass = 0;
            streams_[s].done = false;
        }
        int s = Choose(set);
        while (s >= 0) {
            StreamCursor& c = streams_[s];
            const MediaChunk chunk = c.cursor.Next();
            if (OSErr err = Place(c, chunk)) return err;
            if (OSErr err = c.cursor.Advance()) return err;
            c.total += chunk.duration;
            c.pass += chunk.duration;
            if (c.pass >= limit) c.done = true;
            const int next = Choose(set);
            if (next < 0 || c.done) break;
            const std::uint64_t d = streams_[next].cursor.Next().duration;
            const std::uint64_t p = c.pass;
            if (rule == StopRule::AtLeast) {
                if (p >= limit) c.done = true;
            } else {
                const auto over = static_cast<std::int64_t>(p + d) - static_cast<std::int64_t>(limit);
                const auto under = static_cast<std::int64_t>(limit) - static_cast<std::int64_t>(p);
                if (p > limit || std::llabs(over) > std::llabs(under)) c.done = true;
            }
            if (std::all_of(set.begin(), set.end(), [&](int i) { return streams_[i].done; })) break;
            s = next;
        }
        report = kNoPassDuration;
        for (int i : set)
            if (streams_[i].pass != 0) report = std::min(report, streams_[i].pass);
        return noErr;
    }

    // The header record, which holds the seek tables.
    ByteBlock& Record0() { return w_.memoryRecords.empty() ? current_ : w_.memoryRecords.front(); }

    OSErr Place(StreamCursor& stream, const MediaChunk& chunk) {
        if (currentLength_ + chunk.size > kRecordContentLimit)
            if (OSErr err = CloseRecord()) return err;
        const auto record = static_cast<std::uint16_t>(closedRecords_ + 1);
        const auto offset = static_cast<std::uint16_t>(currentLength_);
        if (inMemory_) {
            std::uint32_t at = 0;
            if (OSErr err = current_.Grow(chunk.size, &at)) return err;
            if (OSErr err = w_.spool.ReadAt(chunk.spoolOffset, current_.Span().subspan(at, chunk.size))) return err;
        } else {
            if (OSErr err = w_.layout.Append({SpoolDescriptor::Chunk, chunk.spoolOffset, chunk.size})) return err;
        }
        // The seek table takes the first eligible chunk and every step-th after it.
        if (chunk.eligible) {
            const SeekTable& t = stream.table;
            if (t.entries > 0 && stream.eligibleSeen % t.step == 0 && stream.seekWritten < t.entries) {
                std::uint8_t* p = Record0().Data() + t.payload + 8 * stream.seekWritten;
                WriteBE32(p, static_cast<std::uint32_t>(stream.total));
                WriteBE16(p + 4, record);
                WriteBE16(p + 6, offset);
                ++stream.seekWritten;
            }
            ++stream.eligibleSeen;
        }
        currentLength_ += chunk.size;
        ++placed_;
        w_.Progress(static_cast<std::int32_t>(std::min<std::uint64_t>(100, placed_ * 100 / total_)));
        return noErr;
    }

    OSErr CloseRecord() {
        if (inMemory_) {
            if (OSErr err = current_.Append(kRecordEndBytes)) return err;
            if (OSErr err = KeepRecord(w_, current_)) return err;
            inMemory_ = false; // every later record lives in the spool file
        } else {
            if (OSErr err = w_.layout.Append({SpoolDescriptor::RecordEnd, 0, 4})) return err;
            ++w_.spooledRecords;
        }
        ++closedRecords_;
        currentLength_ = 0;
        return noErr;
    }

    OSErr Finish() {
        if (inMemory_) {
            if (OSErr err = current_.Append(kMovieEndBytes)) return err;
            if (OSErr err = current_.Append(kRecordEndBytes)) return err;
            return KeepRecord(w_, current_);
        }
        if (OSErr err = w_.layout.Append({SpoolDescriptor::MovieEnd, 0, 4})) return err;
        if (OSErr err = w_.layout.Append({SpoolDescriptor::RecordEnd, 0, 4})) return err;
        ++w_.spooledRecords;
        return noErr;
    }

    MovieWriter& w_;
    ByteBlock current_;
    bool inMemory_ = true;
    std::uint64_t currentLength_ = 0;
    std::uint32_t closedRecords_ = 0;
    StreamCursor streams_[3];
    std::uint64_t placed_ = 0;
    std::uint64_t total_ = 0;
};

OSErr PatchDuration(ByteBlock& header, const StreamPatch& patch, std::uint64_t duration) {
    // "sh" holds at most 65500; "sx" the full 32-bit value.
    if (OSErr err = header.PatchBE16(patch.sh + 4, static_cast<std::uint16_t>(std::min<std::uint64_t>(duration, 65500)))) return err;
    return header.PatchBE32(patch.sx + 6, static_cast<std::uint32_t>(duration));
}

OSErr ReserveSeekTable(ByteBlock& header, int stream, std::uint64_t eligible, SeekTable& table) {
    if (eligible == 0) return noErr;
    // At most about 1000 entries: every step-th eligible chunk.
    table.step = static_cast<std::uint32_t>(eligible / 1000 + 1);
    table.entries = static_cast<std::uint32_t>(eligible / table.step);
    if (table.entries == 0) return noErr;
    static constexpr std::uint16_t kTags[3] = {ChunkTag("pt"), ChunkTag("at"), ChunkTag("tt")};
    return AppendReservedChunk(header, kTags[stream], 8 * table.entries, &table.payload);
}

} // namespace

OSErr LayOutRecords(MovieWriter& w) {
    ByteBlock& h = w.header;
    // Movie kind.
    std::uint16_t kind;
    if (!w.hasVideo && !w.hasText) kind = w.hasSound ? 5 : 0;
    else if (w.hasSound) kind = 6;
    else kind = w.counts[kVideo].chunks == 1 ? 4 : 1;
    if (OSErr err = h.PatchBE16(w.mtAt, kind)) return err;

    // The movie palette and inverse map of the colour formats.
    if (w.hasVideo && (w.videoFormat == Code(PictureEncoding::Colour8Bit) || w.videoFormat == Code(PictureEncoding::Cinepak) ||
                       w.videoFormat == Code(PictureEncoding::Mpeg4)) && w.videoEncoder) {
        if (OSErr err = w.videoEncoder->FillPalette(h.Span().subspan(w.pyAt, 768), h.Span().subspan(w.icAt, 8192)))
            return err;
    }

    // Stream durations.
    if (w.hasVideo)
        if (OSErr err = PatchDuration(h, w.videoPatch, w.counts[kVideo].duration)) return err;
    if (w.hasText)
        if (OSErr err = PatchDuration(h, w.textPatch, 0)) return err;
    if (w.hasSound) {
        const std::uint64_t rate = w.wave.sampleRate;
        const std::uint64_t hundredths = rate == 0 ? 0 : (w.counts[kSound].duration * 100 + rate / 2) / rate;
        if (OSErr err = PatchDuration(h, w.soundPatch, hundredths)) return err;
    }

    // Seek tables go at the end of the header record, before the layout items.
    SeekTable tables[3];
    for (int s = 0; s < 3; ++s)
        if (OSErr err = ReserveSeekTable(h, s, w.counts[s].eligible, tables[s])) return err;

    // Layout items; those that do not fit continue in a further record.
    ByteBlock current = std::move(h);
    for (const ByteBlock& item : w.layoutItems) {
        if (std::uint64_t{current.Size()} + item.Size() + 4 >= kRecordContentLimit) {
            if (OSErr err = current.Append(kRecordEndBytes)) return err;
            if (OSErr err = KeepRecord(w, current)) return err;
        }
        if (OSErr err = current.Append(item)) return err;
    }
    if (OSErr err = AppendChunk(current, ChunkTag("mb"), {})) return err;
    w.mediaStartInRecord = current.Size();

    const bool anyMedia = w.counts[kVideo].chunks + w.counts[kSound].chunks + w.counts[kText].chunks > 0;
    if (!anyMedia) {
        // A movie without media chunks: one record that ends with "me" alone.
        if (OSErr err = current.Append(kMovieEndBytes)) return err;
        return KeepRecord(w, current);
    }

    if (OSErr err = w.layout.Create()) return err;
    Interleaver interleaver(w, std::move(current), tables);
    std::uint64_t leadIn = 0;
    if (OSErr err = interleaver.Run(leadIn)) return err;

    // The header record is record 0, always in memory.
    ByteBlock& record0 = w.memoryRecords.front();
    if (w.hasSound && leadIn != 0) return record0.PatchBE32(w.ahAt + 10, static_cast<std::uint32_t>(leadIn));
    return noErr;
}
