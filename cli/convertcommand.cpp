// vantro convert: files and folders through the batch runner, with a
// progress line per file and the outcomes at the end, as a table or as one
// JSON object per file.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>

#include "cli/commands.h"
#include "cli/progressline.h"
#include "cli/sources.h"
#include "delivery/outputfile.h"
#include "engine/batchrunner.h"
#include "presets/presets.h"

namespace {

// Ctrl-C: the first cancels the current file, a second (whenever it comes)
// the rest. SIGTERM and SIGHUP (a shutdown, a closed terminal) cancel the
// rest at once. The handlers are in place before anything is converted and
// the runner keeps a cancel that comes before its first file, so no early
// Ctrl-C is lost. Either way the runner ends the file in progress as a
// cancelled one: its partial output and temporary files go, and the exit
// status is 128 + the signal's number.
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
        gInterrupts = 0;
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

const char* Outcome(FileState s) {
    switch (s) {
    case FileState::Converted: return "converted";
    case FileState::Failed: return "failed";
    case FileState::Cancelled: return "cancelled";
    default: return "not converted";
    }
}

// The output folder must take files before any source is opened: a run
// into a folder it cannot write says so once, not once per file.
bool CheckOutputFolder(const FileSpec& folder, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec)) {
        if (std::filesystem::create_directories(folder, ec); !ec) return true;
        return error = folder.string() + ": the folder cannot be made: " + ec.message(), false;
    }
    if (!std::filesystem::is_directory(folder, ec)) return error = folder.string() + ": is a file, not a folder", false;
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return error = folder.string() + ": cannot write into it: " + std::error_code(errno, std::generic_category()).message(), false;
    return true;
}

// The settings of the run: the preset asked for, else those of the last
// exit (set by `vantro presets use`), with the options over them.
bool ChooseSettings(const Application& app, const ConvertOptions& o, AtomContainer& settings, std::vector<std::string>& notes,
                    std::string& error) {
    if (o.preset) {
        if (!LookUpPreset(*o.preset, settings, error)) return false;
    } else if (app.settings.CopyTo(settings) != noErr) {
        return error = "out of memory", false;
    }
    return ApplySettingOptions(o.settings, settings, notes, error);
}

std::string OutputBase(const FileSpec& source, const RunOptions& run) {
    std::string base;
    if (OutputBaseName(source, run.movieName, base) != noErr) return source.stem().string();
    return base;
}

// Sources whose database is in the destination already stay as they are.
void SkipConverted(SourceList& sources, const RunOptions& run) {
    std::vector<FileSpec> kept;
    for (const FileSpec& f : sources.files) {
        const FileSpec pdb = OutputFolder(f, run.toSourceFolder, run.exportFolder) / (OutputBase(f, run) + ".pdb");
        if (NameTaken(pdb)) sources.skipped.push_back({f, "already converted: " + pdb.string()});
        else kept.push_back(f);
    }
    sources.files = std::move(kept);
}

