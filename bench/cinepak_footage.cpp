// "Cinepak Mobile" against libavcodec's cinepak encoder on real footage
// (bench/footage.h: pans, a zoom, shake, hard cuts, grain, a dark and a
// saturated scene), encoded as the converter sees a movie: 320 × 240 at
// 15 frames/s, scaled by the media layer.
//
// Ours runs with the converter's rate control at each target rate;
// libavcodec's encoder has no rate control, so its λ (the ffmpeg tool's
// -q:v) is swept over the same range of sizes. For every point: bytes,
// luma PSNR over the clip, its worst frame, the first frame, the frames
// right after the cuts, each scene, the speed; then the BD-rate of ours
// against libavcodec's (in luma, and over R, G and B), our data-rate
// rules, and that every frame of ours decodes with libavcodec's Cinepak
// decoder. Ours also runs as libavcodec's encoder does, at one λ for the
// whole clip without the data-rate rules: its BD-rate measures the coding
// alone. And libavcodec's encoder is held to our rules as well as it could
// be (bench/held_to_rules.h): ours against that curve compares both under
// the same rules. Ours at one slope is held to them the same way: what the
// rules cost our coding, whatever the rate control, and how far ours is
// from that.
//
//   bench_cinepak_footage [--fresh]
//
// libavcodec's encoder takes a quarter to two thirds of a second a frame
// here, so its encodes are kept in the build folder beside the footage,
// named after their input frames, the ffmpeg tool's version and its
// arguments: the first run makes them on every core (about 30 minutes on
// two, most of it each scene alone at 17 settings), later runs (about two
// minutes) read them back and time libavcodec again on a short excerpt.
// --fresh makes everything anew.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench/bjontegaard.h"
#include "bench/cinepak_common.h"
#include "bench/footage.h"
#include "bench/held_to_rules.h"
#include "video/cinepakrepack.h"

#ifndef VANTRO_BENCH_CACHE_DIR
#error "VANTRO_BENCH_CACHE_DIR must name the folder that keeps the footage"
#endif

extern char** environ;

namespace {

using namespace cinepakbench;

constexpr int kWidth = 320, kHeight = 240, kRate = 15;
constexpr int kFrames = footage::kScenes * footage::kSceneSeconds * kRate;
constexpr int kSceneFrames = footage::kSceneSeconds * kRate;
// "Right after a cut": the cut's frame and the two after it, a fifth of a
// second, while the rate control pays for the new picture.
constexpr int kAfterCut = 3;
// Our key-frame distance (CinepakEncoder::kKeyFrameRate), given to
// libavcodec's encoder too; it takes the distance from -keyint_min.
constexpr int kKeyDistance = static_cast<int>(CinepakEncoder::kKeyFrameRate);

const std::uint32_t kTargets[] = {200, 300, 450, 620, 800, 1000, 1400, 1800}; // kbit/s of 1024 bits
// libavcodec's λ is 118 × q − 1 (FF_QP2LAMBDA). On this footage these give
// 160 to 2000 kbit/s, the range of our targets (q 4 gives 2300 kbit/s at
// half the speed of q 9).
const int kQualities[] = {9, 45, 220, 1000, 4000};
// For libavcodec held to our rules: each scene encoded alone at settings
// 1.46 times apart in λ over the same range.
const int kHeldQualities[] = {9, 13, 19, 28, 41, 60, 89, 130, 190, 278, 407, 595, 871, 1275, 1867, 2733, 4000};
constexpr int kSpeedFrames = 30; // the excerpt timed in every run
constexpr int kSpeedRuns = 3;    // of each encoder on it
// Ours coded as libavcodec's encoder codes, every frame of the clip at one
// λ with no data-rate rules: the coding compared apart from the rate
// control. These give about 200 to 2000 kbit/s.
const double kSlopes[] = {4000, 1500, 600, 250, 100, 40, 16, 6};
// For ours at one slope held to our rules: each scene encoded alone at
// slopes 1.5 times apart over the same range.
const double kHeldSlopes[] = {4000, 2667, 1778, 1185, 790, 527, 351, 234, 156, 104, 69, 46, 31, 21, 14, 9, 6};

struct Point {
    std::string encoder, setting;
    std::uint32_t target = 0; // ours: kbit/s
    std::vector<std::size_t> bytes;
    std::vector<double> error;  // luma squared error per pixel, per frame
    std::vector<double> colour; // squared error per pixel and channel over R, G and B, per frame
    std::size_t stored = 0;    // ours: after the writer's repack
    int undecodable = 0;
    double processorSeconds = 0;
    bool kept = false; // libavcodec: read back from the build folder

