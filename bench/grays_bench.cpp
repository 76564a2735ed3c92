// "16 Grays" encoder speed, size and quality on moving synthetic content,
// on one core: frames per second at 160 × 120 and 320 × 240, with the
// average frame size and the PSNR of the decoded pictures against the source.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "video/graysdecoder.h"
#include "video/graysencoder.h"

namespace {

std::vector<std::uint8_t> MovingFrame(int width, int height, int n) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4, 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int g = (x * 2 + y + n * 3) % 256;
            const double dx = x - (width / 4.0 + n * 1.5), dy = y - (height / 2.0 + height / 6.0 * std::sin(n / 7.0));
            if (dx * dx + dy * dy < height * height / 40.0) g = 20;
            if (std::abs(y - (n * 2) % height) < 3) g = 250;
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = p[1] = p[2] = static_cast<std::uint8_t>(g);
        }
    return pixels;
}

void Run(int width, int height) {
    constexpr int kFrames = 120;
    std::vector<std::vector<std::uint8_t>> frames;
    for (int n = 0; n < kFrames; ++n) frames.push_back(MovingFrame(width, height, n));
    GraysEncoder encoder;
    if (encoder.Begin(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height)) != noErr)
        return;
    std::vector<ByteBlock> payloads(kFrames);
    const auto start = std::chrono::steady_clock::now();
    constexpr int kRounds = 10;
    std::size_t bytes = 0;
    for (int round = 0; round < kRounds; ++round)
        for (int n = 0; n < kFrames; ++n) {
            bool difference = false;
            if (encoder.Encode(frames[n].data(), width * 4, 100, n % 12 != 0, payloads[n], difference) != noErr) return;
            if (round == 0) bytes += payloads[n].Size();
        }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // Quality of one pass, decoded from the start.
    GraysEncoder fresh;
    (void)fresh.Begin(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height));
    std::vector<std::uint8_t> picture(grays::RowBytes(static_cast<std::uint32_t>(width)) * static_cast<std::size_t>(height), 0);
    std::vector<std::uint8_t> gray(static_cast<std::size_t>(width) * height);
    double squared = 0;
    for (int n = 0; n < kFrames; ++n) {
        ByteBlock payload;
        bool difference = false;
        (void)fresh.Encode(frames[n].data(), width * 4, 100, n % 12 != 0, payload, difference);
        (void)DecodeGraysFrame(payload.Span(), static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), picture);
        GraysToGrayBytes(picture, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), gray);
        for (std::size_t i = 0; i < gray.size(); ++i) {
            const double d = gray[i] - frames[n][i * 4];
            squared += d * d;
        }
    }
    const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / (static_cast<double>(gray.size()) * kFrames)));
    std::printf("%3d x %3d: %7.0f frames/s, %6.0f bytes/frame (raw 4-bit: %d), PSNR %.1f dB\n", width, height,
                kFrames * kRounds / seconds, static_cast<double>(bytes) / kFrames, width * height / 2, psnr);
}

} // namespace

int main() {
    Run(160, 120);
    Run(320, 240);
    return 0;
}
