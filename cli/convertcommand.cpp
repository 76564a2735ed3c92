// vantro convert: files and folders through the batch runner, with a
// progress line per file and a table of outcomes at the end.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <set>

#include "cli/commands.h"
#include "engine/batchrunner.h"
#include "presets/presets.h"

namespace {

// Ctrl-C: the first cancels the current file, a second during the same
// file cancels the rest. SIGTERM and SIGHUP (a shutdown, a closed
// terminal) cancel the rest at once. Either way the runner ends the file in
// progress as a cancelled one: its partial output and temporary files go,
// and the exit status is 128 + the signal's number.
std::atomic<BatchRunner*> gRunner{nullptr};
std::atomic<int> gInterrupts{0};
volatile std::sig_atomic_t gSignal = 0;

extern "C" void OnSignal(int signal) {
    gSignal = signal;
    BatchRunner* runner = gRunner.load();
    if (runner == nullptr) return;
    if (signal == SIGINT && gInterrupts.fetch_add(1) == 0) runner->CancelCurrent();
    else runner->CancelAll();
}

// Catches the cancelling signals while a run lasts, and puts the previous
// handlers back afterwards.
class SignalScope {
public:
    explicit SignalScope(BatchRunner& runner) {
        gRunner = &runner;
        gSignal = 0;
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &action, &previous_[i]);
        // A reader of our output that went away (a closed pipe) must not
        // kill the run halfway through a file: writes just fail.
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &previousPipe_);
    }
    ~SignalScope() {
        for (std::size_t i = 0; i < kSignals.size(); ++i) sigaction(kSignals[i], &previous_[i], nullptr);
        sigaction(SIGPIPE, &previousPipe_, nullptr);
        gRunner = nullptr;
    }
    SignalScope(const SignalScope&) = delete;
    SignalScope& operator=(const SignalScope&) = delete;

private:
    static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
    std::array<struct sigaction, 3> previous_{};
    struct sigaction previousPipe_ {};
};

// Extensions of the files a folder contributes.
bool IsMediaFile(const std::filesystem::path& p) {
    static const std::set<std::string> kExtensions = {
        ".3gp", ".aac", ".aif", ".aiff", ".asf", ".avi", ".bmp", ".dat", ".dv", ".flac", ".flv", ".gif", ".jpeg", ".jpg",
        ".m2v", ".m4a", ".m4v", ".mkv", ".mov", ".mp2", ".mp3", ".mp4", ".mpeg", ".mpg", ".ogg", ".ogv", ".png",
        ".qt", ".tif", ".tiff", ".ts", ".vob", ".wav", ".webm", ".webp", ".wma", ".wmv"};
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return kExtensions.count(ext) != 0;
}

std::string Clock(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

class ConsoleObserver : public RunObserver {
public:
    ConsoleObserver(const std::vector<FileRecord>& files, double framesPerSecond)
        : files_(files), tty_(isatty(STDERR_FILENO) != 0), rate_(framesPerSecond) {}

    void FileStarted(std::size_t index, int ordinal, int total) override {
        gInterrupts = 0;
        start_ = std::chrono::steady_clock::now();
        name_ = files_[index].source.filename().string();
        label_ = "[" + BatchRunner::StatusLine(ordinal, total) + "] ";
        if (!tty_) std::fprintf(stderr, "%s%s\n", label_.c_str(), files_[index].source.string().c_str());
        duration_ = 0;
    }

    void FileLength(std::size_t, std::int64_t milliseconds) override { duration_ = static_cast<double>(milliseconds) / 1000.0; }

    void FileProgress(std::size_t, int permille) override {
        if (!tty_) return;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double done = permille / 1000.0;
        std::string extra;
        if (done > 0.02 && elapsed > 0.2) {
            if (rate_ > 0 && duration_ > 0) {
                char fps[32];
                std::snprintf(fps, sizeof fps, "  %.0f frames/s", done * duration_ * rate_ / elapsed);
                extra += fps;
            }
            extra += "  " + Clock(elapsed * (1 - done) / done) + " left";
        }
        const int width = 24, filled = permille * width / 1000;
        std::fprintf(stderr, "\r\033[K%s[%s%s] %3d %%%s  %s", label_.c_str(), std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(width - filled), '-').c_str(), permille / 10, extra.c_str(), name_.c_str());
    }

    void FileFinished(std::size_t /*index*/, const FileRecord& record) override {
        if (tty_) std::fprintf(stderr, "\r\033[K");
        if (record.state == FileState::Cancelled) std::fprintf(stderr, "%s%s: cancelled\n", label_.c_str(), name_.c_str());
    }

private:
    const std::vector<FileRecord>& files_;
    bool tty_;
    double rate_;
    double duration_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::string name_, label_;
};

