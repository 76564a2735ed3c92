#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "platform/atoms.h"

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

std::vector<std::uint8_t> Copy(std::span<const std::uint8_t> s) { return {s.begin(), s.end()}; }

AtomContainer NewContainer() {
    AtomContainer c;
    EXPECT_EQ(AtomContainer::Create(c), noErr);
    return c;
}

// A settings-like tree: name, soun/{ssrt,sscc,vtsc}, PRES/back/rgb .
AtomContainer SampleTree() {
    AtomContainer c = NewContainer();
    EXPECT_EQ(c.InsertChild(0, Fcc("name"), 1, 0, Bytes({4, 'T', 'e', 's', 't'})), noErr);
    EXPECT_EQ(c.InsertChild(0, Fcc("soun"), 1, 0, {}), noErr);
    EXPECT_EQ(c.InsertU32(c.FindPath(0, {Fcc("soun")}), Fcc("ssrt"), IntToFixed(8192)), noErr);
    EXPECT_EQ(c.InsertU16(c.FindPath(0, {Fcc("soun")}), Fcc("sscc"), 1), noErr);
    EXPECT_EQ(c.InsertU32(c.FindPath(0, {Fcc("soun")}), Fcc("vtsc"), 626), noErr);
    EXPECT_EQ(c.InsertChild(0, Fcc("PRES"), 1, 0, {}), noErr);
    EXPECT_EQ(c.InsertChild(c.FindPath(0, {Fcc("PRES")}), Fcc("back"), 1, 0, {}), noErr);
    EXPECT_EQ(c.InsertChild(c.FindPath(0, {Fcc("PRES"), Fcc("back")}), Fcc("rgb "), 1, 0, Bytes({0xFF, 0xFF, 0, 0, 0x80, 0})), noErr);
    return c;
}

} // namespace

TEST(AtomContainer, EmptyContainerAndOneLeafHaveThePublishedLayout) {
    AtomContainer c = NewContainer();
    auto expected = Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,       // header
                           0, 0, 0, 20, 's', 'e', 'a', 'n', 0, 0, 0, 1, // size, 'sean', ID 1
                           0, 0, 0, 0, 0, 0, 0, 0});                    // reserved, count, reserved
    EXPECT_EQ(Copy(c.Bytes()), expected);
    ASSERT_EQ(c.InsertChild(0, Fcc("dpth"), 1, 0, Bytes({0x00, 0x24})), noErr);
    expected[15] = 42, expected[27] = 1; // the root's size and count of children
    const auto leaf = Bytes({0, 0, 0, 22, 'd', 'p', 't', 'h', 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x24});
    expected.insert(expected.end(), leaf.begin(), leaf.end());
    EXPECT_EQ(Copy(c.Bytes()), expected);
}

TEST(AtomContainer, AssignsNextUnusedIDsAndPlacesByIndex) {
    AtomContainer c = NewContainer();
    QTAtom a = 0;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(c.InsertChild(0, Fcc("CSTM"), 0, 0, Bytes({i})), noErr);
    QTAtomID id = 0;
    ASSERT_NE(c.FindChildByIndex(0, Fcc("CSTM"), 3, &id), 0);
    EXPECT_EQ(id, 3);
    ASSERT_EQ(c.RemoveAtom(c.FindChildByID(0, Fcc("CSTM"), 2)), noErr);
    ASSERT_EQ(c.InsertChild(0, Fcc("CSTM"), 0, 0, Bytes({9}), &a), noErr);
    QTAtomType type = 0;
    ASSERT_EQ(c.GetAtomTypeAndID(a, &type, &id), noErr);
    EXPECT_EQ(type, Fcc("CSTM"));
    EXPECT_EQ(id, 4); // one above the highest, not the gap
    // Another type counts its IDs on its own.
    ASSERT_EQ(c.InsertChild(0, Fcc("STNG"), 0, 0, {}, &a), noErr);
    ASSERT_EQ(c.GetAtomTypeAndID(a, nullptr, &id), noErr);
    EXPECT_EQ(id, 1);

    EXPECT_EQ(c.InsertChild(0, Fcc("CSTM"), 3, 0, {}), duplicateAtomTypeAndIDErr);
    // Index 1 puts the atom before the first of its type.
    ASSERT_EQ(c.InsertChild(0, Fcc("CSTM"), 50, 1, Bytes({5})), noErr);
    ASSERT_NE(c.FindChildByIndex(0, Fcc("CSTM"), 1, &id), 0);
    EXPECT_EQ(id, 50);
    std::int16_t index = 0;
    ASSERT_NE(c.FindChildByID(0, Fcc("CSTM"), 4, &index), 0);
    EXPECT_EQ(index, 4);
    EXPECT_EQ(c.InsertChild(0, Fcc("CSTM"), 0, 9, {}), atomIndexInvalidErr);
    EXPECT_EQ(c.FindChildByIndex(0, Fcc("CSTM"), 5), 0);
    EXPECT_EQ(c.FindChildByIndex(0, Fcc("CSTM"), 0), 0);
}

