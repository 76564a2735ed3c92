// Removable drives and the handheld's folder on a card, against fake sysfs
// trees and mount tables: which drives are offered, which never are, a mount
// table's escapes and damage, and folders reused in any letter case.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "delivery/removabledrives.h"
#include "tests/test_folder.h"

namespace {

// A fake sysfs (devices and their sys/dev/block links) and mount table.
struct FakeSystem {
    FakeSystem() {
        roots.sys = folder.Path() / "sys";
        roots.mountinfo = folder.Path() / "mountinfo";
    }
    // A disk at sys/devices/<path>, its removable flag and size in sectors.
    void Disk(const std::string& path, const std::string& majMin, int removable, int sectors = 31116288) {
        const FileSpec dir = roots.sys / "devices" / path;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "removable") << removable << '\n';
        std::ofstream(dir / "size") << sectors << '\n';
        Link(majMin, "devices/" + path);
    }
    // A partition inside a disk's folder, as the kernel lays them out.
    void Partition(const std::string& disk, const std::string& name, const std::string& majMin) {
        const FileSpec dir = roots.sys / "devices" / disk / name;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "partition") << "1\n";
        Link(majMin, "devices/" + disk + "/" + name);
    }
    void Link(const std::string& majMin, const std::string& target) {
        std::filesystem::create_directories(roots.sys / "dev" / "block");
        std::filesystem::create_symlink("../../" + target, roots.sys / "dev" / "block" / majMin);
    }
    void Mounts(const std::string& table) { std::ofstream(roots.mountinfo, std::ios::binary) << table; }
    // The drives offered, as "device label mount point".
    std::vector<std::string> Offered() {
        std::vector<RemovableDrive> drives;
        EXPECT_EQ(ListRemovableDrives(roots, drives), noErr);
        std::vector<std::string> text;
        for (const auto& d : drives) text.push_back(d.device + " " + d.label + " " + d.mountPoint.string());
        return text;
    }

    TestFolder folder;
    SystemRoots roots;
};

// A mount table line: all of the file system, or only its folder `root`.
std::string Line(const std::string& majMin, const std::string& mountPoint, const std::string& root = "/") {
    return "36 25 " + majMin + " " + root + " " + mountPoint + " rw,nosuid shared:7 - vfat /dev/x rw,fmask=0022\n";
}

const std::string kReader = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
const std::string kStick = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host7/target7:0:0/7:0:0:0/block/sdd";

} // namespace

TEST(RemovableDrives, RemovableFlagUsbAndMmcParentsAreOfferedNothingElse) {
    FakeSystem s;
    s.Disk(kReader, "8:16", 1);
    s.Partition(kReader, "sdb1", "8:17");
    s.Disk("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:1/block/sdc", "8:32", 1, 0); // empty slot
    s.Disk(kStick, "8:48", 0); // a stick that calls itself fixed
    s.Partition(kStick, "sdd1", "8:49");
    s.Disk("platform/soc/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0", "179:0", 0);
    s.Partition("platform/soc/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0", "mmcblk0p1", "179:1");
    s.Disk("pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0/block/sde", "8:64", 1); // a built-in reader
    s.Disk("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda", "8:0", 0);
    s.Partition("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda", "sda2", "8:2");
    s.Disk("virtual/block/loop0", "7:0", 1);
    // A link out of sysfs is no device of this system's.
    std::filesystem::create_directories(s.folder.Path() / "usb9");
    std::ofstream(s.folder.Path() / "usb9" / "removable") << "1\n";
    s.Link("8:80", "../usb9");
    s.Mounts(Line("8:2", "/mnt/data") + Line("8:17", "/media/u/CARD") + Line("8:32", "/media/u/EMPTY") +
             Line("8:49", "/media/u/STICK") + Line("7:0", "/media/u/ISO") + Line("0:45", "/media/u/tmp") +
             Line("179:1", "/run/media/u/SD") + Line("8:80", "/media/u/ELSEWHERE") + Line("8:64", "/mnt/reader"));
    EXPECT_EQ(s.Offered(), (std::vector<std::string>{"sdb1 CARD /media/u/CARD", "sdd1 STICK /media/u/STICK",
                                                     "mmcblk0p1 SD /run/media/u/SD", "sde reader /mnt/reader"}));
}

TEST(RemovableDrives, EachDeviceOnceAndNeverTheSystems) {
    FakeSystem s;
    s.Disk(kReader, "8:16", 1);
    s.Partition(kReader, "sdb1", "8:17");
    s.Disk(kStick, "8:48", 1);
    // A bind mount shows a sub-folder only; the whole mount after it is the drive, once.
    std::string table = Line("8:17", "/media/u/photos", "/DCIM") + Line("8:17", "/media/u/CARD") + Line("8:17", "/mnt/card");
    // A stick the system runs from: none of its mounts, wherever else it is mounted too.
    const char* places[] = {"/", "/boot", "/usr/local", "/var", "/etc", "/home/u/music", "/opt", "/srv/x",
                            "/bootleg", "/media/u/home"};
    for (int n = 0; n < 10; ++n) {
        const std::string majMin = "8:" + std::to_string(49 + n);
        s.Partition(kStick, "sdd" + std::to_string(n + 1), majMin);
        table += Line(majMin, places[n]);
    }
    table += Line("8:49", "/media/u/LIVE") + Line("8:52", "/media/u/VAR");
    s.Mounts(table);
    EXPECT_EQ(s.Offered(), (std::vector<std::string>{"sdb1 CARD /media/u/CARD", "sdd9 bootleg /bootleg",
                                                     "sdd10 home /media/u/home"}));
}

