// The maker and device popups: their entries from the presets and the
// resources, the customised entry, and loading the preset picked.
#include "engine/app/presetmenus.h"

#include <algorithm>

#include "platform/resources.h"
#include "platform/textorder.h"

namespace {

// The category of ListPresets that lists the user's presets.
constexpr std::string_view kUserPresets = "custom";
// The maker the menu keeps for last, after "Generic".
constexpr std::string_view kStreaming = "Streaming";

// STR# 132: the "Custom" entry and the separator the popups use.
std::string CustomText() {
    std::string text;
    return GetIndString(132, 1, text) == noErr ? text : "Custom";
}

MenuItem Separator() {
    MenuItem item{"-", false, true};
    std::string text;
    if (GetIndString(132, 2, text) == noErr) item.text = std::move(text);
    return item;
}

// A list's names; false when it could not be made.
bool ListNames(std::string_view category, std::vector<std::string>& out) {
    const PresetNameListPtr list = ListPresets(category);
    if (!list) return false;
    out = list->Names();
    return true;
}

bool HasUserPresets() {
    std::vector<std::string> names;
    return ListNames(kUserPresets, names) && !names.empty();
}

// The makers in menu order: the table's, sorted, with the generic maker
// (id 0) and the streaming presets held back to the end, each behind a
// separator of its own when the other is absent.
std::vector<MenuItem> MakerEntries() {
    std::vector<std::string> names;
    (void)ListNames("manufac", names); // no makers: the menu keeps "Custom" only
    std::vector<MenuItem> items;
    std::string generic;
    bool streaming = false;
    for (const std::string& name : names) {
        if (ManufacturerIdForName(name) == 0) generic = name;
        else if (name == kStreaming) streaming = true;
        else items.push_back({name});
    }
    if (!generic.empty()) {
        items.push_back(Separator());
        items.push_back({generic});
    }
    if (streaming) {
        if (generic.empty()) items.push_back(Separator());
        items.push_back({std::string(kStreaming)});
    }
    return items;
}

} // namespace

void PresetMenus::Build(EditSettings& settings) {
    makers_ = {{CustomText(), HasUserPresets()}, Separator()};
    firstMaker_ = static_cast<int>(makers_.size());
    const std::vector<MenuItem> makers = MakerEntries();
    makers_.insert(makers_.end(), makers.begin(), makers.end());
    // Like a popup control whose maximum shrank, the selection stays where
    // it was unless the restore below moves it.
    maker_ = std::clamp(maker_, 0, static_cast<int>(makers_.size()) - 1);
    RestoreSelection(settings);
}

void PresetMenus::RestoreSelection(EditSettings& settings) {
    // Only user presets carry a based-on name.
    if (!settings.basedOn.empty()) {
        maker_ = 0;
        BuildDeviceMenu(kUserPresets, settings.name, settings);
        return;
    }
    // The generic presets (maker 0) are not looked for: they fit no one
    // device, so settings from them show as customised.
    if (settings.maker != 0) {
        const std::string makerName = ManufacturerNameForId(settings.maker);
        for (int i = firstMaker_; i < static_cast<int>(makers_.size()); ++i) {
            if (makers_[i].separator || makers_[i].text != makerName) continue;
            maker_ = i;
            BuildDeviceMenu(makerName, settings.name, settings);
            return;
        }
    }
    MarkCustomised(settings);
}

void PresetMenus::BuildDeviceMenu(std::string_view category, std::string_view wanted, EditSettings& settings) {
    devices_.clear();
    device_ = 0;
    customisedEntry_ = false;
    std::vector<std::string> names;
    if (!ListNames(category, names)) {
        MarkCustomised(settings);
        return;
    }
    const bool users = category == kUserPresets;
    int remembered = -1;
    for (const std::string& name : names) {
        std::string text = name;
        AtomContainer preset;
        if (users && FindPreset(name, true, &preset) == noErr) text = PresetMenuText(preset);
        // The preset's own name is wanted, not the text that decorates it.
        if (remembered < 0 && !wanted.empty() && EqualText(name, wanted))
            remembered = static_cast<int>(devices_.size());
        devices_.push_back({std::move(text)});
    }
    device_ = std::max(remembered, 0);
}

