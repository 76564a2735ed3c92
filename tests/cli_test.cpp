// `vantro` run the way a new user would: a folder of media files converted
// with three devices' presets.
#include <gtest/gtest.h>

#include <set>

#include "tests/cli_runner.h"
#include "tests/media_fixtures.h"
#include "tools/inspect.h"

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

TEST(CommandLine, UsagePresetsAndHelp) {
    TestFolder home;
    auto vantro = [&](std::vector<std::string> args) { return RunVantro(home.Path(), std::move(args)); };
    EXPECT_EQ(vantro({"--version"}).status, 0);
    EXPECT_EQ(vantro({"convert", "--help"}).status, 0);
    EXPECT_EQ(vantro({"convert", "--frobnicate", "x.mov"}).status, 2);
    EXPECT_EQ(vantro({"convert"}).status, 2);
    EXPECT_EQ(vantro({"convert", "--preset", "Newton", "x.mov"}).status, 2);
    // A typed name keeps its full stops.
    const auto out = home.Path() / "out";
    EXPECT_EQ(vantro({"convert", Mp4().string(), "--preset", "m500", "--name", "Trip No. 2", "--out", out.string()}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(out / "Trip No. 2.pdb"));
    const VantroResult tapwave = vantro({"presets", "tapwave"});
    EXPECT_EQ(tapwave.status, 0);
    EXPECT_EQ(tapwave.output, "Tapwave\n    Zodiac\n    Zodiac (Wide)\n");
    EXPECT_EQ(vantro({"presets", "save", "Holiday", "--from", "Tungsten T3", "--fps", "12"}).status, 0);
    EXPECT_NE(vantro({"presets"}).output.find("Custom\n    Holiday (Tungsten T3)\n"), std::string::npos);
    EXPECT_NE(vantro({"presets", "show", "holiday"}).output.find("12 frames/s"), std::string::npos);
    EXPECT_EQ(vantro({"presets", "rename", "Holiday", "Beach"}).status, 0);
    EXPECT_EQ(vantro({"presets", "delete", "Holiday"}).status, 1);
    EXPECT_EQ(vantro({"presets", "delete", "beach"}).status, 0);
    EXPECT_EQ(vantro({"presets"}).output.find("Custom"), std::string::npos);
}
