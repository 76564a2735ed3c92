// The batch runner on a worker thread.
#include "ui/conversionworker.h"

// The runner's reports, sent on as queued signals: the window's thread
// picks them up between its own events.
class ConversionWorker::Observer : public RunObserver {
public:
    explicit Observer(ConversionWorker& worker) : worker_(worker) {}
    void FileStarted(std::size_t index, int ordinal, int total) override {
        emit worker_.fileStarted(static_cast<int>(index), ordinal, total);
    }
    void FileProgress(std::size_t index, int permille) override {
        // Only whole percents: a long file would otherwise flood the queue.
        if (permille / 10 == lastPercent_) return;
        lastPercent_ = permille / 10;
        emit worker_.fileProgress(static_cast<int>(index), permille);
    }
    void FileFinished(std::size_t index, const FileRecord& record) override {
        lastPercent_ = -1;
        emit worker_.fileFinished(static_cast<int>(index), record);
    }

private:
    ConversionWorker& worker_;
    int lastPercent_ = -1;
};

ConversionWorker::ConversionWorker() { qRegisterMetaType<FileRecord>(); }

ConversionWorker::~ConversionWorker() {
    runner_.CancelAll();
    if (thread_) thread_->wait();
}

bool ConversionWorker::Start(std::vector<FileRecord> files, RunOptions options, const AtomContainer& settings) {
    if (Running()) return false;
    if (thread_) thread_->wait(); // finished: its last signals are queued already
    files_ = std::move(files);
    options_ = std::move(options);
    if (settings.CopyTo(settings_) != noErr) return false;
    options_.settings = &settings_;
    thread_.reset(QThread::create([this] { Run(); }));
    connect(thread_.get(), &QThread::finished, this, &ConversionWorker::runFinished);
    thread_->start();
    return true;
}

// On the worker thread.
void ConversionWorker::Run() {
    Observer observer(*this);
    // The runner answers noErr: every file's outcome is in its record.
    if (runner_.Run(files_, options_, observer) != noErr)
        for (std::size_t i = 0; i < files_.size(); ++i) emit fileFinished(static_cast<int>(i), files_[i]);
}
