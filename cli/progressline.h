// The progress of a run on a terminal: one line per file, redrawn at most
// ten times a second and never wider than the terminal, so that nothing
// wraps into the scroll-back. Without a terminal, one line per file.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/batchrunner.h"

// Cuts a name to at most `width` characters by taking out its middle
// ("a-very-lo…file.mp4"); UTF-8 sequences stay whole.
std::string FitName(const std::string& name, std::size_t width);

class ProgressLine : public RunObserver {
public:
    // `shown`: false for a quiet run (nothing but cancellations).
    ProgressLine(const std::vector<FileRecord>& files, bool shown);

    void FileStarted(std::size_t index, int ordinal, int total) override;
    void FileLength(std::size_t index, std::int64_t milliseconds) override;
    void FileProgress(std::size_t index, int permille) override;
    void FileFinished(std::size_t index, const FileRecord& record) override;

    // How many times the line was drawn.
    long Redraws() const { return redraws_; }

private:
    void Draw(int permille);
    std::size_t TerminalWidth() const;

    const std::vector<FileRecord>& files_;
    bool tty_, shown_;
    std::FILE* out_ = stderr;
    double lengthSeconds_ = 0;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    std::string name_, label_;
    int lastPermille_ = -1;
    long redraws_ = 0;
};
