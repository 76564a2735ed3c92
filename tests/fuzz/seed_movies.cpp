// Writes a few small movie databases into a folder, as starting points for
// the inspector's fuzzer: pictures only, pictures and sound, scrambled.
#include <cstdio>
#include <string>
#include <vector>

#include "moviedb/moviewriter.h"
#include "platform/files.h"

namespace {

bool WriteMovie(const std::string& path, bool sound, bool scrambled) {
    MovieWriter* raw = nullptr;
    if (NewMovieWriter(&raw) != noErr) return false;
    OwnedMovieWriter w(raw);
    static std::uint8_t key[512] = {0x5A, 0x11};
    std::int32_t periods[2] = {8000, 100};
    WaveFormat format;
    format.sampleRate = 8000;
    if (SetDatabaseName(w.get(), "seed") || SetPictureSize(w.get(), 160, 120) || SetVideoFormat(w.get(), 4) ||
        SetWriterParameter(w.get(), kWriterMovieTimeScale, 100) || AddChapter(w.get(), 0, 5, "Start") ||
        SetMetadataString(w.get(), 1, "Seed"))
        return false;
    if (sound && (SetSoundFormat(w.get(), format) || SetAudioFormatCode(w.get(), 626) ||
                  SetWriterParameter(w.get(), kWriterInterleave, reinterpret_cast<std::intptr_t>(periods))))
        return false;
    if (scrambled && SetWriterParameter(w.get(), kWriterScramblingKey, reinterpret_cast<std::intptr_t>(key))) return false;
    if (BeginMovie(w.get())) return false;
    std::vector<std::uint8_t> data(700, 0x33);
    for (std::uint32_t i = 0; i < 12; ++i) {
        if (WriteVideoChunk(w.get(), {data.data(), 100 + i * 50}, 8, i % 4 != 0, 10)) return false;
        if (sound && i % 3 == 0 && WriteAudioRecord(w.get(), {data.data(), 129}, 256, 256 * (i / 3))) return false;
    }
    if (EndMovie(w.get())) return false;
    std::uint32_t size = 0;
    if (GetDatabaseSize(w.get(), size)) return false;
    std::vector<std::uint8_t> bytes(size);
    if (ReadDatabase(w.get(), bytes.data(), 0, size)) return false;
    File file;
    (void)DeleteFile(path);
    return File::CreateNew(path, file) == noErr && file.WriteAt(0, bytes) == noErr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string folder = argv[1];
    bool ok = WriteMovie(folder + "/pictures.pdb", false, false) && WriteMovie(folder + "/sound.pdb", true, false) &&
              WriteMovie(folder + "/scrambled.pdb", true, true);
    return ok ? 0 : 1;
}
