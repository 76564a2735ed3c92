// Device presets, user presets and the stored preference.
#include "presets/presets.h"

#include <algorithm>
#include <cstring>

#include "platform/preferences.h"
#include "platform/resources.h"
#include "platform/textorder.h"

namespace {

constexpr OSType kPreference = Fcc("VTRP");

// ---- Makers: 'MANU' 512, 66-byte records of a 64-byte name and an id ----

struct Maker {
    std::string name;
    int id;
};

std::vector<Maker> Makers() {
    std::vector<Maker> makers;
    Resource table;
    if (GetResource(Fcc("MANU"), 512, table) != noErr) return makers;
    for (std::size_t at = 0; at + 66 <= table.data.size(); at += 66) {
        const char* name = reinterpret_cast<const char*>(table.data.data() + at);
        makers.push_back({std::string(name, strnlen(name, 64)), ReadBE16(table.data.data() + at + 64)});
    }
    return makers;
}

// ---- Reading containers ----

// A 'name' or 'bnam' value: a length byte and up to 255 bytes of text
// (older presets pad it to 64 bytes).
std::string NameOf(const AtomContainer& c, OSType key) {
    std::uint8_t bytes[256] = {};
    std::uint32_t size = 0;
    if (GetPresetValue(c, key, bytes, &size) != noErr || size == 0) return {};
    return std::string(reinterpret_cast<const char*>(bytes + 1), std::min<std::size_t>(bytes[0], size - 1));
}

std::uint32_t NumberOf(const AtomContainer& c, OSType key, int bytes, std::uint32_t fallback) {
    std::uint8_t b[4] = {};
    if (GetPresetValue(c, key, std::span<std::uint8_t>(b, static_cast<std::size_t>(bytes))) != noErr) return fallback;
    return bytes == 2 ? ReadBE16(b) : ReadBE32(b);
}

OSErr ParseResource(const Resource& r, AtomContainer& out) { return AtomContainer::Parse(r.data, out); }

// The name a damaged preset's bytes still show: the text after its 'name'
// atom's 20-byte header, when that reads as a name.
std::string NameInDamagedPreset(std::span<const std::uint8_t> data) {
    static constexpr std::uint8_t kName[4] = {'n', 'a', 'm', 'e'};
    const auto at = std::search(data.begin(), data.end(), std::begin(kName), std::end(kName));
    const auto start = static_cast<std::size_t>(at - data.begin()) + 16;
    if (at == data.end() || start >= data.size()) return {};
    const std::size_t length = data[start];
    if (length == 0 || start + 1 + length > data.size()) return {};
    std::string name(data.begin() + static_cast<std::ptrdiff_t>(start) + 1,
                     data.begin() + static_cast<std::ptrdiff_t>(start + 1 + length));
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) return {};
    return name;
}

// User presets that no longer read as settings (a damaged file whose
// structure still holds): each one's bytes kept beside the preference, the
// user told once, and the preset taken out, so that the next save neither
// drops it silently nor carries the damage on.
OSErr KeepDamagedPresetsAside(AtomContainer& pref, QTAtom& root) {
    bool changed = false;
    for (std::int16_t i = pref.CountChildrenOfType(root, Fcc("CSTM")); i >= 1; --i) {
        const QTAtom atom = pref.FindChildByIndex(root, Fcc("CSTM"), i);
        std::span<const std::uint8_t> data;
        AtomContainer preset;
        if (pref.GetAtomData(atom, data) == noErr && AtomContainer::Parse(data, preset) == noErr) continue;
        const std::string name = NameInDamagedPreset(data);
        FileSpec kept;
        // Where no copy can be made (a folder that cannot be written), the
        // preset stays as it is, and so does everything else.
        if (KeepAside(kPreference, "preset", data, kept) != noErr) continue;
        AddPreferenceNotice((name.empty() ? std::string("A preset") : "The preset \"" + name + "\"") +
                            " could not be read; its bytes were kept in " + kept.string() + ".");
        if (OSErr err = pref.RemoveAtom(atom)) return err;
        root = pref.FindChildByID(0, kPreference, 1);
        changed = true;
    }
    return changed ? SetUserPreference(kPreference, pref) : noErr;
}

