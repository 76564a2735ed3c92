// Sound encoders' throughput (samples per second for each format) and the
// whole sound pipeline's real-time factor: a 10-minute stereo source to
// 22050 Hz stereo ADPCM through the source, the converter and the writer.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/adpcm.h"
#include "audio/soundinput.h"
#include "engine/audiopump.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Encoders() {
    const int count = 256 * 20000;
    std::vector<std::int16_t> source(count);
    for (int i = 0; i < count; ++i) source[i] = static_cast<std::int16_t>(12000 * std::sin(i * 0.0627) + static_cast<int>(std::int64_t{i} * 7919 % 2001) - 1000);
    std::vector<std::int16_t> work(256);
    std::uint8_t out[162];
    for (int bits : {4, 2}) {
        const auto start = std::chrono::steady_clock::now();
        std::uint64_t bytes = 0;
        for (int at = 0; at < count; at += 256) {
            std::copy(source.begin() + at, source.begin() + at + 256, work.begin());
            bytes += EncodeAdpcmBlock(work.data(), 256, bits, out, 1.5f);
        }
        std::printf("ADPCM %d-bit: %.1f M samples/s\n", bits, count / Seconds(start) / 1e6);
        if (bytes == 0) std::exit(1);
    }
    YamahaState state;
    const auto start = std::chrono::steady_clock::now();
    for (int at = 0; at < count; at += 64) {
        std::uint32_t capacity = 64;
        (void)EncodeYamahaBlock(source.data() + at, 128, out, capacity, at == 0, 1.5f, state);
    }
    std::printf("Yamaha ADPCM: %.1f M samples/s\n", count / Seconds(start) / 1e6);
}

void Pipeline() {
    const std::string path = (TemporaryFolder() / "vantro-bench-audio.wav").string();
    if (!FileExists(path)) {
        const std::string make = "ffmpeg -nostdin -y -loglevel error -f lavfi -i sine=frequency=440:sample_rate=44100:duration=600 "
                                 "-f lavfi -i sine=frequency=550:sample_rate=44100:duration=600 -filter_complex amerge=inputs=2 '" +
                                 path + "'";
        if (std::system(make.c_str()) != 0) std::exit(1);
    }
    Movie movie;
    if (Movie::Open(path, movie) != noErr) std::exit(1);
    MovieWriter* raw = nullptr;
    if (NewMovieWriter(&raw) != noErr) std::exit(1);
    OwnedMovieWriter writer(raw);
    ExportSettings settings;
    settings.soundFormat = kSoundAdpcm2to1;
    settings.sampleRate = UIntToUnsignedFixed(22050);
    settings.channels = 2;
    AudioOutput out;
    const auto start = std::chrono::steady_clock::now();
    if (SetDatabaseName(writer.get(), "bench") || ConfigureAudio(settings, 2, writer.get(), out) ||
        AttachSoundInput(writer.get()) || BeginMovie(writer.get()))
        std::exit(1);
    std::unique_ptr<SoundSource> source;
    if (movie.NewSoundSource(movie.FindTrack(kSoundMediaType), source) != noErr) std::exit(1);
    AudioPump pump(out, movie.Duration());
    OSErr err;
    while ((err = pump.Pump(*source, writer.get())) == noErr) {}
    if (err != eofErr || EndMovie(writer.get())) std::exit(1);
    const double seconds = Seconds(start);
    std::uint32_t size = 0;
    (void)GetDatabaseSize(writer.get(), size);
    std::printf("10-minute stereo source to 22050 Hz stereo ADPCM: %.2f s, %.0fx real time, %.1f MB database\n", seconds,
                600.0 / seconds, size / 1e6);
}

} // namespace

int main() {
    Encoders();
    Pipeline();
    return 0;
}