TEST(RemovableDrives, MountTableEscapesAndDamage) {
    FakeSystem s;
    s.Disk(kReader, "8:16", 1);
    s.Partition(kReader, "sdb1", "8:17");
    const std::string good = Line("8:17", "/media/u/MY\\040CARD\\011\\134x\\012");
    std::string damaged = "\n" "garbage\n" "36 25 8:17 / /media/u/A rw\n" "36 25 8:17 / /media/u/A rw - \n"
                          "36 25 8x17 / /m rw - vfat s rw\n" "36 25 :17 / /m rw - vfat s rw\n"
                          "36 25 8:99999999999 / /m rw - vfat s rw\n" "36 25 8:17 DCIM /m rw - vfat s rw\n"
                          "36 25 8:17 / m rw - vfat s rw\n" "36 25 8:17 / /m\\000x rw - vfat s rw\n";
    damaged += Line("8:17", std::string("/m\0x", 4));
    s.Mounts(damaged + good + "37 25 8:17 / /media/u/B\\04");
    EXPECT_EQ(s.Offered(), std::vector<std::string>{"sdb1 MY CARD\t\\x\n /media/u/MY CARD\t\\x\n"});

    // An empty table leaves no stale drives; no table at all is an error.
    std::vector<RemovableDrive> drives(1);
    s.Mounts("");
    EXPECT_EQ(ListRemovableDrives(s.roots, drives), noErr);
    EXPECT_TRUE(drives.empty());
    s.roots.mountinfo = s.folder.Path() / "none";
    EXPECT_EQ(ListRemovableDrives(s.roots, drives), fnfErr);
}

TEST(RemovableCardFolder, MadeFreshOrReusedInAnyLetterCase) {
    TestFolder card;
    FileSpec folder;
    ASSERT_EQ(MakeCardFolder(card.Path(), folder), noErr);
    EXPECT_EQ(folder, card.Path() / "PALM" / "Programs" / "VANTRO");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    ASSERT_EQ(MakeCardFolder(card.Path(), folder), noErr); // again: the same folder
    EXPECT_EQ(folder, card.Path() / "PALM" / "Programs" / "VANTRO");
    EXPECT_EQ(card.Names(), std::vector<std::string>{"PALM"});

    // Another machine's spelling, with a movie already there.
    TestFolder used;
    std::filesystem::create_directories(used.Path() / "Palm" / "programs" / "Vantro");
    const std::string movie("movie\0\x01" "bytes", 12);
    std::ofstream(used.Path() / "Palm" / "programs" / "Vantro" / "clip.pdb", std::ios::binary).write(movie.data(), movie.size());
    const auto before = FileBytes(used.Path() / "Palm" / "programs" / "Vantro" / "clip.pdb");
    ASSERT_EQ(MakeCardFolder(used.Path(), folder), noErr);
    EXPECT_EQ(folder, used.Path() / "Palm" / "programs" / "Vantro");
    EXPECT_EQ(used.Names(), std::vector<std::string>{"Palm"});
    EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"clip.pdb"});
    EXPECT_EQ(FileBytes(folder / "clip.pdb"), before);

    // Only folders are reused; of two spellings the handheld's own wins.
    TestFolder mixed;
    for (const char* name : {"palm", "PALM/PROGRAMS", "PALM/Programs"}) std::filesystem::create_directories(mixed.Path() / name);
    std::ofstream(mixed.Path() / "PALM" / "Programs" / "vantro") << "a file";
    ASSERT_EQ(MakeCardFolder(mixed.Path(), folder), noErr);
    EXPECT_EQ(folder, mixed.Path() / "PALM" / "Programs" / "VANTRO");
    EXPECT_EQ(FileText(mixed.Path() / "PALM" / "Programs" / "vantro"), "a file");
}

TEST(RemovableCardFolder, WhatBlocksTheFolderIsAnError) {
    TestFolder card;
    FileSpec folder = "unchanged";
    std::ofstream(card.Path() / "PALM") << "not a folder";
    EXPECT_EQ(MakeCardFolder(card.Path(), folder), dupFNErr);
    EXPECT_EQ(FileText(card.Path() / "PALM"), "not a folder");
    EXPECT_EQ(folder, FileSpec("unchanged"));

    // A link is never followed, not even to a folder.
    TestFolder linked, elsewhere;
    std::filesystem::create_directory_symlink(elsewhere.Path(), linked.Path() / "PALM");
    EXPECT_EQ(MakeCardFolder(linked.Path(), folder), dupFNErr);
    EXPECT_TRUE(elsewhere.Names().empty());

    EXPECT_EQ(MakeCardFolder(card.Path() / "gone", folder), fnfErr);
    EXPECT_EQ(MakeCardFolder(card.Path() / "PALM", folder), fnfErr);
    if (::geteuid() != 0) { // the superuser writes anywhere
        TestFolder locked;
        std::filesystem::permissions(locked.Path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_EQ(MakeCardFolder(locked.Path(), folder), permErr);
        std::filesystem::permissions(locked.Path(), std::filesystem::perms::owner_all);
    }
}
