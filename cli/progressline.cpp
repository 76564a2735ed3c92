// The progress line of a conversion run.
#include "cli/progressline.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// A terminal is redrawn at most this often: enough to look alive, little
// enough that a log of the run stays small.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr std::size_t kDefaultWidth = 80;
constexpr int kBarWidth = 20;

std::string Clock(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

bool Continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

std::size_t Characters(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text) n += Continuation(c) ? 0 : 1;
    return n;
}

// The byte offset where character `n` starts.
std::size_t OffsetOf(const std::string& text, std::size_t n) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++at) {
        if (Continuation(static_cast<unsigned char>(text[at]))) continue;
        if (seen++ == n) return at;
    }
    return text.size();
}

} // namespace

std::string FitName(const std::string& name, std::size_t width) {
    const std::size_t length = Characters(name);
    if (length <= width) return name;
    if (width == 0) return {};
    if (width == 1) return "…";
    // The end carries the extension and the distinguishing number: it gets
    // the larger half.
    const std::size_t head = (width - 1) / 2, tail = width - 1 - head;
    return name.substr(0, OffsetOf(name, head)) + "…" + name.substr(OffsetOf(name, length - tail));
}

ProgressLine::ProgressLine(const std::vector<FileRecord>& files, bool shown)
    : files_(files), tty_(isatty(STDERR_FILENO) != 0), shown_(shown) {}

std::size_t ProgressLine::TerminalWidth() const {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS"); columns != nullptr && std::atoi(columns) > 0)
        return static_cast<std::size_t>(std::atoi(columns));
    return kDefaultWidth;
}

void ProgressLine::FileStarted(std::size_t index, int ordinal, int total) {
    start_ = std::chrono::steady_clock::now();
    lastDraw_ = {};
    lastPermille_ = -1;
    lengthSeconds_ = 0;
    name_ = files_[index].source.filename().string();
    label_ = "[" + BatchRunner::StatusLine(ordinal, total) + "] ";
    if (shown_ && !tty_) {
        std::fprintf(out_, "%s%s\n", label_.c_str(), files_[index].source.string().c_str());
        std::fflush(out_);
    }
}

void ProgressLine::FileLength(std::size_t, std::int64_t milliseconds) { lengthSeconds_ = static_cast<double>(milliseconds) / 1000.0; }

void ProgressLine::FileProgress(std::size_t, int permille) {
    if (!shown_ || !tty_ || permille == lastPermille_) return;
    const auto now = std::chrono::steady_clock::now();
    if (lastPermille_ >= 0 && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    lastPermille_ = permille;
    Draw(permille);
}

void ProgressLine::Draw(int permille) {
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double done = permille / 1000.0;
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d %%", permille / 10);
    std::string line = label_;
    const std::size_t width = TerminalWidth();
    // The bar only where there is room for it and a name beside it.
    if (width >= 70) {
        const int filled = permille * kBarWidth / 1000;
        line += "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
    }
    line += percent;
    // Where the conversion is in the source (pictures or sound alike), and
    // the time left once it can be told; on a narrow terminal the time left
    // comes before the position, and the name before both.
    const std::string left = done > 0.02 && elapsed > 0.2 ? "  " + Clock(elapsed * (1 - done) / done) + " left" : "";
    const std::string position = lengthSeconds_ > 0 ? "  " + Clock(done * lengthSeconds_) + " of " + Clock(lengthSeconds_) : "";
    // One column is kept free: a line as wide as the terminal wraps on some.
    const std::size_t room = width - 1;
    constexpr std::size_t kShortestName = 12;
    const auto fits = [&](std::size_t extra) { return Characters(line) + extra + 2 + kShortestName <= room; };
    const bool withLeft = fits(Characters(left));
    const bool withPosition = withLeft && fits(Characters(left) + Characters(position));
    line += (withPosition ? position : "") + (withLeft ? left : "") + "  ";
    const std::size_t used = Characters(line);
    if (used < room) line += FitName(name_, room - used);
    else line = line.substr(0, OffsetOf(line, room));
    std::fprintf(out_, "\r\033[K%s", line.c_str());
    std::fflush(out_);
    ++redraws_;
}

void ProgressLine::FileFinished(std::size_t, const FileRecord& record) {
    if (shown_ && tty_ && lastPermille_ >= 0) std::fprintf(out_, "\r\033[K");
    if (record.state == FileState::Cancelled) std::fprintf(out_, "%s%s: cancelled\n", label_.c_str(), name_.c_str());
    std::fflush(out_);
}
