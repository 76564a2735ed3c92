// Device presets and user presets: complete sets of conversion settings,
// kept as settings containers. The 71 device presets are the application's
// 'STNG' resources; the maker table is 'MANU' 512; user presets and the
// settings of the last exit live in the per-user preference 'VTRP'.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/atoms.h"
#include "platform/files.h"
#include "platform/status.h"
#include "presets/conversionsettings.h"
#include "presets/presetnames.h"

// ---- Lists of names ----

// Names in sorted order with a reading cursor.
class PresetNameList {
public:
    explicit PresetNameList(std::vector<std::string> names) : names_(std::move(names)) {}
    std::size_t Count() const { return names_.size(); }
    const std::vector<std::string>& Names() const { return names_; }
    // The next name; false at the end.
    bool Next(std::string& out);

private:
    std::vector<std::string> names_;
    std::size_t cursor_ = 0;
};
using PresetNameListPtr = std::unique_ptr<PresetNameList>;

// "custom": the user presets; "manufac": the makers; "hidden": the hidden
// device presets; any other text: the listed device presets of that maker
// (compared without regard to case or accents). Sorted the same way. Null
// when memory runs out.
PresetNameListPtr ListPresets(std::string_view category);
bool NextPresetName(PresetNameList& list, std::string& out);
void FreePresetList(PresetNameListPtr& list);

// A user preset as the menus show it: "name (based-on name)" when it was
// saved from another preset, cut to 63 characters (never inside one); else
// its name. FindPreset and the user preset calls take this text too.
std::string PresetMenuText(const AtomContainer& preset);

// ---- Makers ----

// The id of a maker's name, or -1; the name of an id, or empty.
int ManufacturerIdForName(std::string_view name);
std::string ManufacturerNameForId(int id);

// ---- Presets ----

// The preset of that name: a user preset (from the preference) or a device
// preset. Names compare trimmed and cut as stored names are, without regard
// to case or accents; a user preset is also found by its menu text
// (PresetMenuText) when no user preset has that name. cannotFindAtomErr
// (-2101) when none has that name.
[[nodiscard]] OSErr FindPreset(std::string_view name, bool isUser, AtomContainer* out);

// One value of a preset by its key ('name', 'bnam', 'cstm', 'crui', 'hidn',
// 'osvr', 'manu', 'dpth', 'fps ', 'vbtr', 'vide', 'scrn', 'angl', 'dimn',
// 'vtsc', 'sscc', 'ssrt', 'ssss', 'maxc', 'boos', 'bitr', 'fmts'), its raw
// big-endian bytes. 'name' and 'bnam' may be shorter than `out`; 'fmts'
// fills 4 bytes per offered format; every other key must fill `out`
// exactly. paramErr when the key is unknown or an atom is missing.
[[nodiscard]] OSErr GetPresetValue(const AtomContainer& preset, OSType key, std::span<std::uint8_t> out,
                                   std::uint32_t* size = nullptr);

// The editable settings of the main window: the conversion choices (a
// preset's defaults where it lacks one) and the device's own values.
struct EditSettings : ConversionSettings {
    EditSettings() : ConversionSettings(kPresetDefaults) {}
    std::uint16_t layoutWidth = 160, layoutHeight = 160;
    std::uint16_t maker = 0;
    std::uint32_t osVersion = 0x04000000;
    std::uint16_t controlsUpright = 0;
    std::uint16_t formatCount = 3;
    std::array<std::uint32_t, 20> formats{626, 628, 627};
    std::uint16_t maxChannels = 1;
    // The layout editor's own fields.
    bool customLayout = false;
    std::uint32_t backgroundColour = 0;
    std::uint16_t editorWidth = 0, editorHeight = 0;
    bool showControls = true;
    bool customised = false;
    bool edited = false;
    std::string name = "Custom";
    std::string basedOn;
};

// Every value of the container, or its default where it is missing.
void UnpackSettings(EditSettings& settings, const AtomContainer& preset);
// A new container of the settings under `name`; on failure `out` stays.
// The name and the based-on name are stored trimmed and cut to 63
// characters (as NormalisePresetName gives them, where it takes them).
[[nodiscard]] OSErr PackSettings(const EditSettings& settings, std::string_view name, AtomContainer& out);

// ---- The preference ----

// Where results go: the source's folder, HotSync, a removable card, or a
// chosen folder.
enum class ExportDestination : std::uint16_t { SourceFolder = 1, HotSync = 2, RemovableStorage = 3, OtherFolder = 5 };

struct Preferences {
    AtomContainer settings; // null when none was stored
    ExportDestination destination = ExportDestination::SourceFolder;
    FileSpec exportFolder;  // empty when none
};

// The settings of the last exit (stored from the first device preset when
// the preference has none), and the destination.
[[nodiscard]] OSErr LoadPreferences(Preferences& out);
[[nodiscard]] OSErr SavePreferences(const AtomContainer& settings, ExportDestination destination, const FileSpec& exportFolder);

// Stores a user preset under its 'name', normalised (NormalisePresetName).
// paramErr for no preset or a name that is not one; dupFNErr (-48) when a
// device preset or another user preset has the name (PresetNameTaken says
// which).
[[nodiscard]] OSErr AddUserPreset(const AtomContainer* preset);
// The user preset found by name or menu text, as FindPreset finds it;
// cannotFindAtomErr when there is none.
[[nodiscard]] OSErr DeleteUserPreset(std::string_view name);
// Gives that user preset the new name, normalised, and moves it to the end.
// paramErr for a new name that is not one; cannotFindAtomErr when there is
// no such preset; dupFNErr (-48) when a device preset or another user
// preset has the new name (the preset's own name in other letters is
// taken).
[[nodiscard]] OSErr RenameUserPreset(std::string_view oldName, std::string_view newName);