TEST(AtomContainer, SetAtomDataTakesDataFromTheContainerItself) {
    AtomContainer c = SampleTree();
    QTAtom name = c.FindPath(0, {Fcc("name")});
    std::span<const std::uint8_t> own;
    ASSERT_EQ(c.GetAtomData(name, own), noErr);
    ASSERT_EQ(c.SetAtomData(c.FindPath(0, {Fcc("soun"), Fcc("ssrt")}), own), noErr);
    ASSERT_EQ(c.GetAtomData(c.FindPath(0, {Fcc("soun"), Fcc("ssrt")}), own), noErr);
    EXPECT_EQ(Copy(own), Bytes({4, 'T', 'e', 's', 't'}));
}

TEST(AtomContainer, CopiesSubtreesBetweenContainers) {
    AtomContainer c = SampleTree();
    AtomContainer layout;
    ASSERT_EQ(c.CopyAtom(c.FindPath(0, {Fcc("PRES")}), layout), noErr);
    EXPECT_EQ(layout.CountChildrenOfType(0, 0), 1);
    EXPECT_NE(layout.FindPath(0, {Fcc("PRES"), Fcc("back"), Fcc("rgb ")}), 0);

    AtomContainer target = NewContainer();
    ASSERT_EQ(target.InsertU16(0, Fcc("vers"), 1), noErr);
    ASSERT_EQ(target.InsertChildren(0, layout), noErr);
    EXPECT_NE(target.FindPath(0, {Fcc("PRES"), Fcc("back"), Fcc("rgb ")}), 0);
    AtomContainer parsed;
    ASSERT_EQ(AtomContainer::Parse(target.Bytes(), parsed), noErr);
    // A second copy clashes on 'PRES' #1 and inserts nothing.
    const auto size = target.Bytes().size();
    EXPECT_EQ(target.InsertChildren(0, layout), duplicateAtomTypeAndIDErr);
    EXPECT_EQ(target.Bytes().size(), size);
    // Into a nested parent.
    QTAtom holder = 0;
    ASSERT_EQ(target.InsertChild(0, Fcc("hold"), 1, 0, {}, &holder), noErr);
    ASSERT_EQ(target.InsertChildren(holder, layout), noErr);
    EXPECT_NE(target.FindPath(0, {Fcc("hold"), Fcc("PRES"), Fcc("back")}), 0);
    ASSERT_EQ(AtomContainer::Parse(target.Bytes(), parsed), noErr);
}

TEST(AtomContainer, RefusesWrongUse) {
    {
        AtomContainer c = SampleTree();
        EXPECT_EQ(c.RemoveAtom(0), invalidAtomErr); // the root stays
    }
    AtomContainer null;
    EXPECT_EQ(null.InsertU16(0, Fcc("dpth"), 1), paramErr);
    EXPECT_EQ(null.FindChildByIndex(0, Fcc("dpth"), 1), 0);
    std::span<const std::uint8_t> data;
    EXPECT_EQ(null.GetAtomData(0, data), paramErr);

    AtomContainer c = SampleTree();
    QTAtom soun = c.FindPath(0, {Fcc("soun")});
    EXPECT_EQ(c.GetAtomData(soun, data), notLeafAtomErr);
    EXPECT_EQ(c.SetAtomData(soun, Bytes({1})), notLeafAtomErr);
    QTAtom name = c.FindPath(0, {Fcc("name")});
    EXPECT_EQ(c.InsertU16(name, Fcc("x   "), 1), cannotBeLeafAtomErr);
    EXPECT_EQ(c.InsertChild(0, 0, 1, 0, {}), invalidAtomTypeErr);
    // An offset that is not the start of an atom.
    EXPECT_EQ(c.GetAtomData(name + 4, data), invalidAtomErr);
    EXPECT_EQ(c.GetAtomData(100000, data), invalidAtomErr);
    EXPECT_EQ(c.FindChildByIndex(name + 1, Fcc("ssrt"), 1), 0);

    // Exact-size and size-or-less reads.
    std::uint16_t wrong = 0;
    EXPECT_EQ(c.ReadU16(c.FindPath(0, {Fcc("soun"), Fcc("ssrt")}), wrong), invalidAtomErr);
    std::uint8_t buffer[256];
    std::uint32_t actual = 0;
    EXPECT_EQ(c.CopyAtomDataToPtr(name, true, buffer, &actual), noErr);
    EXPECT_EQ(actual, 5u);
    EXPECT_EQ(c.CopyAtomDataToPtr(name, false, buffer, &actual), invalidAtomErr);
    EXPECT_EQ(c.CopyAtomDataToPtr(name, true, std::span(buffer, 4), &actual), invalidAtomErr);
}

