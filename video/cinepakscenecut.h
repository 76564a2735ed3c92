// Cuts between scenes, told from the pictures the "Cinepak Mobile" encoder
// codes: a cut starts a key frame, which leaves nothing of the last scene in
// the decoder.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "video/cinepakvectors.h"

namespace cinepak {

class SceneCuts {
public:
    // A picture whose thumbnail moved more than this many luma levels on
    // average is a new scene. On real footage the pans, the zoom, the
    // shaking camera and the grain stay under 22; the hard cuts between
    // photographs land at 44 to 82.
    static constexpr double kCutChange = 30;

    // For pictures of blocksWide × blocksHigh 2 × 2 blocks. Throws
    // std::bad_alloc.
    void Begin(std::uint32_t blocksWide, std::uint32_t blocksHigh);
    // The next picture's blocks, row after row; whether it starts a new
    // scene (the first picture does not: it has nothing to be cut from).
    bool Cut(std::span<const Vec> blocks);

private:
    void MakeThumbnail(std::span<const Vec> blocks);
    double Change() const;

    std::uint32_t blocksWide_ = 0, blocksHigh_ = 0, cellsWide_ = 0;
    std::vector<std::int32_t> thumbnail_, last_; // luma sums of 8 × 8 pixel cells
    bool haveLast_ = false;
};

} // namespace cinepak
