// The per-block measurements of the "16 Grays" encoder, in a plain form
// that states the rules and a fast form for the processor's vector unit;
// the tests hold the two to identical answers.
#pragma once

#include <cstdint>

struct GraysBlockStats {
    int mean;      // rounded mean level: the flat code's level
    int flatError; // Σ |mean − p|
    int twoError;  // the best two-level error
    int lo, hi, threshold; // the best two-level pair: p ≥ threshold takes hi
    std::uint16_t mask;    // bit 15 for p0: pixels that take hi
    int skipError;         // Σ |p − r|, or the given "impossible" value
};

// p: the block's 16 levels in raster order; r: the previous picture's, or
// null when the block cannot stay unchanged.
GraysBlockStats AnalyzeGraysBlockPlain(const std::uint8_t p[16], const std::uint8_t* r, int impossible);
GraysBlockStats AnalyzeGraysBlockFast(const std::uint8_t p[16], const std::uint8_t* r, int impossible);
