// The writer's sound input: samples gathered into blocks, boosted and encoded per format.
#include "audio/soundinput.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "audio/adpcm.h"
#include "audio/atrac3/at3enc.h"
#include "moviedb/formats.h"
#include "platform/byteblock.h"
#include "platform/bytes.h"

namespace {

constexpr std::uint32_t kAtracRates[] = {66000, 47000, 33000, 23500, 16500, 11750};

// A 16-bit signed little-endian sample.
std::int16_t SampleAt(const std::uint8_t* p) { return static_cast<std::int16_t>(ReadLE16(p)); }

class SoundInput final : public WriterEncoder {
public:
    OSErr Begin(MovieWriter& writer) override {
        const WriterAudioConfig config = GetAudioConfig(&writer);
        code_ = config.formatCode;
        channels_ = config.format.channels;
        bits_ = config.format.bitsPerSample;
        samplesPerRecord_ = std::max<std::uint32_t>(1, config.samplesPerRecord);
        boost_ = config.boostFactor;
        frameBytes_ = bits_ / 8u * channels_;
        if (channels_ < 1 || channels_ > 2 || frameBytes_ == 0) return paramErr;
        std::uint16_t encodingChannels = channels_;
        switch (code_) {
        case Code(SoundFormat::ClieAudio): {
            if (bits_ != 16) return paramErr;
            std::uint32_t rate = SettleAtracBitRate(config.atracBitRate, MovieHasVideo(&writer));
            int mode = config.atracChannelMode;
            // Stereo into a mono encoder: each frame mixed down first.
            mixdown_ = channels_ == 2 && mode == kAt3Mono;
            if (mixdown_) encodingChannels = 1;
            if (encodingChannels == 1) mode = kAt3Mono;
            if (mode == 0) mode = encodingChannels == 2 ? kAt3Dual : kAt3Mono;
            // Two channels need at least the lowest rate that codes them.
            if (mode == kAt3Stereo) rate = std::max<std::uint32_t>(rate, 23500);
            if (mode == kAt3Dual) rate = std::max<std::uint32_t>(rate, 33000);
            const int code = rate == 11750 ? 12 : rate == 16500 ? 16 : rate == 23500 ? 24 : rate == 47000 ? 47
                           : rate == 66000 ? 66 : 33;
            atrac_.reset(new (std::nothrow) At3EncContext);
            if (!atrac_) return memFullErr;
            if (At3EncOpen(code, mode, *atrac_) != kAt3Ok) {
                atrac_.reset();
                return paramErr;
            }
            encodingChannels_ = encodingChannels;
            block_ = kAt3FrameSamples;
            SetSettledAudio(&writer, encodingChannels, static_cast<std::uint16_t>(mode), static_cast<std::uint16_t>(code), rate);
            break;
        }
        case Code(SoundFormat::Adpcm2to1):
        case Code(SoundFormat::Adpcm4to1):
            block_ = kAdpcmBlockFrames;
            codeBits_ = code_ == Code(SoundFormat::Adpcm2to1) ? 4 : 2;
            break;
        case Code(SoundFormat::YamahaAdpcm):
            if (channels_ != 1) return paramErr;
            block_ = kYamahaBlockFrames;
            break;
        case Code(SoundFormat::UncompressedMono):
        case Code(SoundFormat::UncompressedStereo): block_ = 0; break;
        default: return paramErr;
        }
        if (code_ != Code(SoundFormat::ClieAudio)) SetSettledAudio(&writer, encodingChannels, 0, 0, config.atracBitRate);
        try {
            pending_.resize(std::size_t{block_} * frameBytes_);
            work_.resize(std::size_t{block_} * frameBytes_);
        } catch (const std::bad_alloc&) {
            return memFullErr;
        }
        return noErr;
    }

