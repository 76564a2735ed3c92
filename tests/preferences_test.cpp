#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/preferences.h"
#include "tests/test_folder.h"

namespace {

// Points the store at a fresh folder for each test.
class PreferenceStore : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::make_unique<TestFolder>();
        config_ = folder_->Path() / "config";
        ASSERT_EQ(setenv(kPreferenceFolderVariable, config_.c_str(), 1), 0);
    }
    void TearDown() override { unsetenv(kPreferenceFolderVariable); }

    std::vector<std::string> Names() const { return FolderNames(config_); }

    std::unique_ptr<TestFolder> folder_;
    std::filesystem::path config_;
};

AtomContainer Preference(std::uint16_t destination) {
    AtomContainer c;
    EXPECT_EQ(AtomContainer::Create(c), noErr);
    QTAtom vtrp = 0, xloc = 0;
    EXPECT_EQ(c.InsertChild(0, Fcc("VTRP"), 1, 0, {}, &vtrp), noErr);
    EXPECT_EQ(c.InsertChild(vtrp, Fcc("XLOC"), 1, 0, {}, &xloc), noErr);
    EXPECT_EQ(c.InsertU16(xloc, Fcc("TYPE"), destination), noErr);
    return c;
}

std::uint16_t Destination(const AtomContainer& c) {
    std::uint16_t v = 0;
    EXPECT_EQ(c.ReadU16(c.FindPath(0, {Fcc("VTRP"), Fcc("XLOC"), Fcc("TYPE")}), v), noErr);
    return v;
}

} // namespace

TEST_F(PreferenceStore, FolderFollowsTheEnvironment) {
    EXPECT_EQ(PreferenceFile(Fcc("VTRP")), config_ / "VTRP");
    unsetenv(kPreferenceFolderVariable);
    setenv("XDG_CONFIG_HOME", "/xdg", 1);
    EXPECT_EQ(PreferenceFolder(), FileSpec("/xdg/vantro-davavivi"));
    unsetenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') {
        EXPECT_EQ(PreferenceFolder(), FileSpec(home) / ".config" / "vantro-davavivi");
    }
}

TEST_F(PreferenceStore, MissingPreferenceIsAbsentAndNoneIsStored) {
    AtomContainer c;
    EXPECT_EQ(GetUserPreference(Fcc("VTRP"), c), fnfErr);
    EXPECT_TRUE(c.IsNull());
    EXPECT_EQ(SetUserPreference(Fcc("VTRP"), AtomContainer()), paramErr);
}

TEST_F(PreferenceStore, CorruptFileIsMovedAsideNotDestroyed) {
    ASSERT_EQ(CreateFolders(config_), noErr);
    {
        std::ofstream f(config_ / "VTRP", std::ios::binary);
        f << "this is not an atom container";
    }
    AtomContainer read;
    EXPECT_EQ(GetUserPreference(Fcc("VTRP"), read), fnfErr);
    auto names = Names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].rfind("VTRP.bad-", 0), 0u);
    EXPECT_EQ(FileText(config_ / names[0]), "this is not an atom container");

    // Writing afterwards works, and a second bad file does not overwrite the first.
    {
        std::ofstream f(config_ / "VTRP", std::ios::binary);
        f << "broken again";
    }
    EXPECT_EQ(GetUserPreference(Fcc("VTRP"), read), fnfErr);
    EXPECT_EQ(Names().size(), 2u);
    ASSERT_EQ(SetUserPreference(Fcc("VTRP"), Preference(1)), noErr);
    ASSERT_EQ(GetUserPreference(Fcc("VTRP"), read), noErr);
    EXPECT_EQ(Destination(read), 1);
}
