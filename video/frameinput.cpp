// The writer's video input: pictures encoded and written as frame chunks.
#include "video/frameinput.h"

#include <memory>
#include <new>

#include "moviedb/formats.h"
#include "video/cinepakencoder.h"
#include "video/cinepakpalette.h"
#include "video/cinepakrate.h"
#include "video/cinepakrepack.h"
#include "video/graysencoder.h"

namespace {

// At most interval − 1 difference frames follow a key frame ("16 Grays";
// the Cinepak encoder keeps its own rate of 100).
constexpr std::uint32_t kKeyFrameInterval = 12;

class VideoInput final : public WriterEncoder {
public:
    OSErr Begin(MovieWriter& writer) override {
        const WriterVideoConfig config = GetVideoConfig(&writer);
        format_ = config.formatCode;
        exactWidth_ = config.width;
        exactHeight_ = config.height;
        timeScale_ = config.timeScale;
        dataRate_ = config.dataRate;
        if (format_ == Code(PictureEncoding::SixteenGrays)) return grays_.Begin(config.paddedWidth, config.paddedHeight, config.width, config.height);
        if (format_ != Code(PictureEncoding::Cinepak)) return paramErr; // formats the converter never selects
        if (OSErr err = histogram_.Create()) return err;
        // The history starts as one second at the target rate.
        history_.Prime(dataRate_);
        return cinepak_.Begin(config.paddedWidth, config.paddedHeight, config.width, config.height);
    }

    OSErr FillPalette(std::span<std::uint8_t> palette, std::span<std::uint8_t> inverseMap) override {
        if (format_ != Code(PictureEncoding::Cinepak)) return noErr;
        return BuildMoviePalette(histogram_.Counts(), palette, inverseMap);
    }

    OSErr Finish(MovieWriter&) override { return noErr; }

    OSErr Write(MovieWriter* writer, const std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t duration,
                std::uint8_t* keyFrame) {
        bool difference = false;
        std::uint8_t encoding = grays::kEncoding;
        if (format_ == Code(PictureEncoding::Cinepak)) {
            if (OSErr err = EncodeCinepak(pixels, rowBytes, duration, difference)) return err;
            encoding = kCinepakEncoding;
        } else {
            const bool allowed = !forceKey_ && !(kKeyFrameInterval != 0 && differences_ >= kKeyFrameInterval - 1);
            if (OSErr err = grays_.Encode(pixels, rowBytes, duration, allowed, payload_, difference)) return err;
        }
        if (OSErr err = WriteVideoChunk(writer, payload_.Span(), encoding, difference, duration)) return err;
        // Only a written frame counts.
        differences_ = difference ? differences_ + 1 : 0;
        forceKey_ = false;
        ++frames_;
        if (keyFrame) *keyFrame = difference ? 0 : 1;
        return noErr;
    }

    void ForceKeyFrame() { forceKey_ = true; }

private:
    // Compresses under the data rate: the overrun of the last second and the
    // frame's duration set the frame's budget; the colours are counted for
    // the movie palette; the result is repacked when that pays.
    OSErr EncodeCinepak(const std::uint8_t* pixels, std::int32_t rowBytes, std::uint32_t duration, bool& difference) {
        CinepakFrameParams params;
        params.dataRate = dataRate_;
        params.milliseconds = static_cast<std::uint32_t>(std::uint64_t{duration} * 1000 / static_cast<std::uint32_t>(timeScale_));
        params.overrun = history_.SpentInLastSecond() - dataRate_;
        params.forceKeyFrame = forceKey_;
        if (OSErr err = cinepak_.Encode(pixels, rowBytes, params, compressed_, difference)) return err;
        history_.Add(params.milliseconds, compressed_.Size(), !difference);
        histogram_.Count(pixels, rowBytes, exactWidth_, exactHeight_);
        bool packed = false;
        return RepackCinepakFrame(compressed_.Span(), payload_, packed);
    }

    std::int16_t format_ = 0;
    std::uint16_t exactWidth_ = 0, exactHeight_ = 0;
    std::int32_t timeScale_ = 1000;
    std::uint32_t dataRate_ = 40000;
    GraysEncoder grays_;
    CinepakEncoder cinepak_;
    RateHistory history_;
    ColourHistogram histogram_;
    ByteBlock compressed_;
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
