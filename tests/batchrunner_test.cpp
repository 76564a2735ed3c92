// The batch runner over real files (a failing file, cancelling, an export
// folder that vanishes mid-run), and the start-up's command-line rule.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "engine/app/startup.h"
#include "engine/batchrunner.h"
#include "engine/convert.h"
#include "engine/exportcomponent.h"
#include "engine/messages.h"
#include "moviedb/formats.h"
#include "platform/preferences.h"
#include "presets/presets.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"
#include "tests/test_folder.h"

namespace {

class Runner : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(setenv(kPreferenceFolderVariable, (folder_.Path() / "config").c_str(), 1), 0);
        ASSERT_EQ(StartApplication(app_), noErr);
        // Small and quick: "m500" (160 × 120, 16 grays, ADPCM at 8192 Hz).
        ASSERT_EQ(FindPreset("m500", false, &settings_), noErr);
        options_.settings = &settings_;
        options_.toSourceFolder = false;
        options_.exportFolder = folder_.Path() / "out";
    }
    void TearDown() override { unsetenv(kPreferenceFolderVariable); }

    std::vector<FileRecord> Files(std::initializer_list<std::filesystem::path> sources) {
        std::vector<FileRecord> files;
        for (const auto& s : sources) files.push_back({s, FileState::Waiting, {}, {}, {}});
        return files;
    }
    std::vector<FileState> States(const std::vector<FileRecord>& files) {
        std::vector<FileState> states;
        for (const auto& f : files) states.push_back(f.state);
        return states;
    }
    std::size_t OutputCount() const {
        std::size_t n = 0;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(options_.exportFolder, ec)) n += e.is_regular_file();
        return n;
    }

    TestFolder folder_;
    Application app_;
    AtomContainer settings_;
    RunOptions options_;
};

// Cancels (current or all) once the second file's conversion is under way.
class Canceller : public RunObserver {
public:
    Canceller(BatchRunner& runner, bool all) : runner_(runner), all_(all) {}
    void FileStarted(std::size_t, int ordinal, int total) override { lines.push_back(BatchRunner::StatusLine(ordinal, total)); }
    void FileProgress(std::size_t index, int permille) override {
        if (index == 1 && permille > 100) all_ ? runner_.CancelAll() : runner_.CancelCurrent();
    }
    std::vector<std::string> lines;

private:
    BatchRunner& runner_;
    bool all_;
};

// Removes the export folder while the first of two files converts.
class FolderRemover : public RunObserver {
public:
    explicit FolderRemover(std::filesystem::path folder) : folder_(std::move(folder)) {}
    void FileProgress(std::size_t index, int permille) override {
        if (index == 0 && permille > 100 && !done_) {
            std::filesystem::remove_all(folder_);
            done_ = true;
        }
    }

private:
    std::filesystem::path folder_;
    bool done_ = false;
};

} // namespace

TEST_F(Runner, AFailingFileNeverStopsTheRun) {
    const auto text = WriteTextFixture("not-a-movie.txt", "hello");
    auto files = Files({MakeFixture("tone.wav", std::string(kTestTone) + " %o"), text, Mp4(), UnknownCodecAvi()});
    BatchRunner runner;
    RunObserver quiet;
    ASSERT_EQ(runner.Run(files, options_, quiet), noErr);
    EXPECT_EQ(States(files), (std::vector<FileState>{FileState::Converted, FileState::Failed, FileState::Converted, FileState::Failed}));
    EXPECT_EQ(files[0].status, "");
    EXPECT_EQ(files[1].status, "Unable to open source file");
    EXPECT_EQ(files[1].detail, "not a media file, or a damaged one");
    EXPECT_EQ(files[3].status, "Video/Audio decoder not available ('ZZZZ')");
    EXPECT_EQ(files[0].output.filename(), "tone.pdb");
    EXPECT_EQ(OutputCount(), 2u); // nothing of the failed ones

    // A second run skips what is done.
    ASSERT_EQ(runner.Run(files, options_, quiet), noErr);
    EXPECT_EQ(OutputCount(), 2u);
}

// What the observer hears, as a line per call.
class Recorder : public RunObserver {
public:
    void FileStarted(std::size_t index, int, int) override { Say("start", index); }
    void FileProgress(std::size_t index, int) override {
        if (said.empty() || said.back() != "progress " + std::to_string(index)) Say("progress", index);
    }
    void FileFinished(std::size_t index, const FileRecord&) override { Say("end", index); }
    std::vector<std::string> said;

private:
    void Say(const char* what, std::size_t index) { said.push_back(what + std::string(" ") + std::to_string(index)); }
};

