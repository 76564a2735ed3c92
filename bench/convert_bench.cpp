// End-to-end conversion with the "Tungsten T3" device's settings (320 × 240
// at 15 frames/s, Cinepak at 640 kbit/s, ADPCM 2:1 at 22050 Hz stereo) of
// generated 640 × 480, 30 frames/s H.264 + AAC movies: a clean test picture
// and the same with film grain (the kind of picture that costs the encoder
// most). Every conversion runs in a child process, so that its peak memory
// is its own.
//
//   bench_convert            where the time goes (also on the Cinepak
//                            benchmark's real footage), against FFmpeg's own
//                            decode-and-scale of the same file (the floor);
//                            a batch of 8 files one at a time and two at a time
//   bench_convert long       2- and 10-minute sources: memory must not grow
//                            with the movie's length
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/footage.h"
#include "engine/batchrunner.h"
#include "engine/convert.h"

namespace {

std::string Source(const std::string& name, int seconds, bool grain) {
    const std::string path = (TemporaryFolder() / ("vantro-bench-convert-" + name + ".mp4")).string();
    if (FileExists(path)) return path;
    const std::string length = std::to_string(seconds);
    // Made under a partial name (the container named explicitly), then renamed.
    const std::string make = "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=640x480:rate=30:duration=" + length +
                             " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + length + " -ac 2" +
                             (grain ? " -vf noise=alls=14:allf=t" : "") +
                             " -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 60 -c:a aac -b:a 128k -f mp4 '" + path +
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
    double seconds = 0, cpuSeconds = 0;
    long peakKiB = 0;
    ConversionTimes times;
    bool ok = false;
};

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// Runs `work` in a child; its answer (and what it writes into `times`)
// comes back through a pipe.
template <typename Work>
Figures InChild(Work work) {
    Figures f;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return f;
    const double start = Now();
    const pid_t child = fork();
    if (child < 0) return f;
    if (child == 0) {
        close(pipeEnds[0]);
        ConversionTimes times;
        const bool ok = work(times);
        (void)!write(pipeEnds[1], &times, sizeof times);
        _exit(ok ? 0 : 1);
    }
    close(pipeEnds[1]);
    (void)!read(pipeEnds[0], &f.times, sizeof f.times);
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return f;
    f.seconds = Now() - start;
    f.peakKiB = usage.ru_maxrss;
    f.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    f.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return f;
}

Figures ConvertOne(const std::string& source, std::size_t ahead) {
    return InChild([&](ConversionTimes& times) {
        ConversionJob job;
        job.source = source;
        if (CopyExportSettings(TungstenT3(), job.settings) != noErr) return false;
        job.destination = source + ".pdb";
        std::remove(job.destination.c_str());
        job.picturesAhead = ahead;
        job.times = &times;
        ConversionReport report;
        const bool ok = Convert(job, report) == noErr;
        std::remove(job.destination.c_str());
        return ok;
    });
}

// FFmpeg's own decoding and scaling of the file to the movie's pictures, on
// one thread: what a conversion cannot go below.
double DecodeAndScale(const std::string& source) {
    const std::string command = "ffmpeg -nostdin -loglevel error -threads 1 -filter_threads 1 -i '" + source +
                                "' -an -vf fps=15,scale=320:240:flags=area -f null -";
    const double start = Now();
    if (std::system(command.c_str()) != 0) return 0;
    return Now() - start;
}

Figures Batch(const std::vector<FileSpec>& sources, const FileSpec& out, int jobs) {
    return InChild([&](ConversionTimes&) {
        std::error_code ec;
        std::filesystem::remove_all(out, ec);
        std::filesystem::create_directories(out, ec);
        AtomContainer settings;
        if (GetExportSettings(TungstenT3(), &settings) != noErr) return false;
        std::vector<FileRecord> files;
        for (const FileSpec& s : sources) files.emplace_back().source = s;
        RunOptions options;
        options.toSourceFolder = false;
        options.exportFolder = out;
        options.settings = &settings;
        options.jobs = jobs;
        BatchRunner runner;
        RunObserver quiet;
        const bool ok = runner.Run(files, options, quiet) == noErr &&
                        std::all_of(files.begin(), files.end(), [](const FileRecord& f) { return f.state == FileState::Converted; });
        std::filesystem::remove_all(out, ec);
        return ok;
    });
}

int WhereTheTimeGoes() {
    // The clean and grainy test pictures, and the Cinepak benchmark's real
    // footage when its photographs are installed (`./build.sh bench`).
    std::vector<std::pair<std::string, std::string>> movies = {{"clean-24s", Source("clean-24s", 24, false)},
                                                                {"grain-24s", Source("grain-24s", 24, true)}};
    if (const std::string real = footage::Make(TemporaryFolder() / "vantro-bench-footage", false); !real.empty())
        movies.emplace_back("footage-24s", real);
    for (const auto& [name, source] : movies) {
        if (source.empty()) return 1;
        const double floor = DecodeAndScale(source);
        const Figures inTurn = ConvertOne(source, 0), ahead = ConvertOne(source, kPicturesAhead);
        if (!inTurn.ok || !ahead.ok || floor <= 0) return 1;
        std::printf("%s: FFmpeg decode and scale (one thread) %.2f s\n", name.c_str(), floor);
        for (const auto& [label, f] : {std::pair{"in turn", inTurn}, std::pair{"pictures ahead", ahead}})
            std::printf("  %-15s %.2f s wall (%.2f× the floor), %.2f s of processor, peak %.1f MiB; pictures %.2f s, video "
                        "%.2f s, sound %.2f s, writing %.2f s\n",
                        label, f.seconds, f.seconds / floor, f.cpuSeconds, f.peakKiB / 1024.0, f.times.pictures, f.times.video,
                        f.times.sound, f.times.writing);
        std::printf("  target: pictures ahead within 1.2× the floor: %s\n", ahead.seconds <= 1.2 * floor ? "met" : "NOT met");
    }
    // Eight files of the grainy source, one at a time and two at a time.
    const std::string one = Source("grain-12s", 12, true);
    if (one.empty()) return 1;
    std::vector<FileSpec> sources;
    const FileSpec folder = TemporaryFolder() / "vantro-bench-batch";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (int i = 0; i < 8; ++i) {
        const FileSpec link = folder / ("file" + std::to_string(i) + ".mp4");
        if (!FileExists(link)) std::filesystem::create_hard_link(one, link, ec);
        sources.push_back(link);
    }
    const Figures serial = Batch(sources, folder / "out", 1), parallel = Batch(sources, folder / "out", 2);
    if (!serial.ok || !parallel.ok) return 1;
    std::printf("batch of 8 × 12 s: -j 1 %.2f s (peak %.1f MiB), -j 2 %.2f s (peak %.1f MiB): time %.2f× (target at most "
                "0.6), memory %.2f× (target about 2 at most)\n",
                serial.seconds, serial.peakKiB / 1024.0, parallel.seconds, parallel.peakKiB / 1024.0, parallel.seconds / serial.seconds,
                static_cast<double>(parallel.peakKiB) / serial.peakKiB);
    return 0;
}

int MemoryOverLength() {
    std::vector<Figures> all;
    for (const int minutes : {2, 10}) {
        const std::string source = Source(std::to_string(minutes) + "min", minutes * 60, false);
        if (source.empty()) return 1;
        const Figures f = ConvertOne(source, kPicturesAhead);
        if (!f.ok) return 1;
        std::printf("%2d min: %.1f s (%.1f s of processor), %.1f× real time, peak %.1f MiB\n", minutes, f.seconds, f.cpuSeconds,
                    minutes * 60 / f.seconds, f.peakKiB / 1024.0);
        all.push_back(f);
    }
    std::printf("peak memory ratio (10 min / 2 min): %.3f (target: about 1)\n", static_cast<double>(all[1].peakKiB) / all[0].peakKiB);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "long") == 0) return MemoryOverLength();
    return WhereTheTimeGoes();
}
