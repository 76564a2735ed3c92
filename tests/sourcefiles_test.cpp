#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/app/sourcefiles.h"
#include "engine/app/windowrules.h"
#include "resources/application_resources.h"
#include "tests/media_fixtures.h"
#include "tests/test_folder.h"

namespace {

class SourceFilesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenApplicationResources(), noErr); }

    // A file of that name that is no movie.
    FileSpec Junk(const std::string& name, const FileSpec& in = {}) {
        const FileSpec path = (in.empty() ? folder_.Path() : in) / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "not a movie";
        return path;
    }

    static std::vector<std::string> Names(const SourceFiles& files) {
        std::vector<std::string> names;
        for (const SourceFile& f : files.Files()) names.push_back(f.path.filename().string());
        return names;
    }

    TestFolder folder_;
};

bool IsRed(const std::uint8_t* bgra) { return bgra[2] > 220 && bgra[1] < 40 && bgra[0] < 40 && bgra[3] == 255; }

FileRecord Result(FileState state, std::string status = {}) { return {{}, state, std::move(status), {}, {}}; }

} // namespace

TEST_F(SourceFilesTest, AFileIsListedOnceAndRowsSortByNameIgnoringCaseButNotAccents) {
    SourceFiles files;
    for (const char* name : {"zulu.wav", "\xC3\x89mile.wav", "alpha.wav", "Echo.wav", "emile.wav", "Emilf.wav"})
        ASSERT_TRUE(files.Add(Junk(name)));
    EXPECT_EQ(Names(files), (std::vector<std::string>{"alpha.wav", "Echo.wav", "emile.wav", "\xC3\x89mile.wav",
                                                      "Emilf.wav", "zulu.wav"}));
    for (const char* again : {"zulu.wav", "ZULU.WAV", "sub/../Echo.wav"}) EXPECT_FALSE(files.Add(folder_.Path() / again));
    EXPECT_EQ(files.AddDropped({folder_.Path() / "alpha.wav"}), 0u);
    EXPECT_TRUE(files.Add(Junk("zulu.wav", folder_.Path() / "other"))); // another folder: another file
    EXPECT_EQ(files.Count(), 7u);
}

