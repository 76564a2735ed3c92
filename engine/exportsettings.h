// The export settings: every conversion choice, as the export component keeps
// it, and its exchange with the settings container (an atom container shared
// by the presets, the user interface and the component). The conversion
// choices themselves and their atoms are the presets' ConversionSettings.
#pragma once

#include <array>
#include <cstdint>

#include "moviedb/formats.h"
#include "platform/atoms.h"
#include "presets/conversionsettings.h"
#include "platform/byteblock.h"
#include "platform/bytes.h"
#include "platform/status.h"

// Pixel depth codes of 'colr'/'dpth', as the settings store them.
inline constexpr std::int16_t kDepthCinepakMobile = Code(VideoDepth::CinepakMobile);
inline constexpr std::int16_t kDepthSixteenGrays = Code(VideoDepth::SixteenGrays);
inline constexpr std::int16_t kDepthNoVideo = Code(VideoDepth::None);

// Sound format codes of 'soun'/'vtsc', as the settings store them.
inline constexpr std::int32_t kSoundNone = Code(SoundFormat::None);
inline constexpr std::int32_t kSoundClieAudio = Code(SoundFormat::ClieAudio);
inline constexpr std::int32_t kSoundAdpcm2to1 = Code(SoundFormat::Adpcm2to1);
inline constexpr std::int32_t kSoundUncompressedMono = Code(SoundFormat::UncompressedMono);
inline constexpr std::int32_t kSoundAdpcm4to1 = Code(SoundFormat::Adpcm4to1);
inline constexpr std::int32_t kSoundYamahaAdpcm = Code(SoundFormat::YamahaAdpcm);
inline constexpr std::int32_t kSoundUncompressedStereo = Code(SoundFormat::UncompressedStereo);

// The component's settings: the conversion choices, with the name, the
// screen layout and the scrambling key they travel with. Every field is
// copied by CopyExportSettings: a new field goes there too.
struct ExportSettings : ConversionSettings {
    // The settings' name as stored: a length byte and up to 255 characters.
    std::array<std::uint8_t, 256> name{};
    std::uint16_t sizeCode = 1; // 'size'/'dimn': the movie size when no frame size is set
    // A container whose root holds a copy of the 'PRES' layout subtree; null
    // when the settings have no layout.
    AtomContainer layout;
    // The scrambling key exactly as given ('cryp'); used only when 512 bytes.
    ByteBlock scramblingKey;
    bool hasScramblingKey = false;
};

// A copy of settings (their layout and key included).
[[nodiscard]] OSErr CopyExportSettings(const ExportSettings& from, ExportSettings& to);

// Takes the settings from a container. Reads stop at the first atom of the
// wrong size (its error is the answer; fields read before it keep their new
// values); then the sound settings are brought onto what the sound format
// allows. A null container is paramErr.
[[nodiscard]] OSErr SetExportSettings(ExportSettings& settings, const AtomContainer* container);
// A new container with the settings (no 'dimn', no 'cryp'); `out` is only
// replaced on success.
[[nodiscard]] OSErr GetExportSettings(const ExportSettings& settings, AtomContainer* out);

// The settings of the first device preset, "All color Palm OS devices"
// (colour at 10 frames a second and 240 kbit/s, 160 × 120, ADPCM 2:1 at
// 8192 Hz mono, boost "Medium"): what a conversion uses when nothing was
// chosen.
void SetFirstPresetSettings(ExportSettings& settings);
