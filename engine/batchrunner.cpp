// The batch runner: one file after another, each output reserved, converted and moved into place.
#include "engine/batchrunner.h"

#include <system_error>

#include "delivery/outputfile.h"
#include "engine/conversion.h"
#include "engine/exportcomponent.h"
#include "engine/messages.h"
#include "platform/resources.h"

OSErr ConvertOneFile(ComponentInstance exporter, const FileSpec& source, const RunOptions& options,
                     std::int16_t (*progress)(std::int16_t, Fixed, void*), void* refcon, FileSpec& output,
                     OSType& missingDecoder, std::int64_t* lengthMs, std::vector<std::string>* batchNames) {
    output.clear();
    std::string base;
    if (OSErr err = OutputBaseName(source, options.movieName, base)) return err;
    OutputReservation reservation;
    if (OSErr err = ReserveOutputFile(OutputFolder(source, options.toSourceFolder, options.exportFolder), base,
                                      batchNames, reservation))
        return err;
    AtomContainer settings;
    if (options.settings != nullptr)
        if (OSErr err = options.settings->CopyTo(settings)) return err;
    const OSErr err = ExportMovieFile(exporter, source, settings.IsNull() ? nullptr : &settings, progress, refcon,
                                      reservation.WritePath(), &missingDecoder, lengthMs, kReservedFileDataRefType);
    // Only a complete database gets its name; anything else goes with the
    // reservation.
    if (err != noErr && err != noSoundTrackInMovieErr) return err;
    if (OSErr committed = reservation.Commit()) return committed;
    output = reservation.FinalPath();
    return err;
}

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

std::int16_t BatchRunner::Progress(std::int16_t message, Fixed fraction, void* refcon) {
    auto* self = static_cast<BatchRunner*>(refcon);
    switch (message) {
    case kProgressOpen:
        self->observer_->FileLength(self->current_, self->currentLength_);
        self->observer_->FileProgress(self->current_, 0);
        break;
    case kProgressUpdate: {
        const int permille = fraction >= fixed1 ? 1000 : fraction <= 0 ? 0 : FixRound(FixMul(fraction, IntToFixed(1000)));
        self->observer_->FileProgress(self->current_, permille);
        break;
    }
    default: break; // a cancelled file's output goes with its reservation
    }
    return self->cancelCurrent_ || self->cancelAll_ ? userCanceledErr : 0;
}

OSErr BatchRunner::Run(std::vector<FileRecord>& files, const RunOptions& options, RunObserver& observer) {
    observer_ = &observer;
    cancelCurrent_ = false;
    cancelAll_ = false;
    std::vector<std::size_t> waiting;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (files[i].state == FileState::Waiting) waiting.push_back(i);
    running_ = true;
    OSErr stopped = noErr;
    std::vector<std::string> databaseNames; // kept distinct within the run
    const int total = static_cast<int>(waiting.size());
    for (int ordinal = 1; ordinal <= total; ++ordinal) {
        current_ = waiting[static_cast<std::size_t>(ordinal - 1)];
        FileRecord& file = files[current_];
        file.status.clear();
        observer.FileStarted(current_, ordinal, total);
        if (!options.toSourceFolder && !options.exportFolder.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(options.exportFolder, ec);
        }
        ComponentInstance exporter = nullptr;
        if (OSErr err = OpenDefaultComponent(kMovieExportType, kVantroExportSubType, exporter)) {
            stopped = err;
            break;
        }
        OSType missing = 0;
        currentLength_ = 0;
        const OSErr err =
            ConvertOneFile(exporter, file.source, options, &BatchRunner::Progress, this, currentOutput_, missing,
                           &currentLength_, &databaseNames);
        if (err == noErr || err == noSoundTrackInMovieErr) {
            file.state = FileState::Converted;
            file.output = currentOutput_;
            // The warning: the file is complete, without its sound.
            if (err == noSoundTrackInMovieErr) file.status = ConversionMessage(err);
            if (options.deliver)
                if (OSErr delivered = options.deliver(currentOutput_)) {
                    file.state = FileState::Failed;
                    file.status = ConversionMessage(delivered);
                }
        } else if (err == userCanceledErr || err == progressProcAborted || cancelCurrent_ || cancelAll_) {
            file.state = FileState::Cancelled;
        } else {
            file.state = FileState::Failed;
            file.status = ConversionMessage(err, missing);
        }
        (void)CloseComponent(exporter);
        observer.FileFinished(current_, file);
        if (cancelAll_) break;
        cancelCurrent_ = false;
    }
    running_ = false;
    return stopped;
}