// The container of the user preference, with 'VTRP' #1 inserted when missing.
OSErr ReadPreference(AtomContainer& pref, QTAtom& root, bool create) {
    const PreferenceLock lock(kPreference);
    OSErr err = GetUserPreference(kPreference, pref);
    if (err == fnfErr && create) err = AtomContainer::Create(pref);
    if (err) return err;
    root = pref.FindChildByID(0, kPreference, 1);
    if (root == 0) {
        if (!create) return cannotFindAtomErr;
        if (OSErr e = pref.InsertChild(0, kPreference, 1, 0, {}, &root)) return e;
    }
    return KeepDamagedPresetsAside(pref, root);
}

// Each user preset in stored order: its atom's index and its container.
template <typename Visit> void ForEachUserPreset(const AtomContainer& pref, QTAtom root, Visit visit) {
    const std::int16_t count = pref.CountChildrenOfType(root, Fcc("CSTM"));
    for (std::int16_t i = 1; i <= count; ++i) {
        std::span<const std::uint8_t> data;
        AtomContainer preset;
        if (pref.GetAtomData(pref.FindChildByIndex(root, Fcc("CSTM"), i), data) != noErr) continue;
        if (AtomContainer::Parse(data, preset) != noErr) continue;
        if (!visit(i, preset)) return;
    }
}

OSErr InsertUserPreset(AtomContainer& pref, QTAtom root, const AtomContainer& preset) {
    // The next unused ID.
    QTAtomID next = 1;
    for (std::int16_t i = 1; i <= pref.CountChildrenOfType(root, Fcc("CSTM")); ++i) {
        QTAtomID id = 0;
        if (pref.FindChildByIndex(root, Fcc("CSTM"), i, &id) != 0) next = std::max(next, id + 1);
    }
    return pref.InsertChild(root, Fcc("CSTM"), next, 0, preset.Bytes());
}

// A name's value: the name as names are stored (else its first 63
// characters) after a length byte, padded with zeros to 64 bytes as older
// presets are. 63 characters of up to 4 bytes each fit the length byte.
std::vector<std::uint8_t> NameValue(std::string_view name, bool padded) {
    std::string normalised;
    const std::string_view kept = NormalisePresetName(name, normalised) == noErr ? std::string_view(normalised)
                                                                                  : FirstCharacters(name, kPresetNameLimit);
    std::vector<std::uint8_t> field(std::max<std::size_t>(padded ? 64 : 0, kept.size() + 1), 0);
    field[0] = static_cast<std::uint8_t>(kept.size());
    std::copy(kept.begin(), kept.end(), field.begin() + 1);
    return field;
}

// What a name is compared as: trimmed and cut as a stored name is.
std::string NameKey(std::string_view name) {
    std::string key;
    return NormalisePresetName(name, key) == noErr ? key : std::string(name);
}

// The index of the user preset that has the name (0 for none), leaving
// out the one at `except`.
std::int16_t UserPresetNamed(const AtomContainer& pref, QTAtom root, std::string_view key, std::int16_t except = 0) {
    std::int16_t match = 0;
    ForEachUserPreset(pref, root, [&](std::int16_t index, const AtomContainer& preset) {
        if (index == except || !EqualText(NameKey(NameOf(preset, Fcc("name"))), key)) return true;
        match = index;
        return false;
    });
    return match;
}

// The user preset a typed name means: the first with that name, else the
// first whose menu text it is ("Mine (Zire 71)"). Its index, 0 for none.
std::int16_t FindUserPreset(const AtomContainer& pref, QTAtom root, std::string_view typed, AtomContainer* out) {
    const std::string key = NameKey(typed);
    std::int16_t match = UserPresetNamed(pref, root, key);
    if (match == 0)
        ForEachUserPreset(pref, root, [&](std::int16_t index, const AtomContainer& preset) {
            if (!EqualText(NameKey(PresetMenuText(preset)), key)) return true;
            match = index;
            return false;
        });
    if (match != 0 && out != nullptr) {
        std::span<const std::uint8_t> data;
        if (pref.GetAtomData(pref.FindChildByIndex(root, Fcc("CSTM"), match), data) != noErr ||
            AtomContainer::Parse(data, *out) != noErr)
            return 0;
    }
    return match;
}

bool IsDevicePresetName(std::string_view key) {
    AtomContainer device;
    return FindPreset(key, false, &device) == noErr;
}

} // namespace

bool PresetNameList::Next(std::string& out) {
    if (cursor_ >= names_.size()) return false;
    out = names_[cursor_++];
    return true;
}

