// "Cinepak Mobile" against libavcodec's cinepak encoder on the same content:
// frames per second, bytes, and the PSNR (luma and overall) of the decoded
// frames; and our data-rate accuracy at 240, 320 and 640 kbit/s.
//
// Content, 15 frames a second: moving colour gradients, noise, a panning
// textured scene and a scene cut. `bench_cinepak movie FILE [FRAMES]` runs
// ours alone on a movie's frames as the converter would see them.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/cinepak_common.h"

namespace {

using namespace cinepakbench;

std::vector<Picture> Content(int width, int height, int frames) {
    std::vector<Picture> out;
    std::mt19937 rng(1);
    // A texture to pan over: blobs of colour with fine detail.
    const int tw = width * 3, th = height;
    std::vector<std::uint8_t> texture(static_cast<std::size_t>(tw) * th * 3);
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x)
            for (int c = 0; c < 3; ++c)
                texture[(static_cast<std::size_t>(y) * tw + x) * 3 + c] = static_cast<std::uint8_t>(
                    128 + 60 * std::sin(x / (7.0 + c * 3) + c) * std::cos(y / (11.0 - c * 2)) + (rng() % 24) - 12);
    for (int n = 0; n < frames; ++n) {
        Picture p(static_cast<std::size_t>(width) * height * 4, 255);
        const int scene = n * 3 / frames; // 0 gradients, 1 panning texture, 2 gradients again (a cut)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* q = &p[(static_cast<std::size_t>(y) * width + x) * 4];
                if (scene == 1) {
                    const int tx = (x + n * 3) % tw;
                    for (int c = 0; c < 3; ++c) q[c] = texture[(static_cast<std::size_t>(y) * tw + tx) * 3 + c];
                } else {
                    q[0] = static_cast<std::uint8_t>((x * 2 + n * 4) % 256);
                    q[1] = static_cast<std::uint8_t>((y * 3 + n * (scene == 2 ? 5 : 1)) % 256);
                    q[2] = static_cast<std::uint8_t>(128 + 100 * std::sin((x + y + n * 3) / 20.0));
                    if (x > width / 2 && y > height / 2) // a corner of noise
                        for (int c = 0; c < 3; ++c) q[c] = static_cast<std::uint8_t>(q[c] / 2 + rng() % 128);
                }
            }
        out.push_back(std::move(p));
    }
    return out;
}

struct Quality {
    double psnrY = 0, psnr = 0;
};

Quality Measure(const std::vector<Picture>& source, const std::vector<FrameBuffer>& decoded, int width, int height) {
    double luma = 0, colour = 0;
    for (std::size_t n = 0; n < source.size(); ++n) {
        const FrameError e = ErrorOf(source[n], decoded[n], width, height);
        luma += e.luma, colour += e.colour;
    }
    const auto frames = static_cast<double>(source.size());
    return {10 * std::log10(255.0 * 255.0 / (luma / frames)), 10 * std::log10(255.0 * 255.0 / (colour / frames))};
}

