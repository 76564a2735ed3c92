// vantro: the command-line front end. It hands files, settings and a
// destination to the engine and shows what the engine reports.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "engine/app/startup.h"
#include "platform/files.h"
#include "platform/preferences.h"
#include "platform/process.h"
#include "tools/inspect.h"

namespace {

constexpr const char* kVersion = "2.0.0";

void PrintUsage() {
    std::printf("usage: vantro convert FILE|FOLDER... [--preset NAME] [--out FOLDER] [settings]\n"
                "       vantro presets [MAKER] | show NAME | save NAME [...] | rename OLD NEW | delete NAME\n"
                "       vantro inspect FILE.pdb...\n"
                "       vantro [--out FOLDER] [FILE...]   (convert; without files, a sample clip)\n"
                "       vantro --version\n\n"
                "Turns movies and sound files into movie databases (.pdb) for Palm OS handhelds.\n"
                "Each command explains itself with --help.\n");
}

// A five-second clip of moving colour bars and a tone, made by the ffmpeg
// tool into a temporary file of our own (created exclusively under a
// unique name, so nothing planted in the temporary folder is followed).
bool MakeSampleClip(ScopedFileDeletion& clip) {
    FileSpec path;
    if (CreateTemporaryFile("vantro-sample", ".mp4", path) != noErr) return false;
    clip = ScopedFileDeletion(path);
    return RunProgram({"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-f", "lavfi", "-i",
                       "testsrc2=size=320x240:rate=25:duration=5", "-f", "lavfi", "-i",
                       "sine=frequency=440:sample_rate=44100:duration=5", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                       "-c:a", "aac", "-shortest", "-metadata", "title=Vantro sample", path.string()}) == noErr;
}

// No files: a sample clip converted with the default settings, and the
// inspector's summary of the result.
int Sample(Application& app, const Arguments& args) {
    ScopedFileDeletion clip;
    if (!MakeSampleClip(clip)) {
        std::fprintf(stderr, "vantro: the ffmpeg tool could not make a sample clip\n");
        return 1;
    }
    FileSpec folder = std::filesystem::current_path();
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--out") folder = args[i + 1];
    std::printf("A five-second sample clip:\n");
    std::vector<FileSpec> made;
    const int status = ConvertCommand(app, {clip.Path().string(), "--out", folder.string(), "--name", "vantro-sample"}, &made);
    if (status != 0 || made.empty()) return status;
    const FileSpec& out = made.front();
    ByteBlock bytes;
    if (ReadWholeFile(out, bytes) == noErr)
        std::printf("\n%s\n%s", out.string().c_str(), DescribeInspection(InspectDatabase(bytes.Span()), false).c_str());
    return 0;
}

// What the preference store kept aside, once, on standard error.
void TellPreferenceNotices() {
    for (const std::string& notice : TakePreferenceNotices()) std::fprintf(stderr, "vantro: %s\n", notice.c_str());
}

} // namespace

int main(int argc, char** argv) {
    Arguments args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--version") {
        std::printf("Vantro Davavivi %s\n", kVersion);
        return 0;
    }
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        PrintUsage();
        return 0;
    }
    std::string command = "convert";
    const bool named = !args.empty() && (args[0] == "convert" || args[0] == "presets" || args[0] == "inspect");
    if (named) {
        command = args[0];
        args.erase(args.begin());
    }
    if (command == "inspect") {
        if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
            std::printf("usage: vantro inspect [--chunks] [--key KEYFILE] [--frame N --pgm OUT.pgm] [--wav OUT.wav] FILE.pdb...\n"
                        "Describes each movie database, checks its structure and can write a \"16 Grays\"\n"
                        "frame as a PGM picture or the sound as a WAV file.\n");
            return 0;
        }
        return InspectCommand(args);
    }

    Application app;
    const OSErr started = StartApplication(app);
    TellPreferenceNotices();
    if (started) {
        std::fprintf(stderr, "vantro: the conversion engine could not be opened (error %d)\n", static_cast<int>(started));
        return 1;
    }
    if (command == "presets") {
        const int status = PresetsCommand(app, args);
        TellPreferenceNotices();
        return status;
    }
    bool anyFile = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--out" || args[i] == "--name" || args[i] == "--preset") ++i;
        else if (args[i].rfind("--", 0) != 0) anyFile = true;
    }
    // Plain `vantro` with no files shows what it does on a sample clip.
    if (!named && !anyFile && args.size() <= 2 && (args.empty() || args[0] == "--out")) return Sample(app, args);
    return ConvertCommand(app, args);
}
