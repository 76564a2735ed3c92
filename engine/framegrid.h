// The frame grid of a conversion: which source time each output frame is
// taken at, how long it lasts in the source's time scale, and which frames
// a chapter start makes key frames. The durations handed over are whole
// units whose running sum follows the exact grid, so a long movie never
// drifts, whatever its time scale and frame rate.
#pragma once

#include <cstdint>
#include <vector>

class FrameGrid {
public:
    // `rate` in frames per second, 0 for every source frame as it comes;
    // `end` the source's length (0 when not known), where the last picture
    // ends rather than at the next grid point; chapter starts in the
    // source's time scale, ascending.
    FrameGrid(double timeScale, double rate, double end = 0, std::vector<double> chapterStarts = {});

    struct Step {
        double next = 0;             // the time of the next request
        std::uint32_t duration = 0;  // of this frame, in whole units
        bool chapterStart = false;   // a chapter starts here: a key frame
    };
    // One output frame from the current time, whose source picture lasts
    // `sampleDuration` units from it. A source frame that lasts beyond the
    // next grid point moves the grid instead of being written twice.
    Step Advance(double sampleDuration);

    double Current() const { return current_; }
    std::uint64_t Frames() const { return frames_; }

private:
    double timeScale_, rate_, end_;
    std::vector<double> chapters_;
    std::size_t chapter_ = 0;
    double current_ = 0, offset_ = 0, carry_ = 0;
    std::uint64_t frames_ = 0;
};
