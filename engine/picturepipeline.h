// Pictures made ahead: the source's decoding and scaling on a thread of its
// own while the encoders work on the pictures before, with a few pictures
// between them (memory stays flat however long the movie). The pictures
// come out in the order they were made, each with what its maker said of
// it, so the encoders see exactly what a conversion without the thread
// would show them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/framegrid.h"
#include "platform/media.h"
#include "platform/status.h"

struct MadePicture {
    FrameBuffer pixels;
    FrameGrid::Step step;
};

class PicturePipeline {
public:
    // Makes one picture into the buffer (creating it at its size); eofErr
    // after the last, any other error stops the pipeline with it.
    using Maker = std::function<OSErr(MadePicture&)>;

    // `ahead` pictures are made ahead on a thread; 0 makes each on the
    // caller's thread when it is asked for.
    PicturePipeline(Maker maker, std::size_t ahead);
    // Stops the thread after the picture it is making.
    ~PicturePipeline();
    PicturePipeline(const PicturePipeline&) = delete;
    PicturePipeline& operator=(const PicturePipeline&) = delete;

    // The next picture, valid until the next call; the maker's error (or
    // eofErr) once the pictures before it are taken.
    [[nodiscard]] OSErr Next(const MadePicture*& out);

private:
    void Make();

    Maker maker_;
    std::size_t ahead_;
    std::vector<MadePicture> slots_; // a ring: made ones from taken_, free ones after
    std::size_t made_ = 0, taken_ = 0; // counts since the start
    OSErr end_ = noErr;                 // the maker's last answer once it stopped
    bool stopping_ = false;
    bool holding_ = false; // the caller has the picture at taken_
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};
