// Decode throughput through the media layer: every frame of a movie, decoded
// and drawn into a 320 × 240 'BGRA' frame, against the ffmpeg tool decoding
// and scaling the same file to 320 × 240 in the same run.
//
//   bench_media [FILE]     default: a generated 640 × 480 H.264 clip of 20 s
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/media.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv) {
    std::string path;
    if (argc > 1) {
        path = argv[1];
    } else {
        path = (TemporaryFolder() / "vantro-bench-media.mp4").string();
        if (!FileExists(path)) {
            const std::string make = "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=640x480:rate=25:duration=20 "
                                     "-c:v libx264 -pix_fmt yuv420p -g 50 '" + path + "'";
            if (std::system(make.c_str()) != 0) return 1;
        }
    }

    Movie movie;
    if (Movie::Open(path, movie) != noErr) return 1;
    std::unique_ptr<VideoSource> source;
    if (movie.NewVideoSource(movie.FindTrack(kVideoMediaType), source) != noErr) return 1;
    FrameBuffer buffer;
    if (buffer.Create(320, 240) != noErr) return 1;
    DecompressionSequence sequence;
    std::int32_t seed = -1;
    auto start = std::chrono::steady_clock::now();
    std::int64_t time = 0, frames = 0;
    for (;;) {
        VideoSample s;
        const OSErr err = source->GetFrame(time, s);
        if (err == eofErr) break;
        if (err != noErr) return 1;
        if (s.seed != seed) {
            const Rect from = MakeRect(0, 0, s.description.width, s.description.height);
            if (sequence.Begin(s.description, Matrix::MapRect(from, MakeRect(0, 0, 320, 240)), &buffer) != noErr) return 1;
            seed = s.seed;
        }
        if (sequence.Decompress(*s.picture) != noErr) return 1;
        time += s.duration;
        ++frames;
    }
    const double ours = Seconds(start);

    start = std::chrono::steady_clock::now();
    const std::string peer = "ffmpeg -nostdin -loglevel error -i '" + path + "' -vf scale=320:240 -f null -";
    if (std::system(peer.c_str()) != 0) return 1;
    const double theirs = Seconds(start);

    std::printf("%lld frames\n", static_cast<long long>(frames));
    std::printf("media layer: %.2f s, %.0f frames/s\n", ours, frames / ours);
    std::printf("ffmpeg tool: %.2f s, %.0f frames/s\n", theirs, frames / theirs);
    std::printf("time ratio (layer / ffmpeg): %.2f (target: at most 1.30)\n", ours / theirs);
    return 0;
}
