// The resource manager over the compiled-in resources.
#include "platform/resources.h"

#include <mutex>
#include <new>
#include <vector>

namespace {

struct OpenFile {
    std::int16_t refNum;
    const ResourceFile* file;
};

// The chain of open files, newest last. Opening and closing happen at start-up
// and in tests; the lock keeps concurrent lookups from tests safe.
std::mutex gLock;
std::vector<OpenFile> gChain;
std::int16_t gNextRefNum = 1;

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

Resource ToResource(const ResourceEntry& e) { return {e.type, e.id, e.name, e.data}; }

// Calls visit(entry) for every resource of the type, newest file first, until
// visit answers true.
template <typename Visit>
bool Search(ResType type, Visit visit) {
    std::lock_guard lock(gLock);
    for (auto file = gChain.rbegin(); file != gChain.rend(); ++file)
        for (const ResourceEntry& e : file->file->entries)
            if (e.type == type && visit(e)) return true;
    return false;
}

const ResType kStringList = Fcc("STR#");

} // namespace

OSErr OpenResourceFile(const ResourceFile& file, std::int16_t& refNum) {
    std::lock_guard lock(gLock);
    try {
        gChain.push_back({gNextRefNum, &file});
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    refNum = gNextRefNum++;
    return noErr;
}

OSErr CloseResourceFile(std::int16_t refNum) {
    std::lock_guard lock(gLock);
    for (auto it = gChain.begin(); it != gChain.end(); ++it) {
        if (it->refNum == refNum) {
            gChain.erase(it);
            return noErr;
        }
    }
    return paramErr;
}

OSErr GetResource(ResType type, ResID id, Resource& out) {
    bool found = Search(type, [&](const ResourceEntry& e) {
        if (e.id != id) return false;
        out = ToResource(e);
        return true;
    });
    return found ? noErr : resNotFound;
}

OSErr GetIndResource(ResType type, std::int16_t index, Resource& out) {
    if (index < 1) return resNotFound;
    std::int16_t seen = 0;
    bool found = Search(type, [&](const ResourceEntry& e) {
        if (++seen != index) return false;
        out = ToResource(e);
        return true;
    });
    return found ? noErr : resNotFound;
}

OSErr GetNamedResource(ResType type, std::string_view name, Resource& out) {
    bool found = Search(type, [&](const ResourceEntry& e) {
        if (!SameName(e.name, name)) return false;
        out = ToResource(e);
        return true;
    });
    return found ? noErr : resNotFound;
}

std::int16_t CountResources(ResType type) {
    int count = 0;
    Search(type, [&](const ResourceEntry&) {
        ++count;
        return false;
    });
    return static_cast<std::int16_t>(count);
}

OSErr GetIndString(ResID listID, std::int16_t item, std::string& out) {
    Resource list;
    if (OSErr err = GetResource(kStringList, listID, list)) return err;
    ByteReader reader(list.data);
    std::uint16_t count;
    if (!reader.U16(count) || item < 1 || item > count) return resNotFound;
    std::string text;
    for (std::int16_t i = 1; i <= item; ++i)
        if (!reader.PString(text)) return resNotFound;
    out = std::move(text);
    return noErr;
}

std::int16_t CountStrings(ResID listID) {
    Resource list;
    if (GetResource(kStringList, listID, list) != noErr) return 0;
    ByteReader reader(list.data);
    std::uint16_t count;
    if (!reader.U16(count)) return 0;
    return static_cast<std::int16_t>(count);
}