TEST_F(Runner, SeveralAtATimeTellInTheFilesOrderAndMakeTheSameDatabases) {
    // The sound encoders with state of their own: ATRAC3 and Yamaha ADPCM.
    for (const SoundFormat format : {SoundFormat::ClieAudio, SoundFormat::YamahaAdpcm}) {
        EditSettings s;
        UnpackSettings(s, settings_);
        s.soundFormat = Code(format);
        s.sampleRate = UIntToUnsignedFixed(format == SoundFormat::ClieAudio ? 44100 : 8000);
        AtomContainer settings;
        ASSERT_EQ(PackSettings(s, s.name, settings), noErr);
        options_.settings = &settings;
        const auto folder = folder_.Path() / ("sources" + std::to_string(Code(format)));
        std::filesystem::create_directories(folder);
        for (const char* name : {"a.mp4", "c.mp4"}) std::filesystem::copy_file(Mp4(), folder / name);
        std::ofstream(folder / "b.mp4") << "not a movie";
        const auto sources = {folder / "a.mp4", folder / "b.mp4", folder / "c.mp4"};

        std::map<int, std::vector<std::vector<std::uint8_t>>> made;
        for (const int jobs : {1, 2}) {
            options_.jobs = jobs;
            options_.exportFolder = folder_.Path() / ("out" + std::to_string(Code(format)) + "-" + std::to_string(jobs));
            auto files = Files(sources);
            BatchRunner runner;
            Recorder recorder;
            ASSERT_EQ(runner.Run(files, options_, recorder), noErr);
            EXPECT_EQ(States(files), (std::vector<FileState>{FileState::Converted, FileState::Failed, FileState::Converted}));
            // Each file from start to end before the next is heard of.
            std::vector<std::string> outline;
            for (const std::string& line : recorder.said)
                if (line.rfind("progress", 0) != 0) outline.push_back(line);
            EXPECT_EQ(outline, (std::vector<std::string>{"start 0", "end 0", "start 1", "end 1", "start 2", "end 2"})) << jobs;
            for (std::size_t i = 1; i < recorder.said.size(); ++i) {
                if (recorder.said[i].rfind("progress", 0) == 0) {
                    EXPECT_NE(recorder.said[i - 1].rfind("end", 0), 0u) << "progress after its file ended, with " << jobs;
                }
            }
            for (const std::size_t i : {0u, 2u}) made[jobs].push_back(WithoutClockTimes(FileBytes(files[i].output)));
        }
        EXPECT_EQ(made[2], made[1]) << Code(format);
    }
}

TEST_F(Runner, CancellingTheCurrentFileGoesOnWithTheNext) {
    auto files = Files({Mp4(), MovWithChapters(), Mp4()});
    BatchRunner runner;
    Canceller cancel(runner, false);
    ASSERT_EQ(runner.Run(files, options_, cancel), noErr);
    EXPECT_EQ(States(files), (std::vector<FileState>{FileState::Converted, FileState::Cancelled, FileState::Converted}));
    EXPECT_EQ(cancel.lines, (std::vector<std::string>{"1 of 3", "2 of 3", "3 of 3"}));
    EXPECT_EQ(OutputCount(), 2u); // clip.pdb and clip-1.pdb, no chapters.pdb
    EXPECT_FALSE(std::filesystem::exists(options_.exportFolder / "chapters.pdb"));
}

TEST_F(Runner, CancellingAllLeavesTheRestForTheNextRun) {
    auto files = Files({Mp4(), MovWithChapters(), Mp4()});
    BatchRunner runner;
    Canceller cancel(runner, true);
    ASSERT_EQ(runner.Run(files, options_, cancel), noErr);
    EXPECT_EQ(States(files), (std::vector<FileState>{FileState::Converted, FileState::Cancelled, FileState::Waiting}));
    EXPECT_EQ(OutputCount(), 1u);

    BatchRunner::ResetCancelled(files);
    RunObserver quiet;
    ASSERT_EQ(runner.Run(files, options_, quiet), noErr);
    EXPECT_EQ(States(files), (std::vector<FileState>{FileState::Converted, FileState::Converted, FileState::Converted}));
    EXPECT_EQ(OutputCount(), 3u);
}

TEST_F(Runner, AFolderRemovedMidFileIsAFailure) {
    auto files = Files({Mp4(), MovWithChapters()});
    BatchRunner runner;
    FolderRemover remover(options_.exportFolder);
    ASSERT_EQ(runner.Run(files, options_, remover), noErr);
    EXPECT_EQ(files[0].state, FileState::Failed);
    EXPECT_EQ(files[0].status, "Unable to create file");
    EXPECT_TRUE(files[0].output.empty());
    // The next file recreates the folder and is there.
    EXPECT_EQ(files[1].state, FileState::Converted);
    EXPECT_EQ(FolderNames(options_.exportFolder), std::vector<std::string>{"chapters.pdb"});
}

TEST_F(Runner, MessagesOutsideTheRunsShown) {
    EXPECT_EQ(ConversionMessage(static_cast<OSErr>(-2010)), "Error code -2010");
    EXPECT_EQ(ConversionMessage(noErr), "Conversion complete");
}

