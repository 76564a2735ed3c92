// `vantro` run the way a new user would: a folder of media files converted
// with three devices' presets.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tests/cli_runner.h"
#include "tests/media_fixtures.h"

TEST(CommandLine, AFolderWithThreeDevices) {
    TestFolder home;
    const auto folder = home.Path() / "movies";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(Mp4(), folder / "clip.mp4");
    std::filesystem::copy_file(MovWithChapters(), folder / "chapters.mov");
    std::filesystem::copy_file(ToneWav(), folder / "tone.wav");
    std::filesystem::copy_file(UnknownCodecAvi(), folder / "unknown.avi");
    std::filesystem::copy_file(VideoCdStreams("vcd"), folder / "AVSEQ01.DAT"); // a Video CD's movie as copied off the disc
    std::ofstream(folder / "broken.mp4") << "not a movie";

    for (const char* preset : {"Tungsten T3", "PEG-T650C/T665C/T675C", "m500"}) {
        SCOPED_TRACE(preset);
        const VantroResult r = RunVantro(home.Path(), {"convert", folder.string(), "--preset", preset});
        EXPECT_EQ(r.status, 1); // two files cannot be converted
        EXPECT_NE(r.output.find("broken.mp4: Unable to open source file"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("unknown.avi: Video/Audio decoder not available ('ZZZZ')"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Audio track not converted"), std::string::npos) << r.output;
    }
    // Each converted source three times, never overwritten; nothing else.
    std::set<std::string> expected = {"clip.mp4", "chapters.mov", "tone.wav", "AVSEQ01.DAT", "unknown.avi", "broken.mp4"};
    for (const char* base : {"clip", "chapters", "tone", "AVSEQ01"})
        for (const char* suffix : {"", "-1", "-2"}) expected.insert(std::string(base) + suffix + ".pdb");
    const auto names = FolderNames(folder);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);

    // Every database passes the inspector; the CLIÉ's carry "CLIÉ Audio".
    for (const auto& name : expected) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".pdb") continue;
        const Inspection in = InspectDatabase(FileBytes(folder / name));
        EXPECT_TRUE(in.Valid()) << name << ": " << in.problem;
        if (name.rfind("AVSEQ01", 0) == 0) {
            EXPECT_TRUE(in.hasAudio) << name;
        }
        if (name == "tone-1.pdb" || name == "clip-1.pdb") {
            EXPECT_EQ(in.audioFormat, 624u) << name;
        }
        if (name == "clip-2.pdb") {
            EXPECT_EQ(in.pictureWidth, 160u);
        }
    }
}