TEST(AtomContainer, ParseRefusesEveryKindOfMalformedContainer) {
    const AtomContainer good = SampleTree();
    const auto bytes = Copy(good.Bytes());
    AtomContainer out;

    // Every truncation fails.
    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_EQ(AtomContainer::Parse(std::span(bytes.data(), n), out), invalidAtomContainerErr) << n;

    // Trailing bytes behind the root.
    auto trailing = bytes;
    trailing.push_back(0);
    EXPECT_EQ(AtomContainer::Parse(trailing, out), invalidAtomContainerErr);

    auto patched = [&](std::size_t offset, std::uint32_t value, int width) {
        auto copy = bytes;
        if (width == 4) WriteBE32(copy.data() + offset, value);
        else WriteBE16(copy.data() + offset, static_cast<std::uint16_t>(value));
        return copy;
    };
    const std::size_t first = kAtomContainerHeaderSize + kAtomHeaderSize; // 'name'
    EXPECT_EQ(AtomContainer::Parse(patched(12 + 4, Fcc("seam"), 4), out), invalidAtomContainerErr); // root type
    EXPECT_EQ(AtomContainer::Parse(patched(12, bytes.size() - 12 + 20, 4), out), invalidAtomContainerErr);
    EXPECT_EQ(AtomContainer::Parse(patched(first, 19, 4), out), invalidAtomContainerErr);  // size < header
    EXPECT_EQ(AtomContainer::Parse(patched(first, 0, 4), out), invalidAtomContainerErr);
    EXPECT_EQ(AtomContainer::Parse(patched(first, 0xFFFFFFF0u, 4), out), invalidAtomContainerErr); // past parent
    EXPECT_EQ(AtomContainer::Parse(patched(12 + 14, 4, 2), out), invalidAtomContainerErr);  // more children claimed
    EXPECT_EQ(AtomContainer::Parse(patched(12 + 14, 2, 2), out), invalidAtomContainerErr);  // fewer: bytes left over
    // A leaf turned into a parent whose "children" are its data bytes.
    EXPECT_EQ(AtomContainer::Parse(patched(first + 14, 1, 2), out), invalidAtomContainerErr);
    // A child that overruns its parent but not the container.
    QTAtom soun = good.FindPath(0, {Fcc("soun")});
    EXPECT_EQ(AtomContainer::Parse(patched(static_cast<std::size_t>(soun) + 20, 24 + 20, 4), out),
              invalidAtomContainerErr);
    // The parser leaves the output alone on failure.
    AtomContainer kept = NewContainer();
    EXPECT_EQ(AtomContainer::Parse(trailing, kept), invalidAtomContainerErr);
    EXPECT_FALSE(kept.IsNull());
}

TEST(AtomContainer, ParsesDeepNestingWithoutRecursion) {
    // 20000 nested empty parents: a stack-smashing input for a recursive parser.
    AtomContainer c = NewContainer();
    QTAtom parent = 0;
    const int depth = 20000;
    std::vector<std::uint8_t> bytes(kAtomContainerHeaderSize + kAtomHeaderSize * (depth + 1), 0);
    for (int level = 0; level <= depth; ++level) {
        std::uint8_t* p = bytes.data() + kAtomContainerHeaderSize + kAtomHeaderSize * level;
        WriteBE32(p, kAtomHeaderSize * (depth + 1 - level));
        WriteBE32(p + 4, level == 0 ? Fcc("sean") : Fcc("nest"));
        WriteBE32(p + 8, 1);
        WriteBE16(p + 14, level == depth ? 0 : 1);
    }
    ASSERT_EQ(AtomContainer::Parse(bytes, c), noErr);
    for (int level = 0; level < 50; ++level) parent = c.FindChildByID(parent, Fcc("nest"), 1);
    EXPECT_NE(parent, 0);
}

