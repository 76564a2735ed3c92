// Output names and reservations: names never overwrite, a reserved name is
// taken in one step, only complete databases get a final name, and database
// names stay distinct on the handheld.
#include <gtest/gtest.h>

#include <fstream>
#include <latch>
#include <thread>

#include "delivery/outputfile.h"
#include "moviedb/pdbname.h"
#include "tests/test_folder.h"

namespace {

// A reservation written with some bytes and committed; answers its final
// name (and gives its database name).
FileSpec Convert(const FileSpec& folder, const std::string& base, const std::string& bytes = "database",
                 std::string* databaseName = nullptr) {
    OutputReservation r;
    EXPECT_EQ(ReserveOutputFile(folder, base, nullptr, r), noErr);
    if (databaseName) *databaseName = r.DatabaseName();
    File f;
    EXPECT_EQ(File::Open(r.PartialPath(), File::Mode::ReadWrite, f), noErr);
    EXPECT_EQ(f.WriteAt(0, {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}), noErr);
    EXPECT_EQ(f.Truncate(bytes.size()), noErr);
    EXPECT_EQ(r.Commit(), noErr);
    return r.FinalPath();
}

std::string Cp1252(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

} // namespace

TEST(OutputNames, BaseNamesFoldersAndTypedNames) {
    std::string base;
    const FileSpec source = "/movies/my_holiday.final.mov";
    ASSERT_EQ(OutputBaseName(source, "", base), noErr);
    EXPECT_EQ(base, "my_holiday.final"); // the file keeps its name; the database shows spaces
    {
        TestFolder folder;
        OutputReservation r;
        ASSERT_EQ(ReserveOutputFile(folder.Path(), base, nullptr, r, true), noErr);
        EXPECT_EQ(r.FinalPath().filename(), "my_holiday.final.pdb");
        EXPECT_EQ(r.DatabaseName(), "my holiday.final");
    }
    // A typed name arrives with the source's extension appended: its own full stops stay.
    ASSERT_EQ(OutputBaseName(source, "Trip No. 2.mov", base), noErr);
    EXPECT_EQ(base, "Trip No. 2");
    // A typed name is a name, never a path.
    for (const char* path : {"../x.mov", "a/b.mov", "...mov", "..mov", "/etc/x.mov", ".mov"})
        EXPECT_EQ(OutputBaseName(source, path, base), bdNamErr) << path;
    EXPECT_EQ(OutputFolder(source, true, "/elsewhere"), FileSpec("/movies"));
    EXPECT_EQ(OutputFolder(source, false, "/elsewhere"), FileSpec("/elsewhere"));
    EXPECT_EQ(PartialNameOf("/out/clip.pdb"), FileSpec("/out/.clip.pdb.vantro-partial"));
}

TEST(OutputNames, NamesNeverOverwriteAnything) {
    TestFolder folder;
    EXPECT_EQ(Convert(folder.Path(), "clip").filename(), "clip.pdb");
    EXPECT_EQ(Convert(folder.Path(), "clip").filename(), "clip-1.pdb");
    // A dangling symbolic link and a folder take names too.
    std::filesystem::create_symlink(folder.Path() / "nowhere", folder.Path() / "clip-2.pdb");
    std::filesystem::create_directory(folder.Path() / "clip-3.pdb");
    EXPECT_EQ(Convert(folder.Path(), "clip").filename(), "clip-4.pdb");
    EXPECT_TRUE(std::filesystem::is_symlink(folder.Path() / "clip-2.pdb"));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"clip-1.pdb", "clip-2.pdb", "clip-3.pdb", "clip-4.pdb", "clip.pdb"}));
}

TEST(OutputReservations, ANamePlantedAfterTheChoiceSurvives) {
    TestFolder folder;
    for (bool link : {false, true}) {
        SCOPED_TRACE(link ? "symbolic link" : "file");
        const std::string base = link ? "linked" : "planted";
        OutputReservation r;
        ASSERT_EQ(ReserveOutputFile(folder.Path(), base, nullptr, r), noErr);
        const FileSpec chosen = r.FinalPath();
        EXPECT_EQ(chosen.filename(), base + ".pdb");
        EXPECT_FALSE(std::filesystem::exists(chosen)); // nothing under the final name yet
        if (link) std::filesystem::create_symlink(folder.Path() / "target", chosen);
        else std::ofstream(chosen) << "someone else's";
        ASSERT_EQ(r.Commit(), noErr);
        EXPECT_EQ(r.FinalPath().filename(), base + "-1.pdb");
        if (link) EXPECT_TRUE(std::filesystem::is_symlink(chosen));
        else EXPECT_EQ(FileText(chosen), "someone else's");
        EXPECT_FALSE(std::filesystem::exists(folder.Path() / "target"));
    }
}

