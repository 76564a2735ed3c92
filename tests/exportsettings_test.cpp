#include <gtest/gtest.h>

#include <vector>

#include "engine/exportsettings.h"

namespace {

AtomContainer Empty() {
    AtomContainer c;
    EXPECT_EQ(AtomContainer::Create(c), noErr);
    return c;
}

QTAtom Parent(AtomContainer& c, QTAtomType type) {
    QTAtom p = c.FindChildByID(0, type, 1);
    if (p == 0) {
        EXPECT_EQ(c.InsertChild(0, type, 1, 0, {}, &p), noErr);
    }
    return p;
}

void Put16(AtomContainer& c, QTAtomType parent, QTAtomType type, std::uint16_t v) {
    EXPECT_EQ(c.InsertU16(Parent(c, parent), type, v), noErr);
}
void Put32(AtomContainer& c, QTAtomType parent, QTAtomType type, std::uint32_t v) {
    EXPECT_EQ(c.InsertU32(Parent(c, parent), type, v), noErr);
}

ExportSettings SetFrom(AtomContainer& c, OSErr expected = noErr) {
    ExportSettings s;
    EXPECT_EQ(SetExportSettings(s, &c), expected);
    return s;
}

// The types of an atom's children, in order.
std::vector<QTAtomType> ChildTypes(const AtomContainer& c, QTAtom parent) {
    std::vector<QTAtomType> types;
    for (QTAtom child; (child = c.FindChildByIndex(parent, 0, static_cast<std::int16_t>(types.size() + 1))) != 0;) {
        QTAtomType type = 0;
        EXPECT_EQ(c.GetAtomTypeAndID(child, &type, nullptr), noErr);
        types.push_back(type);
    }
    return types;
}

} // namespace

TEST(ExportSettings, AnEmptyContainerChangesNothingAndNoneIsRefused) {
    AtomContainer empty = Empty();
    ExportSettings unchanged = SetFrom(empty);
    EXPECT_EQ(static_cast<const ConversionSettings&>(unchanged), ConversionSettings(ExportSettings{}));
    EXPECT_EQ(SetExportSettings(unchanged, nullptr), paramErr);
}

TEST(ExportSettings, SoundIsNormalisedPerFormat) {
    struct Case {
        std::uint32_t code;
        double rate;
        std::uint32_t bitRate;
        std::uint16_t channels;
        std::uint32_t wantCode;
        double wantRate;
        std::uint32_t wantBitRate;
        std::uint16_t wantChannels;
    };
    const Case cases[] = {
        {624, 8000, 40000, 2, 624, 44100, 33000, 2},
        {624, 8000, 47000, 1, 624, 44100, 47000, 1},
        {626, 11025.5, 12345, 2, 626, 11025, 33000, 2},
        {626, 12000, 33000, 1, 626, 8192, 33000, 1},
        {628, 44100, 33000, 1, 628, 44100, 33000, 1},
        {629, 44100, 66000, 2, 629, 8000, 33000, 1},
        {630, 12000, 33000, 1, 630, 11025, 33000, 2},
        {630, 22050.75, 33000, 1, 630, 22050, 33000, 2},
        {625, 11025, 33000, 2, 627, 8192, 33000, 1},
        {625, 16384.5, 33000, 2, 627, 16384, 33000, 1},
        {631, 4096, 33000, 2, 627, 4096, 33000, 1},
        {0, 12345.5, 1, 2, 0, 12345.5, 1, 2},
    };
    for (const Case& k : cases) {
        AtomContainer c = Empty();
        Put32(c, Fcc("soun"), Fcc("vtsc"), k.code);
        Put32(c, Fcc("soun"), Fcc("ssrt"), DoubleToUnsignedFixed(k.rate));
        Put32(c, Fcc("soun"), Fcc("bitr"), k.bitRate);
        Put16(c, Fcc("soun"), Fcc("sscc"), k.channels);
        ExportSettings s = SetFrom(c);
        EXPECT_EQ(static_cast<std::uint32_t>(s.soundFormat), k.wantCode) << k.code << " " << k.rate;
        EXPECT_EQ(s.sampleRate, DoubleToUnsignedFixed(k.wantRate)) << k.code << " " << k.rate;
        EXPECT_EQ(s.bitRate, k.wantBitRate) << k.code;
        EXPECT_EQ(s.channels, k.wantChannels) << k.code;
    }
    // Only the format code and a bit rate.
    AtomContainer c = Empty();
    Put32(c, Fcc("soun"), Fcc("vtsc"), 624);
    Put32(c, Fcc("soun"), Fcc("bitr"), 40000);
    ExportSettings s = SetFrom(c);
    EXPECT_EQ(s.sampleRate, UIntToUnsignedFixed(44100));
    EXPECT_EQ(s.bitRate, 33000u);
}

TEST(ExportSettings, AWrongSizeStopsAfterTakingWhatCameBefore) {
    AtomContainer c = Empty();
    QTAtom pres = 0;
    ASSERT_EQ(c.InsertChild(0, Fcc("PRES"), 1, 0, {}, &pres), noErr);
    ASSERT_EQ(c.InsertU16(pres, Fcc("vers"), 1), noErr);
    const std::uint8_t name[] = {4, 'T', 'r', 'i', 'p'};
    ASSERT_EQ(c.InsertChild(0, Fcc("name"), 1, 0, name), noErr);
    Put32(c, Fcc("colr"), Fcc("dpth"), 32); // 4 bytes where 2 belong
    Put32(c, Fcc("soun"), Fcc("vtsc"), 625);
    ExportSettings s;
    s.soundFormat = 625; // would become 627 if normalisation ran
    EXPECT_EQ(SetExportSettings(s, &c), invalidAtomErr);
    EXPECT_FALSE(s.layout.IsNull());
    EXPECT_EQ(s.name[0], 4);
    EXPECT_EQ(s.depth, 36);
    EXPECT_EQ(s.soundFormat, 625);
}

