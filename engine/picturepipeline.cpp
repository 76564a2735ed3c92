// The picture pipeline: a ring of buffers between the maker's thread and the
// encoders' one.
#include "engine/picturepipeline.h"

PicturePipeline::PicturePipeline(Maker maker, std::size_t ahead) : maker_(std::move(maker)), ahead_(ahead) {
    // One buffer more than made ahead: the one the caller holds.
    slots_.resize(ahead_ + 1);
    if (ahead_ > 0) thread_ = std::thread([this] { Make(); });
}

PicturePipeline::~PicturePipeline() {
    if (!thread_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void PicturePipeline::Make() {
    while (true) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stopping_ || made_ - taken_ < slots_.size(); });
        if (stopping_) return;
        MadePicture& slot = slots_[made_ % slots_.size()];
        lock.unlock();
        // The slot is the maker's alone until it is counted as made.
        const OSErr err = maker_(slot);
        lock.lock();
        if (err) {
            end_ = err;
            stopping_ = true;
        } else {
            ++made_;
        }
        lock.unlock();
        changed_.notify_all();
        if (err) return;
    }
}

OSErr PicturePipeline::Next(const MadePicture*& out) {
    out = nullptr;
    if (ahead_ == 0) {
        if (end_) return end_;
        if (OSErr err = maker_(slots_[0])) return end_ = err;
        out = &slots_[0];
        return noErr;
    }
    std::unique_lock lock(mutex_);
    // The picture handed out last is done with: its buffer is free again.
    if (taken_ < made_ && holding_) ++taken_;
    holding_ = false;
    changed_.notify_all();
    changed_.wait(lock, [this] { return made_ > taken_ || (stopping_ && end_ != noErr); });
    if (made_ == taken_) return end_;
    holding_ = true;
    out = &slots_[taken_ % slots_.size()];
    return noErr;
}
