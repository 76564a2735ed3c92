// Arbitrary bytes as a preset's JSON file: the import answers a status with
// a one-line problem, or a preset that exports and imports again to the
// same bytes; never a crash or an exception.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "presets/presetjson.h"
#include "resources/application_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    static const bool opened = OpenApplicationResources() == noErr;
    (void)opened;
    AtomContainer preset;
    std::string problem;
    const OSErr err = ImportPresetJson({reinterpret_cast<const char*>(bytes), size}, preset, problem);
    if (err != noErr) {
        if (err != paramErr || problem.empty() || problem.find('\n') != std::string::npos || !preset.IsNull()) std::abort();
        return 0;
    }
    std::string json;
    AtomContainer again;
    if (!problem.empty() || ExportPresetJson(preset, json) != noErr || ImportPresetJson(json, again, problem) != noErr)
        std::abort();
    const auto a = preset.Bytes(), b = again.Bytes();
    if (!std::equal(a.begin(), a.end(), b.begin(), b.end())) std::abort();
    return 0;
}
