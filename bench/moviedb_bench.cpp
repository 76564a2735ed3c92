// Movie writer throughput and memory: writes a movie of synthetic picture
// and sound chunks, lays it out, and reads the database out in 64 KiB pieces
// (as the conversion copies it to its destination). Each size runs in a
// child process so that its peak memory is its own.
//
//   bench_moviedb [MiB...]      default: 100 1024
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "moviedb/moviewriter.h"

namespace {

struct Result {
    double writeSeconds = 0, endSeconds = 0, readSeconds = 0;
    double databaseMiB = 0;
    long peakKiB = 0;
    int status = 0;
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

Result Run(std::uint64_t mediaBytes) {
    Result r;
    std::vector<std::uint8_t> noise(1 << 17);
    std::uint32_t seed = 12345;
    for (auto& b : noise) b = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);

    MovieWriter* raw = nullptr;
    if (NewMovieWriter(&raw) != noErr) return r.status = 1, r;
    OwnedMovieWriter w(raw);
    WaveFormat format;
    format.sampleRate = 22050;
    format.channels = 2;
    std::int32_t periods[2] = {22050, 100};
    if (SetDatabaseName(w.get(), "Benchmark") || SetPictureSize(w.get(), 320, 240) || SetVideoFormat(w.get(), 7) ||
        SetWriterParameter(w.get(), kWriterMovieTimeScale, 600) || SetSoundFormat(w.get(), format) ||
        SetAudioFormatCode(w.get(), 626) || SetWriterParameter(w.get(), kWriterSoundLeadIn, 44100) ||
        SetWriterParameter(w.get(), kWriterInterleave, reinterpret_cast<std::intptr_t>(periods)) ||
        BeginMovie(w.get()))
        return r.status = 2, r;

    auto start = std::chrono::steady_clock::now();
    std::uint64_t written = 0, frame = 0, soundFrames = 0;
    while (written < mediaBytes) {
        // 15 frames a second, 5 to 30 KB each, one key frame in 12.
        const std::size_t size = 5000 + (frame * 7919) % 25000;
        const std::size_t at = (frame * 4099) % (noise.size() - size);
        if (WriteVideoChunk(w.get(), {noise.data() + at, size}, 11, frame % 12 != 0, 40)) return r.status = 3, r;
        written += size + 8;
        // 22050 Hz stereo ADPCM: 4410 frames (one fifth of a second) every three frames.
        if (frame % 3 == 2) {
            const std::size_t bytes = 4410 / 256 * 2 * 132;
            if (WriteAudioRecord(w.get(), {noise.data() + at / 2, bytes}, 4410, static_cast<std::uint32_t>(soundFrames)))
                return r.status = 4, r;
            soundFrames += 4410;
            written += bytes + 16;
        }
        ++frame;
    }
    r.writeSeconds = Seconds(start);

    start = std::chrono::steady_clock::now();
    if (EndMovie(w.get())) return r.status = 5, r;
    r.endSeconds = Seconds(start);

    start = std::chrono::steady_clock::now();
    std::uint32_t size = 0;
    if (GetDatabaseSize(w.get(), size)) return r.status = 6, r;
    std::vector<std::uint8_t> piece(1 << 16);
    std::uint64_t checksum = 0;
    for (std::uint32_t at = 0; at < size; at += piece.size()) {
        const std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(piece.size()), size - at);
        if (ReadDatabase(w.get(), piece.data(), at, n)) return r.status = 7, r;
        checksum += piece[n / 2];
    }
    r.readSeconds = Seconds(start);
    r.databaseMiB = size / 1048576.0;
    if (checksum == 1) std::puts(""); // keep the reads
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    r.peakKiB = usage.ru_maxrss;
    return r;
}

// Runs one size in a child and reads its result back through a pipe.
bool RunInChild(std::uint64_t mib, Result& out) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Result r = Run(mib << 20);
        if (write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    const bool ok = read(fds[0], &out, sizeof out) == static_cast<ssize_t>(sizeof out);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return ok && out.status == 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::uint64_t> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {100, 1024};
    std::printf("%8s %10s %12s %12s %12s %10s\n", "media", "database", "write MB/s", "layout s", "read MB/s", "peak MiB");
    std::vector<Result> results;
    for (std::uint64_t mib : sizes) {
        Result r;
        if (!RunInChild(mib, r)) {
            std::printf("%6llu MiB: failed (status %d)\n", static_cast<unsigned long long>(mib), r.status);
            return 1;
        }
        const double mb = r.databaseMiB * 1.048576;
        std::printf("%5llu MiB %8.1f MiB %12.1f %12.2f %12.1f %10.1f\n", static_cast<unsigned long long>(mib),
                    r.databaseMiB, mb / r.writeSeconds, r.endSeconds, mb / r.readSeconds, r.peakKiB / 1024.0);
        results.push_back(r);
    }
    if (results.size() >= 2) {
        const double ratio = static_cast<double>(results.back().peakKiB) / static_cast<double>(results.front().peakKiB);
        std::printf("peak memory %llu MiB / %llu MiB: %.3f (target: within 1.10)\n",
                    static_cast<unsigned long long>(sizes.back()), static_cast<unsigned long long>(sizes.front()), ratio);
    }
    return 0;
}
