// Export settings to and from the settings container, and the sound settings' rules.
#include "engine/exportsettings.h"

#include <algorithm>

namespace {

OSErr BuildSettings(const ExportSettings& s, AtomContainer& c) {
    if (OSErr err = AtomContainer::Create(c)) return err;
    if (!s.layout.IsNull())
        if (OSErr err = c.InsertChildren(0, s.layout)) return err;
    if (s.name[0] != 0)
        if (OSErr err = c.InsertChild(0, Fcc("name"), 0, 0, std::span(s.name.data(), s.name[0] + 1u))) return err;
    return WriteConversionSettings(s, c);
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

    // A value of the wrong size ends the reading (its error is the answer).
    const SettingsReading reading = ReadConversionSettings(c, s, BadValue::Stop);
    if (reading.stopped) return reading.status;
    if (const QTAtom code = c.FindPath(0, {Fcc("size"), Fcc("dimn")}))
        if (OSErr err = c.ReadU16(code, s.sizeCode)) return err;
    // The rules' changes are the settings' own: the component says nothing.
    if (c.FindChildByID(0, Fcc("soun"), 1) != 0) ApplySoundRules(s);
    const OSErr result = reading.status;

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
    static_cast<ConversionSettings&>(copy) = from;
    copy.name = from.name;
    copy.sizeCode = from.sizeCode;
    if (!from.layout.IsNull())
        if (OSErr err = from.layout.CopyTo(copy.layout)) return err;
    if (OSErr err = ByteBlock::FromBytes(from.scramblingKey.Span(), copy.scramblingKey)) return err;
    copy.hasScramblingKey = from.hasScramblingKey;
    to = std::move(copy);
    return noErr;
}
