// What the preset suites share: the application's resources open, a fresh
// preference store per test, a device preset as the window edits it, and a
// user preset saved from one.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/preferences.h"
#include "presets/presets.h"
#include "resources/application_resources.h"
#include "tests/test_folder.h"

// A device preset by name, unpacked.
inline EditSettings DevicePreset(std::string_view name) {
    AtomContainer preset;
    EXPECT_EQ(FindPreset(name, false, &preset), noErr) << name;
    EditSettings s;
    UnpackSettings(s, preset);
    return s;
}

// A user preset saved from a device preset under a new name.
inline AtomContainer SavedFrom(std::string_view device, std::string_view name) {
    EditSettings s = DevicePreset(device);
    s.basedOn = std::string(device);
    AtomContainer out;
    EXPECT_EQ(PackSettings(s, name, out), noErr);
    return out;
}

// Adds the user preset SavedFrom makes; what AddUserPreset answers.
inline OSErr AddSaved(std::string_view device, std::string_view name) {
    const AtomContainer preset = SavedFrom(device, name);
    return AddUserPreset(&preset);
}

// The resources open and the preference store in a fresh folder.
class PresetStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(OpenApplicationResources(), noErr);
        folder_ = std::make_unique<TestFolder>();
        ASSERT_EQ(setenv(kPreferenceFolderVariable, (folder_->Path() / "config").c_str(), 1), 0);
    }
    void TearDown() override { unsetenv(kPreferenceFolderVariable); }

    std::unique_ptr<TestFolder> folder_;
};
