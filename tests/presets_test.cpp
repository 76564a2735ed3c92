// Device presets, the maker table, user presets and the stored preference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "moviedb/formats.h"
#include "platform/preferences.h"
#include "platform/resources.h"
#include "presets/presets.h"
#include "tests/preset_fixtures.h"

namespace {

class Presets : public PresetStoreTest {
protected:

    static std::vector<std::string> List(std::string_view category) {
        auto list = ListPresets(category);
        EXPECT_TRUE(list);
        std::vector<std::string> names;
        std::string name;
        while (NextPresetName(*list, name)) names.push_back(name);
        FreePresetList(list);
        EXPECT_FALSE(list);
        return names;
    }


    // The file a notice says it kept: the last path in the preference folder
    // it names, to the next blank, without a closing full stop.
    static FileSpec KeptFile(const std::string& notice) {
        const auto from = notice.rfind(PreferenceFolder().string());
        if (from == std::string::npos) return {};
        std::string path = notice.substr(from, notice.find(' ', from) - from);
        if (path.ends_with('.')) path.pop_back();
        return path;
    }

    static std::string Bytes(const FileSpec& path) {
        ByteBlock bytes;
        if (ReadWholeFile(path, bytes) != noErr) return "(unreadable)";
        return std::string(bytes.Span().begin(), bytes.Span().end());
    }

    // Damages the stored atom `find` picks in the preference file so its
    // bytes no longer read as settings (its root atom claims more than
    // there is); the atom's damaged bytes.
    template <typename Find> static std::string Damage(Find find) {
        ByteBlock file;
        EXPECT_EQ(ReadWholeFile(PreferenceFile(Fcc("VTRP")), file), noErr);
        AtomContainer pref;
        EXPECT_EQ(AtomContainer::Parse(file.Span(), pref), noErr);
        std::span<const std::uint8_t> stored;
        EXPECT_EQ(pref.GetAtomData(find(pref), stored), noErr);
        std::vector<std::uint8_t> damaged(file.Data(), file.Data() + file.Size());
        const auto at = static_cast<std::size_t>(stored.data() - pref.Bytes().data());
        WriteBE32(damaged.data() + at + 12, 0x7FFFFFF0);
        EXPECT_EQ(WriteFileAtomically(PreferenceFile(Fcc("VTRP")), damaged), noErr);
        (void)TakePreferenceNotices();
        return std::string(damaged.begin() + static_cast<std::ptrdiff_t>(at),
                           damaged.begin() + static_cast<std::ptrdiff_t>(at + stored.size()));
    }

    // Every device preset in the resources, in the order they are listed.
    static std::vector<std::pair<ResID, AtomContainer>> DevicePresets() {
        std::vector<std::pair<ResID, AtomContainer>> presets;
        for (std::int16_t i = 1; i <= CountResources(Fcc("STNG")); ++i) {
            Resource r;
            AtomContainer preset;
            EXPECT_EQ(GetIndResource(Fcc("STNG"), i, r), noErr);
            EXPECT_EQ(AtomContainer::Parse(r.data, preset), noErr) << "'STNG' " << r.id;
            presets.emplace_back(r.id, std::move(preset));
        }
        return presets;
    }
};

} // namespace

TEST_F(Presets, MenusListEveryMakersVisibleDevicesSorted) {
    // The makers' names, sorted: the maker menu's tests.
    std::size_t listed = 0;
    for (const std::string& maker : List("manufac")) listed += List(maker).size();
    EXPECT_EQ(listed + 3, static_cast<std::size_t>(CountResources(Fcc("STNG")))); // all but the three hidden ones
    EXPECT_EQ(List("tapwave"), (std::vector<std::string>{"Zodiac", "Zodiac (Wide)"})); // any case
    EXPECT_EQ(List("hidden"), (std::vector<std::string>{"Zodiac - Best", "Zodiac - Better", "Zodiac - Good"}));
    EXPECT_TRUE(List("custom").empty());
    EXPECT_TRUE(List("Nobody").empty());
    EXPECT_EQ(ManufacturerIdForName("Sony CLIE"), 9);
    EXPECT_EQ(ManufacturerNameForId(11), "Garmin");
    EXPECT_EQ(ManufacturerNameForId(99), "");
    EXPECT_EQ(ManufacturerIdForName("Nobody"), -1);
}

