// The batch runner: one file after another, each output reserved, converted and moved into place.
#include "engine/batchrunner.h"

#include <system_error>

#include "engine/convert.h"
#include "engine/messages.h"
#include "platform/resources.h"

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

void BatchRunner::Started(std::int64_t lengthMs) {
    observer_->FileLength(current_, lengthMs);
    observer_->FileProgress(current_, 0);
}

bool BatchRunner::Progress(int permille) {
    observer_->FileProgress(current_, permille);
    // A cancelled file's output goes with its reservation.
    return !cancelCurrent_ && !cancelAll_;
}

OSErr BatchRunner::Run(std::vector<FileRecord>& files, const RunOptions& options, RunObserver& observer) {
    observer_ = &observer;
    // A cancel asked for before the run began holds for its first file (or
    // all of it); the run clears both when it ends.
    std::vector<std::size_t> waiting;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i].state == FileState::Waiting) waiting.push_back(i);
    running_ = true;
    std::vector<std::string> databaseNames; // kept distinct within the run

    const int total = static_cast<int>(waiting.size());
    for (int ordinal = 1; ordinal <= total; ++ordinal) {
        current_ = waiting[static_cast<std::size_t>(ordinal - 1)];
        FileRecord& file = files[current_];
        file.status.clear();
        file.detail.clear();
        observer.FileStarted(current_, ordinal, total);
        if (!options.toSourceFolder && !options.exportFolder.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(options.exportFolder, ec);
        }
        ConversionJob job;
        job.source = file.source;
        // The settings as the engine reads them; settings that cannot be
        // read fail the file with their error.
        const OSErr read = options.settings != nullptr ? SetExportSettings(job.settings, options.settings) : noErr;
        job.toSourceFolder = options.toSourceFolder;
        job.exportFolder = options.exportFolder;
        job.movieName = options.movieName;
        job.batchNames = &databaseNames;
        job.sink = this;
        ConversionReport report;
        const OSErr err = read != noErr ? read : Convert(job, report);
        if (err == noErr || err == noSoundTrackInMovieErr) {
            file.state = FileState::Converted;
            file.output = report.output;
            // The warning: the file is complete, without its sound.
            if (err == noSoundTrackInMovieErr) file.status = ConversionMessage(err);
            if (options.deliver)
                if (OSErr delivered = options.deliver(file.output)) {
                    file.state = FileState::Failed;
                    file.status = ConversionMessage(delivered);
                    file.detail = "not queued; the movie is in " + file.output.string();
                }
        } else if (err == userCanceledErr || err == progressProcAborted || cancelCurrent_ || cancelAll_) {
            file.state = FileState::Cancelled;
        } else {
            file.state = FileState::Failed;
            file.status = ConversionMessage(err, report.missingDecoder);
            file.detail = report.detail;
        }
        observer.FileFinished(current_, file);
        if (cancelAll_) break;
        cancelCurrent_ = false;
    }
    running_ = false;
    cancelCurrent_ = false;
    cancelAll_ = false;
    return noErr;
}
