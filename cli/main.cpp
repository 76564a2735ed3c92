// vantro: the command-line front end. It hands files, settings and a
// destination to the engine and shows what the engine reports.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "engine/app/startup.h"
#include "platform/files.h"
#include "platform/preferences.h"
#include "platform/process.h"
#include "tools/inspect.h"

namespace {

constexpr const char* kVersion = "2.0.0";

constexpr const char* kConvertFooter =
    "Without --preset a run uses the settings chosen with `vantro presets use NAME`,\n"
    "else \"All color Palm OS devices\". Ctrl-C cancels the current file, a second\n"
    "Ctrl-C the rest; SIGTERM and SIGHUP cancel the rest. Exit status: 0 all\n"
    "converted, 1 not all, 2 wrong usage, 128 + the signal when a signal cancelled\n"
    "a file.";

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

// No files: a sample clip converted with the run's settings, and the
// inspector's summary of the database it made.
int Sample(Application& app, ConvertOptions options) {
    ScopedFileDeletion clip;
    if (!MakeSampleClip(clip)) {
        std::fprintf(stderr, "vantro: the ffmpeg tool could not make a sample clip\n");
        return kExitFailed;
    }
    std::printf("A five-second sample clip:\n");
    options.files = {clip.Path().string()};
    if (!options.out) options.out = std::filesystem::current_path().string();
    options.name = "vantro-sample";
    std::vector<FileSpec> made;
    const int status = RunConvert(app, options, &made);
    if (status != 0 || made.empty()) return status;
    ByteBlock bytes;
    if (ReadWholeFile(made.front(), bytes) == noErr)
        std::printf("\n%s\n%s", made.front().string().c_str(), DescribeInspection(InspectDatabase(bytes.Span()), false).c_str());
    return 0;
}

// What the preference store kept aside, once, on standard error.
void TellPreferenceNotices() {
    for (const std::string& notice : TakePreferenceNotices()) std::fprintf(stderr, "vantro: %s\n", notice.c_str());
}

// `vantro FILE...` is `vantro convert FILE...`: the command word is
// implied unless a command or a program-wide option comes first.
bool CommandNamed(const std::vector<std::string>& args) {
    if (args.empty()) return false;
    const std::string& first = args[0];
    return first == "convert" || first == "presets" || first == "inspect" || first == "render" || first == "compare" || first == "devices" || first == "help" || first == "-h" ||
           first == "--help" || first == "--version";
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool named = CommandNamed(args);
    if (!named) args.insert(args.begin(), "convert");
    if (!args.empty() && args[0] == "help") args[0] = "--help";

    CLI::App cli("Turns movies and sound files into movie databases (.pdb) for Palm OS handhelds.\n"
                 "`vantro FILE...` is `vantro convert FILE...`; plain `vantro` converts a sample clip.",
                 "vantro");
    cli.set_version_flag("--version", std::string("Vantro Davavivi ") + kVersion);
    cli.require_subcommand(1);
    CLI::App* convert = cli.add_subcommand("convert", "convert files and folders into movie databases");
    ConvertOptions convertOptions;
    AddConvertOptions(*convert, convertOptions);
    convert->footer(kConvertFooter);
    CLI::App* presets = cli.add_subcommand("presets", "the device presets and your own");
    PresetsOptions presetsOptions;
    AddPresetsCommands(*presets, presetsOptions);
    CLI::App* inspect = cli.add_subcommand("inspect", "describe movie databases and check their structure");
    InspectOptions inspectOptions;
    AddInspectOptions(*inspect, inspectOptions);

    CLI::App* render = cli.add_subcommand("render", "a movie database as the handheld plays it, into a video or a picture sheet");
    RenderOptions renderOptions;
    AddRenderOptions(*render, renderOptions);
    CLI::App* compare = cli.add_subcommand("compare", "how close a movie database comes to its source, in figures");
    CompareOptions compareOptions;
    AddCompareOptions(*compare, compareOptions);
    CLI::App* devices = cli.add_subcommand("devices", "the removable drives and HotSync users a conversion can go to");
    DevicesOptions devicesOptions;
    AddDevicesOptions(*devices, devicesOptions);

    std::vector<char*> words{argv[0]};
    for (std::string& a : args) words.push_back(a.data());
    try {
        cli.parse(static_cast<int>(words.size()), words.data());
    } catch (const CLI::ParseError& e) {
        const int code = cli.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }
    if (inspect->parsed()) return RunInspect(inspectOptions);
    if (devices->parsed()) return RunDevices(devicesOptions);
    // A render on a device's screen needs the presets, the user's among them.
    if (render->parsed() && !renderOptions.device) return RunRender(renderOptions);
    if (compare->parsed()) return RunCompare(compareOptions);

    Application app;
    const OSErr started = StartApplication(app);
    TellPreferenceNotices();
    if (started) {
        std::fprintf(stderr, "vantro: the conversion engine could not be opened (error %d)\n", static_cast<int>(started));
        return kExitFailed;
    }
    int status = 0;
    if (presets->parsed()) status = RunPresets(app, *presets, presetsOptions);
    else if (render->parsed()) status = RunRender(renderOptions);
    else if (!named && convertOptions.files.empty()) status = Sample(app, convertOptions);
    else status = RunConvert(app, convertOptions);
    TellPreferenceNotices();
    return status;
}