const char* StateWord(FileState s) {
    switch (s) {
    case FileState::Converted: return "converted";
    case FileState::Failed: return "failed";
    case FileState::Cancelled: return "cancelled";
    default: return "not converted";
    }
}

void PrintHelp() {
    std::printf("usage: vantro convert FILE|FOLDER... [--preset NAME] [--name MOVIE] [--out FOLDER] [settings]\n"
                "Converts each file (a folder: the media files in it) into a movie database (.pdb).\n\n"
                "  --preset NAME               a device preset or one of your own (see: vantro presets)\n"
                "  --name MOVIE                the movie's name (one file only)\n"
                "  --out FOLDER                where the databases go (default: beside each source)\n"
                "%s\n"
                "Without --preset the settings in force when the program last ended are used, or\n"
                "\"All color Palm OS devices\". Ctrl-C cancels the current file, a second Ctrl-C all;\n"
                "SIGTERM and SIGHUP cancel all. Exit status: 0 all converted, 1 not all, 2 wrong usage,\n"
                "128 + the signal when a signal cancelled a file.\n",
                kSettingOptionsHelp);
}

} // namespace

int ConvertCommand(Application& app, const Arguments& given, std::vector<FileSpec>* made) {
    Arguments args = given;
    std::string error;
    AtomContainer settings;
    if (app.settings.CopyTo(settings) != noErr) return 1;
    // The preset first, then the settings options over it.
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            PrintHelp();
            return 0;
        }
        if (args[i] != "--preset") continue;
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "vantro: --preset needs a name\n");
            return 2;
        }
        const std::string name = args[i + 1];
        if (FindPreset(name, false, &settings) != noErr && FindPreset(name, true, &settings) != noErr) {
            std::fprintf(stderr, "vantro: no preset is called \"%s\" (see: vantro presets)\n", name.c_str());
            return 2;
        }
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        break;
    }
    if (!ApplySettingOptions(args, settings, error)) {
        std::fprintf(stderr, "vantro: %s\n", error.c_str());
        return 2;
    }
    RunOptions options;
    std::vector<FileRecord> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--out" || args[i] == "--name") && i + 1 < args.size()) {
            if (args[i] == "--out") {
                options.toSourceFolder = false;
                options.exportFolder = args[++i];
            } else {
                options.movieName = args[++i];
            }
            continue;
        }
        if (args[i].rfind("--", 0) == 0) {
            std::fprintf(stderr, "vantro: unknown option %s (see: vantro convert --help)\n", args[i].c_str());
            return 2;
        }
        const FileSpec path(args[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            std::vector<FileSpec> inside;
            for (const auto& e : std::filesystem::directory_iterator(path, ec))
                if (e.is_regular_file() && IsMediaFile(e.path())) inside.push_back(e.path());
            std::sort(inside.begin(), inside.end());
            for (const FileSpec& f : inside) files.push_back({f, FileState::Waiting, {}, {}, {}});
        } else {
            files.push_back({path, FileState::Waiting, {}, {}, {}});
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "vantro: no files to convert (see: vantro convert --help)\n");
        return 2;
    }
    if (!options.movieName.empty() && files.size() > 1) {
        std::fprintf(stderr, "vantro: --name names one file only\n");
        return 2;
    }
    // As the naming dialog does: the source's extension goes after the typed
    // name, so that a full stop in the name stays.
    if (!options.movieName.empty()) options.movieName += files[0].source.extension().string();
    options.settings = &settings;

    EditSettings shown;
    UnpackSettings(shown, settings);
    std::printf("Converting %zu file%s with \"%s\"%s\n", files.size(), files.size() == 1 ? "" : "s", shown.name.c_str(),
                shown.customised ? " (customised)" : "");
    BatchRunner runner;
    ConsoleObserver observer(files, shown.frameRate / 65536.0);
    OSErr stopped = noErr;
    {
        const SignalScope signals(runner);
        stopped = runner.Run(files, options, observer);
    }
    if (stopped) {
        std::fprintf(stderr, "vantro: the conversion engine could not be opened (error %d)\n", static_cast<int>(stopped));
        return 1;
    }

    int failed = 0;
    for (const FileRecord& f : files) {
        std::printf("%-13s %s", StateWord(f.state), f.source.string().c_str());
        if (f.state == FileState::Converted) std::printf(" -> %s", f.output.string().c_str());
        if (f.state == FileState::Converted && made != nullptr) made->push_back(f.output);
        if (!f.status.empty()) std::printf(": %s", f.status.c_str());
        if (!f.detail.empty()) std::printf(" (%s)", f.detail.c_str());
        std::printf("\n");
        if (f.state != FileState::Converted) ++failed;
    }
    if (gSignal != 0 && failed != 0) return 128 + gSignal;
    return failed == 0 ? 0 : 1;
}