TEST_F(Presets, DevicesUnpackToWhatTheyPlay) {
    // Names match without regard to case; every value is held to the
    // reviewed snapshot below.
    EXPECT_EQ(DevicePreset("tungsten t3").name, "Tungsten T3");
    AtomContainer none;
    EXPECT_EQ(FindPreset("Newton", false, &none), cannotFindAtomErr);
    EXPECT_EQ(FindPreset("Tungsten T3", false, nullptr), paramErr);
    EditSettings empty;
    AtomContainer bare;
    ASSERT_EQ(AtomContainer::Create(bare), noErr);
    UnpackSettings(empty, bare);
    EXPECT_EQ(empty.name, "Custom");
    EXPECT_EQ(empty.formatCount, 3);
    EXPECT_EQ(empty.soundFormat, 626u);
}

TEST_F(Presets, PackedSettingsKeepTheCustomisedMarkAndTheAngleOnlyWhereWide) {
    // Every other value's round trip through PackSettings: PresetJson's.
    for (const char* device : {"PEG-NR70/V (Wide - CCW)", "m505/m515"}) {
        EditSettings s = DevicePreset(device);
        s.customised = true;
        AtomContainer packed;
        ASSERT_EQ(PackSettings(s, s.name, packed), noErr);
        EditSettings back;
        UnpackSettings(back, packed);
        EXPECT_TRUE(back.customised) << device;
        std::uint8_t angle[2];
        EXPECT_EQ(GetPresetValue(packed, Fcc("angl"), angle) == noErr, s.frameWidth == 480 || s.frameHeight == 480) << device;
    }
}

TEST_F(Presets, UserPresetsAddRenameDelete) {
    ASSERT_EQ(AddUserPreset(nullptr), paramErr);
    ASSERT_EQ(AddSaved("Tungsten T3", "Holiday"), noErr);
    ASSERT_EQ(AddSaved("m500", "Commute"), noErr);
    EXPECT_EQ(List("custom"), (std::vector<std::string>{"Commute", "Holiday"}));
    AtomContainer found;
    ASSERT_EQ(FindPreset("HOLIDAY", true, &found), noErr);
    EXPECT_EQ(PresetMenuText(found), "Holiday (Tungsten T3)");

    // A rename keeps the settings and moves the preset to the end.
    ASSERT_EQ(RenameUserPreset("holiday", "Beach"), noErr);
    EXPECT_EQ(RenameUserPreset("Holiday", "Again"), cannotFindAtomErr);
    AtomContainer pref;
    ASSERT_EQ(GetUserPreference(Fcc("VTRP"), pref), noErr);
    const QTAtom root = pref.FindChildByID(0, Fcc("VTRP"), 1);
    std::span<const std::uint8_t> last;
    ASSERT_EQ(pref.GetAtomData(pref.FindChildByIndex(root, Fcc("CSTM"), 2), last), noErr);
    AtomContainer moved;
    ASSERT_EQ(AtomContainer::Parse(last, moved), noErr);
    EXPECT_EQ(PresetMenuText(moved), "Beach (Tungsten T3)");
    EditSettings beach;
    UnpackSettings(beach, moved);
    EXPECT_EQ(beach.frameWidth, 320);
    EXPECT_EQ(beach.layoutHeight, 480);

    ASSERT_EQ(DeleteUserPreset("COMMUTE"), noErr);
    EXPECT_EQ(DeleteUserPreset("Commute"), cannotFindAtomErr);
    EXPECT_EQ(List("custom"), (std::vector<std::string>{"Beach"}));
}

