// Arbitrary bytes as the system's mount table and as J-Pilot's settings:
// the drives listed must be mounted somewhere the table names, and reading
// either never fails in any other way.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "delivery/hotsync.h"
#include "delivery/removabledrives.h"

namespace {

// A fake system with a USB card reader at 8:17, made once.
const FileSpec& Folder() {
    static const FileSpec folder = [] {
        const FileSpec f = std::filesystem::temp_directory_path() / ("vantro-fuzz-mounts-" + std::to_string(getpid()));
        const FileSpec disk = f / "sys" / "devices" / "usb1" / "1-1" / "block" / "sdb";
        std::filesystem::create_directories(disk / "sdb1");
        std::ofstream(disk / "removable") << "1\n";
        std::ofstream(disk / "sdb1" / "partition") << "1\n";
        std::filesystem::create_directories(f / "sys" / "dev" / "block");
        std::error_code ec;
        std::filesystem::create_directory_symlink("../../devices/usb1/1-1/block/sdb/sdb1", f / "sys" / "dev" / "block" / "8:17", ec);
        std::filesystem::create_directories(f / ".jpilot");
        return f;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    const FileSpec& folder = Folder();
    std::ofstream(folder / "mountinfo", std::ios::binary | std::ios::trunc) << text;
    std::vector<RemovableDrive> drives;
    if (ListRemovableDrives({folder / "sys", folder / "mountinfo"}, drives) != noErr) std::abort();
    for (const RemovableDrive& d : drives)
        if (d.device != "sdb1" || d.mountPoint.empty() || d.mountPoint.relative_path().empty()) std::abort();

    std::ofstream(folder / ".jpilot" / "jpilot.rc", std::ios::binary | std::ios::trunc) << text;
    for (const HotSyncUser& u : InstallAide({folder / ".jpilot", folder / "data"}).Users())
        if (u.name.empty() || u.name.find('\n') != std::string::npos) std::abort();
    return 0;
}
