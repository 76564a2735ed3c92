// The system's picture and sound formats, defined once: their codes as the
// settings and the databases carry them, the names the command line takes,
// and the names shown to users (from the application's resources).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Pixel depth codes of the settings: the picture format of the movie.
enum class VideoDepth : std::int16_t { CinepakMobile = 32, SixteenGrays = 36, None = 32767 };

// The writer's picture encodings (the database's video format codes). The
// settings choose only "16 Grays" and Cinepak; the others are known to the
// format and to the writer's code table.
enum class PictureEncoding : std::int16_t {
    FourGrays = 1,
    Colour8Bit = 2,
    BlackAndWhite = 3,
    SixteenGrays = 4,
    Animation = 5,
    ZyG2 = 6,
    Cinepak = 7,
    Mpeg4 = 8,
};
constexpr std::int16_t Code(PictureEncoding e) { return static_cast<std::int16_t>(e); }
// The encoding the writer uses for a depth of the settings; 0 for none.
constexpr std::int16_t EncodingOfDepth(std::int32_t depth) {
    switch (depth) {
    case 1: return Code(PictureEncoding::BlackAndWhite);
    case 24: return Code(PictureEncoding::Colour8Bit);
    case 32: return Code(PictureEncoding::Cinepak);
    case 34: return Code(PictureEncoding::FourGrays);
    case 36: return Code(PictureEncoding::SixteenGrays);
    default: return 0;
    }
}

// Sound format codes of the settings and of the database's sound header.
enum class SoundFormat : std::int32_t {
    None = 0,
    ClieAudio = 624,
    Adpcm2to1 = 626,
    UncompressedMono = 627,
    Adpcm4to1 = 628,
    YamahaAdpcm = 629,
    UncompressedStereo = 630,
};

struct VideoFormatEntry {
    VideoDepth depth;
    std::string_view commandLine; // the --video value
    std::string_view shown;       // as a preset's description says it
};

struct SoundFormatEntry {
    SoundFormat format;
    std::string_view commandLine; // the --sound value
    std::int16_t nameItem;        // its name in the sound format list ('STR#' 144)
    std::string_view ratio;       // after the name: " 2:1", " 4:1" or nothing
};

inline constexpr VideoFormatEntry kVideoFormats[] = {
    {VideoDepth::CinepakMobile, "color", "Cinepak Mobile (colour)"},
    {VideoDepth::SixteenGrays, "grays", "16 Grays"},
    {VideoDepth::None, "none", "none"},
};

// Uncompressed sound has two codes, for mono and for stereo devices; the
// command line's one name takes the one the device plays.
inline constexpr SoundFormatEntry kSoundFormats[] = {
    {SoundFormat::None, "none", 1, ""},
    {SoundFormat::Adpcm2to1, "adpcm", 4, " 2:1"},
    {SoundFormat::Adpcm4to1, "adpcm4", 4, " 4:1"},
    {SoundFormat::UncompressedMono, "uncompressed", 3, ""},
    {SoundFormat::UncompressedStereo, "uncompressed", 3, ""},
    {SoundFormat::YamahaAdpcm, "yamaha", 6, ""},
    {SoundFormat::ClieAudio, "clie", 5, ""},
};

constexpr std::int32_t Code(SoundFormat f) { return static_cast<std::int32_t>(f); }
constexpr std::int16_t Code(VideoDepth d) { return static_cast<std::int16_t>(d); }

// The entries of a code; null for a code the system does not know.
const VideoFormatEntry* FindVideoFormat(std::int32_t depth);
const SoundFormatEntry* FindSoundFormat(std::int32_t code);
// The command line's names, each once, in the table's order ("a, b or c").
std::string CommandLineNames(bool video);
// A sound format's name as users see it ("ADPCM 2:1"); "code N" for one the
// system does not know.
std::string SoundFormatName(std::int32_t code);
