// "Cinepak Mobile": our Cinepak encoder.
#include "video/cinepakencoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "video/cinepakbitstream.h"
#include "video/cinepakcodebook.h"
#include "video/cinepakprune.h"
#include "video/cinepakrate.h"
#include "video/cinepakscenecut.h"
#include "video/cinepakstrip.h"
#include "video/cinepakvectors.h"

namespace {

using namespace cinepak;

// A frame is one strip, with one pair of codebooks for the whole picture:
// on real footage that took 15 to 20 % fewer bytes for the same quality than
// strips of 80 rows, at every rate from 200 to 1800 kbit/s. A frame whose
// slope is below kMoreStripsBelow (coded at about the top quality, a scene
// too simple to spend its share) or that is coded to a budget (the first
// second, the layout picture) is cut into strips of at most kWideStripRows
// rows, fewer where its bytes pay for more codebooks (from about 1.5 bits
// per pixel, and more so from 3): one strip's 256 entries bound its
// quality, and with one strip always the mean rate fell 8 % short of the
// target at 1800 kbit/s.
constexpr double kMoreStripsBelow = 3;
constexpr std::uint32_t kWideStripRows = 80;
struct StripChoice {
    double bitsPerPixel;
    std::uint32_t rows;
};
constexpr StripChoice kStripChoices[] = {{3.0, 20}, {1.5, 40}};

// Codebooks made for the macroblocks that use them (Specialise) pay from
// about this many bits per pixel: on real footage they gained 0.2 to 0.35 dB
// from 0.55 bits per pixel up, and lost 0.1 to 0.2 dB below 0.3.
constexpr double kSpecialiseFrom = 0.4;
// Where they are made, the codebooks planned before serve only to choose
// which macroblocks train which: one refinement pass chooses as well as four
// (on real footage the same bytes for the same quality within 0.1 %) in 15 %
// less time.
constexpr int kPassesBeforeRemaking = 1;

// The largest payload: an "fr" chunk is at most 65535 bytes with its header.
constexpr std::uint32_t kLargestFrame = 65000;

} // namespace

struct CinepakEncoder::State {
    std::uint32_t width = 0, height = 0, exactWidth = 0, exactHeight = 0;
    std::uint32_t mbWide = 0, mbHigh = 0;
    std::vector<Vec> current;   // this picture's 2 × 2 blocks
    std::vector<std::uint8_t> paddedRows; // two rows widened with white to the padded width
    std::vector<Vec> shown;     // what the decoder shows now
    bool haveReference = false;
    std::uint32_t sinceKey = 0;
    std::uint32_t lastBudget = 0;
    RateControl rate;
    SlopeControl slope;
    std::vector<StripPlan> strips;
    std::vector<DecoderBook> books1, books4; // by strip number
    std::uint32_t stripRows = 0;
    SceneCuts cuts;

    // Cuts the picture into strips of at most `rows` rows of equal height.
    void LayOutStrips(std::uint32_t rows) {
        if (rows == stripRows) return;
        stripRows = rows;
        strips.clear();
        const std::uint32_t count = (height + rows - 1) / rows;
        const std::uint32_t mbRowsPerStrip = (mbHigh + count - 1) / count;
        for (std::uint32_t row = 0; row < mbHigh; row += mbRowsPerStrip) {
            StripPlan strip;
            strip.firstRow = row;
            strip.rows = std::min(mbRowsPerStrip, mbHigh - row);
            strips.push_back(std::move(strip));
        }
        if (books1.size() < strips.size()) books1.resize(strips.size()), books4.resize(strips.size());
    }

    std::size_t BlockIndex(std::uint32_t bx, std::uint32_t by) const { return std::size_t{by} * (width / 2) + bx; }

    // The 2 × 2 block b (0 top left … 3 bottom right) of macroblock m.
    std::size_t MacroBlock(std::uint32_t m, int b) const {
        const std::uint32_t mx = m % mbWide, my = m / mbWide;
        return BlockIndex(mx * 2 + static_cast<std::uint32_t>(b % 2), my * 2 + static_cast<std::uint32_t>(b / 2));
    }