    std::size_t Total() const {
        std::size_t sum = 0;
        for (std::size_t b : bytes) sum += b;
        return sum;
    }
    double Kbps() const { return Total() * 8.0 / 1024 / (static_cast<double>(bytes.size()) / kRate); }
};

double Psnr(double error) { return 10 * std::log10(255.0 * 255.0 / std::max(error, 1e-10)); }

// PSNR over frames [from, to): of the summed squared error, as over the clip.
double PsnrOver(const std::vector<double>& error, int from, int to) {
    double sum = 0;
    for (int n = from; n < to; ++n) sum += error[n];
    return Psnr(sum / (to - from));
}

// Decodes the frames with libavcodec's Cinepak decoder (through the media
// layer) and measures them; a frame it refuses counts as undecodable and
// as all wrong.
void Measure(const std::vector<Picture>& content, const std::vector<std::vector<std::uint8_t>>& frames, Point& point) {
    ImageDecompressor decoder;
    if (decoder.Open(Fcc("cvid"), kWidth, kHeight) != noErr) std::exit(1);
    FrameBuffer picture;
    for (std::size_t n = 0; n < frames.size(); ++n) {
        point.bytes.push_back(frames[n].size());
        if (decoder.Decode(frames[n], picture) != noErr) {
            ++point.undecodable;
            point.error.push_back(255.0 * 255.0);
            point.colour.push_back(255.0 * 255.0);
            continue;
        }
        // A picture of the wrong size is all wrong.
        const FrameError e = picture.Width() == kWidth && picture.Height() == kHeight
                                 ? ErrorOf(content[n], picture, kWidth, kHeight)
                                 : FrameError{255.0 * 255.0, 255.0 * 255.0};
        point.error.push_back(e.luma);
        point.colour.push_back(e.colour);
    }
}

// Ours at a target rate, or with `slope`, every frame at that λ.
Point Ours(const std::vector<Picture>& content, std::uint32_t kbps, double slope = 0) {
    Point point;
    point.encoder = slope > 0 ? "one slope" : "ours";
    point.setting = slope > 0 ? "λ " + std::to_string(static_cast<int>(slope)) : std::to_string(kbps) + " kbit/s";
    point.target = slope > 0 ? 0 : kbps;
    const OurRun run = RunOurs(content, kWidth, kHeight, kbps, slope);
    point.processorSeconds = run.processorSeconds;
    for (const auto& frame : run.frames) {
        ByteBlock stored;
        bool packed = false;
        if (RepackCinepakFrame(frame, stored, packed) != noErr) std::exit(1);
        point.stored += stored.Size();
    }
    Measure(content, run.frames, point);
    return point;
}

// The frames of a stream of Cinepak frames written one after another: each
// frame's header gives its length in bytes 1–3.
std::optional<std::vector<std::vector<std::uint8_t>>> SplitFrames(const std::vector<std::uint8_t>& stream) {
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t at = 0; at < stream.size();) {
        if (stream.size() - at < 10) return std::nullopt;
        const std::size_t length = std::size_t{stream[at + 1]} << 16 | std::size_t{stream[at + 2]} << 8 | stream[at + 3];
        if (length < 10 || length > stream.size() - at) return std::nullopt;
        frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    }
    return frames;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The pictures as 24-bit RGB, libavcodec's encoder's own input format, so
// that the ffmpeg tool converts nothing.
void WriteRgb(const std::vector<Picture>& content, std::size_t frames, const std::filesystem::path& path) {
    std::ofstream file(path, std::ios::binary);
    std::vector<char> row(static_cast<std::size_t>(kWidth) * kHeight * 3);
    for (std::size_t n = 0; n < frames; ++n) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(kWidth) * kHeight; ++i)
            for (int c = 0; c < 3; ++c) row[i * 3 + c] = static_cast<char>(content[n][i * 4 + 2 - c]);
        file.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
}

