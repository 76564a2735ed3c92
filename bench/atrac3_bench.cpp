// "CLIÉ Audio" quality and speed: every code and channel mode on four test
// signals, decoded by libavcodec's ATRAC3 decoder, and the encoder's speed
// on one core.
//
// Quality: SNR of the decoded sound against the source low-passed at the
// channel's band limit (what the format can carry at all), and segmental
// SNR (mean over 1024-sample segments). Targets: 192-byte mono frames carry
// the two tones at 25 dB or better and the music mix at 12 dB segmental SNR
// or better; SNR rises from code to code within each mode.
// Speed target: 100 times real time for stereo at 66 kbit/s on one core.
#include <sched.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "audio/atrac3/at3enc.h"
#include "tests/atrac3_harness.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 6;
constexpr int kFrames = kRate * kSeconds;

using Signal = std::vector<double>; // one channel, 16-bit units

Signal Sweep() {
    // Logarithmic, 60 Hz to 16 kHz over the whole stretch.
    Signal s(kFrames);
    const double f0 = 60, f1 = 16000, k = std::log(f1 / f0) / kSeconds;
    for (int i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        s[i] = 10000 * std::sin(2 * M_PI * f0 * (std::exp(k * t) - 1) / k);
    }
    return s;
}

Signal TwoTones(double scale) {
    Signal s(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        s[i] = scale * (7000 * std::sin(2 * M_PI * 440 * t) + 5000 * std::sin(2 * M_PI * 1250 * t));
    }
    return s;
}

Signal Pink(unsigned seed) {
    // Paul Kellet's economical pink filter over white noise.
    std::mt19937 random(seed);
    std::normal_distribution<double> white(0, 1);
    Signal s(kFrames);
    double b0 = 0, b1 = 0, b2 = 0;
    for (int i = 0; i < kFrames; ++i) {
        const double w = white(random);
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        s[i] = 1500 * (b0 + b1 + b2 + w * 0.1848);
    }
    return s;
}

Signal Music(unsigned seed) {
    // Drum-like transients (a pitched kick, noise snares and hats) over
    // chords of harmonic tones that change every second.
    std::mt19937 random(seed);
    std::normal_distribution<double> white(0, 1);
    const double chords[6][3] = {{261.6, 329.6, 392.0}, {220.0, 261.6, 329.6}, {174.6, 220.0, 261.6},
                                 {196.0, 246.9, 293.7}, {261.6, 311.1, 392.0}, {233.1, 293.7, 349.2}};
    Signal s(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const auto& chord = chords[(i / kRate) % 6];
        double v = 0;
        for (double f : chord)
            for (int h = 1; h <= 6; ++h) v += 900.0 / h * std::sin(2 * M_PI * f * h * t + h);
        const double beat = std::fmod(t, 0.5);
        v += 9000 * std::exp(-beat * 30) * std::sin(2 * M_PI * (50 + 80 * std::exp(-beat * 40)) * beat);
        const double off = std::fmod(t + 0.25, 0.5);
        v += 5000 * std::exp(-off * 25) * white(random);
        const double hat = std::fmod(t, 0.125);
        v += 1500 * std::exp(-hat * 120) * white(random);
        s[i] = v;
    }
    return s;
}

std::vector<std::int16_t> Interleave(const Signal& left, const Signal* right) {
    const int channels = right ? 2 : 1;
    std::vector<std::int16_t> out(left.size() * channels);
    for (std::size_t i = 0; i < left.size(); ++i) {
        out[i * channels] = static_cast<std::int16_t>(std::lrint(std::clamp(left[i], -32768.0, 32767.0)));
        if (right) out[i * 2 + 1] = static_cast<std::int16_t>(std::lrint(std::clamp((*right)[i], -32768.0, 32767.0)));
    }
    return out;
}

Signal Rounded(const Signal& s) {
    Signal r(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) r[i] = std::lrint(std::clamp(s[i], -32768.0, 32767.0));
    return r;
}

struct Combination {
    int code, mode;
};
constexpr Combination kCombinations[] = {{12, 1}, {16, 1}, {24, 1}, {33, 1},  {47, 1},  {66, 1}, {24, 2},
                                         {33, 2}, {47, 2}, {66, 2}, {33, 18}, {47, 18}, {66, 18}};

const char* ModeName(int mode) { return mode == 1 ? "mono" : mode == 2 ? "stereo" : "Dual"; }

} // namespace

int main() {
    struct Named {
        const char* name;
        Signal left, right;
    };
    std::vector<Named> signals;
    signals.push_back({"sweep", Sweep(), Sweep()});
    signals.push_back({"two tones", TwoTones(1.0), TwoTones(0.7)});
    signals.push_back({"pink noise", Pink(1), Pink(2)});
    signals.push_back({"music", Music(3), Music(4)});

    std::printf("quality (SNR / segmental SNR in dB, against the source low-passed at the band limit)\n");
    std::printf("%-5s %-7s %-5s", "code", "mode", "bytes");
    for (const auto& s : signals) std::printf(" | %-21s", s.name);
    std::printf("\n");
    for (const Combination& c : kCombinations) {
        At3EncContext probe;
        if (At3EncOpen(c.code, c.mode, probe) != kAt3Ok) continue;
        for (int ch = 0; ch < probe.channels; ++ch) {
            std::printf("%-5d %-7s %3d.%d", c.code, ModeName(c.mode), probe.channelBytes[ch], ch + 1);
            for (const auto& s : signals) {
                const bool stereo = probe.channels == 2;
                const auto input = Interleave(s.left, stereo ? &s.right : nullptr);
                const auto encoded = at3test::Encode(input, stereo ? 2 : 1, c.code, c.mode);
                const auto decoded = at3test::DecodeChannel(encoded, ch);
                const Signal reference = at3test::LowPassed(Rounded(ch == 0 ? s.left : s.right), probe.bandLimit[ch]);
                const std::size_t from = 4096, to = reference.size() - 4096;
                double energy = 0;
                for (std::size_t i = from; i < to; ++i) energy += reference[i] * reference[i];
                if (energy < 100.0 * static_cast<double>(to - from)) {
                    std::printf(" | %-21s", "(silent below limit)");
                    continue;
                }
                std::printf(" | %8.2f / %8.2f  ", at3test::Snr(reference, decoded, at3test::kLag, from, to),
                            at3test::SegmentalSnr(reference, decoded, at3test::kLag, from, to));
            }
            std::printf("\n");
        }
    }

    // Speed on one core: the music mix, stereo at 66 kbit/s, every variant.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);
    const auto input = Interleave(signals[3].left, &signals[3].right);
    std::printf("\nspeed (music mix, %d s, one core)\n", kSeconds);
    for (int mode : {2, 18, 1})
        for (At3Cpu cpu : {At3Cpu::kPlain, At3Cpu::kKni}) {
            double best = 1e9;
            for (int round = 0; round < 3; ++round) {
                const auto start = std::chrono::steady_clock::now();
                const auto encoded = at3test::Encode(input, 2, 66, mode, cpu, 0);
                const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                if (encoded.status != kAt3Ok) return 1;
                best = std::min(best, seconds);
            }
            std::printf("66 kbit/s %-6s %-5s: %7.1f x real time (%.1f ms per second of sound)\n", ModeName(mode),
                        cpu == At3Cpu::kKni ? "KNI" : "plain", kSeconds / best, best * 1000 / kSeconds);
        }
    return 0;
}
