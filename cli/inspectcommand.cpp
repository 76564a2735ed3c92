// vantro inspect: describes movie databases and checks their structure.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "cli/commands.h"
#include "platform/byteblock.h"
#include "platform/files.h"
#include "resources/application_resources.h"
#include "tools/inspect.h"

void AddInspectOptions(CLI::App& c, InspectOptions& o) {
    c.add_option("files", o.files, "movie databases")->required()->type_name("FILE.pdb");
    c.add_flag("--chunks", o.chunks, "list every chunk of the header record");
    c.add_option("--key", o.key, "the 512-byte key of a scrambled database")->check(CLI::ExistingFile)->type_name("KEYFILE");
    CLI::Option* pgm = c.add_option("--pgm", o.pgm, "write the \"16 Grays\" frame --frame as a PGM picture")->type_name("OUT.pgm");
    c.add_option("--frame", o.frame, "the frame to write, from 0")->check(CLI::Range(0L, 0x7FFFFFFFL, "a frame number"))->needs(pgm)->type_name("N");
    c.add_option("--wav", o.wav, "write the sound as a WAV file")->type_name("OUT.wav");
}

// Exits 1 when any file is not a valid movie database.
int RunInspect(const InspectOptions& o) {
    // The formats' names come from the application's resources; without
    // them the inspector names formats by their codes.
    (void)OpenApplicationResources();
    ByteBlock key;
    if (o.key && (ReadWholeFile(*o.key, key) != noErr || key.Size() != 512)) {
        std::fprintf(stderr, "vantro: the key must be a file of 512 bytes\n");
        return kExitUsage;
    }
    int status = 0;
    for (const std::string& name : o.files) {
        ByteBlock bytes;
        if (OSErr err = ReadWholeFile(name, bytes)) {
            std::fprintf(stderr, "vantro: %s: cannot read (error %d)\n", name.c_str(), static_cast<int>(err));
            status = kExitFailed;
            continue;
        }
        Inspection inspection = InspectDatabase(bytes.Span(), key.Span());
        std::printf("%s\n%s", name.c_str(), DescribeInspection(inspection, o.chunks).c_str());
        if (!inspection.Valid()) status = kExitFailed;
        if (o.wav) {
            std::vector<std::int16_t> samples;
            std::uint16_t channels = 0;
            std::uint32_t rate = 0;
            OSErr written = DecodeSoundOf(bytes.Span(), key.Span(), samples, channels, rate);
            if (written == noErr) written = WriteWav(o.wav->c_str(), samples, channels, rate);
            if (written != noErr) {
                std::fprintf(stderr, "vantro: %s: %s\n", name.c_str(),
                             written == dupFNErr ? (*o.wav + " exists already: name a new file").c_str() : "no sound to write");
                status = kExitFailed;
            } else {
                std::printf("Sound written to %s (%u channel(s), %u Hz)\n", o.wav->c_str(), channels, rate);
            }
        }
        if (o.frame && o.pgm) {
            std::vector<std::uint8_t> gray;
            std::uint32_t width = 0, height = 0;
            OSErr written = DecodeGraysFrameOf(bytes.Span(), key.Span(), static_cast<std::uint32_t>(*o.frame), gray, width, height);
            if (written == noErr) written = WritePgm(o.pgm->c_str(), gray, width, height);
            if (written != noErr) {
                if (written == dupFNErr) std::fprintf(stderr, "vantro: %s exists already: name a new file\n", o.pgm->c_str());
                else std::fprintf(stderr, "vantro: %s: no \"16 Grays\" frame %ld to write\n", name.c_str(), *o.frame);
                status = kExitFailed;
            } else {
                std::printf("Frame %ld written to %s (%ux%u)\n", *o.frame, o.pgm->c_str(), width, height);
            }
        }
    }
    return status;
}
