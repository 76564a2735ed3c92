// Export settings to and from the settings container, and the sound settings' rules.
#include "engine/exportsettings.h"

#include <algorithm>
#include <initializer_list>

namespace {

bool OneOf(std::int32_t value, std::initializer_list<std::int32_t> allowed) {
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

// A rate the format allows keeps its whole hertz (fraction cleared); any
// other rate becomes the format's default.
UnsignedFixed AllowedRate(UnsignedFixed rate, std::initializer_list<std::int32_t> allowed, std::uint32_t otherwise) {
    return OneOf(static_cast<std::int32_t>(UnsignedFixedIntegerPart(rate)), allowed) ? UnsignedFixedTruncate(rate)
                                                                                     : UIntToUnsignedFixed(otherwise);
}

void NormaliseSound(ExportSettings& s) {
    switch (s.soundFormat) {
    case kSoundNone: return;
    case kSoundClieAudio:
        s.sampleRate = UIntToUnsignedFixed(44100);
        if (!OneOf(static_cast<std::int32_t>(s.bitRate), {11750, 16500, 23500, 33000, 47000, 66000})) s.bitRate = 33000;
        return;
    case kSoundAdpcm2to1:
    case kSoundAdpcm4to1:
        s.bitRate = 33000;
        s.sampleRate = AllowedRate(s.sampleRate, {4096, 8192, 16384, 11025, 22050, 44100}, 8192);
        return;
    case kSoundYamahaAdpcm:
        s.channels = 1;
        s.bitRate = 33000;
        s.sampleRate = UIntToUnsignedFixed(8000);
        return;
    case kSoundUncompressedStereo:
        s.channels = 2;
        s.bitRate = 33000;
        s.sampleRate = AllowedRate(s.sampleRate, {4096, 8192, 16384, 11025, 22050, 44100}, 11025);
        return;
    default: // 627, and every code the converter does not know
        s.soundFormat = kSoundUncompressedMono;
        s.channels = 1;
        s.bitRate = 33000;
        s.sampleRate = AllowedRate(s.sampleRate, {4096, 8192, 16384}, 8192);
        return;
    }
}

// Reads parent/child (both ID 1) when it exists. Absent atoms answer noErr
// and leave the value alone; data of another size is the atom error.
template <typename T>
OSErr ReadIfPresent(const AtomContainer& c, QTAtomType parent, QTAtomType child, T& value) {
    const QTAtom atom = c.FindPath(0, {parent, child});
    if (atom == 0) return noErr;
    std::uint8_t bytes[sizeof(T)];
    if (OSErr err = c.CopyAtomDataToPtr(atom, false, bytes)) return err;
    std::uint32_t v = 0;
    for (std::uint8_t b : bytes) v = (v << 8) | b;
    value = static_cast<T>(v);
    return noErr;
}

OSErr ReadFrameSize(const AtomContainer& c, ExportSettings& s) {
    const QTAtom atom = c.FindPath(0, {Fcc("size"), Fcc("vide")});
    if (atom == 0) return noErr;
    std::uint8_t bytes[4];
    if (OSErr err = c.CopyAtomDataToPtr(atom, false, bytes)) return err;
    s.frameWidth = ReadBE16(bytes);
    s.frameHeight = ReadBE16(bytes + 2);
    return noErr;
}

OSErr InsertParent(AtomContainer& c, QTAtomType type, QTAtom& parent) {
    return c.InsertChild(0, type, 1, 0, {}, &parent);
}

OSErr BuildSettings(const ExportSettings& s, AtomContainer& c) {
    if (OSErr err = AtomContainer::Create(c)) return err;
    if (!s.layout.IsNull())
        if (OSErr err = c.InsertChildren(0, s.layout)) return err;
    if (s.name[0] != 0)
        if (OSErr err = c.InsertChild(0, Fcc("name"), 0, 0, std::span(s.name.data(), s.name[0] + 1u))) return err;
    QTAtom parent = 0;
    if (OSErr err = InsertParent(c, Fcc("colr"), parent)) return err;
    if (OSErr err = c.InsertU16(parent, Fcc("dpth"), static_cast<std::uint16_t>(s.depth))) return err;

    if (OSErr err = InsertParent(c, Fcc("time"), parent)) return err;
    if (OSErr err = c.InsertU32(parent, Fcc("fps "), static_cast<std::uint32_t>(s.frameRate))) return err;
    parent = c.FindChildByID(0, Fcc("time"), 1);
    if (OSErr err = c.InsertU16(parent, Fcc("vbtr"), s.videoBitRate)) return err;

    if (OSErr err = InsertParent(c, Fcc("size"), parent)) return err;
    std::uint8_t size[4];
    WriteBE16(size, s.frameWidth);
    WriteBE16(size + 2, s.frameHeight);
    if (OSErr err = c.InsertChild(parent, Fcc("vide"), 1, 0, size)) return err;
    parent = c.FindChildByID(0, Fcc("size"), 1);
    if (OSErr err = c.InsertU16(parent, Fcc("angl"), static_cast<std::uint16_t>(s.angle))) return err;

    if (OSErr err = InsertParent(c, Fcc("soun"), parent)) return err;
    auto soun = [&] { return c.FindChildByID(0, Fcc("soun"), 1); };
    if (OSErr err = c.InsertU32(soun(), Fcc("ssrt"), static_cast<std::uint32_t>(s.sampleRate))) return err;
    if (OSErr err = c.InsertU16(soun(), Fcc("sscc"), s.channels)) return err;
    if (OSErr err = c.InsertU32(soun(), Fcc("vtsc"), static_cast<std::uint32_t>(s.soundFormat))) return err;
    if (OSErr err = c.InsertU16(soun(), Fcc("boos"), s.boost)) return err;
    return c.InsertU32(soun(), Fcc("bitr"), s.bitRate);
}

} // namespace

OSErr SetExportSettings(ExportSettings& s, const AtomContainer* container) {
    if (container == nullptr || container->IsNull()) return paramErr;
    const AtomContainer& c = *container;

    // The layout travels as its own container.
    s.layout = AtomContainer();
    if (const QTAtom pres = c.FindChildByIndex(0, Fcc("PRES"), 1))
        if (OSErr err = c.CopyAtom(pres, s.layout)) return err;

    if (const QTAtom name = c.FindChildByIndex(0, Fcc("name"), 1)) {
        std::span<const std::uint8_t> data;
        if (OSErr err = c.GetAtomData(name, data)) return err;
        std::copy_n(data.begin(), std::min<std::size_t>(data.size(), s.name.size()), s.name.begin());
    }

    if (OSErr err = ReadIfPresent(c, Fcc("colr"), Fcc("dpth"), s.depth)) return err;
    if (OSErr err = ReadIfPresent(c, Fcc("time"), Fcc("fps "), s.frameRate)) return err;
    if (OSErr err = ReadIfPresent(c, Fcc("time"), Fcc("vbtr"), s.videoBitRate)) return err;
    if (OSErr err = ReadIfPresent(c, Fcc("size"), Fcc("dimn"), s.sizeCode)) return err;
    if (OSErr err = ReadFrameSize(c, s)) return err;
    if (OSErr err = ReadIfPresent(c, Fcc("size"), Fcc("angl"), s.angle)) return err;
    if (OSErr err = ReadIfPresent(c, Fcc("soun"), Fcc("ssrt"), s.sampleRate)) return err;
    if (OSErr err = ReadIfPresent(c, Fcc("soun"), Fcc("sscc"), s.channels)) return err;
    if (OSErr err = ReadIfPresent(c, Fcc("soun"), Fcc("vtsc"), s.soundFormat)) return err;

    OSErr result = noErr;
    if (c.FindChildByID(0, Fcc("soun"), 1) != 0) {
        // Boost and bit rate do not stop the operation; the later failure is
        // its answer.
        if (OSErr err = ReadIfPresent(c, Fcc("soun"), Fcc("boos"), s.boost)) result = err;
        if (OSErr err = ReadIfPresent(c, Fcc("soun"), Fcc("bitr"), s.bitRate)) result = err;
        NormaliseSound(s);
    }

    s.scramblingKey.Release();
    s.hasScramblingKey = false;
    if (const QTAtom key = c.FindChildByID(0, Fcc("cryp"), 1)) {
        std::span<const std::uint8_t> data;
        if (OSErr err = c.GetAtomData(key, data)) return err;
        if (OSErr err = ByteBlock::FromBytes(data, s.scramblingKey)) return err;
        s.hasScramblingKey = true;
    }
    return result;
}

OSErr GetExportSettings(const ExportSettings& s, AtomContainer* out) {
    if (out == nullptr) return paramErr;
    AtomContainer c;
    if (OSErr err = BuildSettings(s, c)) return err;
    *out = std::move(c);
    return noErr;
}

void SetFirstPresetSettings(ExportSettings& s) {
    s.depth = kDepthCinepakMobile;
    s.frameRate = IntToFixed(10);
    s.videoBitRate = 240;
    s.frameWidth = 160;
    s.frameHeight = 120;
    s.angle = 0;
    s.soundFormat = kSoundAdpcm2to1;
    s.channels = 1;
    s.sampleRate = UIntToUnsignedFixed(8192);
    s.boost = 2;
}

OSErr CopyExportSettings(const ExportSettings& from, ExportSettings& to) {
    ExportSettings copy;
    copy.name = from.name;
    copy.depth = from.depth;
    copy.frameRate = from.frameRate;
    copy.videoBitRate = from.videoBitRate;
    copy.sizeCode = from.sizeCode;
    copy.frameWidth = from.frameWidth;
    copy.frameHeight = from.frameHeight;
    copy.angle = from.angle;
    copy.soundFormat = from.soundFormat;
    copy.channels = from.channels;
    copy.sampleRate = from.sampleRate;
    copy.bitRate = from.bitRate;
    copy.boost = from.boost;
    if (!from.layout.IsNull())
        if (OSErr err = from.layout.CopyTo(copy.layout)) return err;
    if (OSErr err = ByteBlock::FromBytes(from.scramblingKey.Span(), copy.scramblingKey)) return err;
    copy.hasScramblingKey = from.hasScramblingKey;
    to = std::move(copy);
    return noErr;
}
