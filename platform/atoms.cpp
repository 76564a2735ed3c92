// Atom containers: parsing, finding, inserting and removing atoms.
#include "platform/atoms.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

constexpr std::uint32_t kRootOffset = kAtomContainerHeaderSize;
constexpr QTAtomType kRootType = Fcc("sean");

// Header field offsets inside an atom.
constexpr std::uint32_t kSizeField = 0;
constexpr std::uint32_t kTypeField = 4;
constexpr std::uint32_t kIDField = 8;
constexpr std::uint32_t kChildCountField = 14;

void WriteHeader(std::uint8_t* p, std::uint32_t size, QTAtomType type, QTAtomID id, std::uint16_t childCount) {
    std::fill(p, p + kAtomHeaderSize, std::uint8_t{0});
    WriteBE32(p + kSizeField, size);
    WriteBE32(p + kTypeField, type);
    WriteBE32(p + kIDField, static_cast<std::uint32_t>(id));
    WriteBE16(p + kChildCountField, childCount);
}

} // namespace

// ---- Structure -------------------------------------------------------------

AtomContainer::Header AtomContainer::HeaderAt(std::uint32_t offset) const {
    const std::uint8_t* p = bytes_.Data() + offset;
    return {ReadBE32(p + kSizeField), ReadBE32(p + kTypeField), static_cast<QTAtomID>(ReadBE32(p + kIDField)),
            ReadBE16(p + kChildCountField)};
}

// The container's bytes always satisfy what Parse checks, so the walk below
// trusts sizes and counts; what it does not trust is the caller's offset.
template <typename Visit>
bool AtomContainer::Descend(std::uint32_t target, Visit visit) const {
    if (IsNull()) return false;
    std::uint32_t at = kRootOffset;
    for (;;) {
        visit(at);
        if (at == target) return true;
        Header h = HeaderAt(at);
        std::uint32_t child = at + kAtomHeaderSize;
        std::uint32_t next = 0;
        for (std::uint16_t i = 0; i < h.childCount; ++i) {
            std::uint32_t size = HeaderAt(child).size;
            if (target >= child && target < child + size) {
                next = child;
                break;
            }
            child += size;
        }
        if (next == 0) return false;
        at = next;
    }
}

std::uint32_t AtomContainer::Resolve(QTAtom atom) const {
    if (IsNull() || atom < 0) return 0;
    if (atom == kParentAtomIsContainer) return kRootOffset;
    auto target = static_cast<std::uint32_t>(atom);
    return Descend(target, [](std::uint32_t) {}) ? target : 0;
}

std::uint32_t AtomContainer::ParentOf(std::uint32_t atom) const {
    std::uint32_t parent = 0, last = 0;
    Descend(atom, [&](std::uint32_t at) {
        parent = last;
        last = at;
    });
    return parent;
}

void AtomContainer::AddToSizes(std::uint32_t target, std::int64_t delta) {
    // Ancestors lie before the changed bytes, so their headers are where the
    // walk expects them; each is updated as the walk passes it.
    Descend(target, [&](std::uint32_t at) {
        std::uint8_t* p = bytes_.Data() + at + kSizeField;
        WriteBE32(p, static_cast<std::uint32_t>(ReadBE32(p) + delta));
    });
}

OSErr AtomContainer::InsertAtomBytes(std::uint32_t parent, std::uint32_t where, std::span<const std::uint8_t> bytes,
                                     std::uint16_t addedChildren) {
    if (std::uint64_t{bytes_.Size()} + bytes.size() > ByteBlock::kMaxSize) return memFullErr;
    Header p = HeaderAt(parent);
    if (std::uint32_t{p.childCount} + addedChildren > 0xFFFF) return paramErr;
    if (OSErr err = bytes_.Insert(where, bytes)) return err;
    AddToSizes(parent, static_cast<std::int64_t>(bytes.size()));
    WriteBE16(bytes_.Data() + parent + kChildCountField, static_cast<std::uint16_t>(p.childCount + addedChildren));
    return noErr;
}

// ---- Creation and parsing ----------------------------------------------------

OSErr AtomContainer::Create(AtomContainer& out) {
    AtomContainer c;
    if (OSErr err = c.bytes_.Grow(kAtomContainerHeaderSize + kAtomHeaderSize)) return err;
    WriteHeader(c.bytes_.Data() + kRootOffset, kAtomHeaderSize, kRootType, 1, 0);
    out = std::move(c);
    return noErr;
}