std::vector<std::string> LibavcodecArguments(const std::string& input, int q, const std::string& output) {
    return {"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-f", "rawvideo", "-pix_fmt", "rgb24",
            "-s", std::to_string(kWidth) + "x" + std::to_string(kHeight), "-r", std::to_string(kRate), "-i", input,
            "-c:v", "cinepak", "-q:v", std::to_string(q), "-keyint_min", std::to_string(kKeyDistance), "-f", "rawvideo", output};
}

std::string FfmpegVersion() {
    std::string line;
    if (FILE* p = popen("ffmpeg -version", "r")) {
        char text[256];
        if (std::fgets(text, sizeof text, p)) line = text;
        pclose(p);
    }
    return line;
}

// Runs the commands, as many at once as there are cores, and answers each
// one's processor seconds (its own, from wait4), or a negative number for a
// command that failed.
std::vector<double> RunAll(const std::vector<std::vector<std::string>>& commands) {
    const std::size_t parallel = std::max(1u, std::thread::hardware_concurrency());
    std::vector<double> seconds(commands.size(), -1);
    std::map<pid_t, std::size_t> running;
    std::size_t next = 0;
    while (next < commands.size() || !running.empty()) {
        while (next < commands.size() && running.size() < parallel) {
            std::vector<char*> args;
            for (const std::string& a : commands[next]) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
            pid_t pid = 0;
            if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) running[pid] = next;
            posix_spawn_file_actions_destroy(&actions);
            ++next;
        }
        if (running.empty()) continue;
        int status = 0;
        rusage usage{};
        const pid_t pid = wait4(-1, &status, 0, &usage);
        if (pid < 0) continue;
        const auto found = running.find(pid);
        if (found == running.end()) continue;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            seconds[found->second] = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        running.erase(found);
    }
    return seconds;
}

// libavcodec's encodes at every q: kept ones read back, missing ones made.
std::vector<Point> Libavcodec(const std::vector<Picture>& content, const std::filesystem::path& folder, bool fresh,
                              std::span<const int> qualities) {
    std::uint64_t key = footage::Hash(nullptr, 0);
    for (const Picture& p : content) key = footage::Hash(p.data(), p.size(), key);
    const std::string version = FfmpegVersion();
    key = footage::Hash(version.data(), version.size(), key);
    const std::filesystem::path raw = TemporaryFolder() / ("vantro-bench-footage-" + std::to_string(getpid()) + ".rgb");
    std::vector<std::filesystem::path> streams;
    std::vector<std::vector<std::string>> commands;
    std::vector<std::size_t> made;
    for (int q : qualities) {
        std::string arguments;
        for (const std::string& a : LibavcodecArguments("", q, "")) arguments += a + '\n';
        const std::string name = "libavcodec-" + footage::Hex(footage::Hash(arguments.data(), arguments.size(), key));
        streams.push_back(folder / (name + ".cvid"));
        if (!fresh && std::filesystem::exists(streams.back()) && std::filesystem::exists(folder / (name + ".seconds"))) continue;
        made.push_back(streams.size() - 1);
        commands.push_back(LibavcodecArguments(raw.string(), q, streams.back().string() + ".partial"));
    }
    if (!commands.empty()) {
        std::fprintf(stderr, "making %zu of libavcodec's encodes on %u cores (minutes; kept for later runs)...\n",
                     commands.size(), std::max(1u, std::thread::hardware_concurrency()));
        WriteRgb(content, content.size(), raw);
        const std::vector<double> seconds = RunAll(commands);
        std::filesystem::remove(raw);
        for (std::size_t i = 0; i < made.size(); ++i) {
            if (seconds[i] < 0) {
                std::fprintf(stderr, "the ffmpeg tool failed on libavcodec's encode at -q:v %d\n", qualities[made[i]]);
                std::exit(1);
            }
            const std::filesystem::path& stream = streams[made[i]];
            std::ofstream(std::filesystem::path(stream).replace_extension(".seconds")) << seconds[i] << '\n';
            std::filesystem::rename(stream.string() + ".partial", stream);
        }
    }
    std::vector<Point> points;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        Point point;
        point.encoder = "libavcodec";
        point.setting = "-q:v " + std::to_string(qualities[i]);
        point.kept = std::find(made.begin(), made.end(), i) == made.end();
        std::ifstream(std::filesystem::path(streams[i]).replace_extension(".seconds")) >> point.processorSeconds;
        const auto frames = SplitFrames(ReadFile(streams[i]));
        if (!frames || frames->size() != content.size()) {
            std::fprintf(stderr, "%s: not %zu Cinepak frames\n", streams[i].c_str(), content.size());
            std::exit(1);
        }
        Measure(content, *frames, point);
        points.push_back(std::move(point));
    }
    return points;
}