TEST_F(Presets, NamesAreTrimmedAndCutAtCharactersNeverInsideOne) {
    const std::string cjk = "\xE6\xBC\xA2"; // one character, three bytes
    std::string cjk63, cjk64;
    for (int i = 0; i < 63; ++i) cjk63 += cjk;
    cjk64 = cjk63 + cjk;
    const std::string a62(62, 'a');
    const struct {
        std::string typed;
        OSErr status;
        std::string name;
        bool cut;
    } cases[] = {
        {" \t Holiday \n", noErr, "Holiday", false},
        {"\xC2\xA0" "Caf\xC3\xA9\xE3\x80\x80", noErr, "Caf\xC3\xA9", false}, // no-break and ideographic spaces
        {cjk63, noErr, cjk63, false},                                           // 189 bytes, whole
        {cjk64, noErr, cjk63, true},
        {std::string(64, 'a'), noErr, std::string(63, 'a'), true},
        {a62 + "\xF0\x9F\x8E\xAC" + "b", noErr, a62 + "\xF0\x9F\x8E\xAC", true},
        {"", paramErr, "", false},
        {" \t\xE3\x80\x80 ", paramErr, "", false},
        {"Two\nLines", paramErr, "", false},
        {"Caf\xE9", paramErr, "", false},       // Latin-1, not UTF-8
        {"\xED\xA0\x80x", paramErr, "", false}, // a surrogate
        {"\xF0\x9F\x8E", paramErr, "", false},  // a sequence cut short
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        std::string name = "unchanged", problem;
        bool cut = !c.cut;
        EXPECT_EQ(NormalisePresetName(c.typed, name, &problem, &cut), c.status);
        EXPECT_EQ(problem.empty(), c.status == noErr) << problem;
        if (c.status != noErr) continue;
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(cut, c.cut);
    }
    EXPECT_EQ(FirstCharacters("\xFF" + cjk + "x", 2), "\xFF" + cjk); // a stray byte is one character

    // Stored and read back whole: saved, listed, found, renamed, in the menu
    // text (cut at 63 characters, so only the name shows).
    ASSERT_EQ(AddSaved("Zire 71", " " + cjk64), noErr);
    EXPECT_EQ(List("custom"), std::vector<std::string>{cjk63});
    AtomContainer found;
    ASSERT_EQ(FindPreset(cjk64, true, &found), noErr);
    EXPECT_EQ(PresetMenuText(found), cjk63);
    ASSERT_EQ(RenameUserPreset(cjk63, "x" + cjk64), noErr);
    EXPECT_EQ(List("custom"), std::vector<std::string>{"x" + std::string(FirstCharacters(cjk63, 62))});
    EditSettings s = DevicePreset("Zire 71");
    s.basedOn = List("custom")[0];
    AtomContainer based;
    ASSERT_EQ(PackSettings(s, "Short", based), noErr);
    EXPECT_EQ(PresetMenuText(based), "Short (x" + std::string(FirstCharacters(cjk63, 55)));
}

TEST_F(Presets, SavesAndRenamesOntoATakenNameAreRefused) {
    for (const char* name : {"Holiday", "Commute"})
        ASSERT_EQ(AddSaved("Tungsten T3", name), noErr);
    EXPECT_EQ(PresetNameTaken(" HOLIDAY "), PresetNameOwner::User);
    EXPECT_EQ(PresetNameTaken("zire 71"), PresetNameOwner::Device);
    EXPECT_EQ(PresetNameTaken("Zodiac - Best"), PresetNameOwner::Device); // hidden, yet found by name
    EXPECT_EQ(PresetNameTaken("Trip"), PresetNameOwner::None);
    EXPECT_EQ(PresetNameTaken("  "), PresetNameOwner::None);
    for (const char* name : {"holiday", "Zire 71", "ZODIAC"})
        EXPECT_EQ(AddSaved("m500", name), dupFNErr) << name;
    EXPECT_EQ(AddSaved("m500", " \t"), paramErr);
    ASSERT_EQ(AddSaved("m500", "  Trip  "), noErr);

    EXPECT_EQ(RenameUserPreset("Holiday", "commute"), dupFNErr);
    EXPECT_EQ(RenameUserPreset("Holiday", "Tungsten T3"), dupFNErr);
    EXPECT_EQ(RenameUserPreset("Holiday", ""), paramErr);
    EXPECT_EQ(RenameUserPreset("Nobody", "Anything"), cannotFindAtomErr);
    EXPECT_EQ(RenameUserPreset("Holiday", "HOLIDAY "), noErr); // its own name in other letters
    EXPECT_EQ(List("custom"), (std::vector<std::string>{"Commute", "HOLIDAY", "Trip"}));
}