TEST(CommandLine, WrongUsageIsStatusTwoWithTheReason) {
    TestFolder home;
    const std::string clip = Mp4().string();
    struct Case {
        std::vector<std::string> args;
        const char* says; // on standard error
    };
    const Case cases[] = {
        {{"convert", clip, "--out"}, "--out"},
        {{"convert", clip, "--preset", "m500", "--preset", "Zire 71"}, "--preset"},
        {{"convert", clip, "--frobnicate"}, "--frobnicate"},
        {{"convert"}, "no files"},
        {{"convert", clip, "--fps", "0"}, "--fps"},
        {{"convert", clip, "--size", "10x10"}, "--size"},
        {{"convert", clip, "--video", "sepia"}, "--video"},
        {{"convert", clip, "--out", clip}, "is a file, not a folder"},
        {{"convert", clip, "--preset", "zire71"}, "did you mean \"Zire 71\""},
        {{"presets", "show", "Newton"}, "no preset is called \"Newton\""},
        {{"inspect", "--frame", "abc", "--pgm", "x.pgm", "x.pdb"}, "--frame"},
        // A value the sound format does not play is refused with what it plays.
        {{"convert", clip, "--sound", "adpcm", "--rate", "48000"}, "4096, 8192, 11025, 16384, 22050 or 44100 Hz"},
        {{"convert", clip, "--sound", "clie", "--rate", "50000"}, "11750, 16500, 23500, 33000, 47000 or 66000 bit/s"},
        {{"convert", clip, "--sound", "yamaha", "--channels", "2"}, "mono sound only"},
        {{"convert", clip, "--sound", "uncompressed", "--rate", "22050"}, "4096, 8192 or 16384 Hz"},
        {{"convert", clip, "--sound", "none", "--rate", "8000"}, "need a sound format"},
        {{"convert", clip, "--preset", "m500", "--layout", "320x480"}, "--layout for this device is one of 160 x 160"},
        {{"convert", clip, "--background", "not-a-colour"}, "--background is #rrggbb or a picture file"},
        {{"convert", clip, "--movie-rect", "1,2,3"}, "--movie-rect is X,Y,WIDTH,HEIGHT"},
    };
    for (const Case& c : cases) {
        const VantroResult r = RunVantro(home.Path(), c.args);
        SCOPED_TRACE(c.args.back());
        EXPECT_EQ(r.status, 2) << r.errors;
        EXPECT_TRUE(Has(r.errors, c.says)) << r.errors;
    }
    EXPECT_EQ(RunVantro(home.Path(), {"--version"}).status, 0);
    // Every accepted value is in the help.
    const VantroResult help = RunVantro(home.Path(), {"convert", "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* value : {"color,grays,none", "none,adpcm,adpcm4,uncompressed,yamaha,clie", "66000", "--skip-existing", "--json"})
        EXPECT_TRUE(Has(help.output, value)) << value;
}

TEST(CommandLine, SoundSettingsAreKeptOrToldWhenTheRulesChangeThem) {
    TestFolder home;
    const auto out = home.Path() / "out";
    auto convert = [&](std::vector<std::string> extra, const char* name) {
        std::vector<std::string> args = {"convert", ToneWav().string(), "--out", out.string(), "--name", name};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunVantro(home.Path(), args);
    };
    // Asked for and played: kept exactly.
    VantroResult r = convert({"--sound", "uncompressed", "--rate", "22050", "--channels", "2"}, "stereo");
    ASSERT_EQ(r.status, 0) << r.errors;
    Inspection in = InspectFile(out / "stereo.pdb");
    EXPECT_EQ(in.audioFormat, 630u);
    EXPECT_EQ(in.sampleRate, 22050u);
    // The preset's stereo 22050 Hz does not fit Yamaha ADPCM: said, then used as it plays.
    r = convert({"--preset", "Zire 71", "--sound", "yamaha"}, "yamaha");
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(Has(r.errors, "Yamaha ADPCM plays mono sound only")) << r.errors;
    EXPECT_TRUE(Has(r.errors, "plays at 8000 Hz: using 8000")) << r.errors;
    in = InspectFile(out / "yamaha.pdb");
    EXPECT_EQ(in.audioFormat, 629u);
    EXPECT_EQ(in.sampleRate, 8000u);
}

// The Layout tab's edits in words: the movie where it was put (moved inside
// the area the controls leave, on a multiple of 4), a background picture.
TEST(CommandLine, ScreenLayoutOptionsReachTheDatabase) {
    TestFolder home;
    const auto out = home.Path() / "out";
    const VantroResult r = RunVantro(home.Path(), {"convert", Mp4().string(), "--out", out.string(), "--preset", "m500",
                                                   "--movie-rect", "2,0,80,60", "--background", Pattern().string()});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(Has(r.errors, "using 0,15,80,60")) << r.errors;
    std::vector<int> kinds;
    for (const auto& item : InspectFile(out / "clip.pdb").layoutItems) {
        kinds.push_back(item[5]);
        if (item[5] == 2) { // stored with the top margin taken off
            EXPECT_EQ(std::vector<int>(item.begin(), item.begin() + 4), (std::vector<int>{0, 0, 80, 60}));
        }
    }
    EXPECT_EQ(kinds, (std::vector<int>{1, 3, 2})); // background, picture, movie
}

TEST(CommandLine, InspectorPicturesAndSoundNeverReplaceAFile) {
    TestFolder home;
    const auto out = home.Path() / "out";
    ASSERT_EQ(RunVantro(home.Path(), {"convert", Mp4().string(), "--out", out.string(), "--video", "grays"}).status, 0);
    std::ofstream(home.Path() / "mine.pgm") << "mine";
    std::ofstream(home.Path() / "mine.wav") << "mine";
    for (const char* option : {"--pgm", "--wav"}) {
        const std::string target = (home.Path() / (std::string("mine.") + (option[2] == 'p' ? "pgm" : "wav"))).string();
        std::vector<std::string> args = {"inspect", option, target, (out / "clip.pdb").string()};
        if (option[2] == 'p') args.insert(args.begin() + 1, {"--frame", "3"});
        const VantroResult r = RunVantro(home.Path(), args);
        EXPECT_EQ(r.status, 1) << option;
        EXPECT_TRUE(Has(r.errors, "exists already")) << r.errors;
        EXPECT_EQ(FileText(target), "mine");
    }
}

TEST(CommandLine, PresetsRoundTripAndNeverShareAName) {
    TestFolder home;
    auto vantro = [&](std::vector<std::string> args) { return RunVantro(home.Path(), std::move(args)); };
    const VantroResult tapwave = vantro({"presets", "tapwave"});
    EXPECT_EQ(tapwave.status, 0);
    EXPECT_EQ(tapwave.output, "Tapwave\n    Zodiac\n    Zodiac (Wide)\n");
    EXPECT_EQ(vantro({"presets", "save", "Holiday", "--from", "Tungsten T3", "--fps", "12"}).status, 0);
    EXPECT_EQ(vantro({"presets", "save", "Commute", "--from", "m500"}).status, 0);
    EXPECT_TRUE(Has(vantro({"presets"}).output, "Custom\n    Commute (m500)\n    Holiday (Tungsten T3)\n"));
    // The listing's text is a name too.
    EXPECT_TRUE(Has(vantro({"presets", "show", "Holiday (Tungsten T3)"}).output, "12 frames/s"));
    // No two presets answer to one name.
    EXPECT_EQ(vantro({"presets", "rename", "Holiday", "commute"}).status, 2);
    EXPECT_EQ(vantro({"presets", "save", "Zire 71"}).status, 2);
    EXPECT_EQ(vantro({"presets", "save", "   "}).status, 2);

    // Export, delete, import: the same preset back.
    const std::string before = vantro({"presets", "show", "Holiday"}).output;
    const auto file = home.Path() / "holiday.json";
    ASSERT_EQ(vantro({"presets", "export", "Holiday", file.string()}).status, 0);
    EXPECT_EQ(nlohmann::json::parse(FileText(file))["video"]["fps"], 12);
    EXPECT_EQ(vantro({"presets", "export", "Holiday", file.string()}).status, 1); // never overwritten
    EXPECT_EQ(vantro({"presets", "delete", "holiday"}).status, 0);
    EXPECT_EQ(vantro({"presets", "delete", "holiday"}).status, 1);
    ASSERT_EQ(vantro({"presets", "import", file.string()}).status, 0);
    EXPECT_EQ(vantro({"presets", "show", "Holiday"}).output, before);
    std::ofstream(home.Path() / "bad.json") << R"({"format": "vantro-preset", "version": 1, "name": "Bad", "video": {"fps": 99}})";
    const VantroResult bad = vantro({"presets", "import", (home.Path() / "bad.json").string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(Has(bad.errors, "video.fps")) << bad.errors;

    // `presets use` sets what later runs without --preset take.
    ASSERT_EQ(vantro({"presets", "use", "Commute"}).status, 0);
    const VantroResult dry = vantro({"convert", "--dry-run", Mp4().string(), "--out", (home.Path() / "out").string()});
    EXPECT_EQ(dry.status, 0);
    EXPECT_TRUE(Has(dry.output, "with \"Commute\"")) << dry.output;
    EXPECT_TRUE(Has(dry.output, "-> " + (home.Path() / "out" / "clip.pdb").string())) << dry.output;
    EXPECT_EQ(FolderNames(home.Path() / "out"), std::vector<std::string>{}); // a dry run makes nothing
}

TEST(CommandLine, FoldersRecursionSkippingAndJson) {
    TestFolder home;
    const auto tree = home.Path() / "tree";
    std::filesystem::create_directories(tree / "sub");
    std::filesystem::create_directories(tree / ".hidden");
    std::filesystem::copy_file(Mp4(), tree / "my_clip.mp4");
    std::filesystem::copy_file(ToneWav(), tree / "sub" / "tone.wav");
    std::filesystem::copy_file(ToneWav(), tree / ".hidden" / "tone.wav");
    std::filesystem::copy_file(ToneWav(), tree / ".dot.wav");
    std::ofstream(tree / "notes.txt") << "no";
    ASSERT_EQ(mkfifo((tree / "pipe.wav").c_str(), 0644), 0);

    // Without -r the folder's own media files; with -v, what was left and why.
    VantroResult r = RunVantro(home.Path(), {"convert", "-v", "--preset", "m500", tree.string()});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(std::filesystem::exists(tree / "my_clip.pdb")); // the file's name as written
    EXPECT_EQ(InspectFile(tree / "my_clip.pdb").header.name, "my clip"); // the handheld's name
    for (const char* why : {".hidden: hidden", ".dot.wav: hidden", "notes.txt: not a media file name", "sub: a folder", "pipe.wav: not a file"})
        EXPECT_TRUE(Has(r.output, why)) << why << "\n" << r.output;
    // A pipe named on its own is refused, never read.
    r = RunVantro(home.Path(), {"convert", (tree / "pipe.wav").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.output + r.errors, "a named pipe, not a file"));

    // -r with --skip-existing: only what has no database yet, as JSON lines.
    r = RunVantro(home.Path(), {"convert", "-r", "--skip-existing", "--json", "--preset", "m500", tree.string()});
    EXPECT_EQ(r.status, 0) << r.errors;
    std::map<std::string, std::string> outcomes;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json j = nlohmann::json::parse(line);
        outcomes[std::filesystem::path(j["source"].get<std::string>()).filename()] = j["outcome"];
        if (j["outcome"] == "converted") {
            EXPECT_EQ(j["bytes"].get<std::uintmax_t>(), std::filesystem::file_size(j["output"].get<std::string>()));
            EXPECT_GE(j["seconds"].get<double>(), 0.0);
        }
    }
    EXPECT_EQ(outcomes["tone.wav"], "converted");
    EXPECT_EQ(outcomes["my_clip.mp4"], "skipped");
    EXPECT_EQ(FolderNames(tree / "sub"), (std::vector<std::string>{"tone.pdb", "tone.wav"}));
    EXPECT_EQ(FolderNames(tree / ".hidden"), std::vector<std::string>{"tone.wav"});
}

TEST(CommandLine, TwoAtATimeKeepTheFilesOrderAndTheExitStatus) {
    TestFolder home;
    const auto folder = home.Path() / "clips";
    std::filesystem::create_directories(folder);
    // The broken file first: it fails at once while the others convert.
    std::ofstream(folder / "a_broken.mp4") << "not a movie";
    for (const char* name : {"b.mp4", "c.mp4", "d.wav"})
        std::filesystem::copy_file(std::string(name).ends_with(".wav") ? ToneWav() : Mp4(), folder / name);
    const VantroResult r = RunVantro(home.Path(), {"convert", "-j", "2", "--json", "--preset", "m500", folder.string()});
    EXPECT_EQ(r.status, 1) << r.errors;
    std::vector<std::string> order;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json j = nlohmann::json::parse(line);
        order.push_back(std::filesystem::path(j["source"].get<std::string>()).filename().string() + " " + j["outcome"].get<std::string>());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"a_broken.mp4 failed", "b.mp4 converted", "c.mp4 converted", "d.wav converted"}));
    EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"a_broken.mp4", "b.mp4", "b.pdb", "c.mp4", "c.pdb", "d.pdb", "d.wav"}));
}

