// vantro: the command-line front end. It hands files, settings and a
// destination to the engine and reports what the engine says.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <string>

#include "delivery/outputfile.h"
#include "engine/conversion.h"
#include "engine/exportsettings.h"
#include "engine/messages.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/status.h"
#include "resources/application_resources.h"
#include "tools/inspect.h"

namespace {

constexpr const char* kVersion = "2.0.0";

void PrintList(const char* title, ResID list, std::int16_t first) {
    std::printf("%s\n", title);
    for (std::int16_t item = first; item <= CountStrings(list); ++item) {
        std::string text;
        if (GetIndString(list, item, text) == noErr && !text.empty() && text != "-")
            std::printf("  %s\n", text.c_str());
    }
}

// The maker table: 66-byte records, a 64-byte NUL-terminated name and an id.
void PrintMakers() {
    Resource makers;
    if (GetResource(Fcc("MANU"), 512, makers) != noErr) return;
    std::printf("Handheld makers:\n");
    for (std::size_t at = 0; at + 66 <= makers.data.size(); at += 66) {
        const char* name = reinterpret_cast<const char*>(makers.data.data() + at);
        std::printf("  %.*s\n", static_cast<int>(strnlen(name, 64)), name);
    }
}

// Converts one file with the settings; the result goes into `folder`, or
// beside the source when `folder` is empty. Answers whether it worked.
bool ConvertOne(const FileSpec& source, const ExportSettings& settings, const FileSpec& folder) {
    const FileSpec destination = MakeOutputFile(source, "", folder.empty(), folder);
    ConversionResult result;
    const OSErr err = ConvertMovie(
        source, settings, destination,
        [](std::int16_t message, Fixed fraction, void*) -> std::int16_t {
            if (message == kProgressUpdate) std::fprintf(stderr, "\r  %3d %%", FixRound(FixMul(fraction, IntToFixed(100))));
            if (message == kProgressClose) std::fprintf(stderr, "\r       \r");
            return 0;
        },
        nullptr, &result);
    // A failed file leaves nothing behind; the sound warning leaves a complete one.
    const bool kept = err == noErr || err == noSoundTrackInMovieErr;
    if (!kept) (void)DeleteFile(destination);
    std::printf("%s: %s\n", source.string().c_str(), ConversionMessage(err, result.missingDecoder).c_str());
    if (kept) {
        std::error_code ec;
        std::printf("  -> %s (%ju bytes)\n", destination.string().c_str(),
                    static_cast<std::uintmax_t>(std::filesystem::file_size(destination, ec)));
    }
    return kept;
}

// A five-second clip of moving colour bars and a tone, made by the ffmpeg tool.
bool MakeSampleClip(FileSpec& clip) {
    clip = TemporaryFolder() / "vantro-sample.mp4";
    const std::string command = "ffmpeg -nostdin -y -loglevel error -f lavfi -i testsrc2=size=320x240:rate=25:duration=5 "
                                "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=5 -c:v libx264 -pix_fmt yuv420p "
                                "-c:a aac -shortest -metadata title='Vantro sample' '" + clip.string() + "'";
    return std::system(command.c_str()) == 0;
}

void PrintUsage() {
    std::printf("usage: vantro [--version] [--out FOLDER] [FILE...]\n"
                "       vantro inspect [--chunks] [--key KEYFILE] [--frame N --pgm OUT.pgm] [--wav OUT.wav] FILE.pdb...\n"
                "Turns movies and sound files into movie databases (.pdb) for Palm OS handhelds.\n");
}

// vantro inspect: describes each database and checks its structure; exits 1
// when any file is not a valid movie database.
int Inspect(int argc, char** argv) {
    bool chunks = false;
    ByteBlock key;
    long frame = -1;
    const char* pgm = nullptr;
    const char* wav = nullptr;
    int status = 0, files = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--chunks") == 0) {
            chunks = true;
            continue;
        }
        if (std::strcmp(argv[i], "--frame") == 0 && i + 1 < argc) {
            frame = std::strtol(argv[++i], nullptr, 10);
            continue;
        }
        if (std::strcmp(argv[i], "--wav") == 0 && i + 1 < argc) {
            wav = argv[++i];
            continue;
        }
        if (std::strcmp(argv[i], "--pgm") == 0 && i + 1 < argc) {
            pgm = argv[++i];
            continue;
        }
        if (std::strcmp(argv[i], "--key") == 0 && i + 1 < argc) {
            if (ReadWholeFile(argv[++i], key) != noErr || key.Size() != 512) {
                std::fprintf(stderr, "vantro: the key must be a file of 512 bytes\n");
                return 2;
            }
            continue;
        }
        ++files;
        ByteBlock bytes;
        if (OSErr err = ReadWholeFile(argv[i], bytes)) {
            std::fprintf(stderr, "vantro: %s: cannot read (error %d)\n", argv[i], static_cast<int>(err));
            status = 1;
            continue;
        }
        Inspection inspection = InspectDatabase(bytes.Span(), key.Span());
        std::printf("%s\n%s", argv[i], DescribeInspection(inspection, chunks).c_str());
        if (!inspection.Valid()) status = 1;
        if (wav != nullptr) {
            std::vector<std::int16_t> samples;
            std::uint16_t channels = 0;
            std::uint32_t rate = 0;
            if (DecodeSoundOf(bytes.Span(), key.Span(), samples, channels, rate) || WriteWav(wav, samples, channels, rate)) {
                std::fprintf(stderr, "vantro: %s: no sound to write\n", argv[i]);
                status = 1;
            } else {
                std::printf("Sound written to %s (%u channel(s), %u Hz)\n", wav, channels, rate);
            }
        }
        if (frame >= 0 && pgm != nullptr) {
            std::vector<std::uint8_t> gray;
            std::uint32_t width = 0, height = 0;
            if (DecodeGraysFrameOf(bytes.Span(), key.Span(), static_cast<std::uint32_t>(frame), gray, width, height) ||
                WritePgm(pgm, gray, width, height)) {
                std::fprintf(stderr, "vantro: %s: no \"16 Grays\" frame %ld to write\n", argv[i], frame);
                status = 1;
            } else {
                std::printf("Frame %ld written to %s (%ux%u)\n", frame, pgm, width, height);
            }
        }
    }
    if (files == 0) {
        PrintUsage();
        return 2;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    std::int16_t resources = 0;
    if (OpenResourceFile(kApplicationResources, resources) != noErr) {
        std::fprintf(stderr, "vantro: cannot open the application's resources\n");
        return 1;
    }
    if (argc > 1 && std::strcmp(argv[1], "inspect") == 0) return Inspect(argc - 2, argv + 2);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Vantro Davavivi %s\n", kVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage();
            return 0;
        }
    }

    FileSpec folder;
    std::vector<FileSpec> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            folder = argv[++i];
            continue;
        }
        files.emplace_back(argv[i]);
    }
    std::printf("Vantro Davavivi %s\n", kVersion);
    ExportSettings settings;
    SetFirstPresetSettings(settings);
    if (files.empty()) {
        // No files: show what the converter does on a sample clip.
        PrintList("Video formats:", 515, 1);
        PrintList("Sound formats:", 144, 1);
        PrintMakers();
        FileSpec clip;
        if (!MakeSampleClip(clip)) {
            std::fprintf(stderr, "vantro: the ffmpeg tool could not make a sample clip\n");
            return 1;
        }
        std::printf("\nConverting a sample clip with \"All color Palm OS devices\":\n");
        const FileSpec out = folder.empty() ? std::filesystem::current_path() : folder;
        const bool ok = ConvertOne(clip, settings, out);
        (void)DeleteFile(clip);
        return ok ? 0 : 1;
    }
    int failures = 0;
    for (const FileSpec& file : files)
        if (!ConvertOne(file, settings, folder)) ++failures;
    return failures == 0 ? 0 : 1;
}
