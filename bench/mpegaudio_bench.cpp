// MPEG-1 Layer II decoding speed: our decoder against libavcodec's on the
// same frames, in the same run, as real-time factors on one core.
#include <sched.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "import/mpegaudio.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/media.h"
#include "platform/resources.h"
#include "resources/application_resources.h"

int main() {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);
    std::vector<std::uint32_t> tables(kMpegTableEntries);
    if (OpenApplicationResources() != noErr ||
        ReadMpegRateTables(std::span<std::uint32_t, kMpegTableEntries>(tables.data(), kMpegTableEntries)) != noErr)
        return 1;

    constexpr int kSeconds = 60;
    const FileSpec file = TemporaryFolder() / "vantro-bench.mp2";
    const std::string command = "ffmpeg -nostdin -y -loglevel error -f lavfi -i anoisesrc=r=44100:a=0.2:d=" + std::to_string(kSeconds) +
                                " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + std::to_string(kSeconds) +
                                " -filter_complex amerge=inputs=2 -c:a mp2 -b:a 192k -f mp2 '" + file.string() + "'";
    if (std::system(command.c_str()) != 0) return 1;
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    (void)DeleteFile(file);
    std::vector<std::span<const std::uint8_t>> frames;
    for (std::size_t at = 0; at + 4 <= bytes.size();) {
        MpegHeader h;
        if (!ParseMpegHeader(ReadBE32(bytes.data() + at), tables, h) || at + static_cast<std::size_t>(h.frameLength) > bytes.size()) {
            ++at;
            continue;
        }
        frames.emplace_back(bytes.data() + at, static_cast<std::size_t>(h.frameLength));
        at += static_cast<std::size_t>(h.frameLength);
    }
    const double audio = static_cast<double>(frames.size()) * 1152 / 44100;

    double oursBest = 1e9, theirsBest = 1e9;
    for (int round = 0; round < 3; ++round) {
        MpegAudioDecoder ours;
        if (ours.Start() != noErr) return 1;
        std::vector<std::int16_t> pcm(2304);
        auto start = std::chrono::steady_clock::now();
        for (const auto& f : frames) {
            int count = 0;
            if (ours.DecodeFrame(f, tables, count, pcm.data()) != noErr) return 1;
        }
        oursBest = std::min(oursBest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        SoundDecompressor theirs;
        if (theirs.Open(Fcc(".mp2"), 44100, 2, 0, {}) != noErr) return 1;
        std::vector<float> out;
        start = std::chrono::steady_clock::now();
        for (const auto& f : frames) {
            out.clear();
            if (theirs.Decode(f, out) != noErr) return 1;
        }
        theirsBest = std::min(theirsBest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("MPEG-1 Layer II, 44100 Hz stereo, 192 kbit/s, %.0f s of sound, one core\n", audio);
    std::printf("ours:       %7.1f x real time (%.3f s)\n", audio / oursBest, oursBest);
    std::printf("libavcodec: %7.1f x real time (%.3f s)\n", audio / theirsBest, theirsBest);
    std::printf("ratio (ours / libavcodec speed): %.2f\n", theirsBest / oursBest);
    return 0;
}