    OSErr Finish(MovieWriter& writer) override {
        finishing_ = true;
        OSErr err = noErr;
        if (block_ != 0 && pendingFrames_ > 0) {
            // The last frames in a block padded with silence, which counts.
            std::vector<std::uint8_t> last(std::size_t{block_} * frameBytes_, 0);
            std::memcpy(last.data(), pending_.data(), std::size_t{pendingFrames_} * frameBytes_);
            pendingFrames_ = 0;
            err = Write(&writer, last.data(), static_cast<std::uint32_t>(last.size()), block_);
        } else if (framesInRecord_ > 0) {
            err = WriteRecord(&writer);
        }
        finishing_ = false;
        return err;
    }

    OSErr Write(MovieWriter* writer, const std::uint8_t* samples, std::uint32_t byteCount, std::uint32_t frameCount) {
        if (samples == nullptr || byteCount == 0 || frameCount == 0) return paramErr;
        if (std::uint64_t{frameCount} * frameBytes_ > byteCount) return paramErr;
        if (block_ == 0) return Copy(writer, samples, frameCount);
        // Gather into blocks: pending frames first, then whole blocks, the
        // rest kept for the next call.
        if (pendingFrames_ + frameCount < block_) {
            std::memcpy(pending_.data() + std::size_t{pendingFrames_} * frameBytes_, samples, std::size_t{frameCount} * frameBytes_);
            pendingFrames_ += frameCount;
            return noErr;
        }
        const std::uint8_t* in = samples;
        std::uint32_t left = frameCount;
        if (pendingFrames_ > 0) {
            const std::uint32_t take = block_ - pendingFrames_;
            std::memcpy(work_.data(), pending_.data(), std::size_t{pendingFrames_} * frameBytes_);
            std::memcpy(work_.data() + std::size_t{pendingFrames_} * frameBytes_, in, std::size_t{take} * frameBytes_);
            pendingFrames_ = 0;
            in += std::size_t{take} * frameBytes_;
            left -= take;
            if (OSErr err = Block(writer, work_.data())) return err;
            if (stopped_) return noErr;
        }
        for (; left >= block_; left -= block_, in += std::size_t{block_} * frameBytes_) {
            if (OSErr err = Block(writer, in)) return err;
            if (stopped_) return noErr;
        }
        std::memcpy(pending_.data(), in, std::size_t{left} * frameBytes_);
        pendingFrames_ = left;
        if (finishing_ && framesInRecord_ > 0) return WriteRecord(writer);
        return noErr;
    }

private:
    // Encodes one block and keeps the books. A "CLIÉ Audio" encoder that
    // answers anything but success ends the write call quietly (`stopped_`):
    // the block is neither counted nor stored.
    OSErr Block(MovieWriter* writer, const std::uint8_t* frames) {
        stopped_ = false;
        std::uint8_t out[512];
        std::uint32_t size = 0;
        if (code_ == Code(SoundFormat::ClieAudio)) {
            std::int16_t samples[2 * kAt3FrameSamples];
            for (int i = 0; i < kAt3FrameSamples; ++i) {
                if (mixdown_) {
                    // The mean, truncated toward zero.
                    samples[i] = static_cast<std::int16_t>((SampleAt(frames + 4 * i) + SampleAt(frames + 4 * i + 2)) / 2);
                } else {
                    for (std::uint16_t c = 0; c < channels_; ++c)
                        samples[i * channels_ + c] = SampleAt(frames + (static_cast<std::size_t>(i) * channels_ + c) * 2);
                }
            }
            if (boost_ != 1.0f)
                for (int i = 0; i < kAt3FrameSamples * encodingChannels_; ++i) samples[i] = BoostSample(samples[i], boost_);
            if (At3EncFrame(samples, out, *atrac_, kAt3FrameSamples * encodingChannels_, encodingChannels_,
                            static_cast<int>(blocks_)) != kAt3Ok) {
                stopped_ = true;
                return noErr;
            }
            size = static_cast<std::uint32_t>(atrac_->frameBytes);
        } else if (code_ == Code(SoundFormat::YamahaAdpcm)) {
            std::int16_t mono[kYamahaBlockFrames];
            for (int i = 0; i < kYamahaBlockFrames; ++i) mono[i] = SampleAt(frames + 2 * i);
            std::uint32_t capacity = 64;
            if (!EncodeYamahaBlock(mono, 2 * kYamahaBlockFrames, out, capacity, blocks_ == 0, boost_, yamaha_))
                return paramErr;
            size = capacity;
        } else {
            // ADPCM: a mono block, or a left block and then a right block.
            std::int16_t channel[kAdpcmBlockFrames];
            for (std::uint16_t c = 0; c < channels_; ++c) {
                for (int i = 0; i < kAdpcmBlockFrames; ++i) channel[i] = SampleAt(frames + (static_cast<std::size_t>(i) * channels_ + c) * 2);
                size += EncodeAdpcmBlock(channel, kAdpcmBlockFrames, codeBits_, out + size, boost_);
            }
        }
        if (OSErr err = record_.Append({out, size})) return err;
        framesInRecord_ += block_;
        totalFrames_ += block_;
        ++blocks_;
        if (!finishing_ && framesInRecord_ >= samplesPerRecord_) return WriteRecord(writer);
        return noErr;
    }