namespace {

// A plain tree that mirrors what the container should hold.
struct ModelAtom {
    QTAtomType type;
    QTAtomID id;
    std::vector<std::uint8_t> data;
    std::vector<std::unique_ptr<ModelAtom>> children;
    bool parent = false;
};

void ExpectSame(const AtomContainer& c, QTAtom atom, const ModelAtom& m) {
    ASSERT_EQ(c.CountChildrenOfType(atom, 0), static_cast<std::int16_t>(m.children.size()));
    for (std::size_t i = 0; i < m.children.size(); ++i) {
        const ModelAtom& child = *m.children[i];
        QTAtomID id = 0;
        QTAtom found = c.FindChildByIndex(atom, 0, static_cast<std::int16_t>(i + 1), &id);
        ASSERT_NE(found, 0);
        QTAtomType type = 0;
        ASSERT_EQ(c.GetAtomTypeAndID(found, &type, &id), noErr);
        ASSERT_EQ(type, child.type);
        ASSERT_EQ(id, child.id);
        if (child.parent) {
            ExpectSame(c, found, child);
        } else {
            std::span<const std::uint8_t> data;
            ASSERT_EQ(c.GetAtomData(found, data), noErr);
            ASSERT_EQ(Copy(data), child.data);
        }
    }
}

} // namespace

TEST(AtomContainer, RandomEditsMatchAPlainTreeModel) {
    std::mt19937 rng(20261205);
    for (int round = 0; round < 40; ++round) {
        AtomContainer c = NewContainer();
        ModelAtom root{Fcc("sean"), 1, {}, {}, true};
        // Parents addressed by their path of child positions.
        for (int step = 0; step < 60; ++step) {
            // Walk down to a random parent.
            ModelAtom* m = &root;
            QTAtom atom = 0;
            while (!m->children.empty() && rng() % 3 != 0) {
                std::size_t i = rng() % m->children.size();
                if (!m->children[i]->parent) break;
                m = m->children[i].get();
                atom = c.FindChildByIndex(atom, 0, static_cast<std::int16_t>(i + 1));
            }
            const QTAtomType type = Fcc("aaaa") + rng() % 3;
            const int action = static_cast<int>(rng() % 4);
            if (action < 2) {
                std::vector<std::uint8_t> data(rng() % 9);
                for (auto& b : data) b = static_cast<std::uint8_t>(rng());
                bool asParent = action == 1;
                QTAtom made = 0;
                ASSERT_EQ(c.InsertChild(atom, type, 0, 0, asParent ? std::vector<std::uint8_t>{} : data, &made), noErr);
                QTAtomID id = 0;
                ASSERT_EQ(c.GetAtomTypeAndID(made, nullptr, &id), noErr);
                auto child = std::make_unique<ModelAtom>();
                child->type = type;
                child->id = id;
                child->parent = asParent;
                if (!asParent) child->data = data;
                m->children.push_back(std::move(child));
            } else if (action == 2 && !m->children.empty()) {
                std::size_t i = rng() % m->children.size();
                ASSERT_EQ(c.RemoveAtom(c.FindChildByIndex(atom, 0, static_cast<std::int16_t>(i + 1))), noErr);
                m->children.erase(m->children.begin() + static_cast<long>(i));
            } else if (action == 3 && !m->children.empty()) {
                std::size_t i = rng() % m->children.size();
                if (m->children[i]->parent) continue;
                std::vector<std::uint8_t> data(rng() % 12, static_cast<std::uint8_t>(step));
                ASSERT_EQ(c.SetAtomData(c.FindChildByIndex(atom, 0, static_cast<std::int16_t>(i + 1)), data), noErr);
                m->children[i]->data = data;
            }
        }
        ExpectSame(c, 0, root);
        AtomContainer parsed;
        ASSERT_EQ(AtomContainer::Parse(c.Bytes(), parsed), noErr);
        ExpectSame(parsed, 0, root);
    }
}
