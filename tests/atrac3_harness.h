// Encoding test signals with the ATRAC3 encoder and playing the frames back
// through libavcodec's ATRAC3 decoder, the way a RealMedia file carries them
// (the inspector's OpenAtracDecoder and ScrambledAtracPacket). Each
// channel's slice of a frame is decoded as a mono frame, which serves
// "Dual" frames with their unequal halves too.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/atrac3/at3enc.h"
#include "platform/bytes.h"
#include "platform/media.h"
#include "tools/inspect.h"

namespace at3test {

struct Encoded {
    int status = 0;
    int frameBytes = 0;
    int channels = 0;
    int channelBytes[2] = {0, 0};
    std::vector<std::uint8_t> frames; // frame after frame
};

// Encodes interleaved samples (whole frames; the tail padded with silence),
// then `extra` frames of silence to flush the transforms, through a context
// already open (and left open), numbering the frames from `first`.
inline Encoded EncodeOpened(At3EncContext& context, const std::vector<std::int16_t>& samples, int inputChannels,
                            int extra = 3, int first = 0) {
    Encoded e;
    e.status = kAt3Ok;
    e.frameBytes = context.frameBytes;
    e.channels = context.channels;
    e.channelBytes[0] = context.channelBytes[0];
    e.channelBytes[1] = context.channelBytes[1];
    const std::size_t perFrame = static_cast<std::size_t>(kAt3FrameSamples) * inputChannels;
    const std::size_t frames = (samples.size() + perFrame - 1) / perFrame + extra;
    std::vector<std::int16_t> block(perFrame);
    for (std::size_t f = 0; f < frames; ++f) {
        std::fill(block.begin(), block.end(), std::int16_t{0});
        for (std::size_t i = 0; i < perFrame && f * perFrame + i < samples.size(); ++i)
            block[i] = samples[f * perFrame + i];
        const std::size_t at = e.frames.size();
        e.frames.resize(at + static_cast<std::size_t>(e.frameBytes));
        e.status = At3EncFrame(block.data(), e.frames.data() + at, context, static_cast<int>(perFrame), inputChannels,
                               first + static_cast<int>(f));
        if (e.status != kAt3Ok) return e;
    }
    return e;
}

// The same through a context of its own for a code, mode and processor level.
inline Encoded Encode(const std::vector<std::int16_t>& samples, int inputChannels, int code, int mode,
                      At3Cpu cpu = At3DetectCpu(), int extra = 3) {
    At3EncContext context;
    if (const int status = At3EncOpenAt(code, mode, cpu, context); status != kAt3Ok) {
        Encoded refused;
        refused.status = status;
        return refused;
    }
    Encoded e = EncodeOpened(context, samples, inputChannels, extra);
    if (e.status == kAt3Ok) At3EncClose(context);
    return e;
}

// One channel of the encoded stream, decoded by libavcodec as mono frames
// (scaled to 16-bit units). Empty when the decoder refuses a frame.
inline std::vector<float> DecodeChannel(const Encoded& e, int channel) {
    const int offset = channel == 0 ? 0 : e.channelBytes[0];
    const int bytes = e.channelBytes[channel];
    SoundDecompressor decoder;
    if (OpenAtracDecoder(decoder, 1, static_cast<std::uint32_t>(bytes)) != noErr) return {};
    std::vector<float> out;
    for (std::size_t at = 0; at + static_cast<std::size_t>(e.frameBytes) <= e.frames.size();
         at += static_cast<std::size_t>(e.frameBytes)) {
        const auto packet = ScrambledAtracPacket({e.frames.data() + at + offset, static_cast<std::size_t>(bytes)});
        if (decoder.Decode(packet, out) != noErr) return {};
    }
    for (float& v : out) v *= 32768.0f;
    return out;
}

// What the decoder gives lags the input by the encoder's and the decoder's
// filter banks: three QMF splits and their syntheses (138 samples), one
// frame of overlapping transforms (1024).
inline constexpr int kLag = 1162;

// A windowed-sinc low-pass (Blackman, 511 taps) applied without delay: the
// reference a channel's band limit leaves.
inline std::vector<double> LowPassed(const std::vector<double>& x, double cutoffHz) {
    constexpr int kHalf = 255;
    std::vector<double> taps(2 * kHalf + 1);
    const double fc = cutoffHz / 44100.0;
    double sum = 0;
    for (int i = -kHalf; i <= kHalf; ++i) {
        const double sinc = i == 0 ? 2 * fc : std::sin(2 * M_PI * fc * i) / (M_PI * i);
        const double n = (i + kHalf) / (2.0 * kHalf);
        const double w = 0.42 - 0.5 * std::cos(2 * M_PI * n) + 0.08 * std::cos(4 * M_PI * n);
        taps[static_cast<std::size_t>(i + kHalf)] = sinc * w;
        sum += sinc * w;
    }
    std::vector<double> y(x.size());
    for (std::size_t t = 0; t < x.size(); ++t) {
        double acc = 0;
        for (int i = -kHalf; i <= kHalf; ++i) {
            const std::ptrdiff_t j = static_cast<std::ptrdiff_t>(t) + i;
            if (j >= 0 && j < static_cast<std::ptrdiff_t>(x.size())) acc += taps[static_cast<std::size_t>(i + kHalf)] * x[static_cast<std::size_t>(j)];
        }
        y[t] = acc / sum;
    }
    return y;
}

// SNR in dB of the decoded sound against the reference, from `from` to
// `to` (reference samples), the decoded sound shifted by `lag`.
inline double Snr(const std::vector<double>& reference, const std::vector<float>& decoded, int lag, std::size_t from,
                  std::size_t to) {
    double signal = 0, noise = 0;
    for (std::size_t i = from; i < to && i < reference.size() && i + lag < decoded.size(); ++i) {
        const double d = decoded[i + static_cast<std::size_t>(lag)] - reference[i];
        signal += reference[i] * reference[i];
        noise += d * d;
    }
    return 10.0 * std::log10((signal + 1e-9) / (noise + 1e-9));
}

// Segmental SNR: the mean over 1024-sample segments of each segment's SNR,
// each clamped to -10..60 dB; silent segments are skipped.
inline double SegmentalSnr(const std::vector<double>& reference, const std::vector<float>& decoded, int lag,
                           std::size_t from, std::size_t to) {
    double sum = 0;
    int count = 0;
    for (std::size_t s = from; s + 1024 <= to; s += 1024) {
        double signal = 0;
        for (std::size_t i = s; i < s + 1024; ++i) signal += reference[i] * reference[i];
        if (signal < 1024.0 * 10.0) continue;
        sum += std::clamp(Snr(reference, decoded, lag, s, s + 1024), -10.0, 60.0);
        ++count;
    }
    return count > 0 ? sum / count : 0;
}

} // namespace at3test