PresetNameListPtr ListPresets(std::string_view category) {
    std::vector<std::string> names;
    if (category == "custom") {
        AtomContainer pref;
        QTAtom root = 0;
        if (ReadPreference(pref, root, false) == noErr)
            ForEachUserPreset(pref, root, [&](std::int16_t, const AtomContainer& preset) {
                const std::string name = NameOf(preset, Fcc("name"));
                if (!name.empty()) names.push_back(name);
                return true;
            });
    } else if (category == "manufac") {
        for (const Maker& m : Makers()) names.push_back(m.name);
    } else {
        const bool hidden = category == "hidden";
        const std::vector<Maker> makers = Makers();
        for (std::int16_t i = 1; i <= CountResources(Fcc("STNG")); ++i) {
            Resource r;
            AtomContainer preset;
            if (GetIndResource(Fcc("STNG"), i, r) != noErr || ParseResource(r, preset) != noErr) continue;
            const bool isHidden = NumberOf(preset, Fcc("hidn"), 2, 0) != 0;
            if (hidden != isHidden) continue;
            if (!hidden) {
                const auto id = static_cast<int>(NumberOf(preset, Fcc("manu"), 2, 0));
                const auto maker = std::find_if(makers.begin(), makers.end(), [&](const Maker& m) { return m.id == id; });
                if (maker == makers.end() || !EqualText(maker->name, category)) continue;
            }
            names.push_back(NameOf(preset, Fcc("name")));
        }
    }
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    return std::make_unique<PresetNameList>(std::move(names));
}

bool NextPresetName(PresetNameList& list, std::string& out) { return list.Next(out); }

std::string PresetMenuText(const AtomContainer& preset) {
    const std::string name = NameOf(preset, Fcc("name"));
    const std::string basedOn = NameOf(preset, Fcc("bnam"));
    if (basedOn.empty()) return name;
    return std::string(FirstCharacters(name + " (" + basedOn + ")", kPresetNameLimit));
}

void FreePresetList(PresetNameListPtr& list) { list.reset(); }

int ManufacturerIdForName(std::string_view name) {
    for (const Maker& m : Makers())
        if (m.name == name) return m.id;
    return -1;
}

std::string ManufacturerNameForId(int id) {
    for (const Maker& m : Makers())
        if (m.id == id) return m.name;
    return {};
}

OSErr FindPreset(std::string_view name, bool isUser, AtomContainer* out) {
    if (out == nullptr) return paramErr;
    if (isUser) {
        AtomContainer pref;
        QTAtom root = 0;
        if (ReadPreference(pref, root, false) != noErr) return cannotFindAtomErr;
        return FindUserPreset(pref, root, name, out) != 0 ? noErr : cannotFindAtomErr;
    }
    const std::string key = NameKey(name);
    for (std::int16_t i = 1; i <= CountResources(Fcc("STNG")); ++i) {
        Resource r;
        AtomContainer preset;
        if (GetIndResource(Fcc("STNG"), i, r) != noErr || ParseResource(r, preset) != noErr) continue;
        if (EqualText(NameOf(preset, Fcc("name")), key)) {
            *out = std::move(preset);
            return noErr;
        }
    }
    return cannotFindAtomErr;
}

PresetNameOwner PresetNameTaken(std::string_view name) {
    std::string key;
    if (NormalisePresetName(name, key) != noErr) return PresetNameOwner::None;
    if (IsDevicePresetName(key)) return PresetNameOwner::Device;
    const PreferenceLock lock(kPreference);
    AtomContainer pref;
    QTAtom root = 0;
    if (ReadPreference(pref, root, false) == noErr && UserPresetNamed(pref, root, key) != 0) return PresetNameOwner::User;
    return PresetNameOwner::None;
}

