// Arbitrary bytes as file names: the handheld's character set and the
// database-name rule must hold for any of them (31 bytes at most, distinct
// from every name taken).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "moviedb/pdbname.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    const std::string handheld = HandheldText(text);
    if (handheld.size() > text.size()) std::abort();
    // The name itself, then every name it would collide with taken one by one.
    std::vector<std::string> taken;
    for (int i = 0; i < 4; ++i) {
        const std::string name = UniqueDatabaseName(text, taken);
        if (name.empty() || name.size() > kDatabaseNameLimit) std::abort();
        for (const std::string& t : taken)
            if (SameDatabaseName(name, t)) std::abort();
        taken.push_back(name);
    }
    return 0;
}