TEST_F(Presets, AUserPresetIsFoundByItsMenuText) {
    ASSERT_EQ(AddSaved("Zire", "Mine"), noErr);
    AtomContainer found;
    ASSERT_EQ(FindPreset(" mine (ZIRE) ", true, &found), noErr);
    EXPECT_EQ(PresetMenuText(found), "Mine (Zire)");
    EXPECT_EQ(FindPreset("Mine (Zire", true, &found), cannotFindAtomErr);
    EXPECT_EQ(FindPreset("Mine (Zire)", false, &found), cannotFindAtomErr); // not a device's
    ASSERT_EQ(RenameUserPreset("Mine (Zire)", "Yours"), noErr);
    // A name beats another preset's menu text.
    ASSERT_EQ(AddSaved("Zire 71", "Yours (Zire)"), noErr);
    ASSERT_EQ(FindPreset("yours (zire)", true, &found), noErr);
    EXPECT_EQ(PresetMenuText(found), "Yours (Zire) (Zire 71)");
    ASSERT_EQ(DeleteUserPreset("Yours (Zire) (Zire 71)"), noErr);
    ASSERT_EQ(DeleteUserPreset("Yours (Zire)"), noErr);
    EXPECT_TRUE(List("custom").empty());
}

TEST_F(Presets, SuggestionsForAMistypedNameComeBestFirst) {
    ASSERT_EQ(AddSaved("m500", "Holiday"), noErr);
    using Names = std::vector<std::string>;
    EXPECT_EQ(SuggestPresetNames("zire71"), (Names{"Zire 71", "Zire 21", "Zire"}));
    EXPECT_EQ(SuggestPresetNames("tungsten t5", 1), Names{"Tungsten T3"});
    EXPECT_EQ(SuggestPresetNames("TUNGSTN T3", 1), Names{"Tungsten T3"});
    EXPECT_EQ(SuggestPresetNames("holliday"), Names{"Holiday"});
    EXPECT_EQ(SuggestPresetNames("PEG-UX40"), (Names{"PEG-UX40/50", "PEG-UX40/50 (Wide)"}));
    const Names tungsten = SuggestPresetNames("tungsten", 5);
    EXPECT_EQ(tungsten.size(), 5u);
    for (const std::string& name : tungsten) EXPECT_EQ(name.rfind("Tungsten ", 0), 0u) << name;
    EXPECT_TRUE(SuggestPresetNames("Newton MessagePad").empty());
    EXPECT_TRUE(SuggestPresetNames("zodiac - bset").empty()); // hidden presets are not offered
    EXPECT_TRUE(SuggestPresetNames(" ").empty());
}

TEST_F(Presets, PreferencesSurviveARestartAndACorruptFile) {
    // Nothing stored yet: no settings, the source folder.
    Preferences none;
    ASSERT_EQ(LoadPreferences(none), noErr);
    EXPECT_TRUE(none.settings.IsNull());
    EXPECT_EQ(none.destination, ExportDestination::SourceFolder);

    const AtomContainer settings = SavedFrom("Zire 71", "Mine");
    const FileSpec folder = folder_->Path();
    ASSERT_EQ(SavePreferences(settings, ExportDestination::OtherFolder, folder), noErr);
    Preferences back;
    ASSERT_EQ(LoadPreferences(back), noErr);
    EXPECT_TRUE(std::ranges::equal(back.settings.Bytes(), settings.Bytes()));
    EXPECT_EQ(back.destination, ExportDestination::OtherFolder);
    EXPECT_EQ(back.exportFolder, folder);
    // User presets stored beside the settings stay.
    ASSERT_EQ(AddUserPreset(&settings), noErr);
    ASSERT_EQ(SavePreferences(settings, ExportDestination::SourceFolder, {}), noErr);
    EXPECT_EQ(List("custom").size(), 1u);

    // Settings of the last exit that no longer read: their bytes kept and
    // told of once, the first preset's settings in their place, the user
    // presets kept.
    const std::string damaged = Damage([](const AtomContainer& pref) { return pref.FindPath(0, {Fcc("VTRP"), Fcc("STNG")}); });
    Preferences first;
    ASSERT_EQ(LoadPreferences(first), noErr);
    EditSettings firstStart;
    UnpackSettings(firstStart, first.settings);
    EXPECT_EQ(firstStart.name, "All color Palm OS devices");
    auto notices = TakePreferenceNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(Bytes(KeptFile(notices[0])), damaged);
    ASSERT_EQ(LoadPreferences(first), noErr);
    EXPECT_TRUE(TakePreferenceNotices().empty());
    EXPECT_EQ(List("custom").size(), 1u);

    // A file that does not read at all: kept aside whole under the name the
    // one notice gives, and the settings start afresh.
    std::ofstream(PreferenceFile(Fcc("VTRP")), std::ios::binary | std::ios::trunc) << "not a container";
    Preferences corrupt;
    ASSERT_EQ(LoadPreferences(corrupt), noErr);
    EXPECT_TRUE(corrupt.settings.IsNull());
    EXPECT_EQ(corrupt.destination, ExportDestination::SourceFolder);
    notices = TakePreferenceNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(Bytes(KeptFile(notices[0])), "not a container") << notices[0];
    EXPECT_FALSE(std::filesystem::exists(PreferenceFile(Fcc("VTRP"))));
    ASSERT_EQ(LoadPreferences(corrupt), noErr);
    EXPECT_TRUE(TakePreferenceNotices().empty());
}

