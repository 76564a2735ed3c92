// What the Cinepak benchmarks share: a movie's frames as the converter sees
// them, our encoder driven the way the writer's video input drives it, and
// our frames decoded by libavcodec's Cinepak decoder.
#pragma once

#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/media.h"
#include "video/cinepakencoder.h"
#include "video/cinepakrate.h"

namespace cinepakbench {

using Picture = std::vector<std::uint8_t>; // BGRA

// The benchmarks' luma: BT.601 weights on B, G and R.
inline double Luma(const std::uint8_t* bgra) { return 0.114 * bgra[0] + 0.587 * bgra[1] + 0.299 * bgra[2]; }

// A decoded frame's squared error against its source, per pixel: in luma,
// and in the colours themselves, per channel of B, G and R alike (a wrong
// hue of the right luma counts there too).
struct FrameError {
    double luma = 0, colour = 0;
};

inline FrameError ErrorOf(const Picture& source, const FrameBuffer& decoded, int width, int height) {
    double luma = 0, colour = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* a = &source[(static_cast<std::size_t>(y) * width + x) * 4];
            const std::uint8_t* b = decoded.Pixel(x, y);
            const double d = Luma(a) - Luma(b);
            luma += d * d;
            for (int c = 0; c < 3; ++c) colour += (a[c] - b[c]) * (a[c] - b[c]);
        }
    const double pixels = static_cast<double>(width) * height;
    return {luma / pixels, colour / (3 * pixels)};
}

inline double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The processor time this process has used: unlike the clock on the wall,
// it does not count what other programs on the machine take.
inline double ProcessorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Our encoder with the converter's rate control at `kbps` (kilobits of 1024
// bits, as the writer's video data rate counts them).
struct OurRun {
    double seconds = 0;          // on the wall
    double processorSeconds = 0; // of this process
    std::vector<std::vector<std::uint8_t>> frames;
};

// Ours at `kbps`, or, with a slope, every frame at that λ.
inline OurRun RunOurs(const std::vector<Picture>& content, int width, int height, std::uint32_t kbps, double slope = 0) {
    OurRun run;
    CinepakEncoder encoder;
    if (encoder.Begin(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height)) != noErr)
        std::exit(1);
    RateHistory history;
    const std::uint32_t rate = kbps * 1024 / 8;
    history.Prime(rate);
    const auto start = std::chrono::steady_clock::now();
    const double processorStart = ProcessorSeconds();
    for (const Picture& p : content) {
        // 15 frames a second: the writer hands the encoder each frame's
        // duration in whole milliseconds, 66.
        CinepakFrameParams params;
        params.dataRate = rate;
        params.milliseconds = 66;
        params.overrun = history.SpentInLastSecond() - rate;
        params.slope = slope;
        ByteBlock out;
        bool difference = false;
        if (encoder.Encode(p.data(), width * 4, params, out, difference) != noErr) std::exit(1);
        history.Add(66, out.Size(), !difference);
        run.frames.emplace_back(out.Data(), out.Data() + out.Size());
    }
    run.seconds = Seconds(start);
    run.processorSeconds = ProcessorSeconds() - processorStart;
    return run;
}

inline std::vector<FrameBuffer> DecodeAll(const std::vector<std::vector<std::uint8_t>>& frames, int width, int height) {
    ImageDecompressor decoder;
    if (decoder.Open(Fcc("cvid"), width, height) != noErr) std::exit(1);
    std::vector<FrameBuffer> out(frames.size());
    for (std::size_t n = 0; n < frames.size(); ++n)
        if (decoder.Decode(frames[n], out[n]) != noErr) std::exit(1);
    return out;
}

// Frames of a movie file as the converter sees them: decoded through the
// media layer at 15 frames/s and scaled to width × height by the
// decompression sequence's matrix, as a conversion scales them.
inline std::vector<Picture> MovieContent(const std::string& path, int width, int height, int frames) {
    Movie movie;
    std::unique_ptr<VideoSource> source;
    if (Movie::Open(path, movie) != noErr || movie.NewVideoSource(movie.FindTrack(kVideoMediaType), source) != noErr) std::exit(1);
    FrameBuffer buffer;
    if (buffer.Create(width, height) != noErr) std::exit(1);
    DecompressionSequence sequence;
    std::vector<Picture> out;
    for (int n = 0; n < frames; ++n) {
        VideoSample s;
        if (source->GetFrame(std::int64_t{n} * source->TimeScale() / 15, s) != noErr) break;
        if (n == 0) {
            const Rect from = MakeRect(0, 0, s.description.width, s.description.height);
            if (sequence.Begin(s.description, Matrix::MapRect(from, MakeRect(0, 0, width, height)), &buffer) != noErr) std::exit(1);
        }
        if (sequence.Decompress(*s.picture) != noErr) std::exit(1);
        out.emplace_back(buffer.Pixels(), buffer.Pixels() + static_cast<std::size_t>(width) * height * 4);
    }
    return out;
}

} // namespace cinepakbench
