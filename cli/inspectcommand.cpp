// vantro inspect: describes movie databases and checks their structure.
#include <cstdio>
#include <cstdlib>

#include "cli/commands.h"
#include "platform/byteblock.h"
#include "platform/files.h"
#include "resources/application_resources.h"
#include "tools/inspect.h"

// Exits 1 when any file is not a valid movie database.
int InspectCommand(const Arguments& args) {
    // The formats' names come from the application's resources.
    (void)OpenApplicationResources();
    const int argc = static_cast<int>(args.size());
    bool chunks = false;
    ByteBlock key;
    long frame = -1;
    const char* pgm = nullptr;
    const char* wav = nullptr;
    int status = 0, files = 0;
    for (int i = 0; i < argc; ++i) {
        if (args[static_cast<std::size_t>(i)] == "--chunks") {
            chunks = true;
            continue;
        }
        if (args[static_cast<std::size_t>(i)] == "--frame" && i + 1 < argc) {
            frame = std::strtol(args[static_cast<std::size_t>(++i)].c_str(), nullptr, 10);
            continue;
        }
        if (args[static_cast<std::size_t>(i)] == "--wav" && i + 1 < argc) {
            wav = args[static_cast<std::size_t>(++i)].c_str();
            continue;
        }
        if (args[static_cast<std::size_t>(i)] == "--pgm" && i + 1 < argc) {
            pgm = args[static_cast<std::size_t>(++i)].c_str();
            continue;
        }
        if (args[static_cast<std::size_t>(i)] == "--key" && i + 1 < argc) {
            if (ReadWholeFile(args[static_cast<std::size_t>(++i)].c_str(), key) != noErr || key.Size() != 512) {
                std::fprintf(stderr, "vantro: the key must be a file of 512 bytes\n");
                return 2;
            }
            continue;
        }
        ++files;
        ByteBlock bytes;
        if (OSErr err = ReadWholeFile(args[static_cast<std::size_t>(i)].c_str(), bytes)) {
            std::fprintf(stderr, "vantro: %s: cannot read (error %d)\n", args[static_cast<std::size_t>(i)].c_str(), static_cast<int>(err));
            status = 1;
            continue;
        }
        Inspection inspection = InspectDatabase(bytes.Span(), key.Span());
        std::printf("%s\n%s", args[static_cast<std::size_t>(i)].c_str(), DescribeInspection(inspection, chunks).c_str());
        if (!inspection.Valid()) status = 1;
        if (wav != nullptr) {
            std::vector<std::int16_t> samples;
            std::uint16_t channels = 0;
            std::uint32_t rate = 0;
            if (DecodeSoundOf(bytes.Span(), key.Span(), samples, channels, rate) || WriteWav(wav, samples, channels, rate)) {
                std::fprintf(stderr, "vantro: %s: no sound to write\n", args[static_cast<std::size_t>(i)].c_str());
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
                std::fprintf(stderr, "vantro: %s: no \"16 Grays\" frame %ld to write\n", args[static_cast<std::size_t>(i)].c_str(), frame);
                status = 1;
            } else {
                std::printf("Frame %ld written to %s (%ux%u)\n", frame, pgm, width, height);
            }
        }
    }
    if (files == 0) {
        std::printf("usage: vantro inspect [--chunks] [--key KEYFILE] [--frame N --pgm OUT.pgm] [--wav OUT.wav] FILE.pdb...\n"
                    "Describes each movie database, checks its structure and can write a \"16 Grays\"\n"
                    "frame as a PGM picture or the sound as a WAV file.\n");
        return 2;
    }
    return status;
}

