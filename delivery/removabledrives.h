// Removable drives: the card readers, USB sticks and SD/MMC slots that hold
// mounted media, found from the kernel's mount table and sysfs, so that
// converted movies can go straight onto a handheld's card; and the
// handheld's own folder on the chosen card.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

// Where the kernel's tables are read: the system's own, or fake trees that
// stand in for them.
struct SystemRoots {
    FileSpec sys = "/sys";                        // sysfs
    FileSpec mountinfo = "/proc/self/mountinfo";
};

struct RemovableDrive {
    FileSpec mountPoint;     // where it is mounted, e.g. /media/anna/CARD
    std::string device;      // kernel name of the partition or disk, e.g. "sdb1", "mmcblk0p1"
    std::string label;       // what to show: the mount point's last name (e.g. "CARD"), else the device
};

// The removable drives holding mounted media, in mount order.
//
// A drive is a whole mount (not a bind mount of a sub-folder) of a block
// device whose disk says it is removable, or sits below a USB or MMC/SD
// host; never a virtual device (loop, dm, zram), an empty card slot (a disk
// of size 0), or a device that carries the system's own mounts (/, /boot,
// /usr, /var, /etc, /home, /opt, /srv or beneath them: a live USB stick).
// A device mounted twice is offered once, at its first mount point. Damaged
// lines of the mount table are skipped. fnfErr when there is no mount table;
// no drives at all is noErr with an empty list.
[[nodiscard]] OSErr ListRemovableDrives(const SystemRoots& roots, std::vector<RemovableDrive>& out);

// Creates PALM/Programs/VANTRO under `cardRoot` level by level, reusing an
// existing folder of any letter case at each level (FAT cards from other
// machines have "Palm", "PALM", "programs"...), and answers the folder.
//
// An existing folder is used as it is: never renamed, its contents never
// touched; a symbolic link is never followed. fnfErr when the card root is
// missing or not a folder; dupFNErr when something other than a folder has
// a level's name; permErr when the card is read-only or not ours.
[[nodiscard]] OSErr MakeCardFolder(const FileSpec& cardRoot, FileSpec& folder);
