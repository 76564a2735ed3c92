// Writes a few small movie databases into a folder, as starting points for
// the inspector's fuzzer: pictures only, pictures and sound, scrambled, and
// a screen layout with its items. (Conversions of real clips in every
// format join them; see build.sh.)
#include <cstdio>
#include <string>
#include <vector>

#include "moviedb/moviewriter.h"
#include "platform/files.h"

namespace {

bool WriteMovie(const std::string& path, bool sound, bool scrambled, bool layout = false) {
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
    if (layout) {
        static const std::uint8_t colour[3] = {0x20, 0x40, 0x80};
        static const std::uint16_t screen[2] = {320, 480};
        static const std::int16_t movie[4] = {40, 8, 160, 168};
        static const std::uint8_t image[40] = {0, 0, 0, 40, 0, 4, 0, 4, 0, 8, 4, 0, 16, 2, 11, 1};
        LayoutItem background, area, picture;
        background.kind = 1, background.layer = 1;
        area.kind = 2, area.layer = 3, area.shown = 1, area.left = 8, area.top = 40, area.width = 160, area.height = 120;
        picture.kind = 3, picture.layer = 2, picture.shown = 1, picture.width = 4, picture.height = 4, picture.imageBlock = image;
        for (const LayoutItem* item : {&background, &picture, &area})
            if (SetWriterParameter(w.get(), kWriterLayoutItem, reinterpret_cast<std::intptr_t>(item))) return false;
        if (SetWriterParameter(w.get(), kWriterBackgroundColor, reinterpret_cast<std::intptr_t>(colour)) ||
            SetWriterParameter(w.get(), kWriterPresentationSize, reinterpret_cast<std::intptr_t>(screen)) ||
            SetWriterParameter(w.get(), kWriterMovieRect, reinterpret_cast<std::intptr_t>(movie)) ||
            SetWriterParameter(w.get(), kWriterRotation, 90) || SetMetadataString(w.get(), 2, "About") ||
            SetMetadataString(w.get(), 3, "Rights") || AddChapter(w.get(), 500, 6, "Second"))
            return false;
    }
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
              WriteMovie(folder + "/scrambled.pdb", true, true) && WriteMovie(folder + "/layout.pdb", true, false, true);
    return ok ? 0 : 1;
}
