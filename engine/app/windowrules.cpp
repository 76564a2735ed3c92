// The main window's rules that need no window.
#include "engine/app/windowrules.h"

#include <algorithm>

#include "platform/media.h"

namespace {

// The name's extension with its dot, or empty.
std::string_view Extension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

} // namespace

std::string ProposedMovieName(const FileSpec& source) {
    const std::string name = source.filename().string();
    std::string proposed = name.substr(0, name.size() - Extension(name).size());
    std::replace(proposed.begin(), proposed.end(), '_', ' ');
    return proposed;
}

std::string NamedMovie(std::string_view typed, const FileSpec& source) {
    const std::string name = source.filename().string();
    return std::string(typed) + std::string(Extension(name));
}

bool FullScreenMovie(const EditSettings& settings) {
    return settings.frameWidth == settings.frameHeight && (settings.frameWidth == 160 || settings.frameWidth == 320);
}

Enabling UpdateEnabling(const SourceFiles& files, bool anyRowSelected, const EditSettings& settings,
                        bool hasBackgroundImage) {
    const auto& rows = files.Files();
    const bool fullScreen = FullScreenMovie(settings);
    Enabling e;
    e.removeAll = !rows.empty();
    e.removeFiles = !rows.empty() && anyRowSelected;
    e.convert = std::any_of(rows.begin(), rows.end(), [](const SourceFile& f) { return !f.Converted(); });
    e.showControls = !fullScreen;
    e.chooseBackground = !fullScreen;
    e.clearBackground = hasBackgroundImage;
    return e;
}

std::vector<FileFilter> AddFilesFilters() {
    FileFilter video{"Video Files", {"*.3gp", "*.avi", "*.dv", "*.mpeg", "*.mpg", "*.mp4", "*.mov"}};
    FileFilter media{"All Media Files", {}};
    for (std::string_view extension : MediaFileExtensions()) media.patterns.push_back("*." + std::string(extension));
    return {std::move(video), std::move(media), {"All Files", {"*"}}};
}
