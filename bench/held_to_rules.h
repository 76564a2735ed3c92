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

// `scenes[s][k]`: scene s at setting k; every scene has the same number of
// frames, at least one second, and every setting of it the same frames.
inline Curve HeldToTheRules(const std::vector<std::vector<Encode>>& scenes, int framesPerSecond) {
    const std::size_t count = scenes.size(), settings = scenes.front().size();
    const std::size_t sceneFrames = scenes.front().front().bytes.size(), second = static_cast<std::size_t>(framesPerSecond);
    // What a window depends on: one scene's setting for those within it,
    // two neighbours' settings for those across a cut. Windows start after
    // the first second.
    auto windowsWithin = [&](const Encode& e, std::size_t firstStart) {
        std::size_t peak = 0;
        for (std::size_t start = firstStart; start + second <= sceneFrames; ++start) {
            std::size_t window = 0;
            for (std::size_t n = start; n < start + second; ++n) window += e.bytes[n];
            peak = std::max(peak, window);
        }
        return peak;
    };
    auto windowsAcross = [&](const Encode& before, const Encode& after) {
        std::size_t peak = 0;
        for (std::size_t inAfter = 1; inAfter < second; ++inAfter) {
            std::size_t window = 0;
            for (std::size_t n = sceneFrames - (second - inAfter); n < sceneFrames; ++n) window += before.bytes[n];
            for (std::size_t n = 0; n < inAfter; ++n) window += after.bytes[n];
            peak = std::max(peak, window);
        }
        return peak;
    };
    std::vector<std::vector<std::size_t>> within(count, std::vector<std::size_t>(settings)), total(within);
    std::vector<std::vector<double>> error(count, std::vector<double>(settings));
    std::vector<std::vector<std::vector<std::size_t>>> across(count, std::vector<std::vector<std::size_t>>(settings));
    for (std::size_t s = 0; s < count; ++s)
        for (std::size_t k = 0; k < settings; ++k) {
            const Encode& e = scenes[s][k];
            within[s][k] = windowsWithin(e, s == 0 ? second : 0);
            for (std::size_t b : e.bytes) total[s][k] += b;
            for (double d : e.error) error[s][k] += d;
            if (s + 1 < count)
                for (std::size_t next = 0; next < settings; ++next) across[s][k].push_back(windowsAcross(e, scenes[s + 1][next]));
        }

    // The best PSNR in each band of 1 kbit/s, then the upper envelope.
    const double seconds = static_cast<double>(count * sceneFrames) / framesPerSecond;
    std::vector<double> best;
    Curve curve;
    struct Way {
        bjontegaard::Point point;
        std::vector<std::size_t> choice;
    };
    std::vector<Way> found;
    std::vector<std::size_t> choice(count, 0);
    for (bool more = true; more; ++curve.ways) {
        std::size_t peak = 0, bytes = 0;
        double sum = 0;
        for (std::size_t s = 0; s < count; ++s) {
            const std::size_t k = choice[s];
            peak = std::max(peak, within[s][k]);
            if (s + 1 < count) peak = std::max(peak, across[s][k][choice[s + 1]]);
            bytes += total[s][k];
            sum += error[s][k];
        }
        const double perSecond = static_cast<double>(bytes) / seconds;
        if (static_cast<double>(peak) <= 1.3 / 0.95 * perSecond) {
            ++curve.meeting;
            const double kbps = perSecond * 8 / 1024;
            const auto band = static_cast<std::size_t>(kbps);
            if (best.size() <= band) best.resize(band + 1, -1);
            const double psnr = 10 * std::log10(255.0 * 255.0 / std::max(sum / static_cast<double>(count * sceneFrames), 1e-10));
            best[band] = std::max(best[band], psnr);
            if (best[band] == psnr) found.push_back({{kbps, psnr}, choice});
        }
        // The next way, counting in base `settings`.
        std::size_t s = 0;
        while (s < count && ++choice[s] == settings) choice[s++] = 0;
        more = s < count;
    }
    std::stable_sort(found.begin(), found.end(), [](const Way& a, const Way& b) { return a.point.rate < b.point.rate; });
    for (Way& way : found)
        if (curve.points.empty() || way.point.psnr > curve.points.back().psnr) {
            curve.points.push_back(way.point);
            curve.choices.push_back(std::move(way.choice));
        }
    return curve;
}

} // namespace held
