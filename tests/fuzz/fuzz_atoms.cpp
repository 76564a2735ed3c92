// Feeds arbitrary bytes to the atom container parser. Whatever parses must
// then survive every read and a round of edits, and flatten back to bytes
// that parse again.
#include <cstddef>
#include <cstdint>

#include "platform/atoms.h"

namespace {

void Walk(const AtomContainer& c, QTAtom parent, int depth) {
    if (depth > 64) return;
    const std::int16_t count = c.CountChildrenOfType(parent, 0);
    for (std::int16_t i = 1; i <= count; ++i) {
        QTAtomID id = 0;
        QTAtom child = c.FindChildByIndex(parent, 0, i, &id);
        if (child == 0) __builtin_trap();
        QTAtomType type = 0;
        if (c.GetAtomTypeAndID(child, &type, &id) != noErr) __builtin_trap();
        if (c.FindChildByID(parent, type, id) == 0) __builtin_trap();
        std::span<const std::uint8_t> data;
        if (c.GetAtomData(child, data) == noErr) {
            volatile std::uint8_t sink = 0;
            for (std::uint8_t b : data) sink = sink ^ b;
        }
        Walk(c, child, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    AtomContainer c;
    if (AtomContainer::Parse({bytes, size}, c) != noErr) return 0;
    Walk(c, 0, 0);
    // Edits keep the container well-formed.
    const std::uint8_t data[] = {1, 2, 3};
    QTAtom first = c.FindChildByIndex(0, 0, 1);
    (void)c.InsertChild(first, Fcc("fuzz"), 0, 0, data);
    (void)c.SetAtomData(c.FindChildByIndex(0, 0, 1), data);
    (void)c.RemoveAtom(c.FindChildByIndex(0, 0, 2));
    AtomContainer copy;
    if (first != 0) (void)c.CopyAtom(c.FindChildByIndex(0, 0, 1), copy);
    if (!copy.IsNull()) (void)c.InsertChildren(0, copy);
    AtomContainer again;
    if (AtomContainer::Parse(c.Bytes(), again) != noErr) __builtin_trap();
    Walk(again, 0, 0);
    return 0;
}
