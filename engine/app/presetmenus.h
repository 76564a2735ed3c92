// The main window's two preset popups, maker and device, as plain data:
// what each lists, which entry is selected, and what choosing from them
// does to the current settings. The window only draws the items and passes
// the user's picks back here, so the rules hold for every front end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/atoms.h"
#include "platform/status.h"
#include "presets/presets.h"

// One entry of a popup. "-" entries are separators and cannot be chosen.
struct MenuItem {
    std::string text;
    bool enabled = true;
    bool separator = false;
};

// The preset the popups point at: one of the user's presets (the maker
// popup on "Custom") or a device preset.
struct PresetChoice {
    std::string name;
    bool isUser = false;
};

class PresetMenus {
public:
    // Refills the maker popup ("Custom", "-", the makers, "-", "Generic",
    // "Streaming") and selects where the settings came from: their based-on
    // preset's user presets, else their maker's devices with their name
    // selected; settings of no listed maker show as customised.
    void Build(EditSettings& settings);

    // Shows the settings as edited: a first device entry "Custom (name)" (or
    // "Custom (name, based-on name)" under the "Custom" maker) and a
    // separator, selected. Nothing when they already count as customised.
    void MarkCustomised(EditSettings& settings);

    // The preset the selected entries name.
    PresetChoice SelectedPresetName() const;

    // The user picked entry `index` (0-based) of the maker or device popup:
    // the preset it names replaces `settings` and `container`, and the
    // customised entry goes. paramErr for a separator, a disabled entry or
    // an index past the end (nothing changes); cannotFindAtomErr when no
    // preset has the chosen name (the settings stay, shown as customised).
    // `videoFormatChanged`, when given, tells whether the new preset's
    // video format differs from the old one's.
    [[nodiscard]] OSErr ChooseMaker(int index, EditSettings& settings, AtomContainer& container,
                                    bool* videoFormatChanged = nullptr);
    [[nodiscard]] OSErr ChooseDevice(int index, EditSettings& settings, AtomContainer& container,
                                      bool* videoFormatChanged = nullptr);

    const std::vector<MenuItem>& MakerItems() const { return makers_; }
    const std::vector<MenuItem>& DeviceItems() const { return devices_; }
    int SelectedMaker() const { return maker_; }
    int SelectedDevice() const { return device_; }
    // The maker popup's first maker entry: those before it are "Custom" and
    // its separator.
    int FirstMakerIndex() const { return firstMaker_; }
    // Whether the device popup starts with the customised entry and its
    // separator.
    bool HasCustomisedEntry() const { return customisedEntry_; }

private:
    void BuildDeviceMenu(std::string_view category, std::string_view wanted, EditSettings& settings);
    void RestoreSelection(EditSettings& settings);
    bool OnCustomMaker() const { return maker_ < firstMaker_; }
    [[nodiscard]] OSErr Choose(bool makerPicked, int index, EditSettings& settings, AtomContainer& container,
                               bool* videoFormatChanged);

    std::vector<MenuItem> makers_;
    std::vector<MenuItem> devices_;
    int maker_ = 0;
    int device_ = 0;
    int firstMaker_ = 2;
    bool customisedEntry_ = false;
};
