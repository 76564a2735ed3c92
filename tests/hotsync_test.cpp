// HotSync delivery: the users both install queues show, and files queued
// for the handheld's memory and card in each queue's own format, never lost.
#include <gtest/gtest.h>

#include <fstream>

#include "delivery/hotsync.h"
#include "tests/test_folder.h"

namespace {

class HotSyncTest : public ::testing::Test {
protected:
    HotSyncRoots Roots() const { return {home_.Path() / ".jpilot", home_.Path() / "data"}; }
    void JPilotUser(const std::string& name) const {
        std::filesystem::create_directories(Roots().jpilotHome);
        std::ofstream(Roots().jpilotHome / "jpilot.rc") << "port usb:\nuser " << name << "\nuser_id 4711\n";
    }
    // A converted movie in the user's folder, as the conversion leaves it.
    FileSpec Converted(const HotSyncUser& user, const std::string& name, const std::string& bytes = "database") const {
        std::filesystem::create_directories(user.folder);
        std::ofstream(user.folder / name) << bytes;
        return user.folder / name;
    }
    std::vector<std::string> ListLines() const {
        std::vector<std::string> lines;
        std::ifstream in(Roots().jpilotHome / "jpilot.install", std::ios::binary);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    TestFolder home_;
};

} // namespace

TEST_F(HotSyncTest, UsersOfBothQueuesAndWhenToAsk) {
    const InstallAide aide(Roots());
    EXPECT_TRUE(aide.Users().empty());

    EXPECT_EQ(aide.AddUser("Carl"), noErr);
    std::vector<HotSyncUser> users = aide.Users();
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].folder, Roots().dataFolder / "hotsync" / "Carl");
    EXPECT_TRUE(std::filesystem::is_directory(users[0].folder / "install"));
    EXPECT_EQ(TargetNames(users[0]), (std::vector<std::string>{"Handheld", kExpansionCardName}));
    EXPECT_TRUE(NeedsUserDialog(users)); // one user, but a card to choose

    // A handheld without a card: one user is taken without asking.
    std::filesystem::remove(users[0].folder / "card");
    users = aide.Users();
    EXPECT_TRUE(users[0].cards.empty());
    EXPECT_EQ(TargetNames(users[0]), std::vector<std::string>{"Handheld"});
    EXPECT_FALSE(NeedsUserDialog(users));

    // J-Pilot's user comes first and keeps its name from the queue folders.
    JPilotUser("Anna Smith");
    EXPECT_EQ(aide.AddUser("Anna Smith"), noErr);
    EXPECT_EQ(aide.AddUser("Bob"), noErr);
    std::filesystem::create_directories(Roots().dataFolder / "hotsync" / ".sync-state");
    users = aide.Users();
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(users[0].name, "Anna Smith");
    EXPECT_EQ(users[0].queue, InstallQueue::JPilot);
    EXPECT_EQ(users[1].name, "Bob");
    EXPECT_EQ(users[2].name, "Carl");
    EXPECT_TRUE(NeedsUserDialog(users));

    EXPECT_EQ(aide.AddUser("Bob"), dupFNErr);
    for (const char* bad : {"", "a/b", ".hidden", "tab\there"}) EXPECT_EQ(aide.AddUser(bad), bdNamErr) << bad;
}

TEST_F(HotSyncTest, QueueFoldersTakeFilesForMemoryAndCard) {
    const InstallAide aide(Roots());
    ASSERT_EQ(aide.AddUser("Bob"), noErr);
    const HotSyncUser bob = aide.Users().front();

    FileSpec first = Converted(bob, "clip.pdb", "first");
    ASSERT_EQ(QueueForHotSync(aide, {"Bob", false}, first), noErr);
    EXPECT_EQ(first, bob.folder / "install" / "clip.pdb");
    // A second movie of that name never replaces the queued one.
    FileSpec second = Converted(bob, "clip.pdb", "second");
    ASSERT_EQ(QueueForHotSync(aide, {"Bob", false}, second), noErr);
    EXPECT_EQ(second, bob.folder / "install" / "clip-1.pdb");
    EXPECT_EQ(FileText(first), "first");
    EXPECT_EQ(FileText(second), "second");
    // The card; and a destination restored from the last exit, with no user
    // chosen since, means the user whose folder the movie was written to.
    FileSpec card = Converted(bob, "clip.pdb", "card");
    ASSERT_EQ(QueueForHotSync(aide, {"", true}, card), noErr);
    EXPECT_EQ(card, bob.folder / "card" / "clip.pdb");
    EXPECT_EQ(FolderNames(bob.folder), (std::vector<std::string>{"card", "install"}));

    // A user that is gone: the movie stays where it is.
    FileSpec kept = Converted(bob, "kept.pdb");
    EXPECT_EQ(QueueForHotSync(aide, {"Zoe", false}, kept), fnfErr);
    EXPECT_EQ(kept, bob.folder / "kept.pdb");
    EXPECT_EQ(FileText(kept), "database");
}

TEST_F(HotSyncTest, JPilotInstallListWithCardMarks) {
    JPilotUser("Anna");
    std::ofstream(Roots().jpilotHome / "jpilot.install") << "/home/anna/apps/Launcher.prc\n";
    const InstallAide aide(Roots());
    const HotSyncUser anna = aide.Users().front();

    FileSpec memory = Converted(anna, "clip.pdb", "memory");
    ASSERT_EQ(QueueForHotSync(aide, {"Anna", false}, memory), noErr);
    FileSpec card = Converted(anna, "clip.pdb", "card");
    ASSERT_EQ(QueueForHotSync(aide, {"Anna", true}, card), noErr);

    // Lines are appended after what other programs queued, the card's with
    // J-Pilot's 0x01 mark, and the files stay where the lines say.
    EXPECT_EQ(ListLines(), (std::vector<std::string>{"/home/anna/apps/Launcher.prc", memory.string(), "\x01" + card.string()}));
    EXPECT_EQ(FileText(memory), "memory");
    EXPECT_EQ(FileText(card), "card");
    EXPECT_NE(memory, card);
    EXPECT_FALSE(std::filesystem::exists(anna.folder / "clip.pdb"));

    // After J-Pilot's sync (its list emptied) the installed copies go when
    // the next movie is queued; only ours, only those off the list.
    std::ofstream(Roots().jpilotHome / "jpilot.install", std::ios::trunc) << "\x01" << card.string() << "\n";
    FileSpec next = Converted(anna, "next.pdb");
    ASSERT_EQ(QueueForHotSync(aide, {"Anna", false}, next), noErr);
    EXPECT_FALSE(std::filesystem::exists(memory));
    EXPECT_TRUE(std::filesystem::exists(card));
    EXPECT_TRUE(std::filesystem::exists(next));

    // A list that cannot be written: the movie comes back, not lost.
    std::filesystem::remove(Roots().jpilotHome / "jpilot.install");
    std::filesystem::create_directories(Roots().jpilotHome / "jpilot.install");
    FileSpec failed = Converted(anna, "failed.pdb", "keep me");
    EXPECT_NE(QueueForHotSync(aide, {"Anna", false}, failed), noErr);
    EXPECT_EQ(failed, anna.folder / "failed.pdb");
    EXPECT_EQ(FileText(failed), "keep me");
}