TEST(OutputReservations, OnlyWhatTheRunCreatedIsDeleted) {
    TestFolder folder;
    {
        OutputReservation r;
        ASSERT_EQ(ReserveOutputFile(folder.Path(), "clip", nullptr, r), noErr);
        EXPECT_TRUE(std::filesystem::exists(r.PartialPath()));
        // Something else now has the partial file's name: it stays.
        std::filesystem::remove(r.PartialPath());
        std::ofstream(r.PartialPath()) << "not ours";
    }
    EXPECT_EQ(FileText(folder.Path() / ".clip.pdb.vantro-partial"), "not ours");
    std::filesystem::remove(folder.Path() / ".clip.pdb.vantro-partial");
    {
        OutputReservation r;
        ASSERT_EQ(ReserveOutputFile(folder.Path(), "clip", nullptr, r), noErr);
    } // given up: nothing stays
    EXPECT_TRUE(folder.Names().empty());
}

TEST(OutputReservations, ALiveRunsPartialIsRespectedADeadOnesRemoved) {
    TestFolder folder;
    OutputReservation live;
    ASSERT_EQ(ReserveOutputFile(folder.Path(), "clip", nullptr, live), noErr);
    // A run killed while writing "other.pdb": its partial file, unlocked.
    std::ofstream(folder.Path() / ".other.pdb.vantro-partial") << "half a database";
    // A file of the user's that merely looks alike is not ours.
    std::ofstream(folder.Path() / "notes.vantro-partial") << "mine";

    OutputReservation next;
    ASSERT_EQ(ReserveOutputFile(folder.Path(), "clip", nullptr, next), noErr);
    EXPECT_EQ(next.FinalPath().filename(), "clip-1.pdb"); // clip.pdb is being written
    EXPECT_TRUE(std::filesystem::exists(live.PartialPath()));
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / ".other.pdb.vantro-partial"));
    EXPECT_TRUE(std::filesystem::exists(folder.Path() / "notes.vantro-partial"));
}

TEST(OutputReservations, ThreadsConvertingTheSameNameGetTheirOwn) {
    TestFolder folder;
    constexpr std::size_t kThreads = 8;
    std::vector<FileSpec> finals(kThreads);
    std::vector<std::string> names(kThreads);
    std::vector<std::thread> threads;
    std::latch start(kThreads); // all reserve at once
    for (std::size_t t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            finals[t] = Convert(folder.Path(), "clip", std::to_string(t), &names[t]);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::set<FileSpec>(finals.begin(), finals.end()).size(), kThreads);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), kThreads) << "database names";
    for (std::size_t t = 0; t < kThreads; ++t) EXPECT_EQ(FileText(finals[t]), std::to_string(t));
    EXPECT_EQ(folder.Names().size(), kThreads); // no partial file left
}

TEST(DatabaseNames, TheHandheldsCharacterSet) {
    EXPECT_EQ(HandheldText("Clip 1"), "Clip 1");
    EXPECT_EQ(HandheldText("Caf\xC3\xA9 \xE2\x82\xAC"), Cp1252({'C', 'a', 'f', 0xE9, ' ', 0x80}));
    EXPECT_EQ(HandheldText("\xC5\x81\xC3\xB3\x64\xC5\xBA"), Cp1252({'L', 0xF3, 'd', 'z'})); // Łódź
    EXPECT_EQ(HandheldText("\xE5\xA4\x8F\xE4\xBC\x91\xE3\x81\xBF"), "___");                  // 夏休み
    EXPECT_EQ(HandheldText("a\tb\xFF" "c\xC3"), "a b_c_");                                 // control, stray bytes
    EXPECT_EQ(HandheldText("\xC0\xAF"), "__");                                             // an overlong '/'
    EXPECT_EQ(HandheldText("Cafe\xCC\x81 \xC2\x85"), "Cafe  ");                            // decomposed é, a C1 control
    EXPECT_EQ(HandheldText("\xE2\x80\x9Cquoted\xE2\x80\x9D"), Cp1252({0x93, 'q', 'u', 'o', 't', 'e', 'd', 0x94}));
}