// Both encoders on the first frames in this run, one after the other, each
// the fastest of kSpeedRuns (the machine's other work only ever slows a
// run): frames per processor second. Ours at `kbps`, libavcodec at `q`.
std::pair<double, double> SpeedCheck(const std::vector<Picture>& content, std::uint32_t kbps, int q) {
    const std::vector<Picture> excerpt(content.begin(), content.begin() + kSpeedFrames);
    const std::filesystem::path raw = TemporaryFolder() / ("vantro-bench-footage-speed-" + std::to_string(getpid()) + ".rgb");
    const std::string out = raw.string() + ".cvid";
    WriteRgb(excerpt, excerpt.size(), raw);
    double ours = 1e300, theirs = 1e300;
    for (int run = 0; run < kSpeedRuns; ++run) {
        ours = std::min(ours, RunOurs(excerpt, kWidth, kHeight, kbps).processorSeconds);
        const double seconds = RunAll({LibavcodecArguments(raw.string(), q, out)})[0];
        if (seconds > 0) theirs = std::min(theirs, seconds);
    }
    std::filesystem::remove(raw);
    std::filesystem::remove(out);
    return {kSpeedFrames / ours, theirs < 1e300 ? kSpeedFrames / theirs : 0};
}

void PrintPointHeader() {
    std::printf("%-10s %-11s %8s %7s  %6s  %-13s  %6s  %-13s  %8s  %s\n", "encoder", "setting", "bytes", "kbit/s", "PSNR-Y",
                "worst (frame)", "first", "after cuts", "frames/s", "mean/target  peak 1 s");
}

void PrintPoint(const Point& p) {
    int worst = 0, worstCut = 0;
    for (int n = 0; n < kFrames; ++n)
        if (p.error[n] > p.error[worst]) worst = n;
    for (int s = 1; s < footage::kScenes; ++s)
        for (int n = s * kSceneFrames; n < s * kSceneFrames + kAfterCut; ++n)
            if (worstCut == 0 || p.error[n] > p.error[worstCut]) worstCut = n;
    std::printf("%-10s %-11s %8zu %7.1f  %6.2f  %6.2f (%4d)  %6.2f  %6.2f (%4d)  %8.1f", p.encoder.c_str(), p.setting.c_str(),
                p.Total(), p.Kbps(), PsnrOver(p.error, 0, kFrames), Psnr(p.error[worst]), worst, Psnr(p.error[0]),
                Psnr(p.error[worstCut]), worstCut, kFrames / p.processorSeconds);
    // The data-rate rules: the mean within 5 % of the target, and no
    // one-second window (15 frames) after the first second above 1.3×.
    // libavcodec's encoder has no target: its windows are measured against
    // its own mean.
    const double perSecond = p.target != 0 ? p.target * 1024 / 8.0 : p.Total() / (static_cast<double>(kFrames) / kRate);
    const double peak = static_cast<double>(held::PeakSecond(p.bytes, kRate, kRate)) / perSecond;
    if (p.target != 0) {
        const double mean = p.Total() / (static_cast<double>(kFrames) / kRate) / perSecond;
        std::printf("  %5.3f %-5s  %4.2f %s", mean, std::abs(mean - 1) <= 0.05 ? "ok" : "MISS", peak, peak <= 1.3 ? "ok" : "OVER");
    } else {
        std::printf("  (its mean)   %4.2f%s", peak, p.kept ? "  (timed in an earlier run)" : "");
    }
    std::printf("\n");
}

