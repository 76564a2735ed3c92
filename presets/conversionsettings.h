// The conversion choices every form of settings shares (the component's
// export settings, a preset as the menus edit it), and their one exchange
// with a settings container: which atom holds which value.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "moviedb/formats.h"
#include "platform/atoms.h"
#include "platform/bytes.h"
#include "platform/status.h"

inline constexpr std::uint16_t kFrameSizeNotSet = 0xFFFF;

struct ConversionSettings {
    std::int16_t depth = Code(VideoDepth::SixteenGrays); // 'colr'/'dpth'
    Fixed frameRate = IntToFixed(6);                     // 'time'/'fps '; 0 = "Best": every source frame
    std::uint16_t videoBitRate = 320;                    // 'time'/'vbtr': kilobits (1024 bits) per second
    std::uint16_t frameWidth = kFrameSizeNotSet;         // 'size'/'vide', with the height
    std::uint16_t frameHeight = kFrameSizeNotSet;
    std::int16_t angle = 0;                              // 'size'/'angl'
    std::int32_t soundFormat = Code(SoundFormat::None);  // 'soun'/'vtsc'
    std::uint16_t channels = 1;                          // 'soun'/'sscc'
    UnsignedFixed sampleRate = UIntToUnsignedFixed(8192); // 'soun'/'ssrt'
    std::uint32_t bitRate = 33000;                       // 'soun'/'bitr': "CLIÉ Audio" bits per second
    std::uint16_t boost = 0;                             // 'soun'/'boos'

    bool operator==(const ConversionSettings&) const = default;
};

// What a preset means where it lacks a value: the first values of the
// editable settings (every source frame, 160 × 120, ADPCM 2:1).
inline constexpr ConversionSettings kPresetDefaults = [] {
    ConversionSettings s;
    s.frameRate = 0;
    s.frameWidth = 160;
    s.frameHeight = 120;
    s.soundFormat = Code(SoundFormat::Adpcm2to1);
    return s;
}();

// What a value of the wrong size does to the reading.
enum class BadValue {
    Stop, // the atom's error is the answer; later values are not read
    Skip, // the value keeps what it had; the reading goes on
};

// How a reading ended: its first error (noErr when every value read), and
// whether a value of the wrong size stopped it before the end.
struct [[nodiscard]] SettingsReading {
    OSErr status = noErr;
    bool stopped = false;
};

// Takes every value the container holds at the root's 'colr', 'time',
// 'size' and 'soun'; absent values are left alone. 'boos' and 'bitr' come
// last and never stop the reading.
SettingsReading ReadConversionSettings(const AtomContainer& container, ConversionSettings& settings,
                                       BadValue onBadValue);

// Adds the values to the container under its root's 'colr', 'time', 'size'
// and 'soun' (each made when missing), the angle only when `withAngle`.
[[nodiscard]] OSErr WriteConversionSettings(const ConversionSettings& settings, AtomContainer& container,
                                            bool withAngle = true);

// ---- What each sound format plays ----

struct SoundRule {
    SoundFormat format;
    // The rates it plays: sample rates in hertz, or, for "CLIÉ Audio" (always
    // 44100 Hz), bit rates in bits per second.
    std::span<const std::uint32_t> rates;
    std::uint32_t defaultRate; // what a rate it does not play becomes
    bool bitRates;
    std::uint16_t channels; // the only channel count it plays; 0 for 1 or 2
};

// The rule of a sound format code; a code the converter does not know
// plays as uncompressed mono sound. Null for no sound.
const SoundRule* SoundRuleFor(std::int32_t soundFormat);

// One value the rules changed, and the line that tells the user why.
struct SoundChange {
    enum class Field { Format, Rate, Channels } field;
    std::uint32_t asked, used;
    std::string why; // "ADPCM 2:1 plays at 4096, ... or 44100 Hz: using 8192"
};

// Brings the sound settings onto what their format plays: a rate it does
// not play becomes its default, the channels its only count, an unknown
// format uncompressed mono sound; "CLIÉ Audio" plays 44100 Hz, and only it
// keeps a bit rate. Answers what changed that the user would hear.
std::vector<SoundChange> ApplySoundRules(ConversionSettings& settings);

// "4096, 8192 or 11025": a rule's rates for a message.
std::string RateList(const SoundRule& rule);