OSErr GetPresetValue(const AtomContainer& c, OSType key, std::span<std::uint8_t> out, std::uint32_t* size) {
    QTAtom atom = 0;
    switch (key) {
    case Fcc("name"):
    case Fcc("bnam"):
    case Fcc("cstm"):
    case Fcc("crui"):
    case Fcc("hidn"):
    case Fcc("osvr"): atom = c.FindPath(0, {key}); break;
    case Fcc("manu"): atom = c.FindPath(0, {Fcc("manu"), Fcc("name")}); break;
    case Fcc("dpth"): atom = c.FindPath(0, {Fcc("colr"), key}); break;
    case Fcc("fps "):
    case Fcc("vbtr"): atom = c.FindPath(0, {Fcc("time"), key}); break;
    case Fcc("vide"):
    case Fcc("scrn"):
    case Fcc("angl"):
    case Fcc("dimn"): atom = c.FindPath(0, {Fcc("size"), key}); break;
    case Fcc("vtsc"):
    case Fcc("sscc"):
    case Fcc("ssrt"):
    case Fcc("ssss"):
    case Fcc("maxc"):
    case Fcc("boos"):
    case Fcc("bitr"): atom = c.FindPath(0, {Fcc("soun"), key}); break;
    case Fcc("fmts"): {
        const QTAtom formats = c.FindPath(0, {Fcc("soun"), Fcc("fmts")});
        if (formats == 0) return paramErr;
        std::uint32_t at = 0;
        for (std::int16_t i = 1; i <= c.CountChildrenOfType(formats, Fcc("vtsc")) && at + 4 <= out.size(); ++i, at += 4)
            if (c.CopyAtomDataToPtr(c.FindChildByIndex(formats, Fcc("vtsc"), i), false, out.subspan(at, 4)) != noErr) return paramErr;
        if (size) *size = at;
        return noErr;
    }
    default: return paramErr;
    }
    if (atom == 0) return paramErr;
    const bool shorter = key == Fcc("name") || key == Fcc("bnam");
    return c.CopyAtomDataToPtr(atom, shorter, out, size) == noErr ? noErr : paramErr;
}

void UnpackSettings(EditSettings& s, const AtomContainer& c) {
    const std::uint32_t scrn = NumberOf(c, Fcc("scrn"), 4, 160u << 16 | 160u);
    s.layoutWidth = static_cast<std::uint16_t>(scrn >> 16), s.layoutHeight = static_cast<std::uint16_t>(scrn);
    s.maker = static_cast<std::uint16_t>(NumberOf(c, Fcc("manu"), 2, 0));
    s.osVersion = NumberOf(c, Fcc("osvr"), 4, 0x04000000);
    s.controlsUpright = static_cast<std::uint16_t>(NumberOf(c, Fcc("crui"), 2, 0));
    std::uint8_t formats[80] = {};
    std::uint32_t size = 0;
    if (GetPresetValue(c, Fcc("fmts"), formats, &size) == noErr) {
        s.formatCount = 0;
        s.formats.fill(0);
        for (std::uint32_t at = 0; at < size; at += 4) {
            const std::uint32_t code = ReadBE32(formats + at);
            if (code == 0) break;
            s.formats[s.formatCount++] = code;
        }
    } else {
        s.formatCount = 3;
        s.formats = {626, 628, 627};
    }
    s.maxChannels = static_cast<std::uint16_t>(NumberOf(c, Fcc("maxc"), 2, 1));
    static_cast<ConversionSettings&>(s) = kPresetDefaults;
    (void)ReadConversionSettings(c, s, BadValue::Skip); // a value of the wrong size keeps its default
    s.customised = NumberOf(c, Fcc("cstm"), 2, 0) != 0;
    if (c.FindPath(0, {Fcc("name")}) != 0) {
        s.name = NameOf(c, Fcc("name"));
    } else if (GetIndString(132, 1, s.name) != noErr) {
        s.name = "Custom";
    }
    s.basedOn = NameOf(c, Fcc("bnam"));
}