TEST(ExportSettings, BoostAndBitRateFailuresComeLastAndDoNotStop) {
    AtomContainer c = Empty();
    Put32(c, Fcc("soun"), Fcc("boos"), 3); // 4 bytes: wrong
    Put16(c, Fcc("soun"), Fcc("bitr"), 7); // 2 bytes: wrong
    Put32(c, Fcc("soun"), Fcc("vtsc"), 626);
    const std::uint8_t key[512] = {9};
    ASSERT_EQ(c.InsertChild(0, Fcc("cryp"), 1, 0, key), noErr);
    ExportSettings s;
    s.bitRate = 12;
    EXPECT_EQ(SetExportSettings(s, &c), invalidAtomErr);
    EXPECT_EQ(s.boost, 0);
    EXPECT_EQ(s.bitRate, 33000u); // normalisation still ran
    EXPECT_TRUE(s.hasScramblingKey);
    EXPECT_EQ(s.scramblingKey.Size(), 512u);
}

TEST(ExportSettings, GetReturnsEverySettingButSizeCodeAndKey) {
    AtomContainer c = Empty();
    QTAtom pres = 0;
    ASSERT_EQ(c.InsertChild(0, Fcc("PRES"), 1, 0, {}, &pres), noErr);
    ASSERT_EQ(c.InsertU16(pres, Fcc("angl"), 90), noErr);
    Put16(c, Fcc("colr"), Fcc("dpth"), 32);
    Put32(c, Fcc("time"), Fcc("fps "), static_cast<std::uint32_t>(IntToFixed(15)));
    Put16(c, Fcc("size"), Fcc("dimn"), 6);
    Put32(c, Fcc("soun"), Fcc("vtsc"), 630);
    const std::uint8_t key[512] = {};
    ASSERT_EQ(c.InsertChild(0, Fcc("cryp"), 1, 0, key), noErr);
    ExportSettings s = SetFrom(c);
    EXPECT_EQ(s.sizeCode, 6);

    AtomContainer out;
    ASSERT_EQ(GetExportSettings(s, &out), noErr);
    EXPECT_EQ(out.FindPath(0, {Fcc("size"), Fcc("dimn")}), 0);
    EXPECT_EQ(out.FindPath(0, {Fcc("cryp")}), 0);
    EXPECT_EQ(out.FindPath(0, {Fcc("name")}), 0); // no name given
    std::span<const std::uint8_t> vide;
    ASSERT_EQ(out.GetAtomData(out.FindPath(0, {Fcc("size"), Fcc("vide")}), vide), noErr);
    EXPECT_EQ(std::vector<std::uint8_t>(vide.begin(), vide.end()), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    std::uint16_t angle = 0;
    ASSERT_EQ(out.ReadU16(out.FindPath(0, {Fcc("PRES"), Fcc("angl")}), angle), noErr);
    EXPECT_EQ(angle, 90);
    // The order of the top level and of 'soun'.
    EXPECT_EQ(ChildTypes(out, 0), (std::vector<QTAtomType>{Fcc("PRES"), Fcc("colr"), Fcc("time"), Fcc("size"), Fcc("soun")}));
    EXPECT_EQ(ChildTypes(out, out.FindPath(0, {Fcc("soun")})),
              (std::vector<QTAtomType>{Fcc("ssrt"), Fcc("sscc"), Fcc("vtsc"), Fcc("boos"), Fcc("bitr")}));
    // A round trip through a second instance gives the same container.
    ExportSettings again = SetFrom(out);
    AtomContainer second;
    ASSERT_EQ(GetExportSettings(again, &second), noErr);
    EXPECT_EQ(std::vector<std::uint8_t>(out.Bytes().begin(), out.Bytes().end()),
              std::vector<std::uint8_t>(second.Bytes().begin(), second.Bytes().end()));
    EXPECT_EQ(GetExportSettings(s, nullptr), paramErr);
}

TEST(ExportSettings, NameIsReturnedAsItsLengthAndCharacters) {
    AtomContainer c = Empty();
    const std::uint8_t name[64] = {10, 'T', 'u', 'n', 'g', 's', 't', 'e', 'n', ' ', 'C'}; // a 64-byte preset slot
    ASSERT_EQ(c.InsertChild(0, Fcc("name"), 7, 0, name), noErr); // any ID: the first 'name' counts
    ExportSettings s = SetFrom(c);
    AtomContainer out;
    ASSERT_EQ(GetExportSettings(s, &out), noErr);
    QTAtomID id = 0;
    const QTAtom atom = out.FindChildByIndex(0, Fcc("name"), 1, &id);
    std::span<const std::uint8_t> data;
    ASSERT_EQ(out.GetAtomData(atom, data), noErr);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(data.size(), 11u);
    EXPECT_EQ(std::string(data.begin() + 1, data.end()), "Tungsten C");
}
