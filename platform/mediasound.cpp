// Sound: the converter between sample formats, channel counts and rates,
// and single packets of sound decoded by codec.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/libav.h"
#include "platform/media.h"

using namespace ff;

// ---- Sound converter -------------------------------------------------------------------------------

struct SoundConverter::Impl {
    SwrPtr resampler;
    int inputFrameBytes = 0, outputFrameBytes = 0;
    int inputRate = 0, outputRate = 0;
};

SoundConverter::SoundConverter() = default;
SoundConverter::~SoundConverter() = default;

OSErr SoundConverter::Open(const SoundDescription& input, const SoundOutputFormat& output) {
    const AVSampleFormat in = SampleFormatOf(input.format);
    const AVSampleFormat outFormat = output.format == kSoundU8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    if (in == AV_SAMPLE_FMT_NONE || input.channels == 0 || output.channels == 0 || output.channels > 2) return paramErr;
    if (output.format != kSoundU8 && output.format != kSoundS16) return paramErr;
    const int inRate = static_cast<int>(std::lround(UnsignedFixedToDouble(input.sampleRate)));
    if (inRate <= 0 || output.sampleRate == 0) return paramErr;
    AVChannelLayout inLayout, outLayout;
    av_channel_layout_default(&inLayout, input.channels);
    av_channel_layout_default(&outLayout, output.channels);
    SwrContext* raw = nullptr;
    const int made = swr_alloc_set_opts2(&raw, &outLayout, outFormat, static_cast<int>(output.sampleRate), &inLayout,
                                         in, inRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    SwrPtr resampler(raw);
    if (made < 0 || !resampler) return memFullErr;
    // Good resampling: a longer filter than the default.
    av_opt_set_int(resampler.get(), "filter_size", 32, 0);
    if (swr_init(resampler.get()) < 0) return paramErr;
    auto impl = std::make_unique<Impl>();
    impl->resampler = std::move(resampler);
    impl->inputFrameBytes = av_get_bytes_per_sample(in) * input.channels;
    impl->outputFrameBytes = av_get_bytes_per_sample(outFormat) * output.channels;
    impl->inputRate = inRate;
    impl->outputRate = static_cast<int>(output.sampleRate);
    impl_ = std::move(impl);
    return noErr;
}

void SoundConverter::BufferSizes(std::uint32_t inputBytes, std::uint32_t& inputLimit, std::uint32_t& outputSize) const {
    inputLimit = inputBytes;
    if (!impl_) {
        outputSize = 0;
        return;
    }
    const std::uint64_t frames = inputBytes / static_cast<std::uint32_t>(impl_->inputFrameBytes);
    const std::uint64_t out = frames * static_cast<std::uint64_t>(impl_->outputRate) / static_cast<std::uint64_t>(impl_->inputRate) + 256;
    outputSize = static_cast<std::uint32_t>(out * static_cast<std::uint64_t>(impl_->outputFrameBytes));
}

OSErr SoundConverter::Convert(std::span<const std::uint8_t> input, ByteBlock& output) {
    if (!impl_) return paramErr;
    const int frames = static_cast<int>(input.size() / static_cast<std::size_t>(impl_->inputFrameBytes));
    const int room = swr_get_out_samples(impl_->resampler.get(), frames);
    if (room < 0) return paramErr;
    std::uint32_t at = 0;
    if (OSErr err = output.Grow(static_cast<std::uint32_t>(room * impl_->outputFrameBytes), &at)) return err;
    std::uint8_t* out = output.Data() + at;
    const std::uint8_t* in = input.data();
    const int made = swr_convert(impl_->resampler.get(), &out, room, frames > 0 ? &in : nullptr, frames);
    if (made < 0) {
        (void)output.Resize(at);
        return paramErr;
    }
    return output.Resize(at + static_cast<std::uint32_t>(made * impl_->outputFrameBytes));
}

OSErr SoundConverter::End(ByteBlock& output) {
    if (!impl_) return paramErr;
    for (;;) {
        const int room = std::max(256, swr_get_out_samples(impl_->resampler.get(), 0));
        std::uint32_t at = 0;
        if (OSErr err = output.Grow(static_cast<std::uint32_t>(room * impl_->outputFrameBytes), &at)) return err;
        std::uint8_t* out = output.Data() + at;
        const int made = swr_convert(impl_->resampler.get(), &out, room, nullptr, 0);
        if (made < 0) {
            (void)output.Resize(at);
            return paramErr;
        }
        if (OSErr err = output.Resize(at + static_cast<std::uint32_t>(made * impl_->outputFrameBytes))) return err;
        if (made == 0) return noErr;
    }
}

void SoundConverter::Close() { impl_.reset(); }


// ---- Sound decompressors ---------------------------------------------------------------------------

struct SoundDecompressor::Impl {
    CodecPtr codec;
    PacketPtr packet;
    FramePtr frame;
};

SoundDecompressor::SoundDecompressor() = default;
SoundDecompressor::~SoundDecompressor() = default;

OSErr SoundDecompressor::Open(OSType code, std::uint32_t sampleRate, std::uint16_t channels,
                              std::uint32_t packetBytes, std::span<const std::uint8_t> setup) {
    QuietLibraries();
    AVCodecID id = AV_CODEC_ID_NONE;
    if (code == Fcc("atrc")) id = AV_CODEC_ID_ATRAC3;
    if (code == Fcc(".mp2")) id = AV_CODEC_ID_MP2;
    if (code == Fcc(".mp1")) id = AV_CODEC_ID_MP1;
    const AVCodec* decoder = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
    // MPEG audio: the floating-point decoders, the more exact ones.
    if (id == AV_CODEC_ID_MP2 && avcodec_find_decoder_by_name("mp2float")) decoder = avcodec_find_decoder_by_name("mp2float");
    if (id == AV_CODEC_ID_MP1 && avcodec_find_decoder_by_name("mp1float")) decoder = avcodec_find_decoder_by_name("mp1float");
    if (decoder == nullptr || channels == 0) return noCodecErr;
    auto impl = std::make_unique<Impl>();
    if (OSErr err = NewDecoderParts(decoder, impl->codec, impl->packet, impl->frame)) return err;
    AVCodecContext* c = impl->codec.get();
    c->sample_rate = static_cast<int>(sampleRate);
    av_channel_layout_default(&c->ch_layout, channels);
    c->block_align = static_cast<int>(packetBytes);
    if (!setup.empty()) {
        c->extradata = static_cast<std::uint8_t*>(av_mallocz(setup.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (c->extradata == nullptr) return memFullErr;
        std::memcpy(c->extradata, setup.data(), setup.size());
        c->extradata_size = static_cast<int>(setup.size());
    }
    if (avcodec_open2(c, decoder, nullptr) < 0) return noCodecErr;
    impl_ = std::move(impl);
    return noErr;
}

OSErr SoundDecompressor::Decode(std::span<const std::uint8_t> data, std::vector<float>& out) {
    if (!impl_) return paramErr;
    Impl& s = *impl_;
    if (OSErr err = SendPacket(s.codec.get(), s.packet.get(), data)) return err;
    while (true) {
        const int got = avcodec_receive_frame(s.codec.get(), s.frame.get());
        if (got == AVERROR(EAGAIN)) return noErr;
        if (got < 0) return codecDataVersErr;
        const AVFrame* f = s.frame.get();
        const int channels = f->ch_layout.nb_channels;
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(f->nb_samples) * static_cast<std::size_t>(channels));
        for (int i = 0; i < f->nb_samples; ++i)
            for (int ch = 0; ch < channels; ++ch) {
                float v = 0;
                if (f->format == AV_SAMPLE_FMT_FLTP) v = reinterpret_cast<const float*>(f->extended_data[ch])[i];
                else if (f->format == AV_SAMPLE_FMT_FLT) v = reinterpret_cast<const float*>(f->extended_data[0])[i * channels + ch];
                else if (f->format == AV_SAMPLE_FMT_S16P) v = reinterpret_cast<const std::int16_t*>(f->extended_data[ch])[i] / 32768.0f;
                else if (f->format == AV_SAMPLE_FMT_S16) v = reinterpret_cast<const std::int16_t*>(f->extended_data[0])[i * channels + ch] / 32768.0f;
                else return codecDataVersErr;
                out[at + static_cast<std::size_t>(i) * channels + ch] = v;
            }
        av_frame_unref(s.frame.get());
    }
}