void PrintSceneHeader(const char* title) {
    std::printf("%s\n%-22s", title, "");
    for (const footage::Scene& s : footage::kSceneList) std::printf(" %9s", s.name);
}

// PSNR-Y of each scene; of the first frame; and the worst of the frames
// right after each cut.
void PrintScenes(const Point& p) {
    std::printf("%-10s %-11s", p.encoder.c_str(), p.setting.c_str());
    for (int s = 0; s < footage::kScenes; ++s) std::printf(" %9.2f", PsnrOver(p.error, s * kSceneFrames, (s + 1) * kSceneFrames));
    std::printf("   %6.2f", Psnr(p.error[0]));
    for (int s = 1; s < footage::kScenes; ++s) {
        double worst = 0;
        for (int n = s * kSceneFrames; n < s * kSceneFrames + kAfterCut; ++n) worst = std::max(worst, p.error[n]);
        std::printf(" %6.2f", Psnr(worst));
    }
    std::printf("\n");
}

// kbit/s of each scene: where each encoder spends its bytes.
void PrintSceneRates(const Point& p) {
    std::printf("%-10s %-11s", p.encoder.c_str(), p.setting.c_str());
    for (int s = 0; s < footage::kScenes; ++s) {
        std::size_t bytes = 0;
        for (int n = s * kSceneFrames; n < (s + 1) * kSceneFrames; ++n) bytes += p.bytes[n];
        std::printf(" %9.1f", bytes * 8.0 / 1024 / footage::kSceneSeconds);
    }
    std::printf("\n");
}

// Rate and PSNR-Y of each point; with `colour`, PSNR over R, G and B.
std::vector<bjontegaard::Point> Curve(const std::vector<Point>& points, bool colour = false) {
    std::vector<bjontegaard::Point> curve;
    for (const Point& p : points) curve.push_back({p.Kbps(), PsnrOver(colour ? p.colour : p.error, 0, kFrames)});
    return curve;
}

void PrintDeltas(const char* who, const std::vector<bjontegaard::Point>& b, const char* against,
                 const std::vector<bjontegaard::Point>& a, const char* measure = "PSNR-Y") {
    const auto range = [](const std::vector<bjontegaard::Point>& c, bool psnr) {
        double low = 1e300, high = -1e300;
        for (const auto& p : c) low = std::min(low, psnr ? p.psnr : p.rate), high = std::max(high, psnr ? p.psnr : p.rate);
        return std::pair{low, high};
    };
    const auto [aq0, aq1] = range(a, true);
    const auto [bq0, bq1] = range(b, true);
    const auto [ar0, ar1] = range(a, false);
    const auto [br0, br1] = range(b, false);
    const auto show = [](std::optional<double> v, const char* unit) {
        if (v) std::printf("%+.1f%s", *v, unit);
        else std::printf("none (no overlap)");
    };
    std::printf("BD-rate of %s against %s (rate at equal %s, over %.2f-%.2f dB): cubic fit ", who, against, measure,
                std::max(aq0, bq0), std::min(aq1, bq1));
    show(bjontegaard::DeltaRate(a, b, bjontegaard::Fit::Cubic), " %");
    std::printf(", piecewise cubic ");
    show(bjontegaard::DeltaRate(a, b, bjontegaard::Fit::PiecewiseCubic), " %");
    std::printf("\nBD-PSNR of %s against %s (%s at equal rate, over %.0f-%.0f kbit/s): cubic fit ", who, against, measure,
                std::max(ar0, br0), std::min(ar1, br1));
    const auto dq = bjontegaard::DeltaPsnr(a, b, bjontegaard::Fit::Cubic);
    const auto dqp = bjontegaard::DeltaPsnr(a, b, bjontegaard::Fit::PiecewiseCubic);
    if (dq) std::printf("%+.2f dB", *dq);
    std::printf(", piecewise cubic ");
    if (dqp) std::printf("%+.2f dB", *dqp);
    std::printf("\n");
}

