// Cuts between scenes for the "Cinepak Mobile" encoder.
#include "video/cinepakscenecut.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace cinepak {

void SceneCuts::Begin(std::uint32_t blocksWide, std::uint32_t blocksHigh) {
    blocksWide_ = blocksWide, blocksHigh_ = blocksHigh;
    cellsWide_ = (blocksWide + 3) / 4;
    const std::size_t cells = std::size_t{cellsWide_} * ((blocksHigh + 3) / 4);
    thumbnail_.assign(cells, 0);
    last_.assign(cells, 0);
    haveLast_ = false;
}

bool SceneCuts::Cut(std::span<const Vec> blocks) {
    MakeThumbnail(blocks);
    const bool first = !haveLast_;
    haveLast_ = true;
    return !first && Change() > kCutChange;
}

// The picture's luma summed over cells of 8 × 8 pixels (4 × 4 blocks): a
// thumbnail that grain and detail moving a few pixels barely change, but a
// new picture replaces. Cells at the right and bottom edges of pictures that
// are not a multiple of 8 pixels hold fewer pixels; they count for less,
// which errs towards no cut.
void SceneCuts::MakeThumbnail(std::span<const Vec> blocks) {
    last_.swap(thumbnail_);
    std::fill(thumbnail_.begin(), thumbnail_.end(), 0);
    for (std::uint32_t by = 0; by < blocksHigh_; ++by)
        for (std::uint32_t bx = 0; bx < blocksWide_; ++bx) {
            const Vec& v = blocks[std::size_t{by} * blocksWide_ + bx];
            thumbnail_[std::size_t{by / 4} * cellsWide_ + bx / 4] += v.c[0] + v.c[1] + v.c[2] + v.c[3];
        }
}

// How far the picture moved from the last one: the mean absolute difference
// of the cells' mean luma, in luma levels, with the last thumbnail shifted
// by the one cell (8 pixels) either way, across and down, that matches best,
// so that a pan or a shaking camera counts as little change.
double SceneCuts::Change() const {
    const int wide = static_cast<int>(cellsWide_), high = static_cast<int>(thumbnail_.size()) / wide;
    double best = std::numeric_limits<double>::infinity();
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            std::int64_t sum = 0, cells = 0;
            for (int y = std::max(0, -dy); y < std::min(high, high - dy); ++y)
                for (int x = std::max(0, -dx); x < std::min(wide, wide - dx); ++x, ++cells)
                    sum += std::abs(thumbnail_[static_cast<std::size_t>(y * wide + x)] -
                                    last_[static_cast<std::size_t>((y + dy) * wide + x + dx)]);
            if (cells > 0) best = std::min(best, static_cast<double>(sum) / 64.0 / static_cast<double>(cells));
        }
    return best;
}

} // namespace cinepak