OSErr AtomContainer::Parse(std::span<const std::uint8_t> bytes, AtomContainer& out) {
    if (bytes.size() < kAtomContainerHeaderSize + kAtomHeaderSize || bytes.size() > ByteBlock::kMaxSize)
        return invalidAtomContainerErr;
    const std::uint8_t* base = bytes.data();
    const auto total = static_cast<std::uint32_t>(bytes.size());
    const std::uint32_t rootSize = ReadBE32(base + kRootOffset);
    if (ReadBE32(base + kRootOffset + kTypeField) != kRootType) return invalidAtomContainerErr;
    if (rootSize < kAtomHeaderSize || rootSize != total - kRootOffset) return invalidAtomContainerErr;

    // Walk every atom without recursion (a hostile container may nest as deep
    // as its size allows). Each open parent remembers where its content ends
    // and how many children are still to come; its children must fill the
    // content exactly.
    struct Open {
        std::uint32_t end;
        std::uint32_t remaining;
    };
    std::vector<Open> open;
    try {
        open.reserve(16);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    std::uint32_t pos = kRootOffset;
    bool outOfMemory = false;
    auto enter = [&](std::uint32_t at, std::uint32_t size) {
        std::uint16_t children = ReadBE16(base + at + kChildCountField);
        if (children > 0) {
            try {
                open.push_back({at + size, children});
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
            }
            pos = at + kAtomHeaderSize;
        } else {
            pos = at + size;
        }
    };
    enter(kRootOffset, rootSize);
    while (!open.empty()) {
        Open& top = open.back();
        if (top.remaining == 0) {
            if (pos != top.end) return invalidAtomContainerErr;
            open.pop_back();
            continue;
        }
        if (top.end - pos < kAtomHeaderSize) return invalidAtomContainerErr;
        std::uint32_t size = ReadBE32(base + pos + kSizeField);
        if (size < kAtomHeaderSize || size > top.end - pos) return invalidAtomContainerErr;
        --top.remaining;
        enter(pos, size);
        if (outOfMemory) return memFullErr;
    }

    AtomContainer c;
    if (OSErr err = ByteBlock::FromBytes(bytes, c.bytes_)) return err;
    // The header is reserved; it is always written as zeros.
    std::fill(c.bytes_.Data(), c.bytes_.Data() + kAtomContainerHeaderSize, std::uint8_t{0});
    out = std::move(c);
    return noErr;
}

OSErr AtomContainer::CopyTo(AtomContainer& out) const {
    if (IsNull()) return paramErr;
    AtomContainer c;
    if (OSErr err = bytes_.CopyTo(c.bytes_)) return err;
    out = std::move(c);
    return noErr;
}

// ---- Lookups -------------------------------------------------------------------

QTAtom AtomContainer::FindChildByIndex(QTAtom parent, QTAtomType type, std::int16_t index, QTAtomID* id) const {
    std::uint32_t p = Resolve(parent);
    if (p == 0 || index < 1) return 0;
    Header h = HeaderAt(p);
    std::uint32_t child = p + kAtomHeaderSize;
    std::int16_t seen = 0;
    for (std::uint16_t i = 0; i < h.childCount; ++i) {
        Header c = HeaderAt(child);
        if ((type == 0 || c.type == type) && ++seen == index) {
            if (id) *id = c.id;
            return static_cast<QTAtom>(child);
        }
        child += c.size;
    }
    return 0;
}

QTAtom AtomContainer::FindChildByID(QTAtom parent, QTAtomType type, QTAtomID id, std::int16_t* index) const {
    std::uint32_t p = Resolve(parent);
    if (p == 0) return 0;
    Header h = HeaderAt(p);
    std::uint32_t child = p + kAtomHeaderSize;
    std::int16_t seen = 0;
    for (std::uint16_t i = 0; i < h.childCount; ++i) {
        Header c = HeaderAt(child);
        if (c.type == type) {
            ++seen;
            if (c.id == id) {
                if (index) *index = seen;
                return static_cast<QTAtom>(child);
            }
        }
        child += c.size;
    }
    return 0;
}

QTAtom AtomContainer::FindPath(QTAtom parent, std::initializer_list<QTAtomType> types) const {
    QTAtom at = parent;
    for (QTAtomType type : types) {
        at = FindChildByID(at, type, 1);
        if (at == 0) return 0;
    }
    return at;
}

std::int16_t AtomContainer::CountChildrenOfType(QTAtom parent, QTAtomType type) const {
    std::uint32_t p = Resolve(parent);
    if (p == 0) return 0;
    Header h = HeaderAt(p);
    std::uint32_t child = p + kAtomHeaderSize;
    int count = 0;
    for (std::uint16_t i = 0; i < h.childCount; ++i) {
        Header c = HeaderAt(child);
        if (type == 0 || c.type == type) ++count;
        child += c.size;
    }
    return static_cast<std::int16_t>(std::min(count, 0x7FFF));
}

OSErr AtomContainer::GetAtomTypeAndID(QTAtom atom, QTAtomType* type, QTAtomID* id) const {
    std::uint32_t a = Resolve(atom);
    if (a == 0) return IsNull() ? paramErr : invalidAtomErr;
    Header h = HeaderAt(a);
    if (type) *type = h.type;
    if (id) *id = h.id;
    return noErr;
}

// ---- Changes -------------------------------------------------------------------

OSErr AtomContainer::InsertChild(QTAtom parent, QTAtomType type, QTAtomID id, std::int16_t index,
                                 std::span<const std::uint8_t> data, QTAtom* newAtom) {
    if (IsNull() || index < 0) return paramErr;
    if (type == 0) return invalidAtomTypeErr;
    std::uint32_t p = Resolve(parent);
    if (p == 0) return invalidAtomErr;
    Header h = HeaderAt(p);
    if (h.childCount == 0 && h.size > kAtomHeaderSize) return cannotBeLeafAtomErr;
    if (data.size() > ByteBlock::kMaxSize - kAtomHeaderSize) return memFullErr;

    // Pick the ID and the place in one pass over the children.
    QTAtomID highest = 0;
    std::int16_t seenOfType = 0;
    std::uint32_t child = p + kAtomHeaderSize;
    std::uint32_t where = 0;
    for (std::uint16_t i = 0; i < h.childCount; ++i) {
        Header c = HeaderAt(child);
        if (c.type == type) {
            if (id != 0 && c.id == id) return duplicateAtomTypeAndIDErr;
            highest = std::max(highest, c.id);
            if (++seenOfType == index && where == 0) where = child;
        }
        child += c.size;
    }
    if (index > seenOfType + 1) return atomIndexInvalidErr;
    if (where == 0) where = child; // after the last child
    if (id == 0) {
        if (highest == 0x7FFFFFFF) return atomIndexInvalidErr;
        id = highest + 1;
    }

    std::uint8_t header[kAtomHeaderSize];
    WriteHeader(header, static_cast<std::uint32_t>(kAtomHeaderSize + data.size()), type, id, 0);
    // One insertion of header and data keeps the container valid throughout.
    ByteBlock atom;
    if (OSErr err = atom.Append(header)) return err;
    if (OSErr err = atom.Append(data)) return err;
    if (OSErr err = InsertAtomBytes(p, where, atom.Span(), 1)) return err;
    if (newAtom) *newAtom = static_cast<QTAtom>(where);
    return noErr;
}

OSErr AtomContainer::InsertChildren(QTAtom parent, const AtomContainer& source) {
    if (IsNull() || source.IsNull()) return paramErr;
    std::uint32_t p = Resolve(parent);
    if (p == 0) return invalidAtomErr;
    Header h = HeaderAt(p);
    if (h.childCount == 0 && h.size > kAtomHeaderSize) return cannotBeLeafAtomErr;
    Header sourceRoot = source.HeaderAt(kRootOffset);
    if (sourceRoot.childCount == 0) return noErr;
    // Check every clash before changing anything.
    std::uint32_t child = kRootOffset + kAtomHeaderSize;
    for (std::uint16_t i = 0; i < sourceRoot.childCount; ++i) {
        Header c = source.HeaderAt(child);
        if (FindChildByID(parent, c.type, c.id) != 0) return duplicateAtomTypeAndIDErr;
        child += c.size;
    }
    std::span<const std::uint8_t> children =
        source.bytes_.Span().subspan(kRootOffset + kAtomHeaderSize, sourceRoot.size - kAtomHeaderSize);
    return InsertAtomBytes(p, p + h.size, children, sourceRoot.childCount);
}

OSErr AtomContainer::CopyAtom(QTAtom atom, AtomContainer& out) const {
    if (IsNull()) return paramErr;
    std::uint32_t a = Resolve(atom);
    if (a == 0 || a == kRootOffset) return invalidAtomErr;
    AtomContainer c;
    if (OSErr err = Create(c)) return err;
    if (OSErr err = c.InsertAtomBytes(kRootOffset, kRootOffset + kAtomHeaderSize,
                                      bytes_.Span().subspan(a, HeaderAt(a).size), 1))
        return err;
    out = std::move(c);
    return noErr;
}

OSErr AtomContainer::RemoveAtom(QTAtom atom) {
    if (IsNull()) return paramErr;
    std::uint32_t a = Resolve(atom);
    if (a == 0 || a == kRootOffset) return invalidAtomErr;
    std::uint32_t parent = ParentOf(a);
    std::uint32_t size = HeaderAt(a).size;
    std::uint16_t children = HeaderAt(parent).childCount;
    AddToSizes(parent, -static_cast<std::int64_t>(size));
    WriteBE16(bytes_.Data() + parent + kChildCountField, static_cast<std::uint16_t>(children - 1));
    return bytes_.Erase(a, size);
}

OSErr AtomContainer::SetAtomID(QTAtom atom, QTAtomID id) {
    if (IsNull()) return paramErr;
    std::uint32_t a = Resolve(atom);
    if (a == 0 || a == kRootOffset) return invalidAtomErr;
    Header h = HeaderAt(a);
    if (h.id == id) return noErr;
    if (FindChildByID(static_cast<QTAtom>(ParentOf(a)), h.type, id) != 0) return duplicateAtomTypeAndIDErr;
    WriteBE32(bytes_.Data() + a + kIDField, static_cast<std::uint32_t>(id));
    return noErr;
}

// ---- Data --------------------------------------------------------------------------

OSErr AtomContainer::GetAtomData(QTAtom atom, std::span<const std::uint8_t>& data) const {
    if (IsNull()) return paramErr;
    std::uint32_t a = Resolve(atom);
    if (a == 0) return invalidAtomErr;
    Header h = HeaderAt(a);
    if (h.childCount != 0) return notLeafAtomErr;
    data = bytes_.Span().subspan(a + kAtomHeaderSize, h.size - kAtomHeaderSize);
    return noErr;
}

OSErr AtomContainer::CopyAtomDataToPtr(QTAtom atom, bool sizeOrLessOK, std::span<std::uint8_t> dest,
                                       std::uint32_t* actualSize) const {
    std::span<const std::uint8_t> data;
    if (OSErr err = GetAtomData(atom, data)) return err;
    if (actualSize) *actualSize = static_cast<std::uint32_t>(data.size());
    if (data.size() > dest.size() || (!sizeOrLessOK && data.size() != dest.size())) return invalidAtomErr;
    std::copy(data.begin(), data.end(), dest.begin());
    return noErr;
}

OSErr AtomContainer::SetAtomData(QTAtom atom, std::span<const std::uint8_t> data) {
    if (IsNull()) return paramErr;
    std::uint32_t a = Resolve(atom);
    if (a == 0) return invalidAtomErr;
    Header h = HeaderAt(a);
    if (h.childCount != 0) return notLeafAtomErr;
    const std::uint32_t oldSize = h.size - kAtomHeaderSize;
    if (data.size() > ByteBlock::kMaxSize - (bytes_.Size() - oldSize)) return memFullErr;
    // Keep a copy: the data may come from this very container.
    ByteBlock copy;
    if (OSErr err = copy.Append(data)) return err;
    const std::uint32_t start = a + kAtomHeaderSize;
    if (copy.Size() > oldSize) {
        std::uint32_t extra = copy.Size() - oldSize;
        ByteBlock zeros;
        if (OSErr err = zeros.Grow(extra)) return err;
        if (OSErr err = bytes_.Insert(start + oldSize, zeros.Span())) return err;
        AddToSizes(a, extra);
    } else if (copy.Size() < oldSize) {
        std::uint32_t fewer = oldSize - copy.Size();
        if (OSErr err = bytes_.Erase(start + copy.Size(), fewer)) return err;
        AddToSizes(a, -static_cast<std::int64_t>(fewer));
    }
    return bytes_.Patch(start, copy.Span());
}

OSErr AtomContainer::ReadU8(QTAtom atom, std::uint8_t& v) const {
    return CopyAtomDataToPtr(atom, false, {&v, 1});
}

OSErr AtomContainer::ReadU16(QTAtom atom, std::uint16_t& v) const {
    std::uint8_t b[2];
    if (OSErr err = CopyAtomDataToPtr(atom, false, b)) return err;
    v = ReadBE16(b);
    return noErr;
}

OSErr AtomContainer::ReadU32(QTAtom atom, std::uint32_t& v) const {
    std::uint8_t b[4];
    if (OSErr err = CopyAtomDataToPtr(atom, false, b)) return err;
    v = ReadBE32(b);
    return noErr;
}

OSErr AtomContainer::InsertU8(QTAtom parent, QTAtomType type, std::uint8_t v, QTAtom* atom) {
    return InsertChild(parent, type, 1, 0, {&v, 1}, atom);
}

OSErr AtomContainer::InsertU16(QTAtom parent, QTAtomType type, std::uint16_t v, QTAtom* atom) {
    std::uint8_t b[2];
    WriteBE16(b, v);
    return InsertChild(parent, type, 1, 0, b, atom);
}

OSErr AtomContainer::InsertU32(QTAtom parent, QTAtomType type, std::uint32_t v, QTAtom* atom) {
    std::uint8_t b[4];
    WriteBE32(b, v);
    return InsertChild(parent, type, 1, 0, b, atom);
}
