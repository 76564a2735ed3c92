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

struct ErrorEntry {
    std::int16_t code;
    std::string message;
};

std::vector<ErrorEntry> ReadErrorTable() {
    std::vector<ErrorEntry> table;
    Resource estr;
    EXPECT_EQ(GetIndResource(Fcc("ESTR"), 1, estr), noErr);
    EXPECT_EQ(estr.id, 128);
    ByteReader r(estr.data);
    std::uint16_t count = 0;
    EXPECT_TRUE(r.U16(count));
    for (int i = 0; i < count; ++i) {
        ErrorEntry e;
        EXPECT_TRUE(r.I16(e.code));
        EXPECT_TRUE(r.PString(e.message));
        table.push_back(e);
    }
    EXPECT_EQ(r.Remaining(), 0u);
    return table;
}

} // namespace

TEST_F(ApplicationResources, ErrorTableHasEveryMessageInOrder) {
    const std::vector<std::pair<int, std::string>> expected = {
        {-2009, "Audio-only movie not converted"},
        {-2048, "Unable to open source file"},
        {-2055, "Audio track not converted"},
        {-108, "Out of memory"},
        {-2003, "Unable to decode video"},
        {-8961, "Video/Audio decoder not available"},
        {-38, "Unable to create file"},
        {-50, "Parameter error"},
        {-34, "Disk is full"},
        {-36, "I/O error - disk may be full"},
        {-205, "Bad audio channel"},
        {-37, "Bad file name - the name may be too long"},
    };
    auto table = ReadErrorTable();
    ASSERT_EQ(table.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(table[i].code, expected[i].first) << i;
        EXPECT_EQ(table[i].message, expected[i].second) << i;
    }
}

TEST_F(ApplicationResources, StringListsHoldTheirItemsAtFixedNumbers) {
    EXPECT_EQ(Item(128, 2), "Export location:");
    EXPECT_EQ(Item(128, 6), "multiple locations");
    EXPECT_EQ(Item(128, 8), "Are you sure you want to remove all the files?");
    EXPECT_EQ(Item(129, 3), " of ");
    EXPECT_EQ(Item(133, 1), "Error code ");
    EXPECT_EQ(Item(133, 2), "Not all the files have been converted.\r\rAre you sure you want to cancel the conversion?");
    EXPECT_EQ(Item(133, 5), "Conversion complete");
    EXPECT_EQ(Item(134, 2), "\\PALM\\PROGRAMS\\VANTRO");
    EXPECT_EQ(Item(134, 5), "No Removable Media drives found.");
    EXPECT_EQ(Item(135, 4), "This application requires the QuickTime Authoring Component.  Please run your "
                            "QuickTime Updater and install this component.");
    EXPECT_EQ(Item(136, 3), "Removable storage…");
    EXPECT_EQ(Item(143, 12), "Not Applicable");
    EXPECT_EQ(Item(144, 5), "CLIÉ Audio");
    EXPECT_EQ(Item(220, 2), "Audio & Video");
    EXPECT_EQ(Item(246, 8), "Encoding:");
    EXPECT_EQ(Item(513, 1), "Vantro Movie for Palm OS");
    EXPECT_EQ(Item(516, 12), "Full 320 x 320");
    EXPECT_EQ(Item(518, 14), "1500 kpbs");
    EXPECT_EQ(Item(1152, 6), "Are you sure you want to delete selected preset(s)?");
    EXPECT_EQ(CountStrings(136), 5);

    std::string text = "unchanged";
    EXPECT_EQ(GetIndString(136, 6, text), resNotFound);
    EXPECT_EQ(GetIndString(136, 0, text), resNotFound);
    EXPECT_EQ(GetIndString(9999, 1, text), resNotFound);
    EXPECT_EQ(text, "unchanged");
}

TEST_F(ApplicationResources, RateListsCoverEveryPresetValue) {
    // The rates of the shipped presets must each be offered by their list.
    auto numbers = [](ResID list) {
        std::vector<long> out;
        for (std::int16_t i = 1; i <= CountStrings(list); ++i) out.push_back(std::stol(Item(list, i)));
        return out;
    };
    EXPECT_EQ(numbers(137), (std::vector<long>{11750, 16500, 23500, 33000, 47000, 66000}));
    EXPECT_EQ(numbers(138), (std::vector<long>{23500, 33000, 47000, 66000}));
    EXPECT_EQ(numbers(145), (std::vector<long>{4096, 8192, 16384, 32768}));
    EXPECT_EQ(numbers(152), (std::vector<long>{8000, 11025, 22050, 44100}));
    EXPECT_EQ(numbers(141), numbers(142));
    EXPECT_EQ(numbers(153), numbers(154));
    EXPECT_EQ(numbers(151), (std::vector<long>{8000}));
    std::vector<long> fps;
    for (std::int16_t i = 2; i <= CountStrings(517); ++i) fps.push_back(std::stol(Item(517, i)));
    for (long rate : {6, 8, 10, 12, 15, 24}) EXPECT_NE(std::find(fps.begin(), fps.end(), rate), fps.end()) << rate;
    std::vector<long> kbps;
    for (std::int16_t i = 1; i <= CountStrings(518); ++i) kbps.push_back(std::stol(Item(518, i)));
    for (long rate : {240, 320, 400, 480, 560, 640, 720, 800})
        EXPECT_NE(std::find(kbps.begin(), kbps.end(), rate), kbps.end()) << rate;
}

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