// Each scene of the clip alone.
std::vector<Picture> Scene(const std::vector<Picture>& content, int s) {
    return {content.begin() + s * kSceneFrames, content.begin() + (s + 1) * kSceneFrames};
}

// libavcodec's encoder, each scene encoded alone at every one of kHeldQualities.
std::vector<std::vector<held::Encode>> LibavcodecScenes(const std::vector<Picture>& content, const std::filesystem::path& cache,
                                                        bool fresh) {
    std::vector<std::vector<held::Encode>> scenes(footage::kScenes);
    for (int s = 0; s < footage::kScenes; ++s)
        for (Point& p : Libavcodec(Scene(content, s), cache, fresh, kHeldQualities))
            scenes[s].push_back({std::move(p.bytes), std::move(p.error)});
    return scenes;
}

// Ours at one slope, each scene encoded alone at every one of kHeldSlopes.
std::vector<std::vector<held::Encode>> OurScenes(const std::vector<Picture>& content) {
    std::vector<std::vector<held::Encode>> scenes(footage::kScenes);
    for (int s = 0; s < footage::kScenes; ++s)
        for (double slope : kHeldSlopes) {
            Point p = Ours(Scene(content, s), 0, slope);
            scenes[s].push_back({std::move(p.bytes), std::move(p.error)});
        }
    return scenes;
}

// An encoder held to our data-rate rules as well as it could be
// (bench/held_to_rules.h), from each scene encoded alone at `scenes`'
// settings: its curve, and at each of our rates its best way spending no
// more, with how far its worst frame falls below its mean beside ours.
held::Curve PrintHeld(const char* who, const std::vector<std::vector<held::Encode>>& scenes, const std::vector<Point>& ourPoints) {
    const std::vector<bjontegaard::Point> ours = Curve(ourPoints);
    std::vector<double> ourWorst; // PSNR-Y of each point's worst frame
    for (const Point& p : ourPoints) ourWorst.push_back(Psnr(*std::max_element(p.error.begin(), p.error.end())));
    const held::Curve curve = held::HeldToTheRules(scenes, kRate);
    std::printf("\n%s held to our rules, each scene encoded alone at %zu settings: of %zu ways to choose them, %zu meet "
                "the rules; the best %zu at their rates make its curve\n",
                who, scenes.front().size(), curve.ways, curve.meeting, curve.points.size());
    std::printf("its best at no more than ours' rates, PSNR-Y and worst frame below it (ours):\n");
    for (const bjontegaard::Point& p : ours) {
        std::size_t at = curve.points.size();
        for (std::size_t i = 0; i < curve.points.size(); ++i)
            if (curve.points[i].rate <= p.rate) at = i;
        std::printf("  %4.0f kbit/s", p.rate);
        if (at == curve.points.size()) {
            std::printf("  none\n");
            continue;
        }
        double worst = 0;
        for (std::size_t s = 0; s < scenes.size(); ++s)
            for (double e : scenes[s][curve.choices[at][s]].error) worst = std::max(worst, e);
        std::printf("  %5.2f dB  %4.2f dB (ours %5.2f dB  %4.2f dB)\n", curve.points[at].psnr, curve.points[at].psnr - Psnr(worst), p.psnr,
                    p.psnr - ourWorst[&p - ours.data()]);
    }
    PrintDeltas("ours", ours, (std::string(who) + " held to our rules").c_str(), curve.points);
    return curve;
}