OSErr PackSettings(const EditSettings& s, std::string_view name, AtomContainer& out) {
    AtomContainer c;
    if (OSErr err = AtomContainer::Create(c)) return err;
    auto u32 = [](std::uint32_t v) {
        return std::array<std::uint8_t, 4>{static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                                           static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    };
    QTAtom parent = 0;
    if (OSErr err = c.InsertChild(0, Fcc("name"), 1, 0, NameValue(name, true))) return err;
    if (OSErr err = c.InsertChild(0, Fcc("bnam"), 1, 0, NameValue(s.basedOn, true))) return err;
    if (OSErr err = c.InsertChild(0, Fcc("manu"), 1, 0, {}, &parent)) return err;
    if (OSErr err = c.InsertU16(parent, Fcc("name"), s.maker)) return err;
    if (OSErr err = c.InsertU32(0, Fcc("osvr"), s.osVersion)) return err;
    if (OSErr err = c.InsertU16(0, Fcc("cstm"), s.customised ? 1 : 0)) return err;
    if (OSErr err = c.InsertU16(0, Fcc("crui"), s.controlsUpright)) return err;
    // The angle only where a turn makes sense: a wide movie or a layout
    // wider than tall.
    const bool wide = (s.frameWidth == 480 && s.frameHeight == 320) || (s.frameWidth == 320 && s.frameHeight == 480) ||
                      (s.customLayout && s.editorWidth > s.editorHeight);
    if (OSErr err = WriteConversionSettings(s, c, wide)) return err;
    const std::uint32_t screen = std::uint32_t{s.layoutWidth} << 16 | s.layoutHeight;
    if (OSErr err = c.InsertU32(c.FindChildByID(0, Fcc("size"), 1), Fcc("scrn"), screen)) return err;
    if (OSErr err = c.InsertU16(c.FindChildByID(0, Fcc("soun"), 1), Fcc("maxc"), s.maxChannels)) return err;
    QTAtom formats = 0;
    if (OSErr err = c.InsertChild(c.FindChildByID(0, Fcc("soun"), 1), Fcc("fmts"), 1, 0, {}, &formats)) return err;
    for (std::uint16_t i = 0; i < s.formatCount && i < s.formats.size(); ++i)
        if (OSErr err = c.InsertChild(formats, Fcc("vtsc"), static_cast<QTAtomID>(i + 1), 0, u32(s.formats[i]))) return err;
    out = std::move(c);
    return noErr;
}

OSErr LoadPreferences(Preferences& out) {
    const PreferenceLock lock(kPreference);
    out = Preferences{};
    AtomContainer pref;
    QTAtom root = 0;
    if (GetUserPreference(kPreference, pref) != noErr) return noErr; // none: the caller takes the first preset
    root = pref.FindChildByID(0, kPreference, 1);
    if (root == 0)
        if (OSErr err = pref.InsertChild(0, kPreference, 1, 0, {}, &root)) return err;
    if (OSErr err = KeepDamagedPresetsAside(pref, root)) return err;
    QTAtom stored = pref.FindChildByID(root, Fcc("STNG"), 1);
    std::span<const std::uint8_t> data;
    if (stored != 0) {
        if (OSErr err = pref.GetAtomData(stored, data)) return err;
        const OSErr damaged = AtomContainer::Parse(data, out.settings);
        if (damaged == memFullErr) return damaged;
        if (damaged != noErr) {
            // Settings of the last exit that no longer read: their bytes kept
            // beside the preference, the user told once, and the first
            // preset's settings stored in their place.
            FileSpec kept;
            if (OSErr err = KeepAside(kPreference, "settings", data, kept)) return err;
            AddPreferenceNotice("The settings of the last exit could not be read; their bytes were kept in " +
                                kept.string() + ".");
            if (OSErr err = pref.RemoveAtom(stored)) return err;
            root = pref.FindChildByID(0, kPreference, 1);
            stored = 0;
        }
    }
    if (stored == 0) {
        Resource first;
        if (OSErr err = GetIndResource(Fcc("STNG"), 1, first)) return err;
        if (OSErr err = pref.InsertChild(root, Fcc("STNG"), 1, 0, first.data, &stored)) return err;
        if (OSErr err = SetUserPreference(kPreference, pref)) return err;
        root = pref.FindChildByID(0, kPreference, 1);
        stored = pref.FindChildByID(root, Fcc("STNG"), 1);
        if (OSErr err = pref.GetAtomData(stored, data)) return err;
        if (OSErr err = AtomContainer::Parse(data, out.settings)) return err;
    }
    const QTAtom location = pref.FindChildByID(root, Fcc("XLOC"), 1);
    if (location != 0) {
        std::span<const std::uint8_t> xloc;
        AtomContainer inner;
        if (pref.GetAtomData(location, xloc) == noErr && AtomContainer::Parse(xloc, inner) == noErr) {
            std::uint16_t type = 1;
            if (inner.ReadU16(inner.FindChildByID(0, Fcc("TYPE"), 1), type) == noErr)
                out.destination = static_cast<ExportDestination>(type);
            std::span<const std::uint8_t> alias;
            if (inner.GetAtomData(inner.FindChildByID(0, Fcc("ALIS"), 1), alias) == noErr) {
                // The alias record: the folder's path; it resolves when the
                // folder still exists.
                const FileSpec folder(std::string(alias.begin(), alias.end()));
                std::error_code ec;
                if (!folder.empty() && std::filesystem::is_directory(folder, ec)) out.exportFolder = folder;
            }
        }
    }
    return noErr;
}

OSErr SavePreferences(const AtomContainer& settings, ExportDestination destination, const FileSpec& exportFolder) {
    const PreferenceLock lock(kPreference);
    AtomContainer pref;
    QTAtom root = 0;
    if (OSErr err = ReadPreference(pref, root, true)) return err;
    if (const QTAtom old = pref.FindChildByID(root, Fcc("STNG"), 1); old != 0)
        if (OSErr err = pref.RemoveAtom(old)) return err;
    root = pref.FindChildByID(0, kPreference, 1);
    if (OSErr err = pref.InsertChild(root, Fcc("STNG"), 1, 0, settings.Bytes())) return err;
    root = pref.FindChildByID(0, kPreference, 1);
    if (const QTAtom old = pref.FindChildByID(root, Fcc("XLOC"), 1); old != 0)
        if (OSErr err = pref.RemoveAtom(old)) return err;
    AtomContainer location;
    if (OSErr err = AtomContainer::Create(location)) return err;
    const std::uint8_t type[2] = {static_cast<std::uint8_t>(static_cast<std::uint16_t>(destination) >> 8),
                                  static_cast<std::uint8_t>(destination)};
    if (OSErr err = location.InsertChild(0, Fcc("TYPE"), 1, 0, type)) return err;
    if (!exportFolder.empty()) {
        const std::string path = exportFolder.string();
        if (OSErr err = location.InsertChild(0, Fcc("ALIS"), 1, 0,
                                             {reinterpret_cast<const std::uint8_t*>(path.data()), path.size()}))
            return err;
    }
    root = pref.FindChildByID(0, kPreference, 1);
    if (OSErr err = pref.InsertChild(root, Fcc("XLOC"), 1, 0, location.Bytes())) return err;
    return SetUserPreference(kPreference, pref);
}

OSErr AddUserPreset(const AtomContainer* preset) {
    const PreferenceLock lock(kPreference);
    if (preset == nullptr || preset->IsNull()) return paramErr;
    // The name as names are stored, and neither a device preset's nor one
    // the user has already (either would make the other unreachable).
    std::string name;
    if (NormalisePresetName(NameOf(*preset, Fcc("name")), name) != noErr) return paramErr;
    AtomContainer named;
    if (OSErr err = preset->CopyTo(named)) return err;
    if (name != NameOf(named, Fcc("name")))
        if (OSErr err = named.SetAtomData(named.FindPath(0, {Fcc("name")}), NameValue(name, true))) return err;
    if (IsDevicePresetName(name)) return dupFNErr;
    AtomContainer pref;
    QTAtom root = 0;
    if (OSErr err = ReadPreference(pref, root, true)) return err;
    if (UserPresetNamed(pref, root, name) != 0) return dupFNErr;
    if (OSErr err = InsertUserPreset(pref, root, named)) return err;
    return SetUserPreference(kPreference, pref);
}

OSErr DeleteUserPreset(std::string_view name) {
    const PreferenceLock lock(kPreference);
    AtomContainer pref;
    QTAtom root = 0;
    if (ReadPreference(pref, root, false) != noErr) return cannotFindAtomErr;
    const std::int16_t match = FindUserPreset(pref, root, name, nullptr);
    if (match == 0) return cannotFindAtomErr;
    if (OSErr err = pref.RemoveAtom(pref.FindChildByIndex(root, Fcc("CSTM"), match))) return err;
    return SetUserPreference(kPreference, pref);
}

OSErr RenameUserPreset(std::string_view oldName, std::string_view newName) {
    const PreferenceLock lock(kPreference);
    std::string name;
    if (NormalisePresetName(newName, name) != noErr) return paramErr;
    AtomContainer pref;
    QTAtom root = 0;
    if (ReadPreference(pref, root, false) != noErr) return cannotFindAtomErr;
    AtomContainer renamed;
    const std::int16_t match = FindUserPreset(pref, root, oldName, &renamed);
    if (match == 0) return cannotFindAtomErr;
    // Another preset's name is refused; the preset's own in other letters is not.
    if (!EqualText(NameKey(NameOf(renamed, Fcc("name"))), name) &&
        (IsDevicePresetName(name) || UserPresetNamed(pref, root, name, match) != 0))
        return dupFNErr;
    // The new name carries only its length byte and characters.
    if (OSErr err = renamed.SetAtomData(renamed.FindPath(0, {Fcc("name")}), NameValue(name, false))) return err;
    if (OSErr err = pref.RemoveAtom(pref.FindChildByIndex(root, Fcc("CSTM"), match))) return err;
    root = pref.FindChildByID(0, kPreference, 1);
    if (OSErr err = InsertUserPreset(pref, root, renamed)) return err;
    return SetUserPreference(kPreference, pref);
}
