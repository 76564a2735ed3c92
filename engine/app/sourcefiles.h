// The window's list of source files, without the window: what each row
// shows (poster thumbnail, duration, status), the list kept sorted by name
// with each file listed once, the folder description of "Source folder",
// and the rows' share in a conversion run. The window draws the rows and
// asks; everything it decides from them lives here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/batchrunner.h"
#include "platform/files.h"
#include "platform/media.h"
#include "platform/status.h"
#include "presets/presets.h"

// The picture box at the left of a row.
inline constexpr std::int32_t kThumbnailWidth = 60;
inline constexpr std::int32_t kThumbnailHeight = 45;

// A small picture: rows of width × 4 bytes, each pixel B, G, R, A (a
// 32-bit ARGB pixel on a little-endian machine).
struct Thumbnail {
    std::int32_t width = 0, height = 0;
    std::vector<std::uint8_t> pixels;

    bool Empty() const { return pixels.empty(); }
    const std::uint8_t* Pixel(std::int32_t x, std::int32_t y) const {
        return pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4;
    }
};

// The movie's poster frame (its picture at time 0) scaled to fit the
// picture box with its shape kept: a wide movie gives a picture 60 pixels
// wide and less than 45 high. invalidTrack for a movie without pictures.
[[nodiscard]] OSErr MakeThumbnail(const Movie& movie, Thumbnail& out);

// "Duration: " and the duration as hours, minutes and seconds ("Duration:
// 01:02:03").
std::string DurationComment(std::int64_t duration, std::int32_t timeScale);

struct SourceFile {
    FileSpec path;          // absolute
    bool opened = false;    // it opened as a movie
    bool audioOnly = false; // a movie without pictures
    std::string comment;    // "Duration: 00:01:30"; empty when it did not open
    Thumbnail thumbnail;    // empty without pictures, or when they do not decode
    FileState state = FileState::Waiting; // what the last run made of it
    std::string status;     // the row's status text
    std::string detail;     // what a failure's message is about, when known
    FileSpec output;        // where the converted movie went
    bool isNew = false;     // added by the current add or drop; the window scrolls to it

    bool Converted() const { return state == FileState::Converted; }
    // Shows a result of an earlier run that the next run clears (a cancelled
    // file, converted again next time).
    bool Stale() const { return state == FileState::Cancelled; }
};

class SourceFiles {
public:
    // Lists the file unless it is listed already (the same folder and the
    // same name, letter case aside: false). A file that does not open as a
    // movie is listed all the same, without thumbnail and comment, and the
    // run reports why; only regular files are opened at all, so a named
    // pipe never stalls the window.
    bool Add(const FileSpec& path);
    // A drop of files and folders. A file is added whatever its name, as
    // when chosen in the file dialog; a folder adds the files directly in
    // it whose names are media names (IsMediaFileName), hidden ones and
    // subfolders left out (as the command line without -r); anything else
    // (missing, a device) is passed over. Answers how many were added.
    std::size_t AddDropped(const std::vector<FileSpec>& paths);
    // Rows in any order; rows past the end are ignored.
    void Remove(std::vector<std::size_t> rows);
    void Clear() { files_.clear(); }
    // Clears the new flags once an add or a drop is shown.
    void ClearNewFlags();

    // Sorted by file name, case-insensitive and diacritic-sensitive
    // (CompareTextWithAccents); equal names in the order they were added.
    const std::vector<SourceFile>& Files() const { return files_; }
    std::size_t Count() const { return files_.size(); }
    bool Empty() const { return files_.empty(); }
    // Every file in the first file's folder (true for an empty list).
    bool SingleFolder() const;
    // The export folder's description in the window: for "Source folder"
    // the one folder's path, or "multiple locations" when the files lie in
    // several; for the other destinations the description kept with the
    // export folder.
    std::string FolderDescription(ExportDestination destination, std::string_view exportFolderDescription = {}) const;

    // Before a run: the rows that show a result of an earlier run (cancelled
    // files) go back to waiting with their status cleared. Answers whether
    // any row changed, so that the list is laid out again once.
    bool PrepareForRun();
    // The run's records, one per row in the same order; the runner converts
    // the waiting ones.
    std::vector<FileRecord> Records() const;
    // What the runner reported for a row (as its observer hears it): the
    // state, and the row's texts: "Conversion complete" with a warning as
    // the comment, "Canceled", or the failure's message.
    void SetResult(std::size_t row, const FileRecord& record);

private:
    bool Listed(const FileSpec& path) const;

    std::vector<SourceFile> files_;
};