TEST(StartUp, CommandLineNames) {
    using Names = std::vector<std::string>;
    EXPECT_EQ(SplitCommandLine(""), Names{});
    EXPECT_EQ(SplitCommandLine("C:\\My Movies\\a.mov"), (Names{"C:\\My", "Movies\\a.mov"}));
    EXPECT_EQ(SplitCommandLine("\"C:\\My Movies\\a.mov\""), (Names{"C:\\My Movies\\a.mov"}));
    EXPECT_EQ(SplitCommandLine("   a.mov    b.mov  "), (Names{"a.mov", "b.mov"}));
    EXPECT_EQ(SplitCommandLine("\"a b.mov\"c.mov"), (Names{"a b.mov", "c.mov"}));
}

TEST_F(Runner, SoundThatWasWantedButCouldNotBeConvertedIsReported) {
    // A sound of 1 Hz: no output rate can be made from it. With pictures the
    // movie is complete without it, with the warning; alone it is no movie.
    const auto oneHertz = "-f lavfi -i 'aevalsrc=0.5*sin(t):s=1:d=2' ";
    auto files = Files({MakeFixture("one-hertz.mkv", std::string("-f lavfi -i testsrc2=size=160x120:rate=10:duration=2 ") +
                                                         oneHertz + "-c:v mpeg4 -c:a pcm_s16le -shortest %o"),
                        MakeFixture("one-hertz.wav", std::string(oneHertz) + "-c:a pcm_s16le %o")});
    BatchRunner runner;
    RunObserver quiet;
    ASSERT_EQ(runner.Run(files, options_, quiet), noErr);
    EXPECT_EQ(States(files), (std::vector<FileState>{FileState::Converted, FileState::Failed}));
    EXPECT_EQ(files[0].status, "Audio track not converted");
    EXPECT_EQ(files[1].status, "Audio-only movie not converted");
    EXPECT_EQ(OutputCount(), 1u);

    // An MPEG-1 movie's sound when the settings want none: no warning.
    EditSettings s;
    UnpackSettings(s, settings_);
    s.soundFormat = 0;
    AtomContainer silent;
    ASSERT_EQ(PackSettings(s, s.name, silent), noErr);
    options_.settings = &silent;
    auto mpeg = Files({MakeFixture("clip.mpg", std::string(kTestPicture) + " " + kTestTone +
                                                   " -c:v mpeg1video -b:v 800k -c:a mp2 -shortest -f mpeg %o")});
    ASSERT_EQ(runner.Run(mpeg, options_, quiet), noErr);
    EXPECT_EQ(mpeg[0].state, FileState::Converted);
    EXPECT_EQ(mpeg[0].status, "");
}

namespace {

// Hears a conversion; cancels once it has passed `cancelAt` (‰), if set.
class Listener : public ConversionSink {
public:
    explicit Listener(int cancelAt = -1) : cancelAt_(cancelAt) {}
    void Started(std::int64_t lengthMs) override { length = lengthMs; }
    bool Progress(int permille) override {
        if (!seen.empty() && permille < seen.back()) ++backwards;
        seen.push_back(permille);
        return cancelAt_ < 0 || permille < cancelAt_;
    }
    std::int64_t length = -1;
    std::vector<int> seen;
    int backwards = 0;

private:
    int cancelAt_;
};

} // namespace

TEST_F(Runner, TheTypedCallReportsWhatItMadeAndCancelsCleanly) {
    ConversionJob job;
    job.source = Mp4();
    ASSERT_EQ(SetExportSettings(job.settings, &settings_), noErr);
    job.toSourceFolder = false;
    job.exportFolder = options_.exportFolder;
    std::filesystem::create_directories(job.exportFolder);
    Listener listener;
    job.sink = &listener;
    ConversionReport report;
    ASSERT_EQ(Convert(job, report), noErr);
    EXPECT_EQ(report.status, noErr);
    EXPECT_EQ(report.output, job.exportFolder / "clip.pdb");
    EXPECT_TRUE(std::filesystem::exists(report.output));
    EXPECT_NEAR(static_cast<double>(report.lengthMs), 2000.0, 100.0);
    EXPECT_EQ(listener.length, report.lengthMs);
    ASSERT_FALSE(listener.seen.empty());
    EXPECT_EQ(listener.seen.back(), 1000);
    EXPECT_EQ(listener.backwards, 0);

    // Cancelled halfway: the answer says so and nothing of it stays.
    Listener canceller(500);
    job.sink = &canceller;
    EXPECT_EQ(Convert(job, report), userCanceledErr);
    EXPECT_TRUE(report.output.empty());
    EXPECT_EQ(OutputCount(), 1u);

    // A source that is not there, and a folder that is a file, say so.
    job.source = folder_.Path() / "missing.mp4";
    EXPECT_EQ(Convert(job, report), noMovieFound);
    EXPECT_EQ(report.detail, "no such file");
    job.source = Mp4();
    job.exportFolder = job.exportFolder / "clip.pdb";
    EXPECT_EQ(Convert(job, report), fnOpnErr);
    EXPECT_EQ(report.detail, "in " + job.exportFolder.string());
}
