// The list of source files: each file examined once when it is added, the
// rows kept in name order, the run's results taken back into the rows.
#include "engine/app/sourcefiles.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <system_error>

#include "engine/messages.h"
#include "platform/resources.h"
#include "platform/textorder.h"

namespace {

constexpr ResID kMainWindowStrings = 128;
constexpr std::int16_t kMultipleLocationsItem = 6;
constexpr ResID kConversionMessages = 133;
constexpr std::int16_t kCanceledItem = 3;
constexpr std::int16_t kDurationItem = 4;

// A string of the application's resources; its English text when the
// resources are not open (a tool that never opened them).
std::string ResourceText(ResID list, std::int16_t item, const char* fallback) {
    std::string text;
    if (GetIndString(list, item, text) != noErr) text = fallback;
    return text;
}

// The largest size of the movie's shape that fits the picture box.
void FitThumbnail(std::int64_t width, std::int64_t height, std::int32_t& outWidth, std::int32_t& outHeight) {
    if (width * kThumbnailHeight >= height * kThumbnailWidth) {
        outWidth = kThumbnailWidth;
        outHeight = static_cast<std::int32_t>(std::max<std::int64_t>(1, (height * kThumbnailWidth + width / 2) / width));
    } else {
        outHeight = kThumbnailHeight;
        outWidth = static_cast<std::int32_t>(std::max<std::int64_t>(1, (width * kThumbnailHeight + height / 2) / height));
    }
}

bool IsRegularFile(const FileSpec& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// Rows compare by absolute paths, so that "clip.mov" and "./clip.mov" are
// one file.
FileSpec AbsolutePath(const FileSpec& path) {
    std::error_code ec;
    const FileSpec absolute = std::filesystem::absolute(path, ec);
    return (ec ? path : absolute).lexically_normal();
}

bool SortsBefore(const SourceFile& a, const SourceFile& b) {
    return CompareTextWithAccents(a.path.filename().string(), b.path.filename().string()) < 0;
}

// What a row shows of a file: whether it opens, its length, its pictures.
SourceFile Examine(const FileSpec& path) {
    SourceFile file;
    file.path = path;
    Movie movie;
    if (!IsRegularFile(path) || Movie::Open(path, movie) != noErr) return file;
    file.opened = true;
    file.comment = DurationComment(movie.Duration(), movie.TimeScale());
    file.audioOnly = movie.Box().Empty();
    // Pictures that do not decode leave the box empty; the run says why.
    if (!file.audioOnly) static_cast<void>(MakeThumbnail(movie, file.thumbnail));
    return file;
}

// The files directly in a dropped folder that are taken for media files.
std::vector<FileSpec> MediaFilesIn(const FileSpec& folder) {
    std::vector<FileSpec> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const FileSpec& path = entry.path();
        const bool hidden = path.filename().string().starts_with('.');
        std::error_code kind;
        if (!hidden && entry.is_regular_file(kind) && IsMediaFileName(path)) found.push_back(path);
    }
    return found;
}

} // namespace

OSErr MakeThumbnail(const Movie& movie, Thumbnail& out) {
    const Rect box = movie.Box();
    if (box.Empty()) return invalidTrack;
    Thumbnail thumbnail;
    FitThumbnail(box.Width(), box.Height(), thumbnail.width, thumbnail.height);
    FrameBuffer poster;
    if (OSErr err = poster.Create(thumbnail.width, thumbnail.height)) return err;
    if (OSErr err = movie.PosterFrame(poster)) return err;
    thumbnail.pixels.assign(poster.Pixels(), poster.Pixels() + static_cast<std::size_t>(poster.RowBytes()) * poster.Height());
    out = std::move(thumbnail);
    return noErr;
}

std::string DurationComment(std::int64_t duration, std::int32_t timeScale) {
    const long long seconds = timeScale > 0 && duration > 0 ? duration / timeScale : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return ResourceText(kConversionMessages, kDurationItem, "Duration: ") + text;
}

// ---- The list ----------------------------------------------------------------------------------

bool SourceFiles::Listed(const FileSpec& path) const {
    const std::string name = path.filename().string();
    return std::any_of(files_.begin(), files_.end(), [&](const SourceFile& f) {
        return f.path.parent_path() == path.parent_path() && LowerText(f.path.filename().string()) == LowerText(name);
    });
}

bool SourceFiles::Add(const FileSpec& given) {
    const FileSpec path = AbsolutePath(given);
    if (Listed(path)) return false;
    SourceFile file = Examine(path);
    file.isNew = true;
    // After the names that sort the same, so that those keep their order.
    files_.insert(std::upper_bound(files_.begin(), files_.end(), file, SortsBefore), std::move(file));
    return true;
}

std::size_t SourceFiles::AddDropped(const std::vector<FileSpec>& paths) {
    std::size_t added = 0;
    for (const FileSpec& path : paths) {
        std::error_code ec;
        const auto status = std::filesystem::status(path, ec);
        if (std::filesystem::is_directory(status)) {
            for (const FileSpec& file : MediaFilesIn(path)) added += Add(file) ? 1 : 0;
        } else if (std::filesystem::is_regular_file(status)) {
            added += Add(path) ? 1 : 0;
        }
    }
    return added;
}

void SourceFiles::Remove(std::vector<std::size_t> rows) {
    // From the last row up, so that the rows still to go keep their numbers.
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (std::size_t row : rows)
        if (row < files_.size()) files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(row));
}

void SourceFiles::ClearNewFlags() {
    for (SourceFile& f : files_) f.isNew = false;
}

bool SourceFiles::SingleFolder() const {
    return std::all_of(files_.begin(), files_.end(),
                       [&](const SourceFile& f) { return f.path.parent_path() == files_.front().path.parent_path(); });
}

std::string SourceFiles::FolderDescription(ExportDestination destination, std::string_view exportFolderDescription) const {
    if (destination != ExportDestination::SourceFolder) return std::string(exportFolderDescription);
    if (files_.empty()) return {};
    if (!SingleFolder()) return ResourceText(kMainWindowStrings, kMultipleLocationsItem, "multiple locations");
    return files_.front().path.parent_path().string();
}

// ---- Runs --------------------------------------------------------------------------------------

bool SourceFiles::PrepareForRun() {
    bool changed = false;
    for (SourceFile& f : files_)
        if (f.Stale()) {
            f.state = FileState::Waiting;
            f.status.clear();
            f.detail.clear();
            changed = true;
        }
    return changed;
}

std::vector<FileRecord> SourceFiles::Records() const {
    std::vector<FileRecord> records;
    records.reserve(files_.size());
    for (const SourceFile& f : files_) records.push_back({f.path, f.state, f.status, {}, f.detail});
    return records;
}

void SourceFiles::SetResult(std::size_t row, const FileRecord& record) {
    if (row >= files_.size()) return;
    SourceFile& file = files_[row];
    file.state = record.state;
    file.detail = record.detail;
    file.output = record.state == FileState::Converted ? record.output : FileSpec{};
    switch (record.state) {
    case FileState::Converted:
        // A file converted without its sound keeps the warning where its
        // length was.
        file.status = ConversionMessage(noErr);
        if (!record.status.empty()) file.comment = record.status;
        break;
    case FileState::Cancelled: file.status = ResourceText(kConversionMessages, kCanceledItem, "Canceled"); break;
    case FileState::Failed:
    case FileState::Waiting: file.status = record.status; break;
    }
}