    Vec V1Vector(std::uint32_t m) const {
        Vec v;
        int u = 0, w = 0;
        for (int b = 0; b < 4; ++b) {
            const Vec& q = current[MacroBlock(m, b)];
            v.c[static_cast<std::size_t>(b)] = static_cast<std::int16_t>((q.c[0] + q.c[1] + q.c[2] + q.c[3] + 2) / 4);
            u += q.c[4];
            w += q.c[5];
        }
        v.c[4] = static_cast<std::int16_t>(RoundDiv(u, 4));
        v.c[5] = static_cast<std::int16_t>(RoundDiv(w, 4));
        return v;
    }
};

CinepakEncoder::CinepakEncoder() = default;
CinepakEncoder::~CinepakEncoder() = default;
CinepakEncoder::CinepakEncoder(CinepakEncoder&&) noexcept = default;
CinepakEncoder& CinepakEncoder::operator=(CinepakEncoder&&) noexcept = default;

std::uint32_t CinepakEncoder::LastBudget() const { return state_ ? state_->lastBudget : 0; }

OSErr CinepakEncoder::Begin(std::uint16_t width, std::uint16_t height, std::uint16_t exactWidth, std::uint16_t exactHeight) {
    if (width == 0 || height == 0 || width % 4 != 0 || height % 4 != 0 || exactWidth > width || exactHeight > height)
        return paramErr;
    auto s = std::unique_ptr<State>(new (std::nothrow) State);
    if (!s) return memFullErr;
    s->width = width, s->height = height, s->exactWidth = exactWidth, s->exactHeight = exactHeight;
    s->mbWide = width / 4;
    s->mbHigh = height / 4;
    try {
        s->current.resize(std::size_t{width / 2u} * (height / 2u));
        s->shown.resize(s->current.size());
        s->cuts.Begin(width / 2u, height / 2u);
        s->LayOutStrips(kWideStripRows);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    state_ = std::move(s);
    return noErr;
}

namespace {

// The picture as 2 × 2 blocks; beyond the exact size it is white. Rows run
// through a padded copy only where the picture ends inside a block row or
// column.
OSErr MakeBlocks(CinepakEncoder::State& s, const std::uint8_t* pixels, std::int32_t rowBytes) {
    const bool padded = s.exactWidth < s.width || s.exactHeight < s.height;
    try {
        if (padded) s.paddedRows.assign(std::size_t{s.width} * 4 * 2, 255);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    for (std::uint32_t by = 0; by < s.height / 2; ++by) {
        const std::uint8_t* rows[2];
        for (std::uint32_t r = 0; r < 2; ++r) {
            const std::uint32_t y = by * 2 + r;
            std::uint8_t* copy = padded ? s.paddedRows.data() + std::size_t{r} * s.width * 4 : nullptr;
            if (y >= s.exactHeight) {
                std::fill_n(copy, std::size_t{s.width} * 4, std::uint8_t{255});
                rows[r] = copy;
                continue;
            }
            rows[r] = pixels + static_cast<std::ptrdiff_t>(y) * rowBytes;
            if (padded) {
                std::memcpy(copy, rows[r], std::size_t{s.exactWidth} * 4);
                std::fill(copy + std::size_t{s.exactWidth} * 4, copy + std::size_t{s.width} * 4, std::uint8_t{255});
                rows[r] = copy;
            }
        }
        Vec* out = &s.current[s.BlockIndex(0, by)];
        for (std::uint32_t bx = 0; bx < s.width / 2; ++bx) out[bx] = BlockVector(rows[0] + 8 * bx, rows[1] + 8 * bx);
    }

    return noErr;
}

// One frame's coding, stage by stage: strips laid out for the budget, the
// macroblocks worth coding found, a codebook size and λ chosen to fit the
// budget, and the bit stream written. The state it reads and updates is the
// encoder's.
class FrameCoder final : public FrameTrials {
public:
    FrameCoder(CinepakEncoder::State& state, bool key, std::size_t layoutBytes) : s(state), key_(key), layoutBytes_(layoutBytes) {}

    // One strip, whose codebooks serve the whole picture; strips of fewer
    // rows (more codebooks) for a frame coded at about the top quality or
    // to a budget, as its bytes pay for them.
    OSErr LayOutStrips(double lambda) {
        const double bitsPerPixel = BitsPerPixel();
        try {
            std::uint32_t rows = s.height;
            if (lambda < kMoreStripsBelow) {
                rows = kWideStripRows;
                for (const StripChoice& choice : kStripChoices)
                    if (bitsPerPixel >= choice.bitsPerPixel && rows == kWideStripRows) rows = choice.rows;
            }
            s.LayOutStrips(rows);
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
        return noErr;
    }

    // Candidates per strip: every macroblock of a key frame; of a difference
    // frame, those that changed visibly.
    void FindCandidates() {
        constexpr int kChanged = 16 * 4; // about two levels of error per pixel
        for (StripPlan& strip : s.strips) {
            strip.blocks.clear();
            const std::uint32_t first = strip.firstRow * s.mbWide, last = (strip.firstRow + strip.rows) * s.mbWide;
            const std::size_t count = last - first;
            strip.errorSkip.assign(count, 0);
            strip.skipTotal = 0;
            strip.mode.assign(count, Mode::Skip);
            for (std::uint32_t m = first; m < last; ++m) {
                int e = 0;
                if (!key_)
                    for (int b = 0; b < 4; ++b) e += Distance(s.current[s.MacroBlock(m, b)], s.shown[s.MacroBlock(m, b)]);
                strip.errorSkip[m - first] = e;
                strip.skipTotal += e;
                if (key_ || e > kChanged) strip.blocks.push_back(m);
            }
        }
    }

    void Unspecialise() override {
        untrimmedSaved_ = false;
        for (StripPlan& strip : s.strips) strip.SwapBooks(strip.beforeSpecialise);
    }

    // The entries worth sending at λ, for the macroblocks that would use
    // them: of a difference frame, one the decoder holds serves where its
    // users lose less than sending a new one costs (measured on the users
    // alone, where the planned codebooks counted every candidate: on real
    // footage 2 % fewer bytes for the same quality); then the entries that
    // save their users less than they cost are dropped (1.5 % more).
    bool Trim(double lambda) override {
        const double entryCost = lambda * 8 * kEntryBytes;
        bool trimmed = false;
        for (std::size_t number = 0; number < s.strips.size(); ++number) {
            StripPlan& strip = s.strips[number];
            if (untrimmedSaved_) strip.RestoreBooks(strip.beforeTrim);
            else strip.SaveBooks(strip.beforeTrim);
            MarkUsers(strip, lambda);
            bool changed = false;
            if (!key_) {
                changed = Reuse(strip.v4, strip.reuse4, s.books4[number], &users4_, 1, lambda);
                if (Reuse(strip.v1, strip.reuse1, s.books1[number], &users1_, 4, lambda)) changed = true, strip.ExpandEntries();
            }
            if (PruneEntries(strip.v4, strip.v4Vectors, users4_, strip.reuse4, 1, entryCost)) changed = true;
            if (PruneEntries(strip.v1, strip.v1Vectors, users1_, strip.reuse1, 4, entryCost)) changed = true;
            if (changed) strip.MeasureErrors();
            trimmed = trimmed || changed;
        }
        untrimmedSaved_ = true;
        return trimmed;
    }

    // Plans for one codebook size: the codebooks and each candidate's error
    // under V1 and V4. The search compares sizes on the cut alone; the
    // chosen size is then refined.
    void Plan(std::size_t v1Size, std::size_t v4Size, bool refine, double lambda) override {
        for (std::size_t number = 0; number < s.strips.size(); ++number) {
            StripPlan& strip = s.strips[number];
            if (!cut_) {
                if (!vectorsMade_) MakeVectors(strip);
                strip.v1.Cut(strip.v1Vectors, kBookSizes);
                strip.v4.Cut(strip.v4Vectors, kBookSizes);
            }
            const int passes = !refine ? 0 : Specialises() ? kPassesBeforeRemaking : Codebook::kRefinePasses;
            strip.v1.Take(strip.v1Vectors, v1Size, passes);
            strip.v4.Take(strip.v4Vectors, v4Size, passes);
            // A difference frame reuses what the decoder holds where it fits
            // (worked out for the final plan only: the search assumes none).
            Measure(number, !key_ && refine ? lambda : -1);
        }
        vectorsMade_ = cut_ = true;
        untrimmedSaved_ = false;
    }

    // Codebooks made for the macroblocks that use them. Made from every
    // candidate, the V4 codebook spends entries on flat blocks that V1 codes
    // better and the V1 codebook on detail that only V4 can draw; here each
    // macroblock takes the way it would at λ, the V1 codebook is made anew
    // from the macroblocks coded V1 and the V4 codebook from the blocks of
    // those coded V4, and every candidate is then measured against both.
    // A codebook keeps what it was when too few of its own are left to make it.
    bool Specialise(std::size_t v1Size, std::size_t v4Size, double lambda) override {
        if (!Specialises()) return false;
        for (std::size_t number = 0; number < s.strips.size(); ++number) {
            StripPlan& strip = s.strips[number];
            strip.SaveBooks(strip.beforeSpecialise);
            train1_.clear();
            train4_.clear();
            const std::uint32_t first = strip.firstRow * s.mbWide;
            for (std::size_t i = 0; i < strip.blocks.size(); ++i) {
                const Mode mode = Choose(strip, i, strip.errorSkip[strip.blocks[i] - first], lambda);
                if (mode == Mode::V1) train1_.push_back(strip.v1Vectors[i]);
                if (mode == Mode::V4) train4_.insert(train4_.end(), &strip.v4Vectors[4 * i], &strip.v4Vectors[4 * i + 4]);
            }
            Remake(strip.v1, train1_, strip.v1Vectors, v1Size);
            Remake(strip.v4, train4_, strip.v4Vectors, v4Size);
            Measure(number, key_ ? -1 : lambda);
        }
        cut_ = false; // the cuts now hold the training sets, not the candidates
        untrimmedSaved_ = false;
        return true;
    }

    // The frame's bytes and distortion at λ, each macroblock coded the way
    // that costs it least (error plus λ per bit); with `decide`, that way
    // becomes the macroblock's mode.
    RateTrial Evaluate(double lambda, bool decide) {
        std::size_t bytes = kFrameHeaderBytes;
        std::int64_t distortion = 0;
        // Which entries the coded blocks use, counted as they first are: a
        // full chunk carries every used entry; a partial one only the new
        // ones, behind flag words (counted at their most, 8).
        struct Usage {
            std::array<bool, 256> used;
            std::size_t all, fresh;
            void Use(std::uint8_t e, const std::vector<int>& reuse) {
                if (used[e]) return;
                used[e] = true;
                ++all;
                fresh += reuse[e] < 0;
            }
            std::size_t Bytes() const {
                if (all == 0) return 0;
                if (fresh == all) return kChunkHeaderBytes + kEntryBytes * all;
                return fresh == 0 ? 0 : kChunkHeaderBytes + 8 * 4 + kEntryBytes * fresh;
            }
        };
        Usage usage1, usage4;
        for (StripPlan& strip : s.strips) {
            const std::uint32_t first = strip.firstRow * s.mbWide;
            usage1.used.fill(false), usage1.all = usage1.fresh = 0;
            usage4.used.fill(false), usage4.all = usage4.fresh = 0;
            std::size_t bits = 0, indexBytes = 0;
            std::int64_t strip_distortion = strip.skipTotal;
            if (!key_) bits += strip.errorSkip.size(); // one bit per macroblock: coded or not
            for (std::size_t i = 0; i < strip.blocks.size(); ++i) {
                const std::size_t m = strip.blocks[i] - first;
                const int skipError = strip.errorSkip[m];
                const Mode mode = Choose(strip, i, skipError, lambda);
                if (decide) strip.mode[m] = mode;
                if (mode == Mode::Skip) continue;
                strip_distortion -= skipError;
                bits += 1; // V1 or V4
                if (mode == Mode::V1) {
                    strip_distortion += strip.errorV1[i];
                    indexBytes += 1;
                    usage1.Use(strip.v1.assignment[i], strip.reuse1);
                } else {
                    strip_distortion += strip.errorV4[i];
                    indexBytes += 4;
                    for (std::size_t b = 0; b < 4; ++b) usage4.Use(strip.v4.assignment[4 * i + b], strip.reuse4);
                }
            }
            bytes += kStripHeaderBytes + usage1.Bytes() + usage4.Bytes() + kChunkHeaderBytes + (bits + 31) / 32 * 4 +
                     indexBytes;
            distortion += strip_distortion;
        }
        return RateTrial{lambda, bytes, distortion};
    }

    RateTrial Try(double lambda) override { return Evaluate(lambda, false); }

    std::size_t Strips() const override { return s.strips.size(); }

    // The codebook size and λ of the frame; the mode of each macroblock
    // under them.
    RatePlan ChoosePlan(double lambda, std::size_t most) {
        const RatePlan plan = lambda > 0 ? s.rate.ChooseAt(lambda, most, *this) : s.rate.Choose(most, *this);
        (void)Evaluate(plan.fit.lambda, true);
        return plan;
    }

    // The frame's bit stream; the decoder's codebooks and picture as it
    // will hold them updated.
    OSErr Write(const RatePlan& plan, ByteBlock& out) {
        FrameWriter frame(key_);
        if (OSErr err = frame.BeginFrame(static_cast<std::uint16_t>(s.width), static_cast<std::uint16_t>(s.height),
                                         static_cast<std::uint16_t>(s.strips.size()), plan.fit.bytes + 64))
            return err;
        for (std::size_t number = 0; number < s.strips.size(); ++number)
            if (OSErr err = WriteStrip(number, frame)) return err;
        frame.Finish(out);
        return noErr;
    }

private:
    // The vectors each codebook would code at λ: the V1 vectors of the
    // macroblocks coded V1, the blocks of those coded V4.
    void MarkUsers(const StripPlan& strip, double lambda) {
        const std::uint32_t first = strip.firstRow * s.mbWide;
        users1_.assign(strip.blocks.size(), false);
        users4_.assign(strip.v4Vectors.size(), false);
        for (std::size_t i = 0; i < strip.blocks.size(); ++i) {
            const Mode mode = Choose(strip, i, strip.errorSkip[strip.blocks[i] - first], lambda);
            users1_[i] = mode == Mode::V1;
            if (mode == Mode::V4) std::fill_n(users4_.begin() + static_cast<std::ptrdiff_t>(4 * i), 4, true);
        }
    }

    bool Specialises() const { return BitsPerPixel() >= kSpecialiseFrom; }
    double BitsPerPixel() const { return 8.0 * static_cast<double>(layoutBytes_) / (static_cast<double>(s.width) * s.height); }

    // The candidates' vectors, once a frame for every size.
    void MakeVectors(StripPlan& strip) const {
        strip.v1Vectors.clear();
        strip.v4Vectors.clear();
        for (std::uint32_t m : strip.blocks) {
            strip.v1Vectors.push_back(s.V1Vector(m));
            for (int b = 0; b < 4; ++b) strip.v4Vectors.push_back(s.current[s.MacroBlock(m, b)]);
        }
    }

    // The way macroblock i of the strip costs least at λ: its error plus λ
    // per bit (a key frame cannot skip).
    Mode Choose(const StripPlan& strip, std::size_t i, int skipError, double lambda) const {
        const double skip = key_ ? std::numeric_limits<double>::infinity() : skipError;
        const double v1 = strip.errorV1[i] + lambda * 9;
        const double v4 = strip.errorV4[i] + lambda * 33;
        Mode mode = v4 < v1 ? Mode::V4 : Mode::V1;
        if (skip <= std::min(v1, v4)) mode = Mode::Skip;
        return mode;
    }

    // The codebook made anew from `train` and every candidate assigned to it.
    static void Remake(Codebook& book, const std::vector<Vec>& train, const std::vector<Vec>& all, std::size_t size) {
        if (train.size() < kSmallestTraining) return;
        const std::size_t sizes[] = {size};
        book.Cut(train, sizes);
        book.Take(train, size, Codebook::kRefinePasses);
        book.Assign(all);
    }
    static constexpr std::size_t kSmallestTraining = 4;

    // Each candidate's error under the strip's codebooks as they stand,
    // with the decoder's entries standing in for new ones where that costs
    // less at λ than sending them (λ < 0: none do).
    void Measure(std::size_t number, double lambda) {
        StripPlan& strip = s.strips[number];
        strip.reuse1.assign(strip.v1.entries.size(), -1);
        strip.reuse4.assign(strip.v4.entries.size(), -1);
        if (lambda >= 0) {
            (void)Reuse(strip.v1, strip.reuse1, s.books1[number], nullptr, 4, lambda);
            (void)Reuse(strip.v4, strip.reuse4, s.books4[number], nullptr, 1, lambda);
        }
        strip.ExpandEntries();
        strip.MeasureErrors();
    }

    // The decoder's nearest entry stands in for a new one within the
    // distance that sending the new one costs at λ: an entry is the mean of
    // its vectors, so one moved by a distance d draws each of them d worse,
    // four times over for a V1 entry, which four blocks draw. The vectors
    // counted are those marked in `users`, or all assigned when it is null.
    // Answers whether any entry now stands in.
    bool Reuse(Codebook& book, std::vector<int>& reuse, DecoderBook& decoder, const std::vector<bool>* users, int drawn,
               double lambda) {
        counts_.assign(book.entries.size(), 0);
        for (std::size_t j = 0; j < book.assignment.size(); ++j)
            if (users == nullptr || (*users)[j]) ++counts_[book.assignment[j]];
        decoder.Index();
        bool any = false;
        for (std::size_t e = 0; e < book.entries.size(); ++e) {
            if (counts_[e] == 0 || reuse[e] >= 0) continue;
            // What sending the entry costs, as a distance it may move instead.
            const double reach = std::max<double>(kReuseDistance, lambda * 8 * kEntryBytes / (counts_[e] * drawn));
            reuse[e] = decoder.Reusable(Clamped(book.entries[e]), static_cast<int>(std::min(reach, 65535.0)));
            if (reuse[e] >= 0) book.entries[e] = decoder.entries[static_cast<std::size_t>(reuse[e])], any = true;
        }
        return any;
    }

    // One strip: the entries its macroblocks use, put in the decoder's
    // codebooks and sent, then the macroblocks.
    OSErr WriteStrip(std::size_t number, FrameWriter& frame) {
        StripPlan& strip = s.strips[number];
        std::vector<bool> used1(strip.v1.entries.size(), false), used4(strip.v4.entries.size(), false);
        MarkUsed(strip, used1, used4);
        BookUpdate update1, update4;
        const std::vector<int> slot4 = AssignSlots(strip.v4, used4, strip.reuse4, s.books4[number], update4);
        const std::vector<int> slot1 = AssignSlots(strip.v1, used1, strip.reuse1, s.books1[number], update1);
        OSErr err = frame.BeginStrip(static_cast<std::uint16_t>(strip.rows * 4), static_cast<std::uint16_t>(s.width));
        if (!err) err = frame.PutCodebook(Book::V4, update4, s.books4[number].entries);
        if (!err) err = frame.PutCodebook(Book::V1, update1, s.books1[number].entries);
        if (!err) err = frame.BeginVectors();
        if (!err) err = WriteMacroblocks(strip, slot1, slot4, s.books1[number], s.books4[number], frame);
        if (!err) frame.EndStrip();
        return err;
    }

    // The codebook entries the plan's coded macroblocks draw.
    void MarkUsed(const StripPlan& strip, std::vector<bool>& used1, std::vector<bool>& used4) const {
        const std::uint32_t first = strip.firstRow * s.mbWide;
        for (std::size_t i = 0; i < strip.blocks.size(); ++i) {
            const Mode mode = strip.mode[strip.blocks[i] - first];
            if (mode == Mode::V1) used1[strip.v1.assignment[i]] = true;
            if (mode == Mode::V4)
                for (std::size_t b = 0; b < 4; ++b) used4[strip.v4.assignment[4 * i + b]] = true;
        }
    }

    // The slot each used entry takes in the decoder's codebook: a reused
    // entry keeps its slot; new ones take the lowest free slots, and the
    // decoder's codebook takes them.
    std::vector<int> AssignSlots(const Codebook& book, const std::vector<bool>& used, const std::vector<int>& reuse,
                                 DecoderBook& decoder, BookUpdate& update) const {
        std::vector<int> slot(book.entries.size(), -1);
        std::array<bool, 256> taken{};
        for (std::size_t e = 0; e < used.size(); ++e)
            if (used[e] && reuse[e] >= 0)
                slot[e] = reuse[e], taken[static_cast<std::size_t>(reuse[e])] = true, update.partial = true;
        std::size_t next = 0;
        for (std::size_t e = 0; e < used.size(); ++e) {
            if (!used[e] || slot[e] >= 0) continue;
            while (taken[next]) ++next;
            slot[e] = static_cast<int>(next);
            taken[next] = update.filled[next] = true;
            decoder.entries[next] = Clamped(book.entries[e]);
            update.highest = std::max(update.highest, static_cast<int>(next));
        }
        // A key frame starts the decoder's knowledge afresh, so that it
        // decodes without any earlier frame.
        if (key_) decoder.valid.fill(false);
        for (std::size_t i = 0; i < decoder.valid.size(); ++i)
            if (update.filled[i]) decoder.valid[i] = true;
        return slot;
    }

    // Each macroblock of the strip as the plan codes it; the decoder's
    // picture as it will show it.
    OSErr WriteMacroblocks(const StripPlan& strip, const std::vector<int>& slot1, const std::vector<int>& slot4,
                           const DecoderBook& decoder1, const DecoderBook& decoder4, FrameWriter& frame) {
        const std::uint32_t first = strip.firstRow * s.mbWide;
        std::size_t candidate = 0;
        for (std::uint32_t m = first; m < first + strip.rows * s.mbWide; ++m) {
            const bool isCandidate = candidate < strip.blocks.size() && strip.blocks[candidate] == m;
            const std::size_t i = candidate;
            if (isCandidate) ++candidate;
            OSErr err = noErr;
            switch (strip.mode[m - first]) {
            case Mode::Skip:
                err = frame.PutSkip();
                break;
            case Mode::V1: {
                const auto slot = static_cast<std::size_t>(slot1[strip.v1.assignment[i]]);
                err = frame.PutV1(static_cast<std::uint8_t>(slot));
                for (int b = 0; b < 4; ++b)
                    s.shown[s.MacroBlock(m, b)] = ExpandV1(decoder1.entries[slot], b);
                break;
            }
            case Mode::V4: {
                std::array<std::uint8_t, 4> slots;
                for (std::size_t b = 0; b < 4; ++b) {
                    slots[b] = static_cast<std::uint8_t>(slot4[strip.v4.assignment[4 * i + b]]);
                    s.shown[s.MacroBlock(m, static_cast<int>(b))] = decoder4.entries[slots[b]];
                }
                err = frame.PutV4(slots);
                break;
            }
            }
            if (err) return err;
        }
        return noErr;
    }

    CinepakEncoder::State& s;
    const bool key_;
    const std::size_t layoutBytes_; // what chooses the strips' height
    bool vectorsMade_ = false; // the candidates' vectors, made once a frame
    bool cut_ = false;         // and cut to every size
    bool untrimmedSaved_ = false; // the codebooks as planned, before Trim()
    std::vector<Vec> train1_, train4_; // Specialise's training sets
    std::vector<std::uint32_t> counts_; // Reuse's: the vectors of each entry
    std::vector<bool> users1_, users4_; // Trim's: the vectors each codebook would code
};

// The bytes that choose the strips' height: the frame's share of the rate,
// twice that for a key frame, which codes every macroblock.
std::size_t LayoutBytes(const CinepakFrameParams& params, bool key) {
    const double share = static_cast<double>(params.dataRate) * params.milliseconds / 1000.0;
    return static_cast<std::size_t>(share * (key ? 2 : 1));
}

} // namespace

OSErr CinepakEncoder::Encode(const std::uint8_t* pixels, std::int32_t rowBytes, const CinepakFrameParams& params,
                             ByteBlock& out, bool& difference) {
    if (!state_ || pixels == nullptr) return paramErr;
    State& s = *state_;
    if (OSErr err = MakeBlocks(s, pixels, rowBytes)) return err;
    // A new picture (the first, a cut, or a forced key frame, which a
    // chapter's start asks for) leaves nothing in the decoder worth keeping:
    // its key frame drops the old codebook entries and every skipped block.
    const bool cut = s.cuts.Cut(s.current);
    const bool key = params.forceKeyFrame || !s.haveReference || cut || s.sinceKey + 1 >= kKeyFrameRate;
    // The smallest key frame: a byte a macroblock, and the headers.
    const std::size_t smallestKey = std::size_t{s.mbWide} * s.mbHigh + kFrameHeaderBytes + 64 * s.strips.size();
    const auto kind = !key ? SlopeControl::Kind::Difference : cut ? SlopeControl::Kind::Cut : SlopeControl::Kind::Key;
    const SlopeControl::Frame slope =
        params.slope > 0 ? SlopeControl::Frame{params.slope, kLargestFrame}
                         : s.slope.Next(params.dataRate, params.overrun, params.milliseconds, kind, smallestKey, kLargestFrame);
    const std::size_t most = slope.most;
    s.lastBudget = static_cast<std::uint32_t>(most);
    FrameCoder coder(s, key, LayoutBytes(params, key));
    if (OSErr err = coder.LayOutStrips(slope.lambda)) return err;
    coder.FindCandidates();
    const RatePlan plan = coder.ChoosePlan(slope.lambda, most);
    if (OSErr err = coder.Write(plan, out)) return err;
    s.slope.Add(params.dataRate, params.milliseconds, key, out.Size(), plan.fit.lambda, plan.bytesAtTwice);
    difference = !key;
    s.haveReference = true;
    s.sinceKey = key ? 0 : s.sinceKey + 1;
    return noErr;
}