TEST_F(SourceFilesTest, WhatARowShowsOfEachKindOfFile) {
    SourceFiles files;
    for (const FileSpec& path :
         {ToneWav(), Junk("broken.mov"), Pattern(), // red, with blue at the top left
          MakeFixture("red-wide.mp4", "-f lavfi -i color=c=red:s=160x90:rate=10:duration=0.5 -c:v mpeg4 -q:v 2 %o"),
          MakeFixture("red-tall.png", "-f lavfi -i color=c=red:s=30x60 -frames:v 1 %o")})
        ASSERT_TRUE(files.Add(path));
    const struct {
        const char* name;
        bool opened, audioOnly;
        const char* comment;
        int width, height; // of the thumbnail: the poster frame fitted to 60 × 45
    } expected[] = {
        {"broken.mov", false, false, "", 0, 0}, // listed all the same, for the run to report
        {"pattern.png", true, false, "Duration: 00:00:01", 60, 45},
        {"red-tall.png", true, false, "Duration: 00:00:01", 23, 45},
        {"red-wide.mp4", true, false, "Duration: 00:00:00", 60, 34},
        {"tone.wav", true, true, "Duration: 00:00:02", 0, 0},
    };
    ASSERT_EQ(files.Count(), std::size(expected));
    for (std::size_t i = 0; i < files.Count(); ++i) {
        const SourceFile& f = files.Files()[i];
        const auto& e = expected[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(f.path.filename(), e.name);
        EXPECT_EQ(std::tie(f.opened, f.audioOnly, f.comment), std::tie(e.opened, e.audioOnly, e.comment));
        EXPECT_EQ(std::tie(f.thumbnail.width, f.thumbnail.height), std::tie(e.width, e.height));
        ASSERT_EQ(f.thumbnail.pixels.size(), static_cast<std::size_t>(e.width * e.height * 4));
        if (e.width > 0) {
            EXPECT_TRUE(IsRed(f.thumbnail.Pixel(e.width - 1, 0)));
            EXPECT_EQ(IsRed(f.thumbnail.Pixel(2, 2)), i != 1);
        }
        EXPECT_TRUE(f.isNew);
    }
    files.ClearNewFlags();
    EXPECT_FALSE(files.Files()[0].isNew);
}

TEST_F(SourceFilesTest, DropsAddFilesAndTheMediaFilesOfFolders) {
    const FileSpec dropped = folder_.Path() / "dropped";
    for (const char* name : {"a.MP4", "b.wav", ".hidden.mp4", "notes.txt", "sub/c.mov"}) Junk(name, dropped);
    SourceFiles files;
    EXPECT_EQ(files.AddDropped({dropped, Junk("readme.txt"), folder_.Path() / "missing.mov"}), 3u);
    EXPECT_EQ(Names(files), (std::vector<std::string>{"a.MP4", "b.wav", "readme.txt"}));
}

TEST_F(SourceFilesTest, FolderDescriptionNamesTheOneFolderOrSaysMultipleLocations) {
    SourceFiles files;
    EXPECT_EQ(files.FolderDescription(ExportDestination::SourceFolder), "");
    files.Add(Junk("one.mov"));
    files.Add(Junk("two.mov"));
    EXPECT_EQ(files.FolderDescription(ExportDestination::SourceFolder), folder_.Path().string());
    files.Add(Junk("three.mov", folder_.Path() / "elsewhere"));
    EXPECT_EQ(files.FolderDescription(ExportDestination::SourceFolder), "multiple locations");
    EXPECT_EQ(files.FolderDescription(ExportDestination::OtherFolder, "/media/card"), "/media/card");

    files.Remove({9, 0, 0}); // "one", then nothing past the end
    EXPECT_EQ(Names(files), (std::vector<std::string>{"three.mov", "two.mov"}));
    files.Remove({0});
    EXPECT_EQ(files.FolderDescription(ExportDestination::SourceFolder), folder_.Path().string());
}

TEST_F(SourceFilesTest, ResultsOfARunAndTheirClearingBeforeTheNext) {
    const struct {
        FileRecord result;
        const char *status, *comment;
        FileState next; // what the next run finds
    } cases[] = {
        {Result(FileState::Converted, "Audio track not converted"), "Conversion complete", "Audio track not converted",
         FileState::Converted},
        {Result(FileState::Failed, "Disk is full"), "Disk is full", "", FileState::Failed},
        {Result(FileState::Cancelled), "Canceled", "", FileState::Waiting},
    };
    SourceFiles files;
    for (const char* name : {"a.mov", "b.mov", "c.mov"}) files.Add(Junk(name));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        files.SetResult(i, cases[i].result);
        EXPECT_EQ(files.Files()[i].status, cases[i].status);
        EXPECT_EQ(files.Files()[i].comment, cases[i].comment);
    }
    EXPECT_TRUE(files.PrepareForRun());
    EXPECT_FALSE(files.PrepareForRun()); // nothing left to clear: no second lay-out
    const auto records = files.Records();
    ASSERT_EQ(records.size(), std::size(cases));
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].state, cases[i].next) << i;
        EXPECT_EQ(records[i].source, files.Files()[i].path);
    }
    EXPECT_EQ(records[2].status, "");
}

TEST_F(SourceFilesTest, EnablingFollowsTheRowsTheSelectionAndTheMovieSize) {
    SourceFiles none, some;
    some.Add(Junk("a.mov"));
    const struct {
        const SourceFiles& files;
        bool selected;
        std::uint16_t width, height; // the movie size
        bool background;
        Enabling expected; // convert, remove files, remove all, controls, choose, clear
    } cases[] = {
        {none, false, 160, 120, false, {false, false, false, true, true, false}},
        {some, false, 160, 120, true, {true, false, true, true, true, true}},
        {some, true, 320, 240, false, {true, true, true, true, true, false}},
        {some, true, 160, 160, true, {true, true, true, false, false, true}},
        {none, false, 320, 320, false, {false, false, false, false, false, false}},
    };
    EditSettings settings;
    for (const auto& c : cases) {
        settings.frameWidth = c.width, settings.frameHeight = c.height;
        EXPECT_EQ(UpdateEnabling(c.files, c.selected, settings, c.background), c.expected) << c.width << "x" << c.height;
    }
    // Once everything is converted, "Convert Files" waits for a new file.
    some.SetResult(0, Result(FileState::Converted));
    EXPECT_FALSE(UpdateEnabling(some, false, settings, false).convert);
    some.Add(Junk("b.mov"));
    EXPECT_TRUE(UpdateEnabling(some, false, settings, false).convert);
}

TEST(WindowRules, TheSingleMovieNameDropsTheExtensionAndUnderscores) {
    const struct {
        const char* source;
        const char* proposed;
        const char* named; // "Holiday" typed
    } cases[] = {
        {"/films/my_clip.mov", "my clip", "Holiday.mov"},
        {"/films/a.b_c.avi", "a.b c", "Holiday.avi"},
        {"/films/v1.2/take", "take", "Holiday"}, // a dot in the folder is no extension
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProposedMovieName(c.source), c.proposed) << c.source;
        EXPECT_EQ(NamedMovie("Holiday", c.source), c.named) << c.source;
    }
}
