// vantro compare: how close a movie database comes to its source, in figures.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "cli/commands.h"
#include "engine/compare.h"

void AddCompareOptions(CLI::App& c, CompareOptions& o) {
    c.add_option("file", o.file, "a movie database")->required()->type_name("FILE.pdb");
    c.add_option("source", o.source, "the movie it was converted from")->required()->check(CLI::ExistingFile)->type_name("SOURCE");
    c.add_option("--key", o.key, "the 512-byte key of a scrambled database")->check(CLI::ExistingFile)->type_name("KEYFILE");
}

int RunCompare(const CompareOptions& o) {
    CompareJob job{o.file, o.source, o.key.value_or("")};
    CompareReport r;
    if (OSErr err = CompareMovie(job, r)) {
        std::fprintf(stderr, "vantro: %s: cannot compare (%s%s%d)\n", o.file.c_str(), r.detail.c_str(),
                     r.detail.empty() ? "error " : ", error ", static_cast<int>(err));
        return kExitFailed;
    }
    std::printf("%s against %s, %.2f s\n", o.file.c_str(), o.source.c_str(), r.seconds);
    if (r.pictures > 0)
        std::printf("Pictures: %zu compared, luma PSNR %.2f dB mean, %.2f dB worst (at %.2f s)\n", r.pictures, r.meanPsnr,
                    r.worstPsnr, static_cast<double>(r.worstAt) / 100.0);
    if (r.soundCompared)
        std::printf("Sound: SNR %.2f dB, gain %+.2f dB, delay %lld sample frames (%.2f ms) at %u Hz\n", r.soundSnr,
                    r.soundGainDb, static_cast<long long>(r.soundDelay), r.soundDelayMs, r.soundRate);
    else
        std::printf("Sound: not compared (%s)\n", r.soundDetail.c_str());
    std::printf("Data rates: pictures %.0f kbit/s, sound %.0f kbit/s\n", r.videoKbps, r.soundKbps);
    return 0;
}
