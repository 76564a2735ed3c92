#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/files.h"
#include "tests/test_folder.h"

namespace {

std::span<const std::uint8_t> Text(const char* s) { return {reinterpret_cast<const std::uint8_t*>(s), std::strlen(s)}; }

std::string Read(const FileSpec& path) {
    ByteBlock b;
    EXPECT_EQ(ReadWholeFile(path, b), noErr);
    return {reinterpret_cast<const char*>(b.Data()), b.Size()};
}

} // namespace

TEST(Files, NewFilesNeverReplaceExistingOnes) {
    TestFolder folder;
    const FileSpec path = folder.Path() / "clip.pdb";
    File file;
    ASSERT_EQ(File::CreateNew(path, file), noErr);
    ASSERT_EQ(file.WriteAt(0, Text("first")), noErr);
    ASSERT_EQ(file.Close(), noErr);
    File again;
    EXPECT_EQ(File::CreateNew(path, again), dupFNErr);
    EXPECT_EQ(Read(path), "first");
    EXPECT_EQ(File::Open(folder.Path() / "missing", File::Mode::Read, again), fnfErr);
    EXPECT_EQ(File::Open(folder.Path(), File::Mode::Read, again), fnfErr); // a folder is no file
    EXPECT_EQ(File::CreateNew(folder.Path() / "no-such-folder" / "x.pdb", again), fnfErr);
}

TEST(Files, ReadsAndWritesAtOffsets) {
    TestFolder folder;
    File file;
    ASSERT_EQ(File::CreateNew(folder.Path() / "spool", file), noErr);
    ASSERT_EQ(file.WriteAt(4, Text("data")), noErr);
    std::uint64_t size = 0;
    ASSERT_EQ(file.Size(size), noErr);
    EXPECT_EQ(size, 8u);
    std::uint8_t buffer[4];
    ASSERT_EQ(file.ReadAt(4, buffer), noErr);
    EXPECT_EQ(std::string(buffer, buffer + 4), "data");
    ASSERT_EQ(file.ReadAt(0, buffer), noErr); // the hole reads as zeros
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(file.ReadAt(6, buffer), eofErr);
    ASSERT_EQ(file.Truncate(2), noErr);
    ASSERT_EQ(file.Size(size), noErr);
    EXPECT_EQ(size, 2u);
}

TEST(Files, TemporaryFilesAreUniqueAndDeletedWithTheirOwner) {
    TestFolder folder;
    ASSERT_EQ(setenv("TMPDIR", folder.Path().c_str(), 1), 0);
    EXPECT_EQ(TemporaryFolder(), folder.Path());
    std::set<std::string> names;
    {
        std::vector<ScopedFileDeletion> owners;
        for (int i = 0; i < 50; ++i) {
            FileSpec path;
            ASSERT_EQ(CreateTemporaryFile("lxmv", ".tmp", path), noErr);
            EXPECT_EQ(path.parent_path(), folder.Path());
            EXPECT_EQ(path.filename().string().rfind("lxmv", 0), 0u);
            EXPECT_TRUE(FileExists(path));
            names.insert(path.filename().string());
            owners.emplace_back(path);
        }
        EXPECT_EQ(names.size(), 50u);
        owners.front().Release(); // kept on purpose
    }
    EXPECT_EQ(folder.Names().size(), 1u);
    unsetenv("TMPDIR");
    ASSERT_EQ(setenv("TMPDIR", (folder.Path() / "not-a-folder").c_str(), 1), 0);
    EXPECT_EQ(TemporaryFolder(), FileSpec("/tmp"));
    unsetenv("TMPDIR");
}

TEST(Files, AtomicWritesReplaceWholeAndLeaveNoTemporaryFile) {
    TestFolder folder;
    const FileSpec path = folder.Path() / "VTRP";
    ASSERT_EQ(WriteFileAtomically(path, Text("old contents")), noErr);
    ASSERT_EQ(WriteFileAtomically(path, Text("new")), noErr);
    EXPECT_EQ(Read(path), "new");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"VTRP"});
    // A folder that does not exist: an error, and nothing half-written.
    EXPECT_EQ(WriteFileAtomically(folder.Path() / "missing" / "VTRP", Text("x")), fnfErr);
}

TEST(Files, ErrnoMapsToStatusCodes) {
    EXPECT_EQ(StatusFromErrno(ENOSPC), dskFulErr);
    EXPECT_EQ(StatusFromErrno(ENOENT), fnfErr);
    EXPECT_EQ(StatusFromErrno(EEXIST), dupFNErr);
    EXPECT_EQ(StatusFromErrno(ENAMETOOLONG), bdNamErr);
    EXPECT_EQ(StatusFromErrno(EIO), ioErr);
    TestFolder folder;
    EXPECT_EQ(DeleteFile(folder.Path() / "nothing"), fnfErr);
    const std::string longName(300, 'a');
    File file;
    EXPECT_EQ(File::CreateNew(folder.Path() / longName, file), bdNamErr);
}
