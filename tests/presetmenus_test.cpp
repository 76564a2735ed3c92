// The preset popups: what they list, the customised entry, and the preset
// a pick loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "engine/app/presetmenus.h"
#include "tests/preset_fixtures.h"

namespace {

using Texts = std::vector<std::string>;

class PresetMenusTest : public PresetStoreTest {
protected:

    static Texts TextsOf(const std::vector<MenuItem>& items) {
        Texts texts;
        for (const MenuItem& item : items) texts.push_back(item.text);
        return texts;
    }
    static int IndexOf(const std::vector<MenuItem>& items, std::string_view text) {
        const Texts texts = TextsOf(items);
        return static_cast<int>(std::ranges::find(texts, text) - texts.begin());
    }
    std::string SelectedDeviceText() const { return menus_.DeviceItems().at(menus_.SelectedDevice()).text; }

    PresetMenus menus_;
    EditSettings settings_;
    AtomContainer container_;
};

} // namespace

TEST_F(PresetMenusTest, MakersComeSortedWithGenericAndStreamingLastAndListTheirVisibleDevices) {
    settings_ = DevicePreset("m500"); // 16 Grays
    menus_.Build(settings_);
    EXPECT_EQ(TextsOf(menus_.MakerItems()),
              (Texts{"Custom", "-", "Acer", "Garmin", "HandEra", "Handspring", "IBM", "Kyocera", "Palm", "Samsung",
                     "Sony CLIE", "Tapwave", "-", "Generic", "Streaming"}));
    for (const MenuItem& item : menus_.MakerItems()) EXPECT_EQ(item.separator, item.text == "-") << item.text;
    EXPECT_EQ(menus_.MakerItems()[menus_.SelectedMaker()].text, "Palm");
    EXPECT_EQ(SelectedDeviceText(), "m500");
    // No user presets: "Custom" cannot be picked, nor a separator.
    EXPECT_FALSE(menus_.MakerItems()[0].enabled);
    for (const int refused : {0, 1, 99}) EXPECT_EQ(menus_.ChooseMaker(refused, settings_, container_), paramErr);

    const struct {
        const char* maker;
        Texts devices;
        bool videoChanged;
    } cases[] = {
        {"Tapwave", {"Zodiac", "Zodiac (Wide)"}, true}, // never the hidden "Zodiac - Good" and its kin
        {"Generic", {"All color Palm OS devices", "All gray Palm OS devices", "All Palm OS 5 devices", "All widescreen devices"}, false},
        {"Acer", {"s10", "s50/s60"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maker);
        bool videoChanged = !c.videoChanged;
        ASSERT_EQ(menus_.ChooseMaker(IndexOf(menus_.MakerItems(), c.maker), settings_, container_, &videoChanged), noErr);
        EXPECT_EQ(TextsOf(menus_.DeviceItems()), c.devices);
        EXPECT_EQ(SelectedDeviceText(), c.devices.front());
        EXPECT_EQ(settings_.name, c.devices.front());
        EXPECT_EQ(videoChanged, c.videoChanged);
    }
}

TEST_F(PresetMenusTest, AnEditAddsTheCustomisedEntryAndAPickRemovesIt) {
    settings_ = DevicePreset("m505/m515");
    menus_.Build(settings_);
    const Texts palm = TextsOf(menus_.DeviceItems());
    Texts customised{"Custom (m505/m515)", "-"};
    customised.insert(customised.end(), palm.begin(), palm.end());
    for (int edit = 0; edit < 2; ++edit) menus_.MarkCustomised(settings_); // a second edit adds nothing
    EXPECT_EQ(TextsOf(menus_.DeviceItems()), customised);
    EXPECT_EQ(menus_.SelectedDevice(), 0);
    EXPECT_TRUE(settings_.customised);

    settings_.edited = true;
    bool videoChanged = false;
    ASSERT_EQ(menus_.ChooseDevice(IndexOf(menus_.DeviceItems(), "m500"), settings_, container_, &videoChanged), noErr);
    EXPECT_EQ(TextsOf(menus_.DeviceItems()), palm);
    EXPECT_EQ(SelectedDeviceText(), "m500");
    EXPECT_EQ(settings_.name, "m500");
    EXPECT_FALSE(settings_.customised || settings_.edited);
    EXPECT_TRUE(videoChanged); // colour to 16 Grays

    // The customised entry names no preset: the settings stay, still shown
    // as customised, with the entry once.
    menus_.MarkCustomised(settings_);
    EXPECT_EQ(menus_.ChooseDevice(0, settings_, container_), cannotFindAtomErr);
    EXPECT_EQ(settings_.name, "m500");
    EXPECT_EQ(menus_.DeviceItems().size(), palm.size() + 2);
    EXPECT_EQ(menus_.DeviceItems()[0].text, "Custom (m500)");
    EXPECT_TRUE(settings_.customised);
}

TEST_F(PresetMenusTest, UserPresetsShowTheirOriginAndAreFoundAgain) {
    for (const auto& [device, name] : {std::pair{"m500", "Commute"}, std::pair{"Tungsten T3", "Holiday"}, std::pair{"Tungsten C", "Trip"}})
        ASSERT_EQ(AddSaved(device, name), noErr);
    settings_ = DevicePreset("m500");
    menus_.Build(settings_);
    ASSERT_TRUE(menus_.MakerItems()[0].enabled);
    ASSERT_EQ(menus_.ChooseMaker(0, settings_, container_), noErr);
    const Texts users{"Commute (m500)", "Holiday (Tungsten T3)", "Trip (Tungsten C)"};
    EXPECT_EQ(TextsOf(menus_.DeviceItems()), users);
    EXPECT_EQ(settings_.name, "Commute");
    ASSERT_EQ(menus_.ChooseDevice(1, settings_, container_), noErr);
    EXPECT_EQ(settings_.name, "Holiday");

    // Reopened, the window selects it again, even when it was saved edited.
    settings_.customised = true;
    PresetMenus reopened;
    reopened.Build(settings_);
    EXPECT_EQ(reopened.SelectedMaker(), 0);
    EXPECT_EQ(reopened.SelectedDevice(), 1);
    EXPECT_EQ(reopened.SelectedPresetName().name, "Holiday");
    ASSERT_EQ(reopened.ChooseDevice(2, settings_, container_), noErr);
    EXPECT_EQ(settings_.name, "Trip");

    // Edited, the entry names its origin too, and picks count past it.
    settings_.customised = false;
    reopened.MarkCustomised(settings_);
    EXPECT_EQ(reopened.DeviceItems()[0].text, "Custom (Trip, Tungsten C)");
    ASSERT_EQ(reopened.ChooseDevice(3, settings_, container_), noErr);
    EXPECT_EQ(settings_.name, "Holiday");
    EXPECT_EQ(TextsOf(reopened.DeviceItems()), users);
    EXPECT_EQ(reopened.SelectedDevice(), 1);
}

TEST_F(PresetMenusTest, SettingsOfTheGenericMakerOrNoListedOneRestoreAsCustomised) {
    EditSettings generic = DevicePreset("All color Palm OS devices"), unknown = DevicePreset("m505/m515");
    unknown.maker = 99;
    for (EditSettings* s : {&generic, &unknown}) {
        PresetMenus menus;
        menus.Build(*s);
        EXPECT_TRUE(s->customised && menus.HasCustomisedEntry()) << s->name;
        EXPECT_EQ(menus.SelectedMaker(), 0);
        EXPECT_TRUE(menus.DeviceItems().at(0).text.starts_with("Custom (" + s->name)) << s->name;
    }
}
