// Files are never lost: conversions at once into one folder, runs stopped by
// signals or killed, names that are paths, and parallel changes of the
// preference file, through the real executable. (A folder that vanishes
// mid-run: the batch runner's tests.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "tests/cli_runner.h"
#include "tests/media_fixtures.h"

namespace {

// Waits until a name holding `part` appears in the folder; false when the
// run ended first.
bool WaitFor(Vantro& run, const std::filesystem::path& folder, const std::string& part) {
    while (run.Running()) {
        for (const std::string& n : FolderNames(folder))
            if (n.find(part) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

} // namespace

TEST(FileSafety, ConversionsAtOnceIntoOneFolderEachKeepTheirDatabase) {
    TestFolder home;
    const auto out = home.Path() / "out";
    // Two processes.
    Vantro a(home.Path(), {"convert", Mp4().string(), "--out", out.string(), "--preset", "m500"}, "a");
    Vantro b(home.Path(), {"convert", Mp4().string(), "--out", out.string(), "--preset", "m500"}, "b");
    EXPECT_EQ(a.Wait(), 0) << a.Output();
    EXPECT_EQ(b.Wait(), 0) << b.Output();
    ASSERT_EQ(FolderNames(out), (std::vector<std::string>{"clip-1.pdb", "clip.pdb"}));
    const Inspection first = InspectFile(out / "clip.pdb"), second = InspectFile(out / "clip-1.pdb");
    EXPECT_TRUE(first.Valid()) << first.problem;
    EXPECT_TRUE(second.Valid()) << second.problem;
    EXPECT_NE(first.header.name, second.header.name);
}

TEST(FileSafety, SignalsCancelAndLeaveNothingBehind) {
    const auto source = LongClip();
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        TestFolder home;
        const auto out = home.Path() / "out";
        std::filesystem::create_directories(out);
        Vantro run(home.Path(), {"convert", source.string(), "--out", out.string(), "--preset", "Tungsten T3"});
        // Under way: its output reserved and its spool file begun.
        ASSERT_TRUE(WaitFor(run, out, ".vantro-partial"));
        ASSERT_TRUE(WaitFor(run, home.Path() / "tmp", "lxmv"));
        run.Signal(signal);
        EXPECT_EQ(run.Wait(), 128 + signal) << run.Output();
        EXPECT_NE(run.Output().find("cancelled"), std::string::npos) << run.Output();
        EXPECT_EQ(FolderNames(out), std::vector<std::string>{});
        EXPECT_EQ(FolderNames(home.Path() / "tmp"), std::vector<std::string>{});
    }
}

TEST(FileSafety, ASecondCtrlCStopsTheRestWheneverItComes) {
    TestFolder home;
    const auto out = home.Path() / "out";
    std::filesystem::create_directories(out);
    std::vector<std::string> args = {"convert", "-j", "1", "--out", out.string(), "--preset", "Tungsten T3"};
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4"}) {
        std::filesystem::create_hard_link(LongClip(), home.Path() / name);
        args.push_back((home.Path() / name).string());
    }
    Vantro run(home.Path(), args);
    // One Ctrl-C in the first file, the second in the next file.
    ASSERT_TRUE(WaitFor(run, out, ".a.pdb.vantro-partial"));
    run.Signal(SIGINT);
    ASSERT_TRUE(WaitFor(run, out, ".b.pdb.vantro-partial"));
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(), 128 + SIGINT);
    EXPECT_EQ(FolderNames(out), std::vector<std::string>{}); // the third never started
    EXPECT_NE(run.Output().find("not converted " + (home.Path() / "c.mp4").string()), std::string::npos) << run.Output();
}

TEST(FileSafety, CtrlCInAParallelRunCancelsTheFilesUnderWayAndASecondTheRest) {
    TestFolder home;
    const auto out = home.Path() / "out";
    std::filesystem::create_directories(out);
    std::vector<std::string> args = {"convert", "-j", "2", "--out", out.string(), "--preset", "Tungsten T3"};
    const std::vector<std::string> names = {"a", "b", "c", "d", "e"};
    for (const std::string& name : names) {
        std::filesystem::create_hard_link(LongClip(), home.Path() / (name + ".mp4"));
        args.push_back((home.Path() / (name + ".mp4")).string());
    }
    Vantro run(home.Path(), args);
    // Two files under way at once: the first Ctrl-C cancels both, and the
    // next two start; the second cancels those and leaves the last.
    for (const char* under : {".a.pdb", ".b.pdb"}) ASSERT_TRUE(WaitFor(run, out, under));
    run.Signal(SIGINT);
    for (const char* under : {".c.pdb", ".d.pdb"}) ASSERT_TRUE(WaitFor(run, out, under));
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(), 128 + SIGINT);
    EXPECT_EQ(FolderNames(out), std::vector<std::string>{});
    // The table in the files' order.
    std::string table;
    for (const std::string& name : names)
        table += (name == "e" ? "not converted " : "cancelled     ") + (home.Path() / (name + ".mp4")).string() + "\n";
    EXPECT_NE(run.Output().find(table), std::string::npos) << run.Output();
}