TEST(DatabaseNames, LongNamesKeepTheirEndsAndCollisionsGetANumber) {
    const std::string part1 = "Summer holiday at the lake house part 1", part2 = "Summer holiday at the lake house part 2";
    const std::string a = UniqueDatabaseName(part1, {}), b = UniqueDatabaseName(part2, {a});
    EXPECT_EQ(a, "Summer holiday at th" + Cp1252({0x85}) + "use part 1");
    EXPECT_EQ(a.size(), kDatabaseNameLimit);
    EXPECT_NE(a, b);
    // The same start and end: the second one gets a number, within 31 bytes.
    const std::string c = UniqueDatabaseName("Summer holiday at the beach house part 1", {a});
    EXPECT_FALSE(SameDatabaseName(a, c));
    EXPECT_EQ(c.size(), kDatabaseNameLimit);
    EXPECT_EQ(c.substr(c.size() - 2), " 2");
    // Letter case does not tell databases apart; short names keep theirs.
    EXPECT_EQ(UniqueDatabaseName("clip", {"CLIP", "clip 2"}), "clip 3");
    EXPECT_EQ(UniqueDatabaseName("", {}), "Lumexa document");
    EXPECT_EQ(UniqueDatabaseName("\xCC\x8A", {}), "Lumexa document"); // a lone combining ring
    // A name of many-byte characters is never cut inside one: every byte is a character.
    std::string japanese;
    for (int i = 0; i < 40; ++i) japanese += "\xE3\x81\x82";
    EXPECT_EQ(UniqueDatabaseName(japanese, {}), std::string(20, '_') + Cp1252({0x85}) + std::string(10, '_'));
}

TEST(DatabaseNames, DistinctInTheFolderAndInTheBatch) {
    TestFolder folder;
    const std::string long1 = "Summer holiday at the lake house, day one, part 1";
    const std::string long2 = "Summer holiday at the sea shore, day two, part 1";
    BatchNames batch;
    OutputReservation first, second;
    ASSERT_EQ(ReserveOutputFile(folder.Path(), long1, &batch, first), noErr);
    // Being written: the second reservation already sees the first's name.
    ASSERT_EQ(ReserveOutputFile(folder.Path(), long2, nullptr, second), noErr);
    EXPECT_FALSE(SameDatabaseName(first.DatabaseName(), second.DatabaseName()));
    EXPECT_EQ(FileText(first.PartialPath()).substr(0, first.DatabaseName().size()), first.DatabaseName());
    // Another folder of the same batch (HotSync puts them all on one handheld).
    TestFolder other;
    OutputReservation third;
    ASSERT_EQ(ReserveOutputFile(other.Path(), long2, &batch, third), noErr);
    EXPECT_FALSE(SameDatabaseName(first.DatabaseName(), third.DatabaseName()));
    EXPECT_EQ(batch.names.size(), 2u);
}

TEST(OutputReservations, FoldersAndNamesThatCannotBeHadAreErrorsNotLoops) {
    TestFolder folder;
    OutputReservation r;
    std::ofstream(folder.Path() / "a-file") << "x";
    EXPECT_EQ(ReserveOutputFile(folder.Path() / "a-file", "clip", nullptr, r), fnOpnErr); // "--out a-file"
    EXPECT_EQ(ReserveOutputFile(folder.Path() / "missing", "clip", nullptr, r), fnOpnErr);
    EXPECT_EQ(ReserveOutputFile(folder.Path(), std::string(240, 'n'), nullptr, r), bdNamErr);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"a-file"});
}

TEST(OutputReservations, AReplacedPartialFileIsNeitherWrittenNorMoved) {
    TestFolder folder;
    OutputReservation r;
    ASSERT_EQ(ReserveOutputFile(folder.Path(), "clip", nullptr, r), noErr);
    const FileSpec writing = r.WritePath();
    std::filesystem::remove(r.PartialPath());
    std::ofstream(r.PartialPath()) << "someone else's";
    // The conversion still writes into the file it reserved...
    File f;
    ASSERT_EQ(File::Open(writing, File::Mode::ReadWrite, f), noErr);
    const std::string ours = "our database";
    ASSERT_EQ(f.WriteAt(0, {reinterpret_cast<const std::uint8_t*>(ours.data()), ours.size()}), noErr);
    // ...and what now has its name never becomes a database.
    EXPECT_EQ(r.Commit(), fnOpnErr);
    EXPECT_EQ(FileText(r.PartialPath()), "someone else's");
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "clip.pdb"));
}