// libavcodec's encoder (through the ffmpeg tool) at its own default
// quality; then ours at the data rate that gives the same total size.
void Compare(int width, int height) {
    const int frameCount = 150;
    const auto content = Content(width, height, frameCount);
    const std::string raw = (TemporaryFolder() / "vantro-bench-cinepak.raw").string();
    const std::string avi = (TemporaryFolder() / "vantro-bench-cinepak.avi").string();
    {
        std::ofstream file(raw, std::ios::binary);
        for (const Picture& p : content) file.write(reinterpret_cast<const char*>(p.data()), static_cast<std::streamsize>(p.size()));
    }
    const std::string command = "ffmpeg -nostdin -y -loglevel error -f rawvideo -pix_fmt bgra -s " + std::to_string(width) + "x" +
                                std::to_string(height) + " -r 15 -i '" + raw + "' -c:v cinepak -g 100 '" + avi + "'";
    auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) std::exit(1);
    const double theirSeconds = Seconds(start);
    Movie movie;
    if (Movie::Open(avi, movie) != noErr) std::exit(1);
    std::unique_ptr<VideoSource> source;
    if (movie.NewVideoSource(movie.FindTrack(kVideoMediaType), source) != noErr) std::exit(1);
    std::vector<FrameBuffer> theirs(content.size());
    DecompressionSequence sequence;
    std::int64_t time = 0;
    for (std::size_t n = 0; n < content.size(); ++n) {
        VideoSample s;
        if (source->GetFrame(time, s) != noErr) break;
        (void)theirs[n].Create(width, height);
        (void)sequence.Begin(s.description, Matrix::Identity(), &theirs[n]);
        (void)sequence.Decompress(*s.picture);
        time += s.duration;
    }
    const Quality theirQuality = Measure(content, theirs, width, height);
    const auto theirBytes = static_cast<std::size_t>(std::filesystem::file_size(avi)) - 8 * content.size() - 2048; // less the AVI's own bytes, about
    std::remove(raw.c_str());
    std::remove(avi.c_str());

    const auto kbps = static_cast<std::uint32_t>(theirBytes * 8 / 1024 / (frameCount / 15.0));
    const OurRun ours = RunOurs(content, width, height, kbps);
    std::size_t ourBytes = 0;
    for (const auto& f : ours.frames) ourBytes += f.size();
    const Quality ourQuality = Measure(content, DecodeAll(ours.frames, width, height), width, height);
    std::printf("%dx%d, %d frames at 15 frames/s (%u kbit/s)\n", width, height, frameCount, kbps);
    std::printf("  ours:       %6.1f frames/s  %8zu bytes  PSNR-Y %5.2f dB  PSNR %5.2f dB\n", frameCount / ours.seconds, ourBytes,
                ourQuality.psnrY, ourQuality.psnr);
    std::printf("  libavcodec: %6.1f frames/s  %8zu bytes  PSNR-Y %5.2f dB  PSNR %5.2f dB\n", frameCount / theirSeconds,
                theirBytes, theirQuality.psnrY, theirQuality.psnr);
    std::printf("  speed ratio %.1fx, size ratio %.3f, PSNR-Y difference %+.2f dB\n", theirSeconds / ours.seconds,
                static_cast<double>(ourBytes) / theirBytes, ourQuality.psnrY - theirQuality.psnrY);
}

void RateAccuracy(int width, int height) {
    const int frameCount = 300; // 20 seconds
    const auto content = Content(width, height, frameCount);
    for (std::uint32_t kbps : {240u, 320u, 640u}) {
        const OurRun run = RunOurs(content, width, height, kbps);
        const double target = kbps * 1024 / 8.0;
        std::size_t total = 0;
        double worst = 0;
        for (std::size_t n = 0; n < run.frames.size(); ++n) {
            total += run.frames[n].size();
            if (n >= 30 && n % 15 == 14) { // one-second windows after the first
                std::size_t window = 0;
                for (std::size_t k = n - 14; k <= n; ++k) window += run.frames[k].size();
                worst = std::max(worst, window / target);
            }
        }
        const double mean = total / (frameCount / 15.0);
        std::printf("  rate %3u kbit/s: mean %.3f of the target, worst one-second window %.2f\n", kbps, mean / target, worst);
    }
}

} // namespace

// Our encoder alone at one rate: for quick comparisons while tuning.
void Ours(int width, int height, std::uint32_t kbps) {
    const auto content = Content(width, height, 150);
    const OurRun run = RunOurs(content, width, height, kbps);
    std::size_t bytes = 0;
    for (const auto& f : run.frames) bytes += f.size();
    const Quality q = Measure(content, DecodeAll(run.frames, width, height), width, height);
    std::printf("%dx%d at %u kbit/s: %.1f frames/s, %zu bytes, PSNR-Y %.2f dB, PSNR %.2f dB\n", width, height, kbps,
                150 / run.seconds, bytes, q.psnrY, q.psnr);
}

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "movie") {
        // bench_cinepak movie FILE [FRAMES]: our encoder on a real movie at
        // the "Tungsten T3" settings (320 × 240, 640 kbit/s).
        const int frames = argc > 3 ? std::atoi(argv[3]) : 900;
        const auto content = MovieContent(argv[2], 320, 240, frames);
        const OurRun run = RunOurs(content, 320, 240, 640);
        std::size_t bytes = 0;
        for (const auto& f : run.frames) bytes += f.size();
        const Quality q = Measure(content, DecodeAll(run.frames, 320, 240), 320, 240);
        std::printf("%s, %zu frames at 640 kbit/s: %.1f frames/s, %zu bytes, PSNR-Y %.2f dB, PSNR %.2f dB\n", argv[2],
                    content.size(), static_cast<double>(content.size()) / run.seconds, bytes, q.psnrY, q.psnr);
        return 0;
    }
    if (argc > 1 && std::string(argv[1]) == "ours") {
        Ours(160, 120, 320);
        Ours(160, 120, 1222);
        Ours(320, 240, 640);
        Ours(320, 240, 2462);
        return 0;
    }
    Compare(160, 120);
    Compare(320, 240);
    std::printf("data-rate accuracy, 320x240:\n");
    RateAccuracy(320, 240);
    return 0;
}
