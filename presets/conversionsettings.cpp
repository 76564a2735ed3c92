// The conversion settings to and from a settings container.
#include "presets/conversionsettings.h"

namespace {

// Where one value lives: the root's child and its child.
struct ValueAtom {
    QTAtomType parent;
    QTAtomType child;
};

// Reads parent/child (both ID 1) into `value` when it exists. Absent atoms
// answer noErr; data of another size is the atom error.
template <typename T>
OSErr ReadValue(const AtomContainer& c, ValueAtom where, T& value) {
    const QTAtom atom = c.FindPath(0, {where.parent, where.child});
    if (atom == 0) return noErr;
    std::uint8_t bytes[sizeof(T)];
    if (OSErr err = c.CopyAtomDataToPtr(atom, false, bytes)) return err;
    std::uint32_t v = 0;
    for (std::uint8_t b : bytes) v = (v << 8) | b;
    value = static_cast<T>(v);
    return noErr;
}

// The frame size is one 4-byte value: width, then height.
OSErr ReadFrameSize(const AtomContainer& c, ConversionSettings& s) {
    std::uint32_t both = std::uint32_t{s.frameWidth} << 16 | s.frameHeight;
    if (OSErr err = ReadValue(c, {Fcc("size"), Fcc("vide")}, both)) return err;
    s.frameWidth = static_cast<std::uint16_t>(both >> 16);
    s.frameHeight = static_cast<std::uint16_t>(both);
    return noErr;
}

} // namespace

SettingsReading ReadConversionSettings(const AtomContainer& c, ConversionSettings& s, BadValue onBadValue) {
    OSErr first = noErr;
    // One value's answer: a stop ends the reading with it, a skip keeps the
    // first error and goes on.
    auto take = [&](OSErr err) {
        if (err != noErr && first == noErr) first = err;
        return err == noErr || onBadValue == BadValue::Skip;
    };
    const bool complete = take(ReadValue(c, {Fcc("colr"), Fcc("dpth")}, s.depth)) &&
                          take(ReadValue(c, {Fcc("time"), Fcc("fps ")}, s.frameRate)) &&
                          take(ReadValue(c, {Fcc("time"), Fcc("vbtr")}, s.videoBitRate)) &&
                          take(ReadFrameSize(c, s)) && take(ReadValue(c, {Fcc("size"), Fcc("angl")}, s.angle)) &&
                          take(ReadValue(c, {Fcc("soun"), Fcc("ssrt")}, s.sampleRate)) &&
                          take(ReadValue(c, {Fcc("soun"), Fcc("sscc")}, s.channels)) &&
                          take(ReadValue(c, {Fcc("soun"), Fcc("vtsc")}, s.soundFormat));
    if (!complete) return {first, true};
    // Boost and bit rate never stop the reading; the later failure is the
    // answer.
    if (OSErr err = ReadValue(c, {Fcc("soun"), Fcc("boos")}, s.boost)) first = err;
    if (OSErr err = ReadValue(c, {Fcc("soun"), Fcc("bitr")}, s.bitRate)) first = err;
    return {first, false};
}

OSErr WriteConversionSettings(const ConversionSettings& s, AtomContainer& c, bool withAngle) {
    // An insert may move the atoms after it: each value finds its parent
    // again.
    const auto put = [&c](QTAtomType parentType, QTAtomType type, std::uint32_t value, int bytes) -> OSErr {
        QTAtom parent = c.FindChildByID(0, parentType, 1);
        if (parent == 0)
            if (OSErr err = c.InsertChild(0, parentType, 1, 0, {}, &parent)) return err;
        return bytes == 2 ? c.InsertU16(parent, type, static_cast<std::uint16_t>(value)) : c.InsertU32(parent, type, value);
    };
    if (OSErr err = put(Fcc("colr"), Fcc("dpth"), static_cast<std::uint16_t>(s.depth), 2)) return err;
    if (OSErr err = put(Fcc("time"), Fcc("fps "), static_cast<std::uint32_t>(s.frameRate), 4)) return err;
    if (OSErr err = put(Fcc("time"), Fcc("vbtr"), s.videoBitRate, 2)) return err;
    if (OSErr err = put(Fcc("size"), Fcc("vide"), std::uint32_t{s.frameWidth} << 16 | s.frameHeight, 4)) return err;
    if (withAngle)
        if (OSErr err = put(Fcc("size"), Fcc("angl"), static_cast<std::uint16_t>(s.angle), 2)) return err;
    if (OSErr err = put(Fcc("soun"), Fcc("ssrt"), s.sampleRate, 4)) return err;
    if (OSErr err = put(Fcc("soun"), Fcc("sscc"), s.channels, 2)) return err;
    if (OSErr err = put(Fcc("soun"), Fcc("vtsc"), static_cast<std::uint32_t>(s.soundFormat), 4)) return err;
    if (OSErr err = put(Fcc("soun"), Fcc("boos"), s.boost, 2)) return err;
    return put(Fcc("soun"), Fcc("bitr"), s.bitRate, 4);
}