// Each scene alone: its rate and PSNR-Y at every point, ours against
// libavcodec's. libavcodec's encoder, coding every frame at one λ, spends
// five to ten times as much on a busy scene as on a still one, which the
// data-rate rules do not allow ours (no second above 1.3 times the rate);
// scene by scene the curves compare the coding apart from where the bytes go.
void PrintSceneDeltas(const std::vector<Point>& ours, const std::vector<Point>& theirs) {
    std::printf("scene by scene, at each scene's own rate: BD-rate (cubic fit), BD-PSNR\n");
    for (int s = 0; s < footage::kScenes; ++s) {
        auto curve = [&](const std::vector<Point>& points) {
            std::vector<bjontegaard::Point> c;
            for (const Point& p : points) {
                std::size_t bytes = 0;
                for (int n = s * kSceneFrames; n < (s + 1) * kSceneFrames; ++n) bytes += p.bytes[n];
                c.push_back({bytes * 8.0 / 1024 / footage::kSceneSeconds, PsnrOver(p.error, s * kSceneFrames, (s + 1) * kSceneFrames)});
            }
            return c;
        };
        const auto a = curve(theirs), b = curve(ours);
        const auto rate = bjontegaard::DeltaRate(a, b, bjontegaard::Fit::Cubic);
        const auto psnr = bjontegaard::DeltaPsnr(a, b, bjontegaard::Fit::Cubic);
        std::printf("  %-10s", footage::kSceneList[s].name);
        if (rate) std::printf(" %+6.1f %%", *rate);
        else std::printf("   none  ");
        if (psnr) std::printf("  %+5.2f dB\n", *psnr);
        else std::printf("  none (no overlap)\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool fresh = argc > 1 && std::string(argv[1]) == "--fresh";
    const std::filesystem::path cache = VANTRO_BENCH_CACHE_DIR;
    const std::string clip = footage::Make(cache, fresh);
    if (clip.empty()) return 1;
    const std::vector<Picture> content = MovieContent(clip, kWidth, kHeight, kFrames);
    if (content.size() != static_cast<std::size_t>(kFrames)) {
        std::fprintf(stderr, "%s: %zu frames at 15 frames/s, not %d\n", clip.c_str(), content.size(), kFrames);
        return 1;
    }

    std::vector<Point> ours;
    for (std::uint32_t kbps : kTargets) ours.push_back(Ours(content, kbps));
    std::vector<Point> oneSlope;
    for (double slope : kSlopes) oneSlope.push_back(Ours(content, 0, slope));
    const std::vector<Point> theirs = Libavcodec(content, cache, fresh, kQualities);

    std::printf("Real footage: %d s from photographs (%s), 640x480 at 30 frames/s, as the converter sees it:\n",
                footage::kScenes * footage::kSceneSeconds, footage::kPhotoPackage);
    std::printf("%d frames of %dx%d at %d frames/s; scenes (cuts at frames", kFrames, kWidth, kHeight, kRate);
    for (int s = 1; s < footage::kScenes; ++s) std::printf(" %d", s * kSceneFrames);
    std::printf("), mean source luma:");
    for (int s = 0; s < footage::kScenes; ++s) {
        double sum = 0;
        for (int n = s * kSceneFrames; n < (s + 1) * kSceneFrames; ++n)
            for (std::size_t i = 0; i < content[n].size(); i += 4) sum += Luma(&content[n][i]);
        std::printf(" %s %.0f", footage::kSceneList[s].name, sum / (kSceneFrames * kWidth * kHeight));
    }
    std::printf("\nkbit = 1024 bits; PSNR-Y (dB) from the squared error summed over the frames; frames/s per processor second;\n"
                "'after cuts' is the worst of the %d frames from each cut on; ours' data-rate rules: mean rate / target\n"
                "(within 5 %%) and the peak one-second window after the first second / target (at most 1.3);\n"
                "libavcodec's and ours at one slope, which have no target: the peak one-second window / the mean rate\n\n", kAfterCut);
    PrintPointHeader();
    for (const Point& p : ours) PrintPoint(p);
    for (const Point& p : theirs) PrintPoint(p);
    for (const Point& p : oneSlope) PrintPoint(p);

    std::printf("\n");
    PrintSceneHeader("PSNR-Y by scene; of the first frame; the worst of the frames after each cut:");
    std::printf("    first");
    for (int s = 1; s < footage::kScenes; ++s) std::printf(" %6s", ("f." + std::to_string(s * kSceneFrames)).c_str());
    std::printf("\n");
    for (const Point& p : ours) PrintScenes(p);
    for (const Point& p : theirs) PrintScenes(p);
    std::printf("\n");
    PrintSceneHeader("kbit/s by scene:");
    std::printf("\n");
    for (const Point& p : ours) PrintSceneRates(p);
    for (const Point& p : theirs) PrintSceneRates(p);
    std::printf("\n");
    PrintDeltas("ours", Curve(ours), "libavcodec", Curve(theirs));
    PrintDeltas("ours at one slope", Curve(oneSlope), "libavcodec", Curve(theirs));
    PrintDeltas("ours", Curve(ours, true), "libavcodec", Curve(theirs, true), "PSNR over R, G and B");
    PrintHeld("libavcodec", LibavcodecScenes(content, cache, fresh), ours);
    // What the rules cost our coding, whatever a rate control did: ours at
    // one slope, each scene's slope chosen knowing the whole clip.
    const held::Curve bound = PrintHeld("ours at one slope", OurScenes(content), ours);
    PrintDeltas("ours at one slope held to our rules", bound.points, "libavcodec", Curve(theirs));
    PrintSceneDeltas(ours, theirs);

    double ourSeconds = 0, theirSeconds = 0;
    bool kept = false;
    for (const Point& p : ours) ourSeconds += p.processorSeconds;
    for (const Point& p : theirs) theirSeconds += p.processorSeconds, kept = kept || p.kept;
    const double ourSpeed = ours.size() * kFrames / ourSeconds, theirSpeed = theirs.size() * kFrames / theirSeconds;
    std::printf("speed over all points: ours %.1f frames/s, libavcodec %.2f frames/s%s: ours %.0fx as fast\n", ourSpeed, theirSpeed,
                kept ? " (timed when its encodes were made)" : "", ourSpeed / theirSpeed);
    // The libavcodec setting nearest our 620 kbit/s point in size, both on
    // the same frames now.
    std::size_t nearest = 0;
    for (std::size_t i = 0; i < theirs.size(); ++i)
        if (std::abs(std::log(theirs[i].Kbps() / 620)) < std::abs(std::log(theirs[nearest].Kbps() / 620))) nearest = i;
    const auto [ourCheck, theirCheck] = SpeedCheck(content, 620, kQualities[nearest]);
    std::printf("speed in this run, first %d frames: ours at 620 kbit/s %.1f frames/s, libavcodec at -q:v %d %.2f frames/s: "
                "ours %.0fx as fast\n", kSpeedFrames, ourCheck, kQualities[nearest], theirCheck, ourCheck / theirCheck);
    std::size_t stored = 0, coded = 0;
    int undecodable = 0;
    for (const Point& p : ours) stored += p.stored, coded += p.Total(), undecodable += p.undecodable;
    std::printf("the writer's repack stores ours in %.1f %% fewer bytes than the Cinepak frames counted above\n",
                100.0 * (1 - static_cast<double>(stored) / coded));
    if (undecodable == 0)
        std::printf("decoding: all %zu of our frames decode with libavcodec's Cinepak decoder\n", ours.size() * kFrames);
    else
        std::printf("decoding: %d of our %zu frames FAIL to decode with libavcodec's Cinepak decoder\n", undecodable,
                    ours.size() * kFrames);
    return undecodable == 0 ? 0 : 1;
}