TEST_F(Presets, ADamagedPresetIsKeptAsideAndToldOfOnce) {
    // The middle one's name is longer than 63 bytes.
    const std::string commuteName = "Pendelverkehr \xE9\x80\x9A\xE5\x8B\xA4 " + std::string(40, 'x');
    for (const std::string& name : {std::string("Holiday"), commuteName, std::string("Beach")})
        ASSERT_EQ(AddSaved("m500", name), noErr);
    // The file's structure holds, but the second preset's own bytes are damaged.
    const std::string damagedPreset = Damage([](const AtomContainer& pref) {
        return pref.FindChildByIndex(pref.FindChildByID(0, Fcc("VTRP"), 1), Fcc("CSTM"), 2);
    });

    EXPECT_EQ(List("custom"), (std::vector<std::string>{"Beach", "Holiday"}));
    const auto notices = TakePreferenceNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("\"" + commuteName + "\""), std::string::npos) << notices[0];
    // The notice names the file that holds the preset's bytes, unchanged.
    EXPECT_EQ(Bytes(KeptFile(notices[0])), damagedPreset) << notices[0];
    // Told once; the other presets stay through the next change.
    EXPECT_EQ(List("custom").size(), 2u);
    EXPECT_TRUE(TakePreferenceNotices().empty());
    ASSERT_EQ(AddSaved("m500", "Train"), noErr);
    EXPECT_EQ(List("custom"), (std::vector<std::string>{"Beach", "Holiday", "Train"}));
}

// ---- Every device preset against the reviewed snapshot ----

