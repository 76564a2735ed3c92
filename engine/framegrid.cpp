// The frame grid: request times, whole-unit durations, chapter key frames.
#include "engine/framegrid.h"

#include <algorithm>
#include <cmath>
#include <utility>

FrameGrid::FrameGrid(double timeScale, double rate, double end, std::vector<double> chapterStarts)
    : timeScale_(timeScale), rate_(rate), end_(end), chapters_(std::move(chapterStarts)) {}

FrameGrid::Step FrameGrid::Advance(double d) {
    const double cur = current_;
    const std::uint64_t n = frames_ + 1;
    Step step;
    if (rate_ == 0) {
        step.next = cur + d;
    } else {
        const double ideal = static_cast<double>(n) * timeScale_ / rate_ + offset_;
        if (ideal < cur + d) {
            step.next = cur + d;
            offset_ += std::trunc(cur + d - ideal);
        } else {
            step.next = ideal;
        }
        // The movie is as long as its source, not rounded up to the grid:
        // the frame whose next grid point lies beyond the source's end ends
        // there. (Should a container understate its length, the pictures
        // after the stated end still come, the first of them once off the
        // grid.) Less than a unit before the end is not worth a frame.
        if (step.next > end_ && end_ - cur >= 1) step.next = end_;
    }
    // A chapter that starts before this frame ends makes it a key frame.
    // Two chapters within one frame: the second marks the frame after, so
    // the test is "not marked yet", not "starts within this frame".
    if (chapter_ < chapters_.size() && chapters_[chapter_] < step.next) {
        step.chapterStart = true;
        ++chapter_;
    }
    // Whole units, the fractions carried along: the sum of the durations
    // handed over stays within one unit of the exact grid.
    const double exact = step.next - cur + carry_;
    step.duration = static_cast<std::uint32_t>(std::clamp(std::trunc(exact), 0.0, 4294967295.0));
    carry_ = exact - std::trunc(exact);
    ++frames_;
    current_ = step.next;
    return step;
}
