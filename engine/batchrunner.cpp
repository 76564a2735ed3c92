// The batch runner: files converted by a few workers, each output reserved,
// converted and moved into place, and told of in the list's order.
#include "engine/batchrunner.h"

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/convert.h"
#include "engine/messages.h"
#include "platform/resources.h"

// One run: the files' shared state, guarded by `lock`.
struct BatchRunner::Batch {
    // Where a file of the run is.
    struct Slot {
        std::size_t index = 0;       // in the list
        unsigned cancels = 0;        // the cancel count its conversion started with
        bool started = false, told = false, finished = false;
        std::int64_t lengthMs = -1;  // once its conversion opened
        int permille = -1;
    };

    BatchRunner& runner;
    std::vector<FileRecord>& files;
    const RunOptions& options;
    RunObserver& observer;
    std::vector<Slot> slots;
    BatchNames names; // kept distinct within the run
    std::mutex lock;
    std::size_t nextStart = 0, nextTold = 0;

    // The sink of one file's conversion.
    class Sink final : public ConversionSink {
    public:
        Sink(Batch& batch, std::size_t slot) : batch_(batch), slot_(slot) {}
        void Started(std::int64_t lengthMs) override {
            const std::lock_guard hold(batch_.lock);
            Slot& s = batch_.slots[slot_];
            s.lengthMs = lengthMs, s.permille = 0;
            if (s.told) {
                batch_.observer.FileLength(s.index, lengthMs);
                batch_.observer.FileProgress(s.index, 0);
            }
        }
        bool Progress(int permille) override {
            {
                const std::lock_guard hold(batch_.lock);
                Slot& s = batch_.slots[slot_];
                s.permille = permille;
                if (s.told) batch_.observer.FileProgress(s.index, permille);
            }
            // A cancelled file's output goes with its reservation.
            return !batch_.Cancelled(slot_);
        }

    private:
        Batch& batch_;
        std::size_t slot_;
    };

    bool Cancelled(std::size_t slot) const {
        return runner.cancelAll_ || runner.cancelCurrent_ != slots[slot].cancels;
    }

    // Takes the next file to convert; false when there is none (or the run
    // was cancelled).
    bool Take(std::size_t& slot) {
        const std::lock_guard hold(lock);
        if (runner.cancelAll_ || nextStart == slots.size()) return false;
        slot = nextStart++;
        Slot& s = slots[slot];
        // The first file hears of a cancel asked for before the run began.
        s.cancels = slot == 0 ? runner.cancelsSeen_ : runner.cancelCurrent_.load();
        s.started = true;
        FileRecord& file = files[s.index];
        file.status.clear();
        file.detail.clear();
        TellInOrder();
        return true;
    }

    // Tells the observer what it has not heard yet, file after file: the
    // start (with the length and progress so far) of the first file not
    // finished, and the end of every finished one before it.
    void TellInOrder() {
        while (nextTold < slots.size()) {
            Slot& s = slots[nextTold];
            if (!s.started) return;
            if (!s.told) {
                s.told = true;
                observer.FileStarted(s.index, static_cast<int>(nextTold) + 1, static_cast<int>(slots.size()));
                if (s.lengthMs >= 0) observer.FileLength(s.index, s.lengthMs);
                if (s.permille >= 0) observer.FileProgress(s.index, s.permille);
            }
            if (!s.finished) return;
            FileRecord& file = files[s.index];
            // Delivery in the list's order: the handheld's queue keeps it.
            if (file.state == FileState::Converted && options.deliver)
                if (OSErr delivered = options.deliver(file.output)) {
                    file.state = FileState::Failed;
                    file.status = ConversionMessage(delivered);
                    file.detail = "not queued; the movie is in " + file.output.string();
                }
            observer.FileFinished(s.index, file);
            ++nextTold;
        }
    }

    void Convert(std::size_t slot) {
        FileRecord& file = files[slots[slot].index];
        if (!options.toSourceFolder && !options.exportFolder.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(options.exportFolder, ec);
        }
        const auto start = std::chrono::steady_clock::now();
        ConversionJob job;
        job.source = file.source;
        // The settings as the engine reads them; settings that cannot be
        // read fail the file with their error.
        const OSErr read = options.settings != nullptr ? SetExportSettings(job.settings, options.settings) : noErr;
        job.toSourceFolder = options.toSourceFolder;
        job.exportFolder = options.exportFolder;
        job.movieName = options.movieName;
        job.batchNames = &names;
        // Conversions side by side have the cores between them: a decoder
        // with threads of its own would only take them from the others.
        job.decoderThreads = options.jobs > 1 && slots.size() > 1 ? 1 : 0;
        Sink sink(*this, slot);
        job.sink = &sink;
        ConversionReport report;
        const OSErr err = read != noErr ? read : ::Convert(job, report);
        const std::lock_guard hold(lock);
        file.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (err == noErr || err == noSoundTrackInMovieErr) {
            file.state = FileState::Converted;
            file.output = report.output;
            // The warning: the file is complete, without its sound.
            if (err == noSoundTrackInMovieErr) file.status = ConversionMessage(err);
        } else if (err == userCanceledErr || err == progressProcAborted || Cancelled(slot)) {
            file.state = FileState::Cancelled;
        } else {
            file.state = FileState::Failed;
            file.status = ConversionMessage(err, report.missingDecoder);
            file.detail = report.detail;
        }
        slots[slot].finished = true;
        TellInOrder();
    }

    void Work() {
        for (std::size_t slot = 0; Take(slot);) Convert(slot);
    }
};

std::string BatchRunner::StatusLine(int ordinal, int total) {
    std::string of;
    if (GetIndString(129, 3, of) != noErr || of.empty()) of = " of ";
    return std::to_string(ordinal) + of + std::to_string(total);
}

void BatchRunner::ResetCancelled(std::vector<FileRecord>& files) {
    for (FileRecord& f : files)
        if (f.state == FileState::Cancelled) {
            f.state = FileState::Waiting;
            f.status.clear();
        }
}

OSErr BatchRunner::Run(std::vector<FileRecord>& files, const RunOptions& options, RunObserver& observer) {
    Batch batch{*this, files, options, observer, {}, {}, {}, 0, 0};
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i].state == FileState::Waiting) batch.slots.push_back({i});
    running_ = true;
    // The calling thread is one of the workers: one job needs no other.
    const auto helpers = static_cast<std::size_t>(std::max(1, options.jobs)) - 1;
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < std::min(helpers, batch.slots.size()); ++i) workers.emplace_back([&batch] { batch.Work(); });
    batch.Work();
    for (std::thread& worker : workers) worker.join();
    // A cancel asked for before the run began holds for its first file (or
    // all of it); the run forgets both when it ends.
    cancelsSeen_ = cancelCurrent_;
    running_ = false;
    cancelAll_ = false;
    return noErr;
}
