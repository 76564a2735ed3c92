#include "delivery/outputfile.h"

#include <algorithm>
#include <string>

FileSpec MakeOutputFile(const FileSpec& source, std::string_view movieName, bool useSourceFolder, const FileSpec& exportFolder) {
    const FileSpec folder = useSourceFolder ? source.parent_path() : exportFolder;
    std::string base;
    if (movieName.empty()) {
        base = source.filename().string();
        std::replace(base.begin(), base.end(), '_', ' ');
    } else {
        base = movieName;
    }
    if (const auto dot = base.rfind('.'); dot != std::string::npos) base.resize(dot);
    FileSpec candidate = folder / (base + ".pdb");
    for (int n = 1; FileExists(candidate); ++n) candidate = folder / (base + "-" + std::to_string(n) + ".pdb");
    return candidate;
}
