// The export settings: every conversion choice, as the export component keeps
// it, and its exchange with the settings container (an atom container shared
// by the presets, the user interface and the component).
#pragma once

#include <array>
#include <cstdint>

#include "moviedb/formats.h"
#include "platform/atoms.h"
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

inline constexpr std::uint16_t kFrameSizeNotSet = 0xFFFF;

// Every field is copied by CopyExportSettings: a new field goes there too.
struct ExportSettings {
    // The settings' name as stored: a length byte and up to 255 characters.
    std::array<std::uint8_t, 256> name{};
    std::int16_t depth = kDepthSixteenGrays;
    Fixed frameRate = IntToFixed(6); // 0 = "Best": every source frame
    std::uint16_t videoBitRate = 320; // kilobits (1024 bits) per second
    std::uint16_t sizeCode = 1;
    std::uint16_t frameWidth = kFrameSizeNotSet;
    std::uint16_t frameHeight = kFrameSizeNotSet;
    std::int16_t angle = 0;
    std::int32_t soundFormat = kSoundNone;
    std::uint16_t channels = 1;
    UnsignedFixed sampleRate = UIntToUnsignedFixed(8192);
    std::uint32_t bitRate = 33000; // "CLIÉ Audio" bits per second
    std::uint16_t boost = 0;
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
