// A batch of conversions on a thread of its own: the window hands it the
// files, the settings and the destination and hears, through queued
// signals, what the batch runner reports. The window never waits on it.
#pragma once

#include <QObject>
#include <QThread>

#include <memory>
#include <vector>

#include "engine/batchrunner.h"

class ConversionWorker : public QObject {
    Q_OBJECT
public:
    ConversionWorker();
    ~ConversionWorker() override;

    // Starts converting the records in state Waiting; `settings` is copied.
    // Answers false while a run is under way.
    bool Start(std::vector<FileRecord> files, RunOptions options, const AtomContainer& settings);
    bool Running() const { return thread_ && thread_->isRunning(); }
    // Safe at any moment, from the window's thread.
    void CancelCurrent() { runner_.CancelCurrent(); }
    void CancelAll() { runner_.CancelAll(); }
    // Waits for a run to end (after a cancel, its current file's end).
    void Wait() {
        if (thread_) thread_->wait();
    }

signals:
    void fileStarted(int index, int ordinal, int total);
    void fileProgress(int index, int permille);
    void fileFinished(int index, FileRecord record);
    void runFinished();

private:
    class Observer;
    void Run();

    std::unique_ptr<QThread> thread_;
    BatchRunner runner_;
    std::vector<FileRecord> files_;
    RunOptions options_;
    AtomContainer settings_;
};

Q_DECLARE_METATYPE(FileRecord)
