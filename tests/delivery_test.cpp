// Converting onto the handheld from the command line: a card's folder, the
// HotSync queues, and a real FAT card image where this machine can mount one.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/cli_runner.h"
#include "tests/media_fixtures.h"

namespace {

// A FAT file system in an image, mounted by the kernel through a loop
// device; unmounted when the object goes. `how` says why there is none.
// (FUSE's FAT driver is no stand-in: it garbles a file that grows over
// what it held.)
class FatCard {
public:
    explicit FatCard(const std::filesystem::path& folder) : image_(folder / "card.img"), mount_(folder / "card") {
        std::filesystem::create_directories(mount_);
        const std::string image = image_.string(), mount = mount_.string();
        if (std::system(("truncate -s 16M " + image + " && mkfs.fat -n PALMCARD " + image + " >/dev/null 2>&1").c_str()) != 0) {
            how = "mkfs.fat is not installed";
            return;
        }
        if (std::system(("mount -o loop " + image + " " + mount + " >/dev/null 2>&1").c_str()) == 0) {
            unmount_ = "umount " + mount;
        } else {
            how = "this machine cannot mount a FAT image (not root, no loop devices, or a kernel without vfat)";
        }
    }
    ~FatCard() {
        if (!unmount_.empty()) (void)std::system((unmount_ + " >/dev/null 2>&1").c_str());
    }
    bool Mounted() const { return !unmount_.empty(); }
    const std::filesystem::path& Root() const { return mount_; }
    std::string how;

private:
    std::filesystem::path image_, mount_;
    std::string unmount_;
};

} // namespace

TEST(Delivery, CardFolderFromTheCommandLine) {
    TestFolder home;
    // A card that has been in a handheld: its folders in other letters.
    const auto card = home.Path() / "card";
    std::filesystem::create_directories(card / "Palm" / "programs" / "Vantro");
    std::ofstream(card / "Palm" / "programs" / "Vantro" / "old.pdb") << "kept";
    VantroResult r = RunVantro(home.Path(), {"convert", Mp4().string(), "--to", "card:" + card.string()});
    ASSERT_EQ(r.status, 0) << r.errors;
    const auto folder = card / "Palm" / "programs" / "Vantro";
    EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"clip.pdb", "old.pdb"}));
    EXPECT_EQ(FileText(folder / "old.pdb"), "kept");
    EXPECT_TRUE(InspectFile(folder / "clip.pdb").Valid());

    // What --to refuses, with the reason.
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"--to", "floppy"}, "--to takes card[:PATH] or hotsync[:USER][:card]"},
        {{"--to", "card:" + (home.Path() / "none").string()}, "PALM/Programs/VANTRO cannot be made there"},
        {{"--to", "card:" + card.string(), "--out", home.Path().string()}, "excludes"},
        {{"--to", "hotsync"}, "no HotSync users"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"convert", Mp4().string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        r = RunVantro(home.Path(), args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_TRUE(Has(r.errors, c.says)) << r.errors;
    }
}

TEST(Delivery, HotSyncQueuesFromTheCommandLine) {
    TestFolder home;
    ASSERT_EQ(RunVantro(home.Path(), {"devices", "--add-user", "Bob"}).status, 0);
    const auto bob = home.Path() / ".local" / "share" / "vantro-davavivi" / "hotsync" / "Bob";

    // One user: taken without naming; the movie waits in the queue, the
    // user's folder keeps nothing else.
    VantroResult r = RunVantro(home.Path(), {"convert", Mp4().string(), "--to", "hotsync", "--json"});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(InspectFile(bob / "install" / "clip.pdb").Valid());
    EXPECT_TRUE(Has(r.output, (bob / "install" / "clip.pdb").string())) << r.output;
    r = RunVantro(home.Path(), {"convert", Mp4().string(), "--to", "hotsync:Bob:card"});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(InspectFile(bob / "card" / "clip.pdb").Valid());
    EXPECT_EQ(FolderNames(bob), (std::vector<std::string>{"card", "install"}));

    // J-Pilot's user joins: both listed, and now one must be named.
    std::filesystem::create_directories(home.Path() / ".jpilot");
    std::ofstream(home.Path() / ".jpilot" / "jpilot.rc") << "user Anna\n";
    r = RunVantro(home.Path(), {"devices"});
    EXPECT_TRUE(Has(r.output, "Anna") && Has(r.output, "J-Pilot's install list")) << r.output;
    EXPECT_TRUE(Has(r.output, "Bob") && Has(r.output, "queue folder, with a card")) << r.output;
    r = RunVantro(home.Path(), {"convert", Mp4().string(), "--to", "hotsync"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Has(r.errors, "several HotSync users (Anna, Bob)")) << r.errors;
    r = RunVantro(home.Path(), {"convert", Mp4().string(), "--to", "hotsync:Anna:card"});
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::string list = FileText(home.Path() / ".jpilot" / "jpilot.install");
    ASSERT_TRUE(list.size() > 2 && list[0] == '\x01' && list.back() == '\n') << list;
    EXPECT_TRUE(InspectFile(list.substr(1, list.size() - 2)).Valid());
    EXPECT_EQ(RunVantro(home.Path(), {"devices", "--add-user", "Bob"}).status, 2);
}

TEST(Delivery, OntoARealFatCard) {
    TestFolder home;
    FatCard card(home.Path());
    if (!card.Mounted()) GTEST_SKIP() << "No FAT card image: " << card.how;
    const VantroResult r = RunVantro(home.Path(), {"convert", Mp4().string(), "--to", "card:" + card.Root().string()});
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(InspectFile(card.Root() / "PALM" / "Programs" / "VANTRO" / "clip.pdb").Valid());
    EXPECT_EQ(FolderNames(card.Root() / "PALM" / "Programs" / "VANTRO"), std::vector<std::string>{"clip.pdb"});
}
