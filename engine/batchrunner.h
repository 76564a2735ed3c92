// The batch runner: converts every listed file not dealt with yet, each
// through a fresh export component instance, several at a time when asked,
// and records each outcome (state and message) in the file's record. Both
// front ends drive it: they hand it the files, the settings container and
// the destination, and show what it reports through its observer, which
// hears of the files in their order whichever finishes first. It never waits
// on a window; cancelling happens through the observer's progress calls or
// the two cancel requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/convert.h"
#include "platform/atoms.h"
#include "platform/components.h"
#include "platform/files.h"
#include "platform/status.h"

enum class FileState : std::uint8_t { Waiting = 0, Converted = 1, Failed = 2, Cancelled = 4 };

struct FileRecord {
    FileSpec source;
    FileState state = FileState::Waiting;
    std::string status; // a message, or empty
    FileSpec output;    // where the result went (converted files)
    std::string detail; // what the message is about, when known ("no such file")
    double seconds = 0; // the conversion's own time
};

struct RunOptions {
    bool toSourceFolder = true;
    FileSpec exportFolder;          // when not to the source folder
    std::string movieName;          // replaces the source's name (one file)
    const AtomContainer* settings = nullptr;
    // Delivery after a successful conversion (HotSync): given the output
    // file, which it moves and names anew; null to leave the file where it
    // was written. A failed delivery leaves the file where it is.
    std::function<OSErr(FileSpec&)> deliver;
    // Conversions at a time: 1 converts one file after the other.
    int jobs = 1;
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // The calls come one at a time, from the runner's threads, about one
    // file after the other in the list's order: a file that converts while
    // the one before is still converting is told of when that one finished.
    // A file starts: its index in the list, and "ordinal of total".
    virtual void FileStarted(std::size_t /*index*/, int /*ordinal*/, int /*total*/) {}
    // The current file's length, once its conversion opens.
    virtual void FileLength(std::size_t /*index*/, std::int64_t /*milliseconds*/) {}
    // Progress of the current file, 0 to 1000; the front end may handle its
    // own events here.
    virtual void FileProgress(std::size_t /*index*/, int /*permille*/) {}
    virtual void FileFinished(std::size_t /*index*/, const FileRecord& /*record*/) {}
};

class BatchRunner {
public:
    // Runs over the records in state Waiting, each file through the typed
    // conversion call. Answers noErr (an error would stop the whole run).
    [[nodiscard]] OSErr Run(std::vector<FileRecord>& files, const RunOptions& options, RunObserver& observer);

    // Safe from any thread and from a signal handler. Cancelling the current
    // files cancels every file converting at that moment.
    void CancelCurrent() { ++cancelCurrent_; }
    void CancelAll() { cancelAll_ = true; }
    bool Running() const { return running_; }

    // "2 of 5".
    static std::string StatusLine(int ordinal, int total);
    // The records cancelled by the last run back to Waiting.
    static void ResetCancelled(std::vector<FileRecord>& files);

    struct Batch;

private:
    // A count of requests: a file is cancelled when it changed since the
    // file started (or, for the run's first files, since the last run).
    std::atomic<unsigned> cancelCurrent_{0};
    std::atomic<bool> cancelAll_{false}, running_{false};
    unsigned cancelsSeen_ = 0;
};
