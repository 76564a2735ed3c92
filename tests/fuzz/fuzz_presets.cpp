// Arbitrary bytes as the stored preference file: reading the settings of the
// last exit and listing, finding, renaming and adding user presets must
// answer and keep what cannot be read aside, never crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/preferences.h"
#include "platform/resources.h"
#include "presets/presets.h"
#include "resources/application_resources.h"

namespace {

const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantro-fuzz-presets-XXXXXX").string();
        const std::filesystem::path made = mkdtemp(pattern.data());
        setenv(kPreferenceFolderVariable, made.c_str(), 1);
        (void)OpenApplicationResources();
        return made;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::filesystem::path& folder = Folder();
    if (WriteFileAtomically(PreferenceFile(Fcc("VTRP")), {bytes, size}) != noErr) return 0;
    Preferences last;
    (void)LoadPreferences(last);
    auto list = ListPresets("custom");
    std::string name, first;
    while (list && NextPresetName(*list, name))
        if (first.empty()) first = name;
    AtomContainer found;
    if (!first.empty()) (void)FindPreset(first, true, &found);
    // Renamed, the preset's copy goes back under its old name.
    if (!found.IsNull() && RenameUserPreset(first, "Renamed") == noErr) (void)AddUserPreset(&found);
    (void)TakePreferenceNotices();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) std::filesystem::remove(entry.path(), ec);
    return 0;
}
