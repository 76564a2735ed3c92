// The handheld's side of the command line: `--to card[:PATH]` and
// `--to hotsync[:USER][:card]` for a conversion, and `vantro devices`, which
// lists the removable drives and the HotSync users this machine has.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "delivery/hotsync.h"
#include "delivery/removabledrives.h"
#include "platform/resources.h"

namespace {

constexpr ResID kRemovableTexts = 134;

std::string NoDrivesText() {
    std::string text;
    if (GetIndString(kRemovableTexts, 5, text) != noErr) text = "No Removable Media drives found.";
    return text;
}

// The system's reason in words, for the codes a card or a folder gives.
std::string Reason(OSErr err) {
    if (err == fnfErr) return "no such folder";
    if (err == dupFNErr) return "a file is in the way";
    const std::string_view why = StatusReason(err);
    return why.empty() ? "error " + std::to_string(err) : std::string(why);
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text;
}

bool ToCard(const std::string& path, RunOptions& run, std::string& error) {
    FileSpec root = path;
    if (root.empty()) {
        std::vector<RemovableDrive> drives;
        if (OSErr err = ListRemovableDrives(SystemRoots{}, drives))
            return error = "the mounted drives cannot be read (error " + std::to_string(err) + ")", false;
        if (drives.empty()) return error = NoDrivesText(), false;
        if (drives.size() > 1) {
            std::vector<std::string> places;
            for (const RemovableDrive& d : drives) places.push_back(d.mountPoint.string());
            return error = "there are several removable drives (" + Joined(places) + "): name one with --to card:PATH", false;
        }
        root = drives.front().mountPoint;
    }
    FileSpec folder;
    if (OSErr err = MakeCardFolder(root, folder))
        return error = root.string() + ": the handheld's folder PALM/Programs/VANTRO cannot be made there (" + Reason(err) + ")",
               false;
    run.toSourceFolder = false;
    run.exportFolder = folder;
    return true;
}

// "USER", "USER:card", "card" or "": the user (the only one when not named)
// and the target.
bool ToHotSync(std::string what, RunOptions& run, std::string& error) {
    HotSyncTarget target;
    if (what == "card" || what.ends_with(":card")) {
        target.toCard = true;
        what.erase(what.size() - std::min<std::size_t>(what.size(), what == "card" ? 4 : 5));
    }
    auto aide = std::make_shared<const InstallAide>(HotSyncRoots::FromEnvironment());
    const std::vector<HotSyncUser> users = aide->Users();
    if (users.empty())
        return error = "no HotSync users: sync once with J-Pilot, or add one with `vantro devices --add-user NAME`", false;
    std::vector<std::string> names;
    const HotSyncUser* user = nullptr;
    for (const HotSyncUser& u : users) {
        names.push_back(u.name);
        if (u.name == what || (what.empty() && users.size() == 1)) user = &u;
    }
    if (user == nullptr && what.empty())
        return error = "there are several HotSync users (" + Joined(names) + "): name one with --to hotsync:USER", false;
    if (user == nullptr) return error = "no HotSync user \"" + what + "\" (there are: " + Joined(names) + ")", false;
    if (target.toCard && user->cards.empty()) return error = user->name + "'s handheld has no card", false;
    if (OSErr err = CreateFolders(user->folder))
        return error = user->folder.string() + ": the folder cannot be made (" + Reason(err) + ")", false;
    target.user = user->name;
    run.toSourceFolder = false;
    run.exportFolder = user->folder;
    run.deliver = [aide, target](FileSpec& file) { return QueueForHotSync(*aide, target, file); };
    return true;
}

const char* QueueWords(InstallQueue queue) {
    return queue == InstallQueue::JPilot ? "J-Pilot's install list" : "queue folder";
}

} // namespace

bool ChooseDelivery(const std::string& to, RunOptions& run, std::string& error) {
    const std::string_view kind = std::string_view(to).substr(0, to.find(':'));
    const std::string rest = to.find(':') == std::string::npos ? std::string() : to.substr(to.find(':') + 1);
    if (kind == "card") return ToCard(rest, run, error);
    if (kind == "hotsync") return ToHotSync(rest, run, error);
    return error = "--to takes card[:PATH] or hotsync[:USER][:card], not \"" + to + "\"", false;
}

void AddDevicesOptions(CLI::App& command, DevicesOptions& options) {
    command.add_option("--add-user", options.addUser, "make a HotSync queue folder for a handheld of that name")
        ->type_name("NAME");
}

int RunDevices(const DevicesOptions& options) {
    const InstallAide aide(HotSyncRoots::FromEnvironment());
    if (options.addUser) {
        if (OSErr err = aide.AddUser(*options.addUser)) {
            std::fprintf(stderr, "vantro: %s\n",
                         err == dupFNErr   ? ("there is a HotSync user \"" + *options.addUser + "\" already").c_str()
                         : err == bdNamErr ? ("\"" + *options.addUser + "\" cannot be a folder's name").c_str()
                                           : ("the queue folder cannot be made (" + Reason(err) + ")").c_str());
            return kExitUsage;
        }
        std::printf("Added the HotSync user \"%s\": files to install go to %s\n", options.addUser->c_str(),
                    (aide.Roots().dataFolder / "hotsync" / *options.addUser / "install").c_str());
        return 0;
    }

    std::vector<RemovableDrive> drives;
    const OSErr listed = ListRemovableDrives(SystemRoots{}, drives);
    std::printf("Removable drives (--to card):\n");
    if (listed != noErr) std::printf("  the mounted drives cannot be read (error %d)\n", static_cast<int>(listed));
    else if (drives.empty()) std::printf("  %s\n", NoDrivesText().c_str());
    for (const RemovableDrive& d : drives)
        std::printf("  %-24s %s (%s)\n", d.label.c_str(), d.mountPoint.c_str(), d.device.c_str());

    std::printf("HotSync users (--to hotsync:USER):\n");
    const std::vector<HotSyncUser> users = aide.Users();
    if (users.empty()) std::printf("  none: sync once with J-Pilot, or add one with --add-user NAME\n");
    for (const HotSyncUser& u : users)
        std::printf("  %-24s %s%s\n", u.name.c_str(), QueueWords(u.queue), u.cards.empty() ? "" : ", with a card");
    return 0;
}
