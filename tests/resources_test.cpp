#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "resources/application_resources.h"

namespace {

// Opens the application's resources for the length of a test.
class ApplicationResources : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenResourceFile(kApplicationResources, refNum_), noErr); }
    void TearDown() override { ASSERT_EQ(CloseResourceFile(refNum_), noErr); }

    static std::string Item(ResID list, std::int16_t item) {
        std::string text;
        EXPECT_EQ(GetIndString(list, item, text), noErr) << list << "/" << item;
        return text;
    }

private:
    std::int16_t refNum_ = 0;
};

} // namespace

TEST_F(ApplicationResources, MpegTablesMatchTheStandard) {
    Resource rates, samples;
    ASSERT_EQ(GetIndResource(Fcc("MPBR"), 1, rates), noErr);
    ASSERT_EQ(GetIndResource(Fcc("MPSR"), 1, samples), noErr);
    ASSERT_EQ(rates.data.size(), 144u * 4u);
    ASSERT_EQ(samples.data.size(), 12u * 4u);
    auto rate = [&](int version, int layer, int index) {
        return ReadBE32(rates.data.data() + 4 * ((version * 3 + layer) * 16 + index));
    };
    EXPECT_EQ(rate(0, 1, 12), 256u);  // MPEG-1 Layer II index 12
    EXPECT_EQ(rate(0, 0, 14), 448u);  // MPEG-1 Layer I top rate
    EXPECT_EQ(rate(0, 2, 9), 128u);   // MPEG-1 Layer III index 9
    EXPECT_EQ(rate(1, 1, 8), 64u);    // MPEG-2 Layer II index 8
    EXPECT_EQ(rate(2, 0, 14), 256u);
    for (int table = 0; table < 9; ++table) {
        EXPECT_EQ(rate(table / 3, table % 3, 0), 0u);
        EXPECT_EQ(rate(table / 3, table % 3, 15), 0u);
    }
    const std::uint32_t expected[] = {44100, 48000, 32000, 0, 22050, 24000, 16000, 0, 11025, 8000, 8000, 0};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(ReadBE32(samples.data.data() + 4 * i), expected[i]) << i;
}

TEST_F(ApplicationResources, LooksUpByIndexAndByNameWithoutCase) {
    Resource byName, byId;
    ASSERT_EQ(GetNamedResource(Fcc("ESTR"), "errors", byName), noErr);
    ASSERT_EQ(GetResource(Fcc("ESTR"), 128, byId), noErr);
    EXPECT_EQ(byName.data.data(), byId.data.data());
    EXPECT_EQ(GetNamedResource(Fcc("ESTR"), "error", byName), resNotFound);
    EXPECT_GE(CountResources(Fcc("STR#")), 30);
    Resource r;
    EXPECT_EQ(GetIndResource(Fcc("STR#"), CountResources(Fcc("STR#")) + 1, r), resNotFound);
    EXPECT_EQ(GetIndResource(Fcc("STR#"), 0, r), resNotFound);
    // A list's items by number: empty ones keep their places, escapes and
    // UTF-8 come through; none past either end or of a missing list.
    EXPECT_EQ(Item(128, 5), "");
    EXPECT_EQ(Item(128, 6), "multiple locations");
    EXPECT_NE(Item(133, 2).find("converted.\r\rAre you"), std::string::npos);
    EXPECT_EQ(CountStrings(136), 5);
    EXPECT_EQ(Item(136, 3), "Removable storage…");
    std::string text = "unchanged";
    EXPECT_EQ(GetIndString(136, 6, text), resNotFound);
    EXPECT_EQ(GetIndString(136, 0, text), resNotFound);
    EXPECT_EQ(GetIndString(9999, 1, text), resNotFound);
    EXPECT_EQ(text, "unchanged");
}

TEST(ResourceChain, NewerFilesHideOlderOnesUntilClosed) {
    static const std::uint8_t oldList[] = {0, 1, 3, 'o', 'l', 'd'};
    static const std::uint8_t newList[] = {0, 1, 3, 'n', 'e', 'w'};
    static const ResourceEntry oldEntries[] = {{Fcc("STR#"), 30000, "", oldList}};
    static const ResourceEntry newEntries[] = {{Fcc("STR#"), 30000, "", newList}};
    static const ResourceFile oldFile{oldEntries}, newFile{newEntries};
    std::int16_t a = 0, b = 0;
    ASSERT_EQ(OpenResourceFile(oldFile, a), noErr);
    ASSERT_EQ(OpenResourceFile(newFile, b), noErr);
    std::string text;
    ASSERT_EQ(GetIndString(30000, 1, text), noErr);
    EXPECT_EQ(text, "new");
    EXPECT_EQ(CountResources(Fcc("STR#")), 2);
    ASSERT_EQ(CloseResourceFile(b), noErr);
    ASSERT_EQ(GetIndString(30000, 1, text), noErr);
    EXPECT_EQ(text, "old");
    ASSERT_EQ(CloseResourceFile(a), noErr);
    EXPECT_EQ(GetIndString(30000, 1, text), resNotFound);
    EXPECT_EQ(CloseResourceFile(a), paramErr);
}

TEST(ResourceChain, ACutShortStringListIsNotReadPastItsEnd) {
    static const std::uint8_t broken[] = {0, 3, 2, 'o', 'k', 200, 'x'}; // claims 3 items, item 2 overruns
    static const ResourceEntry entries[] = {{Fcc("STR#"), 30001, "", broken}};
    static const ResourceFile file{entries};
    std::int16_t ref = 0;
    ASSERT_EQ(OpenResourceFile(file, ref), noErr);
    std::string text;
    EXPECT_EQ(GetIndString(30001, 1, text), noErr);
    EXPECT_EQ(text, "ok");
    EXPECT_EQ(GetIndString(30001, 2, text), resNotFound);
    EXPECT_EQ(GetIndString(30001, 3, text), resNotFound);
    ASSERT_EQ(CloseResourceFile(ref), noErr);
}
