// The main window's rules that need no window: the name proposed for a
// single movie, which buttons are enabled, and what the "Add Files…"
// dialog offers. The window asks; the answers are the same under any
// toolkit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/app/sourcefiles.h"
#include "platform/files.h"
#include "presets/presets.h"

// "Specify Vantro Name" starts from the source's name up to its last ".",
// every "_" a space ("my_clip.mov" proposes "my clip").
std::string ProposedMovieName(const FileSpec& source);
// The output name for what was typed: the text and the source's extension
// ("Holiday" for "my_clip.mov" is "Holiday.mov"), the name the runner then
// takes the database's name from.
std::string NamedMovie(std::string_view typed, const FileSpec& source);

// A movie of 160 × 160 or 320 × 320 fills the screen: no controls, no
// background.
bool FullScreenMovie(const EditSettings& settings);

struct Enabling {
    bool convert = false;          // "Convert Files": rows, one of them not converted yet
    bool removeFiles = false;      // "Remove Files…": a row selected
    bool removeAll = false;        // "Remove All": rows
    bool showControls = false;     // "Show movie controls": not a full-screen movie
    bool chooseBackground = false; // "Choose Background Image…": not a full-screen movie
    bool clearBackground = false;  // "Clear Background Image": a picture set
    bool operator==(const Enabling&) const = default;
};

Enabling UpdateEnabling(const SourceFiles& files, bool anyRowSelected, const EditSettings& settings,
                        bool hasBackgroundImage);

// One entry of a file dialog's type list: its name and its name patterns.
struct FileFilter {
    std::string name;
    std::vector<std::string> patterns; // "*.mov"
    bool operator==(const FileFilter&) const = default;
};

// "Video Files" (the common movie types), "All Media Files" (one pattern
// per media extension, MediaFileExtensions) and "All Files", the first one
// selected.
std::vector<FileFilter> AddFilesFilters();
