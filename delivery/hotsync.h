// HotSync delivery: the install queues of the programs that sync a Palm
// handheld from Linux, seen through one install aide. It knows the HotSync
// users, the folder each user's converted files are written to first, the
// user's expansion card, and how to queue a file for the handheld's memory
// or its card at the next sync.
//
// Two kinds of queue, in this order:
//  - J-Pilot's: the user named in ~/.jpilot/jpilot.rc ("user NAME"), and its
//    install list ~/.jpilot/jpilot.install, one full path per line, a line
//    starting with byte 0x01 meaning "install onto the card". J-Pilot reads
//    the files from where the lines say at its next sync, so queued files
//    are kept in a folder of our own until it has taken them.
//  - A plain queue folder per user, for any sync script to empty:
//    $XDG_DATA_HOME/vantro-davavivi/hotsync/USER/install/ (the handheld's
//    memory) and …/USER/card/ (its card; the handheld has a card when the
//    folder is there). The users are the folders.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/status.h"

// Where the queues live; tests point both elsewhere.
struct HotSyncRoots {
    FileSpec jpilotHome; // J-Pilot's folder (…/.jpilot)
    FileSpec dataFolder; // our own ($XDG_DATA_HOME/vantro-davavivi)
    // $JPILOT_HOME/.jpilot (else ~/.jpilot), and $XDG_DATA_HOME (else
    // ~/.local/share)/vantro-davavivi.
    static HotSyncRoots FromEnvironment();
};

enum class InstallQueue { JPilot, Folder };

struct HotSyncUser {
    std::string name;
    InstallQueue queue = InstallQueue::Folder;
    FileSpec folder;                // converted files are written here first
    std::vector<std::string> cards; // the handheld's card slots by name; none without a card
};

// The card's name where the queue does not know it.
inline constexpr const char* kExpansionCardName = "Expansion card";

class InstallAide {
public:
    explicit InstallAide(HotSyncRoots roots) : roots_(std::move(roots)) {}

    // J-Pilot's user first, then the queue folders' users by name; a folder
    // user of J-Pilot's user's name is J-Pilot's.
    std::vector<HotSyncUser> Users() const;
    // A new queue-folder user with its memory and card queues: bdNamErr for
    // a name that cannot be a folder's, dupFNErr when there is one already.
    [[nodiscard]] OSErr AddUser(const std::string& name) const;
    // Moves `file` into the user's queue for the handheld's memory or card,
    // under a name no queued file has; `file` then names it there. Nothing
    // is lost: on failure the file stays where it was.
    [[nodiscard]] OSErr Queue(const HotSyncUser& user, FileSpec& file, bool toCard) const;

    const HotSyncRoots& Roots() const { return roots_; }

private:
    FileSpec QueueRoot() const { return roots_.dataFolder / "hotsync"; }
    FileSpec JPilotFolder() const { return roots_.dataFolder / "jpilot"; }
    [[nodiscard]] OSErr QueueForJPilot(FileSpec& file, bool toCard) const;

    HotSyncRoots roots_;
};

// The user and target chosen for the "HotSync" destination; they hold for
// every conversion until the next choice.
struct HotSyncTarget {
    std::string user;
    bool toCard = false;
};

// Choosing a user asks the user only when there is a choice to make: several
// users, or one whose handheld has a card.
bool NeedsUserDialog(const std::vector<HotSyncUser>& users);
// The targets offered for a user: "Handheld", then the first card's name.
std::vector<std::string> TargetNames(const HotSyncUser& user);

// Queues a converted file for the target's user. With no user chosen (the
// destination came back from the last exit), the user whose folder holds
// the file is meant. fnfErr when no such user is known any more.
[[nodiscard]] OSErr QueueForHotSync(const InstallAide& aide, const HotSyncTarget& target, FileSpec& file);