void PresetMenus::MarkCustomised(EditSettings& settings) {
    if (settings.customised) return;
    if (ManufacturerNameForId(settings.maker).empty()) maker_ = 0;
    std::string label = CustomText() + " (" + settings.name;
    if (OnCustomMaker() && !settings.basedOn.empty()) label += ", " + settings.basedOn; // no empty third part
    label += ")";
    // The flag can be cleared while the entry stays (the layout editor
    // marks its own edits afresh); the entry is then replaced, not doubled.
    if (customisedEntry_) devices_.erase(devices_.begin(), devices_.begin() + std::min<std::size_t>(2, devices_.size()));
    devices_.insert(devices_.begin(), {MenuItem{std::move(label)}, Separator()});
    device_ = 0;
    customisedEntry_ = true;
    settings.customised = true;
}

PresetChoice PresetMenus::SelectedPresetName() const {
    if (OnCustomMaker()) {
        // Counted past the customised entry and its separator when the menu
        // shows them; the stored flag alone (settings saved edited) adds none.
        int position = device_ + 1 - (customisedEntry_ ? 2 : 0);
        position = std::max(position, 1);
        std::vector<std::string> names;
        if (!ListNames(kUserPresets, names) || position > static_cast<int>(names.size())) return {{}, true};
        return {names[static_cast<std::size_t>(position - 1)], true};
    }
    if (device_ < 0 || device_ >= static_cast<int>(devices_.size())) return {};
    return {devices_[static_cast<std::size_t>(device_)].text, false};
}

OSErr PresetMenus::ChooseMaker(int index, EditSettings& settings, AtomContainer& container, bool* videoFormatChanged) {
    return Choose(true, index, settings, container, videoFormatChanged);
}

OSErr PresetMenus::ChooseDevice(int index, EditSettings& settings, AtomContainer& container, bool* videoFormatChanged) {
    return Choose(false, index, settings, container, videoFormatChanged);
}

OSErr PresetMenus::Choose(bool makerPicked, int index, EditSettings& settings, AtomContainer& container,
                          bool* videoFormatChanged) {
    if (videoFormatChanged != nullptr) *videoFormatChanged = false;
    const std::vector<MenuItem>& items = makerPicked ? makers_ : devices_;
    if (index < 0 || index >= static_cast<int>(items.size())) return paramErr;
    const MenuItem& picked = items[static_cast<std::size_t>(index)];
    if (picked.separator || !picked.enabled) return paramErr;

    // A new maker lists its own presets, the first one picked.
    const bool wasCustomised = settings.customised || customisedEntry_;
    if (makerPicked) {
        maker_ = index;
        BuildDeviceMenu(OnCustomMaker() ? std::string(kUserPresets) : makers_[static_cast<std::size_t>(index)].text, {},
                        settings);
    } else {
        device_ = index;
    }
    // The name is read while the customised entry still counts.
    const PresetChoice choice = SelectedPresetName();
    settings.customised = false;
    settings.edited = false;
    // A device picked from a customised menu drops the entry.
    if (!makerPicked && wasCustomised) {
        const std::string category = OnCustomMaker() ? std::string(kUserPresets) : ManufacturerNameForId(settings.maker);
        BuildDeviceMenu(category, choice.name, settings);
    }
    // The preset replaces the settings; one that cannot be found leaves
    // them as they are, shown as customised.
    AtomContainer preset;
    if (OSErr err = FindPreset(choice.name, choice.isUser, &preset)) {
        MarkCustomised(settings);
        return err;
    }
    const std::int16_t oldDepth = settings.depth;
    container = std::move(preset);
    UnpackSettings(settings, container);
    if (videoFormatChanged != nullptr) *videoFormatChanged = settings.depth != oldDepth;
    return noErr;
}