TEST(FileSafety, WhatAKilledRunLeftIsRemovedAtTheNextStart) {
    const auto source = LongClip();
    TestFolder home;
    const auto out = home.Path() / "out";
    std::filesystem::create_directories(out);
    Vantro killed(home.Path(), {"convert", source.string(), "--out", out.string(), "--preset", "Tungsten T3"}, "killed");
    ASSERT_TRUE(WaitFor(killed, out, ".vantro-partial"));
    ASSERT_TRUE(WaitFor(killed, home.Path() / "tmp", "lxmv"));
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait(), 256 + SIGKILL);
    EXPECT_EQ(FolderNames(out), std::vector<std::string>{".long.pdb.vantro-partial"}); // nothing under a final name
    std::vector<std::string> spool = FolderNames(home.Path() / "tmp");
    ASSERT_EQ(spool.size(), 1u);
    EXPECT_EQ(spool[0].rfind("lxmv", 0), 0u);

    // A spool file of a live process stays: this test's own.
    const std::string live = "lxmv" + std::to_string(getpid()) + "-0badcafe.tmp";
    std::ofstream(home.Path() / "tmp" / live) << "live";
    Vantro start(home.Path(), {"presets"}, "presets");
    EXPECT_EQ(start.Wait(), 0);
    EXPECT_EQ(FolderNames(home.Path() / "tmp"), std::vector<std::string>{live});
    // The next conversion into the folder removes the dead partial file.
    Vantro next(home.Path(), {"convert", Mp4().string(), "--out", out.string(), "--preset", "m500"}, "next");
    EXPECT_EQ(next.Wait(), 0) << next.Output();
    EXPECT_EQ(FolderNames(out), std::vector<std::string>{"clip.pdb"});
}

TEST(FileSafety, AMovieNameIsNeverAPath) {
    TestFolder home;
    const auto out = home.Path() / "out";
    for (const char* name : {"../x", "a/b", ".."}) {
        SCOPED_TRACE(name);
        Vantro run(home.Path(), {"convert", Mp4().string(), "--out", out.string(), "--name", name, "--preset", "m500"});
        EXPECT_EQ(run.Wait(), 1);
        EXPECT_NE(run.Output().find("Bad file name - the name may be too long"), std::string::npos) << run.Output();
        EXPECT_EQ(FolderNames(out), std::vector<std::string>{});
        EXPECT_FALSE(std::filesystem::exists(home.Path() / "x.pdb"));
    }
}

TEST(FileSafety, ParallelPresetSavesKeepEveryPreset) {
    TestFolder home;
    std::vector<std::unique_ptr<Vantro>> saves;
    for (int i = 1; i <= 12; ++i)
        saves.push_back(std::make_unique<Vantro>(home.Path(), std::vector<std::string>{"presets", "save", "Mine " + std::to_string(i)},
                                                 "save" + std::to_string(i)));
    for (auto& s : saves) EXPECT_EQ(s->Wait(), 0);
    Vantro list(home.Path(), {"presets"}, "list");
    EXPECT_EQ(list.Wait(), 0);
    const std::string listing = list.Output();
    for (int i = 1; i <= 12; ++i) EXPECT_NE(listing.find("Mine " + std::to_string(i) + " ("), std::string::npos) << i;
}

TEST(FileSafety, TheSampleClipIsMadeWithoutAShellIntoAFileOfItsOwn) {
    TestFolder home;
    // A temporary folder whose name a shell would run, holding a link under
    // the name a fixed scheme would use.
    const auto temporary = home.Path() / "x'$(touch pwned)'";
    std::filesystem::create_directories(temporary);
    std::ofstream(home.Path() / "victim") << "precious";
    std::filesystem::create_symlink(home.Path() / "victim", temporary / "vantro-sample.mp4");
    const auto out = home.Path() / "out";
    std::filesystem::create_directories(out);
    Vantro run(home.Path(), {"--out", out.string()}, "sample", temporary);
    EXPECT_EQ(run.Wait(), 0) << run.Output();
    EXPECT_EQ(FolderNames(out), std::vector<std::string>{"vantro-sample.pdb"});
    EXPECT_TRUE(InspectFile(out / "vantro-sample.pdb").Valid());
    EXPECT_NE(run.Output().find((out / "vantro-sample.pdb").string() + "\nDatabase"), std::string::npos) << run.Output();
    EXPECT_EQ(FileText(home.Path() / "victim"), "precious");
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    EXPECT_FALSE(std::filesystem::exists(home.Path() / "pwned"));
    EXPECT_EQ(FolderNames(temporary), std::vector<std::string>{"vantro-sample.mp4"}); // only the link stays
}
