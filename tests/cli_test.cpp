// `vantro` run the way a new user would: a folder of media files converted
// with three devices' presets.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "platform/files.h"
#include "tests/media_fixtures.h"
#include "tests/test_folder.h"
#include "tools/inspect.h"

namespace {

struct Result {
    int status = -1;
    std::string output;
};

Result Vantro(const std::string& arguments, const std::filesystem::path& config) {
    const std::string command = "VANTRO_CONFIG_DIR='" + config.string() + "' '" VANTRO_CLI "' " + arguments + " 2>/dev/null";
    Result r;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) r.output += buffer;
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::set<std::string> Listing(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

} // namespace

TEST(CommandLine, AFolderWithThreeDevices) {
    TestFolder home;
    const auto folder = home.Path() / "movies";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(Mp4(), folder / "clip.mp4");
    std::filesystem::copy_file(MovWithChapters(), folder / "chapters.mov");
    std::filesystem::copy_file(MakeFixture("tone.wav", std::string(kTestTone) + " %o"), folder / "tone.wav");
    std::filesystem::copy_file(UnknownCodecAvi(), folder / "unknown.avi");
    std::filesystem::copy_file(VideoCdStreams("vcd"), folder / "AVSEQ01.DAT"); // a Video CD's movie as copied off the disc
    std::ofstream(folder / "broken.mp4") << "not a movie";
    const auto config = home.Path() / "config";

    const char* presets[] = {"Tungsten T3", "PEG-T650C/T665C/T675C", "m500"};
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(presets[run]);
        const Result r = Vantro("convert '" + folder.string() + "' --preset '" + presets[run] + "'", config);
        EXPECT_EQ(r.status, 1); // two files cannot be converted
        EXPECT_NE(r.output.find("broken.mp4: Unable to open source file"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("unknown.avi: Video/Audio decoder not available ('ZZZZ')"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Audio track not converted"), std::string::npos) << r.output;
    }
    // Each converted source three times, never overwritten; nothing else.
    std::set<std::string> expected = {"clip.mp4", "chapters.mov", "tone.wav", "AVSEQ01.DAT", "unknown.avi", "broken.mp4"};
    for (const char* base : {"clip", "chapters", "tone", "AVSEQ01"})
        for (const char* suffix : {"", "-1", "-2"}) expected.insert(std::string(base) + suffix + ".pdb");
    EXPECT_EQ(Listing(folder), expected);

    // Every database passes the inspector; the CLIÉ's carry "CLIÉ Audio".
    for (const auto& name : expected) {
        if (name.size() < 4 || name.substr(name.size() - 4) != ".pdb") continue;
        ByteBlock bytes;
        ASSERT_EQ(ReadWholeFile(folder / name, bytes), noErr);
        const Inspection in = InspectDatabase(bytes.Span());
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

TEST(CommandLine, UsagePresetsAndHelp) {
    TestFolder home;
    const auto config = home.Path() / "config";
    EXPECT_EQ(Vantro("--version", config).status, 0);
    EXPECT_EQ(Vantro("convert --help", config).status, 0);
    EXPECT_EQ(Vantro("convert --frobnicate x.mov", config).status, 2);
    EXPECT_EQ(Vantro("convert", config).status, 2);
    EXPECT_EQ(Vantro("convert --preset Newton x.mov", config).status, 2);
    // A typed name keeps its full stops.
    const auto out = home.Path() / "out";
    EXPECT_EQ(Vantro("convert '" + Mp4().string() + "' --preset m500 --name 'Trip No. 2' --out '" + out.string() + "'", config).status, 0);
    EXPECT_TRUE(std::filesystem::exists(out / "Trip No. 2.pdb"));
    const Result tapwave = Vantro("presets tapwave", config);
    EXPECT_EQ(tapwave.status, 0);
    EXPECT_EQ(tapwave.output, "Tapwave\n    Zodiac\n    Zodiac (Wide)\n");
    EXPECT_EQ(Vantro("presets save Holiday --from 'Tungsten T3' --fps 12", config).status, 0);
    EXPECT_NE(Vantro("presets", config).output.find("Custom\n    Holiday (Tungsten T3)\n"), std::string::npos);
    EXPECT_NE(Vantro("presets show holiday", config).output.find("12 frames/s"), std::string::npos);
    EXPECT_EQ(Vantro("presets rename Holiday Beach", config).status, 0);
    EXPECT_EQ(Vantro("presets delete Holiday", config).status, 1);
    EXPECT_EQ(Vantro("presets delete beach", config).status, 0);
    EXPECT_EQ(Vantro("presets", config).output.find("Custom"), std::string::npos);
}
