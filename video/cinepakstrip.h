// One strip of a "Cinepak Mobile" frame as the encoder plans it: the
// macroblocks that may be coded, their vectors, the strip's V1 and V4
// codebooks and each candidate's error under them, and copies of those
// codebooks that a stage may go back to.
#pragma once

#include <cstdint>
#include <vector>

#include "video/cinepakcodebook.h"
#include "video/cinepakvectors.h"

namespace cinepak {

enum class Mode : std::uint8_t { Skip, V1, V4 };

// A V1 entry drawn over a macroblock: entry Y i fills block i.
inline Vec ExpandV1(const Vec& v1, int block) {
    Vec v;
    for (std::size_t i = 0; i < 4; ++i) v.c[i] = v1.c[static_cast<std::size_t>(block)];
    v.c[4] = v1.c[4];
    v.c[5] = v1.c[5];
    return v;
}

struct StripPlan {
    std::uint32_t firstRow = 0, rows = 0; // in macroblocks
    std::vector<std::uint32_t> blocks;    // macroblock numbers that may be coded
    Codebook v1, v4;
    std::vector<int> reuse1, reuse4; // per entry: a decoder slot that serves, or −1
    std::vector<int> errorV1, errorV4, errorSkip;
    std::int64_t skipTotal = 0; // the error when no macroblock is coded
    std::vector<Mode> mode;
    std::vector<Vec> v1Vectors, v4Vectors; // this frame's candidates' vectors
    std::vector<Vec> expanded1;            // the V1 entries as the four blocks each draws

    // The codebooks, what serves from the decoder and the candidates' errors.
    struct Books {
        std::vector<Vec> entries1, entries4, expanded1;
        std::vector<std::uint8_t> assignment1, assignment4;
        std::vector<int> reuse1, reuse4, errorV1, errorV4;
    };
    Books beforeSpecialise, beforeTrim;

    void SaveBooks(Books& to) const {
        to.entries1 = v1.entries, to.entries4 = v4.entries, to.expanded1 = expanded1;
        to.assignment1 = v1.assignment, to.assignment4 = v4.assignment;
        to.reuse1 = reuse1, to.reuse4 = reuse4, to.errorV1 = errorV1, to.errorV4 = errorV4;
    }
    void RestoreBooks(const Books& from) {
        v1.entries = from.entries1, v4.entries = from.entries4, expanded1 = from.expanded1;
        v1.assignment = from.assignment1, v4.assignment = from.assignment4;
        reuse1 = from.reuse1, reuse4 = from.reuse4, errorV1 = from.errorV1, errorV4 = from.errorV4;
    }
    // Back to the saved books, which are not needed again: no copies.
    void SwapBooks(Books& with) {
        v1.entries.swap(with.entries1), v4.entries.swap(with.entries4), expanded1.swap(with.expanded1);
        v1.assignment.swap(with.assignment1), v4.assignment.swap(with.assignment4);
        reuse1.swap(with.reuse1), reuse4.swap(with.reuse4), errorV1.swap(with.errorV1), errorV4.swap(with.errorV4);
    }

    // Each V1 entry as the four blocks it draws.
    void ExpandEntries() {
        expanded1.resize(v1.entries.size() * 4);
        for (std::size_t e = 0; e < v1.entries.size(); ++e)
            for (int b = 0; b < 4; ++b) expanded1[4 * e + static_cast<std::size_t>(b)] = ExpandV1(v1.entries[e], b);
    }

    // Each candidate's error under V1 and V4 with the codebooks as they stand.
    void MeasureErrors() {
        errorV1.assign(blocks.size(), 0);
        errorV4.assign(blocks.size(), 0);
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const Vec* vectors = &v4Vectors[4 * i];
            const Vec* drawn1 = &expanded1[4 * std::size_t{v1.assignment[i]}];
            const std::uint8_t* chosen4 = &v4.assignment[4 * i];
            int e1 = 0, e4 = 0;
            for (std::size_t b = 0; b < 4; ++b) {
                e1 += Distance(vectors[b], drawn1[b]);
                e4 += Distance(vectors[b], v4.entries[chosen4[b]]);
            }
            errorV1[i] = e1;
            errorV4[i] = e4;
        }
    }
};

} // namespace cinepak
