// How closely a movie's sound follows the sound it was made from: the lag
// at which the two line up best, found by cross-correlation, and the
// signal-to-noise ratio at that lag once the gain that fits best is taken
// out. A conversion may boost its sound on purpose (up to four times), so a
// level is reported as a gain, not counted as noise; clipping still is noise.
#pragma once

#include <cstdint>
#include <span>

#include "platform/status.h"

inline constexpr double kIdenticalSoundDb = 99.0; // the SNR of sounds without a difference
// The lags searched either way: far more than any decoder's delay (ATRAC3's
// is some 1,000 sample frames, 23 ms at 44100 Hz), far less than a second.
inline constexpr std::uint32_t kSoundDelaySearchMs = 100;

struct SoundMatch {
    std::int64_t delay = 0;   // sample frames the compared sound comes after the reference (before it: negative)
    double snr = 0;           // dB, at most kIdenticalSoundDb
    double gain = 1;          // the compared sound's level against the reference's
    std::uint64_t frames = 0; // sample frames compared, where the two overlap at the delay
};

// `reference` and `compared`: interleaved samples with `channels` channels
// at `rate` Hz. The delay is the one within ±kSoundDelaySearchMs whose
// normalised cross-correlation of the channels' sums is highest, over the
// loudest few seconds of the reference; the SNR covers the whole overlap.
// A steady tone lines up equally well a period either way, so its delay is
// found only to within a period. paramErr when the reference is silent
// where the two overlap, or either has no whole sample frame.
[[nodiscard]] OSErr MatchSound(std::span<const std::int16_t> reference, std::span<const std::int16_t> compared,
                               std::uint16_t channels, std::uint32_t rate, SoundMatch& out);
