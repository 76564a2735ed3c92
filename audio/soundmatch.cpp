// Lining a movie's sound up with its source's and measuring what differs.
#include "audio/soundmatch.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// The delay is searched over this much of the reference: long enough that
// speech, music or noise lines up at one lag only, short enough that trying
// every lag against every frame of it takes about a second at 44100 Hz.
constexpr std::uint32_t kExcerptMs = 3000;

// The channels' sum of every sample frame, on a scale of ±1 a channel.
std::vector<float> Mixed(std::span<const std::int16_t> samples, std::uint16_t channels) {
    std::vector<float> out(samples.size() / channels);
    for (std::size_t f = 0; f < out.size(); ++f) {
        int sum = 0;
        for (std::uint16_t c = 0; c < channels; ++c) sum += samples[f * channels + c];
        out[f] = static_cast<float>(sum) / 32768.0f;
    }
    return out;
}

// The start of the loudest `length` frames of `sound`, in steps of a
// sixteenth of the length: a stretch of silence lines up at any lag.
std::size_t LoudestStretch(const std::vector<float>& sound, std::size_t length) {
    if (length >= sound.size()) return 0;
    const std::size_t step = std::max<std::size_t>(1, length / 16), span = length / step;
    std::vector<double> blocks(sound.size() / step);
    for (std::size_t b = 0; b < blocks.size(); ++b)
        for (std::size_t i = b * step; i < (b + 1) * step; ++i) blocks[b] += double{sound[i]} * sound[i];
    double energy = 0, loudest = -1;
    std::size_t start = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        energy += blocks[b];
        if (b >= span) energy -= blocks[b - span];
        if (b + 1 >= span && energy > loudest) loudest = energy, start = (b + 1 - span) * step;
    }
    return start;
}

struct Sums {
    double xy = 0, xx = 0, yy = 0;
};

// Σxy, Σxx and Σyy of n pairs: eight float lanes (which the compiler turns
// into vector instructions) emptied into doubles every 1024 pairs, so that
// long sums keep their precision.
Sums DotProducts(const float* x, const float* y, std::size_t n) {
    constexpr std::size_t kLanes = 8, kBlock = 1024;
    Sums s;
    for (std::size_t at = 0; at < n; at += kBlock) {
        const std::size_t end = std::min(n, at + kBlock);
        float xy[kLanes] = {}, xx[kLanes] = {}, yy[kLanes] = {};
        std::size_t i = at;
        for (; i + kLanes <= end; i += kLanes)
            for (std::size_t k = 0; k < kLanes; ++k) {
                xy[k] += x[i + k] * y[i + k];
                xx[k] += x[i + k] * x[i + k];
                yy[k] += y[i + k] * y[i + k];
            }
        for (; i < end; ++i) s.xy += double{x[i]} * y[i], s.xx += double{x[i]} * x[i], s.yy += double{y[i]} * y[i];
        for (std::size_t k = 0; k < kLanes; ++k) s.xy += xy[k], s.xx += xx[k], s.yy += yy[k];
    }
    return s;
}

// The lag within ±maxLag at which `compared` best follows the reference's
// stretch [start, start + length): the highest normalised cross-correlation
// over the frames that have a partner at that lag.
std::int64_t BestLag(const std::vector<float>& reference, const std::vector<float>& compared, std::size_t start,
                     std::size_t length, std::int64_t maxLag) {
    double best = -std::numeric_limits<double>::infinity();
    std::int64_t bestLag = 0;
    const auto end = static_cast<std::int64_t>(start + length), size = static_cast<std::int64_t>(compared.size());
    for (std::int64_t lag = -maxLag; lag <= maxLag; ++lag) {
        const std::int64_t from = std::max(static_cast<std::int64_t>(start), -lag), to = std::min(end, size - lag);
        if (to <= from) continue;
        const Sums s = DotProducts(reference.data() + from, compared.data() + from + lag, static_cast<std::size_t>(to - from));
        if (s.xx <= 0 || s.yy <= 0) continue;
        const double score = s.xy / std::sqrt(s.xx * s.yy);
        if (score > best) best = score, bestLag = lag;
    }
    return bestLag;
}

// The SNR and gain at a delay over the whole overlap, every channel: the
// gain is the least-squares fit of the compared sound to the reference's,
// the noise what remains of the compared sound without the fitted reference.
OSErr MeasureAt(std::span<const std::int16_t> reference, std::span<const std::int16_t> compared, std::uint16_t channels,
                std::int64_t delay, SoundMatch& out) {
    const auto referenceFrames = static_cast<std::int64_t>(reference.size() / channels);
    const auto comparedFrames = static_cast<std::int64_t>(compared.size() / channels);
    const std::int64_t first = std::max<std::int64_t>(0, -delay), last = std::min(referenceFrames, comparedFrames - delay);
    if (last <= first) return paramErr;
    const auto begin = static_cast<std::size_t>(first) * channels, end = static_cast<std::size_t>(last) * channels;
    const auto shift = static_cast<std::ptrdiff_t>(delay) * channels;
    double aa = 0, ab = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const double a = reference[i], b = compared[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(i) + shift)];
        aa += a * a;
        ab += a * b;
    }
    if (aa <= 0) return paramErr;
    const double gain = ab / aa;
    double noise = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const double d = compared[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(i) + shift)] - gain * reference[i];
        noise += d * d;
    }
    const double signal = gain * gain * aa;
    out.delay = delay;
    out.gain = gain;
    out.frames = static_cast<std::uint64_t>(last - first);
    out.snr = noise <= 0 ? kIdenticalSoundDb : std::min(kIdenticalSoundDb, 10.0 * std::log10(signal / noise));
    return noErr;
}

} // namespace

OSErr MatchSound(std::span<const std::int16_t> reference, std::span<const std::int16_t> compared, std::uint16_t channels,
                 std::uint32_t rate, SoundMatch& out) {
    if (channels == 0 || rate == 0 || reference.size() < channels || compared.size() < channels) return paramErr;
    const std::vector<float> a = Mixed(reference, channels), b = Mixed(compared, channels);
    const std::size_t length = std::min<std::size_t>(a.size(), std::uint64_t{rate} * kExcerptMs / 1000);
    const auto maxLag = static_cast<std::int64_t>(std::uint64_t{rate} * kSoundDelaySearchMs / 1000);
    const std::int64_t delay = BestLag(a, b, LoudestStretch(a, length), length, maxLag);
    return MeasureAt(reference, compared, channels, delay, out);
}
