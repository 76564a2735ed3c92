#include "video/frameinput.h"

#include <memory>
#include <new>

#include "video/graysencoder.h"

namespace {

// At most interval − 1 difference frames follow a key frame.
constexpr std::uint32_t kKeyFrameInterval = 12;

class VideoInput final : public WriterEncoder {
public:
    OSErr Begin(MovieWriter& writer) override {
        const WriterVideoConfig config = GetVideoConfig(&writer);
        format_ = config.formatCode;
        if (format_ != 4) return paramErr; // the only format this input encodes so far
        return grays_.Begin(config.paddedWidth, config.paddedHeight, config.width, config.height);
    }

    OSErr Finish(MovieWriter&) override { return noErr; }

    OSErr Write(MovieWriter* writer, const std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t duration,
                std::uint8_t* keyFrame) {
        const bool allowed = !forceKey_ && !(kKeyFrameInterval != 0 && differences_ >= kKeyFrameInterval - 1);
        bool difference = false;
        if (OSErr err = grays_.Encode(pixels, rowBytes, duration, allowed, payload_, difference)) return err;
        if (OSErr err = WriteVideoChunk(writer, payload_.Span(), grays::kEncoding, difference, duration)) return err;
        // Only a written frame counts.
        differences_ = difference ? differences_ + 1 : 0;
        forceKey_ = false;
        ++frames_;
        if (keyFrame) *keyFrame = difference ? 0 : 1;
        return noErr;
    }

    void ForceKeyFrame() { forceKey_ = true; }

private:
    std::int16_t format_ = 0;
    GraysEncoder grays_;
    ByteBlock payload_;
    bool forceKey_ = false;
    std::uint32_t differences_ = 0;
    std::uint64_t frames_ = 0;
};

VideoInput* InputOf(MovieWriter* writer) {
    if (writer == nullptr || GetWriterState(writer) != WriterState::Open) return nullptr;
    return dynamic_cast<VideoInput*>(GetEncoder(writer, EncoderSlot::Video));
}

} // namespace

OSErr AttachVideoInput(MovieWriter* writer) {
    auto input = std::unique_ptr<VideoInput>(new (std::nothrow) VideoInput);
    if (!input) return memFullErr;
    return AttachEncoder(writer, EncoderSlot::Video, std::move(input));
}

OSErr WriteVideoFrame(MovieWriter* writer, const std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t duration,
                      std::uint8_t* keyFrame) {
    VideoInput* input = InputOf(writer);
    if (input == nullptr || pixels == nullptr) return paramErr;
    return input->Write(writer, pixels, rowBytes, duration, keyFrame);
}

OSErr RequestKeyFrame(MovieWriter* writer) {
    VideoInput* input = InputOf(writer);
    if (input == nullptr) return paramErr;
    input->ForceKeyFrame();
    return noErr;
}