namespace {

// A 16.16 value: its whole part, and the fraction in 65536ths where it has one.
std::string Fixed(std::uint32_t v) {
    std::string text = std::to_string(v >> 16);
    if (v & 0xFFFF) text += "+" + std::to_string(v & 0xFFFF) + "/65536";
    return text;
}

// "5.2" for 0x05200000: the major version in the top byte, the minor in the
// next four bits; any lower bits follow after a "+".
std::string PalmOsVersion(std::uint32_t v) {
    const std::string text = std::to_string(v >> 24) + "." + std::to_string(v >> 20 & 0xF);
    return (v & 0xFFFFF) ? text + "+" + std::to_string(v & 0xFFFFF) : text;
}

// A device preset as its snapshot line: the resource ID, then each value as
// UnpackSettings gives it, "label=value", separated by " | ". A value whose
// atom the preset lacks is UnpackSettings' default and is marked so; the
// atoms nothing unpacks are shown as stored, or "none".
std::string SnapshotLine(ResID id, const AtomContainer& preset) {
    EditSettings s;
    UnpackSettings(s, preset);
    std::string line = std::to_string(id);
    auto add = [&](const char* label, std::string value) { line += std::string(" | ") + label + "=" + value; };
    auto unpacked = [&](const char* label, OSType key, std::size_t bytes, std::string value) {
        std::uint8_t stored[80];
        const bool missing = GetPresetValue(preset, key, std::span<std::uint8_t>(stored, bytes)) != noErr;
        add(label, missing ? value + " (default)" : value);
    };
    auto raw = [&](const char* label, QTAtom atom) {
        std::uint16_t u16 = 0;
        std::uint32_t u32 = 0;
        add(label, atom == 0                            ? "none"
                   : preset.ReadU16(atom, u16) == noErr ? std::to_string(u16)
                   : preset.ReadU32(atom, u32) == noErr ? std::to_string(u32)
                                                        : "unreadable");
    };
    auto size = [](std::uint16_t w, std::uint16_t h) { return std::to_string(w) + "x" + std::to_string(h); };
    const std::string maker = ManufacturerNameForId(s.maker);
    std::string offered;
    for (std::uint16_t i = 0; i < s.formatCount; ++i) offered += (i ? " " : "") + std::to_string(s.formats[i]);

    unpacked("name", Fcc("name"), 64, s.name);
    unpacked("maker", Fcc("manu"), 2, maker.empty() ? "#" + std::to_string(s.maker) : maker);
    unpacked("video", Fcc("dpth"), 2, s.depth == 32 ? "colour" : s.depth == 36 ? "16 grays" : std::to_string(s.depth));
    unpacked("fps", Fcc("fps "), 4, Fixed(s.frameRate));
    unpacked("kbps", Fcc("vbtr"), 2, std::to_string(s.videoBitRate));
    unpacked("movie", Fcc("vide"), 4, size(s.frameWidth, s.frameHeight));
    unpacked("layout", Fcc("scrn"), 4, size(s.layoutWidth, s.layoutHeight));
    unpacked("angle", Fcc("angl"), 2, std::to_string(s.angle));
    unpacked("offered", Fcc("fmts"), 80, offered.empty() ? "none" : offered);
    unpacked("sound", Fcc("vtsc"), 4, std::to_string(s.soundFormat));
    unpacked("channels", Fcc("sscc"), 2, std::to_string(s.channels));
    unpacked("most channels", Fcc("maxc"), 2, std::to_string(s.maxChannels));
    unpacked("rate", Fcc("ssrt"), 4, Fixed(s.sampleRate));
    unpacked("bit rate", Fcc("bitr"), 4, std::to_string(s.bitRate));
    unpacked("palm os", Fcc("osvr"), 4, PalmOsVersion(s.osVersion));
    unpacked("upright", Fcc("crui"), 2, std::to_string(s.controlsUpright));
    unpacked("boost", Fcc("boos"), 2, std::to_string(s.boost));
    raw("hidden", preset.FindPath(0, {Fcc("hidn")}));
    raw("flag", preset.FindPath(0, {Fcc("flag")}));
    raw("sample size", preset.FindPath(0, {Fcc("soun"), Fcc("ssss")}));
    return line;
}

} // namespace

// A changed value in resources/presets.table shows here: the snapshot holds
// every value of the shipped presets, reviewed, in the order the resource
// manager lists them (the first is the settings of a first start).
TEST_F(Presets, EveryDevicePresetMatchesTheReviewedSnapshot) {
    const char* path = VANTRO_SOURCE_DIR "/tests/presets.snapshot";
    std::ifstream file(path);
    ASSERT_TRUE(file) << path;
    std::vector<std::string> reviewed;
    for (std::string line; std::getline(file, line);)
        if (!line.empty() && line[0] != '#') reviewed.push_back(line);
    std::vector<std::string> compiled;
    for (const auto& [id, preset] : DevicePresets()) compiled.push_back(SnapshotLine(id, preset));
    for (std::size_t i = 0; i < std::min(compiled.size(), reviewed.size()); ++i)
        ASSERT_EQ(compiled[i], reviewed[i]) << "the resources' preset, then the snapshot's line";
    EXPECT_EQ(compiled.size(), reviewed.size()) << "presets in the resources and lines in the snapshot";
}

TEST_F(Presets, EveryFormatThePresetsUseHasItsNames) {
    // The one table of formats: whatever a device preset chooses or offers
    // is in it, with a name from the resources and a command-line name.
    for (const auto& [id, preset] : DevicePresets()) {
        EditSettings s;
        UnpackSettings(s, preset);
        SCOPED_TRACE(s.name);
        EXPECT_NE(FindVideoFormat(s.depth), nullptr);
        std::vector<std::int32_t> sounds = {static_cast<std::int32_t>(s.soundFormat)};
        for (std::uint16_t f = 0; f < s.formatCount; ++f) sounds.push_back(static_cast<std::int32_t>(s.formats[f]));
        for (std::int32_t code : sounds) {
            const SoundFormatEntry* entry = FindSoundFormat(code);
            ASSERT_NE(entry, nullptr) << code;
            EXPECT_FALSE(entry->commandLine.empty());
            const std::string name = SoundFormatName(code);
            EXPECT_GT(name.size(), entry->ratio.size()) << code; // the resource's name is there
        }
    }
}