void PrintJson(const FileRecord& f) {
    nlohmann::json line = {{"source", f.source.string()}, {"outcome", Outcome(f.state)}, {"seconds", f.seconds}};
    line["output"] = f.state == FileState::Converted ? nlohmann::json(f.output.string()) : nlohmann::json(nullptr);
    std::error_code ec;
    line["bytes"] = f.state == FileState::Converted ? nlohmann::json(std::filesystem::file_size(f.output, ec)) : nlohmann::json(nullptr);
    std::string message = f.status;
    if (!f.detail.empty()) message += (message.empty() ? "" : ": ") + f.detail;
    line["message"] = message;
    std::printf("%s\n", line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void PrintSkipped(const SkippedSource& s, bool json) {
    if (json) {
        const nlohmann::json line = {{"source", s.path.string()}, {"outcome", s.refused ? "failed" : "skipped"}, {"message", s.reason}};
        std::printf("%s\n", line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
        std::printf("%-13s %s: %s\n", s.refused ? "failed" : "skipped", s.path.string().c_str(), s.reason.c_str());
    }
}

void PrintRecord(std::FILE* out, const FileRecord& f) {
    std::fprintf(out, "%-13s %s", Outcome(f.state), f.source.string().c_str());
    if (f.state == FileState::Converted) std::fprintf(out, " -> %s", f.output.string().c_str());
    if (!f.status.empty()) std::fprintf(out, ": %s", f.status.c_str());
    if (!f.detail.empty()) std::fprintf(out, " (%s)", f.detail.c_str());
    std::fprintf(out, "\n");
}

int DryRun(const SourceList& sources, const RunOptions& run, const AtomContainer& settings, bool verbose) {
    std::printf("Would convert %zu file%s with %s\n", sources.files.size(), sources.files.size() == 1 ? "" : "s",
                DescribeSettingsLine(settings).c_str());
    for (const FileSpec& f : sources.files)
        std::printf("  %s -> %s\n", f.string().c_str(),
                    ProposedOutput(OutputFolder(f, run.toSourceFolder, run.exportFolder), OutputBase(f, run)).string().c_str());
    for (const SkippedSource& s : sources.skipped)
        if (verbose || s.refused) PrintSkipped(s, false);
    return 0;
}

} // namespace

void AddConvertOptions(CLI::App& c, ConvertOptions& o) {
    c.add_option("files", o.files, "movies, sound files and folders of them")->type_name("FILE|FOLDER");
    c.add_option("-p,--preset", o.preset, "a device preset or one of your own (see: vantro presets)")->type_name("NAME");
    CLI::Option* out = c.add_option("-o,--out", o.out, "where the databases go (default: beside each source)")->type_name("FOLDER");
    c.add_option("--to", o.to,
                 "onto the handheld: its card (the only removable drive, or the card mounted at PATH) or a HotSync "
                 "user's install queue (see: vantro devices)")
        ->type_name("card[:PATH]|hotsync[:USER][:card]")
        ->excludes(out);
    c.add_option("--name", o.name, "the movie's name (one file only)")->type_name("MOVIE");
    c.add_option("-j,--jobs", o.jobs, "files converted at a time (default: one per core; 1: one after the other)")
        ->check(CLI::Range(1, 64))
        ->type_name("N");
    c.add_flag("-r,--recursive", o.recursive, "also convert inside the folders of a folder");
    c.add_flag("--skip-existing", o.skipExisting, "leave a source alone when its .pdb is in the destination already");
    c.add_flag("-n,--dry-run", o.dryRun, "say what would be converted, with the settings and the output names");
    c.add_flag("--json", o.json, "one JSON object per file on standard output (source, output, outcome, message, seconds, bytes)");
    c.add_flag("-q,--quiet", o.quiet, "no progress and no table: only what failed");
    c.add_flag("-v,--verbose", o.verbose, "also what was skipped and why");
    AddSettingOptions(c, o.settings);
}

int RunConvert(Application& app, const ConvertOptions& o, std::vector<FileSpec>* made) {
    // The signals first: a Ctrl-C from here on is heard.
    BatchRunner runner;
    const SignalScope signals(runner);

    AtomContainer settings;
    std::vector<std::string> notes;
    std::string error;
    if (!ChooseSettings(app, o, settings, notes, error)) {
        std::fprintf(stderr, "vantro: %s\n", error.c_str());
        return kExitUsage;
    }
    RunOptions run;
    if (o.out) {
        run.toSourceFolder = false;
        run.exportFolder = *o.out;
        if (!CheckOutputFolder(run.exportFolder, error)) {
            std::fprintf(stderr, "vantro: %s\n", error.c_str());
            return kExitUsage;
        }
    } else if (o.to && !ChooseDelivery(*o.to, run, error)) {
        std::fprintf(stderr, "vantro: %s\n", error.c_str());
        return kExitUsage;
    }
    SourceList sources = CollectSources(o.files, o.recursive);
    if (o.name) {
        if (sources.files.size() != 1) {
            std::fprintf(stderr, "vantro: --name names one file only\n");
            return kExitUsage;
        }
        // As the naming dialog does: the source's extension goes after the
        // typed name, so that a full stop in the name stays.
        run.movieName = *o.name + sources.files[0].extension().string();
    }
    if (o.skipExisting) SkipConverted(sources, run);
    if (sources.files.empty() && sources.skipped.empty()) {
        std::fprintf(stderr, "vantro: no files to convert (see: vantro convert --help)\n");
        return kExitUsage;
    }
    for (const std::string& note : notes) std::fprintf(stderr, "vantro: %s\n", note.c_str());
    if (o.dryRun) return DryRun(sources, run, settings, o.verbose);

    std::vector<FileRecord> files;
    for (const FileSpec& f : sources.files) {
        FileRecord& record = files.emplace_back();
        record.source = f;
    }
    run.settings = &settings;
    run.jobs = o.jobs;
    const bool table = !o.json && !o.quiet;
    if (table && !files.empty()) {
        std::printf("Converting %zu file%s with %s\n", files.size(), files.size() == 1 ? "" : "s", DescribeSettingsLine(settings).c_str());
        std::fflush(stdout); // before the progress on standard error, so that a log reads in order
    }
    ProgressLine progress(files, table);
    if (OSErr err = runner.Run(files, run, progress)) {
        std::fprintf(stderr, "vantro: the conversion engine could not be opened (error %d)\n", static_cast<int>(err));
        return kExitFailed;
    }

    int failed = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const FileRecord& f = files[i];
        if (f.state == FileState::Converted && made != nullptr) made->push_back(f.output);
        if (f.state != FileState::Converted) ++failed;
        if (o.json) PrintJson(f);
        else if (table) PrintRecord(stdout, f);
        else if (f.state == FileState::Failed) PrintRecord(stderr, f);
    }
    for (const SkippedSource& s : sources.skipped) {
        if (s.refused) ++failed;
        if (o.json || s.refused || o.verbose) PrintSkipped(s, o.json);
    }
    if (gSignal != 0 && failed != 0) return 128 + gSignal;
    return failed == 0 ? 0 : kExitFailed;
}
