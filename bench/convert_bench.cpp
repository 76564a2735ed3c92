// End-to-end conversion: a generated 640 × 480, 30 frames/s H.264 + AAC
// movie converted with the "Tungsten T3" device's settings (320 × 240 at
// 15 frames/s, Cinepak at 640 kbit/s, ADPCM 2:1 at 22050 Hz stereo). Each
// conversion runs in a child process held to one core, so its peak memory is
// its own; a 2-minute and a 10-minute source show whether memory grows with
// the movie's length (it must not).
//
//   bench_convert [MINUTES...]     default: 2 10
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/conversion.h"

namespace {

std::string Source(int minutes) {
    const std::string path = (TemporaryFolder() / ("vantro-bench-convert-" + std::to_string(minutes) + "min.mp4")).string();
    if (FileExists(path)) return path;
    const std::string seconds = std::to_string(minutes * 60);
    // Made under a partial name (the container named explicitly), then renamed.
    const std::string make = "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=640x480:rate=30:duration=" + seconds +
                             " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + seconds +
                             " -ac 2 -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 60 -c:a aac -b:a 128k -f mp4 '" + path +
                             ".part' && mv '" + path + ".part' '" + path + "'";
    if (std::system(make.c_str()) != 0) return {};
    return path;
}

ExportSettings TungstenT3() {
    ExportSettings s;
    s.depth = kDepthCinepakMobile;
    s.frameRate = IntToFixed(15);
    s.videoBitRate = 640;
    s.sizeCode = 6; // 320 × 240
    s.soundFormat = kSoundAdpcm2to1;
    s.sampleRate = UIntToUnsignedFixed(22050);
    s.channels = 2;
    return s;
}

struct Figures {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    long long bytes = 0;
    bool ok = false;
};

Figures ConvertInChild(const std::string& source) {
    Figures f;
    const std::string out = source + ".pdb";
    std::remove(out.c_str());
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) return f;
    if (child == 0) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        (void)sched_setaffinity(0, sizeof one, &one);
        const OSErr err = ConvertMovie(source, TungstenT3(), out, nullptr, nullptr);
        _exit(err == noErr ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return f;
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.peakKiB = usage.ru_maxrss;
    f.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (f.ok) {
        std::error_code ec;
        f.bytes = static_cast<long long>(std::filesystem::file_size(out, ec));
    }
    std::remove(out.c_str());
    return f;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> lengths;
    for (int i = 1; i < argc; ++i) lengths.push_back(std::atoi(argv[i]));
    if (lengths.empty()) lengths = {2, 10};
    std::vector<Figures> all;
    for (const int minutes : lengths) {
        const std::string source = Source(minutes);
        if (source.empty()) return 1;
        const Figures f = ConvertInChild(source);
        if (!f.ok) {
            std::fprintf(stderr, "conversion of %s failed\n", source.c_str());
            return 1;
        }
        std::printf("%2d min: %.1f s (%.1f s of processor), %.1f× real time (target: at least 20×), peak %.1f MiB, %.2f MB out "
                    "(%.0f kbit/s)\n",
                    minutes, f.seconds, f.cpuSeconds, minutes * 60 / f.seconds, f.peakKiB / 1024.0, f.bytes / 1e6,
                    f.bytes * 8.0 / 1024 / (minutes * 60));
        all.push_back(f);
    }
    if (all.size() >= 2)
        std::printf("peak memory ratio (%d min / %d min): %.3f (target: about 1)\n", lengths.back(), lengths.front(),
                    static_cast<double>(all.back().peakKiB) / all.front().peakKiB);
    return 0;
}