// On a terminal 40 columns wide: the line is redrawn at most about ten
// times a second and never wraps.
TEST(CommandLine, ProgressOnATerminalIsCalmAndFitsItsWidth) {
    TestFolder home;
    const auto source = MakeFixture("progress.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=40 "
                                                    "-c:v libx264 -preset ultrafast -pix_fmt yuv420p %o");
    const auto named = home.Path() / "a-rather-long-name-for-a-movie-that-will-not-fit.mp4";
    std::filesystem::copy_file(source, named);
    winsize size{};
    size.ws_col = 40, size.ws_row = 24;
    int terminal = -1;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("VANTRO_CONFIG_DIR", (home.Path() / "config").c_str(), 1);
        execl(VANTRO_CLI, VANTRO_CLI, "convert", "--preset", "Tungsten T3", "--fps", "best", named.c_str(), nullptr);
        _exit(127);
    }
    std::string seen;
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) seen.append(buffer, static_cast<std::size_t>(n));
    int status = 0;
    waitpid(pid, &status, 0);
    close(terminal);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;

    // Every drawing starts with a carriage return and a clear to the end.
    const std::string redraw = "\r\033[K";
    std::size_t count = 0;
    for (std::size_t at = seen.find(redraw); at != std::string::npos; at = seen.find(redraw, at + 1)) {
        ++count;
        const std::size_t end = seen.find_first_of("\r\n", at + redraw.size());
        std::string line = seen.substr(at + redraw.size(), end == std::string::npos ? std::string::npos : end - at - redraw.size());
        if (line.rfind("[1 of 1]", 0) != 0) continue; // the clearing before the table
        std::size_t characters = 0;
        for (unsigned char c : line) characters += (c & 0xC0) != 0x80;
        EXPECT_LT(characters, 40u) << line;
    }
    EXPECT_GT(count, 2u); // it did show progress
    EXPECT_LE(static_cast<double>(count), 10 * seconds + 4) << count << " drawings in " << seconds << " s";
    EXPECT_NE(seen.find("-will-not-fit.mp4"), std::string::npos); // the name's end stays
}
