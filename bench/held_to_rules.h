// An encoder without rate control held to our data-rate rules as well as it
// could be: each scene of a clip, encoded alone at several settings, takes
// the setting that the rules and the clip's quality favour, chosen with the
// whole clip known (which no encoder of one pass can do). Of the ways that
// meet the rules for some target (the mean within 5 % of it, no one-second
// window after the first second above 1.3 times it), the best PSNR at each
// rate make its curve.
//
// The clip so described was never one stream: each scene starts afresh. It
// estimates, from real frames, what the rules cost a way of coding that
// spends wherever the picture asks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "bench/bjontegaard.h"

namespace held {

// One scene at one setting: bytes and squared error (per pixel) per frame.
struct Encode {
    std::vector<std::size_t> bytes;
    std::vector<double> error;
};

struct Curve {
    std::vector<bjontegaard::Point> points;        // kbit/s (of 1024 bits), PSNR
    std::vector<std::vector<std::size_t>> choices; // each point's setting of each scene
    std::size_t ways = 0, meeting = 0;
};

// The most bytes that one second of frames (`second` of them) starting at
// `firstStart` or later spends.
inline std::size_t PeakSecond(std::span<const std::size_t> bytes, std::size_t second, std::size_t firstStart) {
    std::size_t peak = 0;
    for (std::size_t start = firstStart; start + second <= bytes.size(); ++start) {
        std::size_t window = 0;
        for (std::size_t n = start; n < start + second; ++n) window += bytes[n];
        peak = std::max(peak, window);
    }
    return peak;
}

namespace detail {

// What each way is judged by, from each scene's settings alone: a second
// within a scene depends on its setting, a second across a cut on both
// neighbours' settings. Seconds start after the first second.
struct Tables {
    std::vector<std::vector<std::size_t>> within, bytes;      // [scene][setting]
    std::vector<std::vector<double>> error;                   // [scene][setting]
    std::vector<std::vector<std::vector<std::size_t>>> across; // [scene][setting][next scene's setting]
};

// The most bytes in one second that starts in `before` and ends in `after`.
inline std::size_t PeakAcross(const Encode& before, const Encode& after, std::size_t second) {
    std::size_t peak = 0;
    const std::size_t frames = before.bytes.size();
    for (std::size_t inAfter = 1; inAfter < second; ++inAfter) {
        std::size_t window = 0;
        for (std::size_t n = frames - (second - inAfter); n < frames; ++n) window += before.bytes[n];
        for (std::size_t n = 0; n < inAfter; ++n) window += after.bytes[n];
        peak = std::max(peak, window);
    }
    return peak;
}

inline Tables Tabulate(const std::vector<std::vector<Encode>>& scenes, std::size_t second) {
    const std::size_t count = scenes.size(), settings = scenes.front().size();
    Tables t{std::vector(count, std::vector<std::size_t>(settings)), std::vector(count, std::vector<std::size_t>(settings)),
             std::vector(count, std::vector<double>(settings)),
             std::vector(count, std::vector<std::vector<std::size_t>>(settings))};
    for (std::size_t s = 0; s < count; ++s)
        for (std::size_t k = 0; k < settings; ++k) {
            const Encode& e = scenes[s][k];
            t.within[s][k] = PeakSecond(e.bytes, second, s == 0 ? second : 0);
            for (std::size_t b : e.bytes) t.bytes[s][k] += b;
            for (double d : e.error) t.error[s][k] += d;
            if (s + 1 < count)
                for (const Encode& next : scenes[s + 1]) t.across[s][k].push_back(PeakAcross(e, next, second));
        }
    return t;
}

struct Way {
    bjontegaard::Point point;
    std::vector<std::size_t> choice;
};

// Of ways sorted by rate, those with a better PSNR than every cheaper one.
inline void KeepUpperEnvelope(std::vector<Way>& ways, Curve& curve) {
    std::stable_sort(ways.begin(), ways.end(), [](const Way& a, const Way& b) { return a.point.rate < b.point.rate; });
    for (Way& way : ways)
        if (curve.points.empty() || way.point.psnr > curve.points.back().psnr) {
            curve.points.push_back(way.point);
            curve.choices.push_back(std::move(way.choice));
        }
}

} // namespace detail

// `scenes[s][k]`: scene s at setting k; every scene has the same number of
// frames, at least one second, and every setting of it the same frames.
inline Curve HeldToTheRules(const std::vector<std::vector<Encode>>& scenes, int framesPerSecond) {
    const std::size_t count = scenes.size(), settings = scenes.front().size(), sceneFrames = scenes.front().front().bytes.size();
    const detail::Tables t = detail::Tabulate(scenes, static_cast<std::size_t>(framesPerSecond));
    const double seconds = static_cast<double>(count * sceneFrames) / framesPerSecond;
    Curve curve;
    // Every way, counted in base `settings`; of those that meet the rules,
    // the best in each band of 1 kbit/s so far.
    std::vector<double> best;
    std::vector<detail::Way> found;
    std::vector<std::size_t> choice(count, 0);
    for (bool more = true; more; ++curve.ways) {
        std::size_t peak = 0, bytes = 0;
        double error = 0;
        for (std::size_t s = 0; s < count; ++s) {
            const std::size_t k = choice[s];
            peak = std::max(peak, t.within[s][k]);
            if (s + 1 < count) peak = std::max(peak, t.across[s][k][choice[s + 1]]);
            bytes += t.bytes[s][k];
            error += t.error[s][k];
        }
        // The most generous target: the mean is 0.95 of it.
        const double perSecond = static_cast<double>(bytes) / seconds;
        if (static_cast<double>(peak) <= 1.3 / 0.95 * perSecond) {
            ++curve.meeting;
            const double kbps = perSecond * 8 / 1024;
            const auto band = static_cast<std::size_t>(kbps);
            if (best.size() <= band) best.resize(band + 1, -1);
            const double psnr = 10 * std::log10(255.0 * 255.0 / std::max(error / static_cast<double>(count * sceneFrames), 1e-10));
            if (psnr >= best[band]) {
                best[band] = psnr;
                found.push_back({{kbps, psnr}, choice});
            }
        }
        std::size_t s = 0;
        while (s < count && ++choice[s] == settings) choice[s++] = 0;
        more = s < count;
    }
    detail::KeepUpperEnvelope(found, curve);
    return curve;
}

} // namespace held
