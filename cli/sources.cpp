// Collecting a run's sources from the names on the command line.
#include "cli/sources.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include "platform/media.h"

namespace {

bool Hidden(const FileSpec& path) { return path.filename().string().rfind('.', 0) == 0; }

// A FIFO, a device or a socket would be read forever, or not at all.
const char* NotAFile(const FileSpec& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return nullptr; // missing: the conversion says so
    if (S_ISFIFO(st.st_mode)) return "a named pipe, not a file";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device, not a file";
    if (S_ISSOCK(st.st_mode)) return "a socket, not a file";
    return nullptr;
}

void AddFolder(const FileSpec& folder, bool recursive, SourceList& out) {
    std::error_code ec;
    std::vector<FileSpec> entries;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) entries.push_back(e.path());
    if (ec) {
        out.skipped.push_back({folder, "cannot be read: " + ec.message(), true});
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (const FileSpec& path : entries) {
        std::error_code kind;
        if (Hidden(path)) {
            out.skipped.push_back({path, "hidden"});
        } else if (std::filesystem::is_directory(path, kind)) {
            if (recursive) AddFolder(path, true, out);
            else out.skipped.push_back({path, "a folder (-r converts inside folders)"});
        } else if (!std::filesystem::is_regular_file(path, kind)) {
            out.skipped.push_back({path, "not a file"});
        } else if (!IsMediaFileName(path)) {
            out.skipped.push_back({path, "not a media file name"});
        } else {
            out.files.push_back(path);
        }
    }
}

} // namespace

SourceList CollectSources(const std::vector<std::string>& names, bool recursive) {
    SourceList out;
    for (const std::string& name : names) {
        const FileSpec path(name);
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            AddFolder(path, recursive, out);
        } else if (const char* why = NotAFile(path)) {
            out.skipped.push_back({path, why, true});
        } else {
            out.files.push_back(path); // by name: hidden or not, the user asked for it
        }
    }
    return out;
}
