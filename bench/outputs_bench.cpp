// What taking an output name costs: reserving, writing a small database and
// moving it into place, in a folder that already holds many databases (each
// reservation reads their names to keep the new one distinct on the
// handheld), and the same with the flush to disk each commit makes.
//
//   bench_outputs [DATABASES...]      default: 0 100 1000 5000
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "delivery/outputfile.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A folder holding `count` databases of 4 KiB, each with its name.
std::filesystem::path Folder(int count) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantro-bench-outputs-XXXXXX").string();
    const std::filesystem::path folder = mkdtemp(pattern.data());
    std::vector<std::uint8_t> bytes(4096, 0);
    for (int i = 0; i < count; ++i) {
        const std::string name = "movie " + std::to_string(i);
        std::copy(name.begin(), name.end(), bytes.begin());
        File file;
        if (File::CreateNew(folder / (name + ".pdb"), file) != noErr || file.WriteAt(0, bytes) != noErr) std::exit(1);
    }
    return folder;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) counts.push_back(std::atoi(argv[i]));
    if (counts.empty()) counts = {0, 100, 1000, 5000};
    constexpr int kConversions = 50;
    std::vector<std::uint8_t> database(64 * 1024, 0x5A);
    std::printf("databases in the folder | per reservation (ms) | per commit with flush (ms)\n");
    for (int count : counts) {
        const std::filesystem::path folder = Folder(count);
        double reserving = 0, committing = 0;
        BatchNames batch;
        for (int n = 0; n < kConversions; ++n) {
            OutputReservation r;
            auto start = std::chrono::steady_clock::now();
            if (ReserveOutputFile(folder, "clip", &batch, r) != noErr) return 1;
            reserving += Seconds(start);
            File f;
            if (File::Open(r.PartialPath(), File::Mode::ReadWrite, f) != noErr || f.WriteAt(0, database) != noErr) return 1;
            start = std::chrono::steady_clock::now();
            if (r.Commit() != noErr) return 1;
            committing += Seconds(start);
        }
        std::printf("%23d | %20.3f | %26.3f\n", count, reserving * 1000 / kConversions, committing * 1000 / kConversions);
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
    return 0;
}
