// Atom containers in the platform's published layout: a 12-byte header of
// zeros, then the root atom of type 'sean' and ID 1, whose children are the
// top-level atoms. Every atom has a 20-byte big-endian header (size including
// the header, type, ID, 16-bit reserved, 16-bit child count, 32-bit reserved)
// and either carries data (child count 0) or children.
//
// The container is kept as exactly those bytes, so flattening is free and a
// parsed container is used in place. As on the platform, an atom is named by
// its byte offset inside the container (QTAtom); kParentAtomIsContainer (0)
// names the root. Offsets of atoms that lie behind an inserted or removed
// atom move: find them again after changing the container.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "platform/byteblock.h"
#include "platform/bytes.h"
#include "platform/status.h"

using QTAtom = std::int32_t;
using QTAtomType = FourCharCode;
using QTAtomID = std::int32_t;

inline constexpr QTAtom kParentAtomIsContainer = 0;
inline constexpr std::uint32_t kAtomContainerHeaderSize = 12;
inline constexpr std::uint32_t kAtomHeaderSize = 20;

class AtomContainer {
public:
    // A default-constructed container is null: every operation answers
    // paramErr until Create or Parse fills it.
    AtomContainer() = default;
    AtomContainer(AtomContainer&&) noexcept = default;
    AtomContainer& operator=(AtomContainer&&) noexcept = default;

    // An empty container: the header and a root without children.
    [[nodiscard]] static OSErr Create(AtomContainer& out);
    // Validates untrusted bytes completely (every size, every child count)
    // and answers invalidAtomContainerErr for anything malformed.
    [[nodiscard]] static OSErr Parse(std::span<const std::uint8_t> bytes, AtomContainer& out);
    [[nodiscard]] OSErr CopyTo(AtomContainer& out) const;

    bool IsNull() const { return bytes_.Empty(); }
    // The flattened container.
    std::span<const std::uint8_t> Bytes() const { return bytes_.Span(); }

    // Inserts a leaf with the data (empty data makes an atom that can later
    // become a parent). `id` 0 assigns the next unused ID of that type under
    // the parent (one above the highest). `index` 0 appends the atom as the
    // parent's last child; n places it before the n-th child of that type
    // (count + 1 also appends).
    [[nodiscard]] OSErr InsertChild(QTAtom parent, QTAtomType type, QTAtomID id, std::int16_t index,
                                    std::span<const std::uint8_t> data, QTAtom* newAtom = nullptr);
    // Copies every top-level atom of `source`, with its subtree, to the end
    // of the parent's children. Nothing is inserted when one of them would
    // clash with an existing type and ID.
    [[nodiscard]] OSErr InsertChildren(QTAtom parent, const AtomContainer& source);
    // A new container whose root holds a copy of the atom and its subtree.
    [[nodiscard]] OSErr CopyAtom(QTAtom atom, AtomContainer& out) const;
    [[nodiscard]] OSErr RemoveAtom(QTAtom atom);

    // Lookups answer 0 when nothing matches. Index is 1-based; a type of 0
    // matches children of every type.
    QTAtom FindChildByIndex(QTAtom parent, QTAtomType type, std::int16_t index, QTAtomID* id = nullptr) const;
    QTAtom FindChildByID(QTAtom parent, QTAtomType type, QTAtomID id, std::int16_t* index = nullptr) const;
    // Follows a path of types, each with ID 1 ('soun' / 'ssrt').
    QTAtom FindPath(QTAtom parent, std::initializer_list<QTAtomType> types) const;
    std::int16_t CountChildrenOfType(QTAtom parent, QTAtomType type) const;

    [[nodiscard]] OSErr GetAtomTypeAndID(QTAtom atom, QTAtomType* type, QTAtomID* id) const;
    [[nodiscard]] OSErr SetAtomID(QTAtom atom, QTAtomID id);
    // The data of a leaf; valid until the container changes.
    [[nodiscard]] OSErr GetAtomData(QTAtom atom, std::span<const std::uint8_t>& data) const;
    // Copies the data into dest. Without sizeOrLessOK the data must be exactly
    // dest.size() bytes; with it, at most that many. Any other size answers
    // invalidAtomErr. `actualSize` receives the data size.
    [[nodiscard]] OSErr CopyAtomDataToPtr(QTAtom atom, bool sizeOrLessOK, std::span<std::uint8_t> dest,
                                          std::uint32_t* actualSize = nullptr) const;
    [[nodiscard]] OSErr SetAtomData(QTAtom atom, std::span<const std::uint8_t> data);

    // Typed reads and writes of big-endian leaf data of exactly that size.
    [[nodiscard]] OSErr ReadU8(QTAtom atom, std::uint8_t& v) const;
    [[nodiscard]] OSErr ReadU16(QTAtom atom, std::uint16_t& v) const;
    [[nodiscard]] OSErr ReadU32(QTAtom atom, std::uint32_t& v) const;
    [[nodiscard]] OSErr InsertU8(QTAtom parent, QTAtomType type, std::uint8_t v, QTAtom* atom = nullptr);
    [[nodiscard]] OSErr InsertU16(QTAtom parent, QTAtomType type, std::uint16_t v, QTAtom* atom = nullptr);
    [[nodiscard]] OSErr InsertU32(QTAtom parent, QTAtomType type, std::uint32_t v, QTAtom* atom = nullptr);

private:
    struct Header {
        std::uint32_t size;
        QTAtomType type;
        QTAtomID id;
        std::uint16_t childCount;
    };

    Header HeaderAt(std::uint32_t offset) const;
    // The offset of a caller's atom reference after checking that an atom
    // really starts there; 0 when it does not.
    std::uint32_t Resolve(QTAtom atom) const;
    // Calls visit(offset) for the root and every atom on the way down to
    // target, target included; false when target is no atom.
    template <typename Visit> bool Descend(std::uint32_t target, Visit visit) const;
    std::uint32_t ParentOf(std::uint32_t atom) const;
    void AddToSizes(std::uint32_t target, std::int64_t delta);
    [[nodiscard]] OSErr InsertAtomBytes(std::uint32_t parent, std::uint32_t where, std::span<const std::uint8_t> bytes,
                                        std::uint16_t addedChildren);

    ByteBlock bytes_;
};