    // Uncompressed sound goes straight into the record, a record at a time.
    OSErr Copy(MovieWriter* writer, const std::uint8_t* samples, std::uint32_t frames) {
        while (frames > 0) {
            const std::uint32_t take = std::min(frames, samplesPerRecord_ - framesInRecord_);
            if (OSErr err = record_.Append({samples, std::size_t{take} * frameBytes_})) return err;
            framesInRecord_ += take;
            totalFrames_ += take;
            samples += std::size_t{take} * frameBytes_;
            frames -= take;
            if (framesInRecord_ >= samplesPerRecord_) {
                if (OSErr err = WriteRecord(writer)) return err;
                ++blocks_;
            }
        }
        return noErr;
    }

    OSErr WriteRecord(MovieWriter* writer) {
        if (OSErr err = WriteAudioRecord(writer, record_.Span(), framesInRecord_, firstFrame_)) return err;
        record_.Clear();
        framesInRecord_ = 0;
        firstFrame_ = totalFrames_;
        return noErr;
    }

    std::int32_t code_ = 0;
    std::uint16_t channels_ = 1, bits_ = 16;
    std::uint32_t frameBytes_ = 2, samplesPerRecord_ = 1, block_ = 0;
    int codeBits_ = 4;
    float boost_ = 1.0f;
    std::vector<std::uint8_t> pending_, work_;
    std::uint32_t pendingFrames_ = 0;
    ByteBlock record_;
    std::uint32_t framesInRecord_ = 0, firstFrame_ = 0, totalFrames_ = 0;
    std::uint64_t blocks_ = 0;
    bool finishing_ = false;
    YamahaState yamaha_; // per conversion: two conversions never share it
    std::unique_ptr<At3EncContext> atrac_;
    std::uint16_t encodingChannels_ = 1;
    bool mixdown_ = false;
    bool stopped_ = false;
};

SoundInput* InputOf(MovieWriter* writer) {
    if (writer == nullptr || GetWriterState(writer) != WriterState::Open) return nullptr;
    return dynamic_cast<SoundInput*>(GetEncoder(writer, EncoderSlot::Sound));
}

} // namespace

std::uint32_t SettleAtracBitRate(std::uint32_t bitRate, bool hasVideo) {
    if (bitRate == 0) return hasVideo ? 33000 : 66000;
    for (std::uint32_t rate : kAtracRates)
        if (bitRate >= rate) return rate;
    return 11750;
}

OSErr AttachSoundInput(MovieWriter* writer) {
    auto input = std::unique_ptr<SoundInput>(new (std::nothrow) SoundInput);
    if (!input) return memFullErr;
    return AttachEncoder(writer, EncoderSlot::Sound, std::move(input));
}

OSErr WriteAudioSamples(MovieWriter* writer, const std::uint8_t* samples, std::uint32_t byteCount, std::uint32_t frameCount) {
    SoundInput* input = InputOf(writer);
    if (input == nullptr) return paramErr;
    return input->Write(writer, samples, byteCount, frameCount);
}

OSErr FinishAudio(MovieWriter* writer) {
    SoundInput* input = InputOf(writer);
    if (input == nullptr) return paramErr;
    return input->Finish(*writer);
}
