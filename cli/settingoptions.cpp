// Settings options shared by `convert` and `presets save`.
#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "cli/commands.h"
#include "moviedb/formats.h"
#include "presets/presets.h"

const char* const kSettingOptionsHelp =
    "  --video color|grays|none    video format (\"Cinepak Mobile\", \"16 Grays\", sound only; also colour, greys)\n"
    "  --fps N|best                frames per second (best: every source frame)\n"
    "  --size WxH                  movie size in pixels\n"
    "  --kbps N                    video bit rate in kbit/s\n"
    "  --sound FORMAT              none, adpcm (2:1), adpcm4 (4:1), uncompressed, yamaha, clie\n"
    "  --rate N                    sample rate in Hz (for clie: the bit rate in bit/s)\n"
    "  --channels 1|2              mono or stereo\n"
    "  --boost 0-3                 sound boost: none, low, medium, high\n";

namespace {

bool Number(const std::string& text, long low, long high, long& out) {
    char* end = nullptr;
    out = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && out >= low && out <= high;
}

} // namespace

bool ApplySettingOptions(Arguments& args, AtomContainer& settings, std::string& error) {
    EditSettings s;
    UnpackSettings(s, settings);
    bool changed = false;
    long rate = -1;
    Arguments rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        const bool known = option == "--video" || option == "--fps" || option == "--size" || option == "--kbps" ||
                           option == "--sound" || option == "--rate" || option == "--channels" || option == "--boost";
        if (!known) {
            rest.push_back(option);
            continue;
        }
        if (i + 1 >= args.size()) {
            error = option + " needs a value";
            return false;
        }
        const std::string value = args[++i];
        long n = 0;
        changed = true;
        if (option == "--video") {
            const std::string name = value == "colour" ? "color" : value == "greys" ? "grays" : value;
            const auto entry = std::find_if(std::begin(kVideoFormats), std::end(kVideoFormats),
                                            [&](const VideoFormatEntry& e) { return e.commandLine == name; });
            if (entry == std::end(kVideoFormats)) return error = "--video is " + CommandLineNames(true), false;
            s.depth = Code(entry->depth);
        } else if (option == "--fps") {
            if (value == "best") s.frameRate = 0;
            else if (Number(value, 1, 60, n)) s.frameRate = IntToFixed(static_cast<std::int32_t>(n));
            else return error = "--fps is 1 to 60 or best", false;
        } else if (option == "--size") {
            long w = 0, h = 0;
            const auto x = value.find('x');
            if (x == std::string::npos || !Number(value.substr(0, x), 16, 480, w) || !Number(value.substr(x + 1), 16, 480, h))
                return error = "--size is WIDTHxHEIGHT, 16 to 480 each", false;
            s.frameWidth = static_cast<std::uint16_t>(w), s.frameHeight = static_cast<std::uint16_t>(h);
        } else if (option == "--kbps") {
            if (!Number(value, 16, 4000, n)) return error = "--kbps is 16 to 4000", false;
            s.videoBitRate = static_cast<std::uint16_t>(n);
        } else if (option == "--sound") {
            const auto entry = std::find_if(std::begin(kSoundFormats), std::end(kSoundFormats),
                                            [&](const SoundFormatEntry& e) { return e.commandLine == value; });
            if (entry == std::end(kSoundFormats)) return error = "--sound is " + CommandLineNames(false), false;
            s.soundFormat = Code(entry->format);
            // One name, two codes: the stereo one for devices that play stereo.
            if (entry->format == SoundFormat::UncompressedMono && s.maxChannels >= 2)
                s.soundFormat = Code(SoundFormat::UncompressedStereo);
        } else if (option == "--rate") {
            if (!Number(value, 4000, 66000, n)) return error = "--rate is 4000 to 66000", false;
            rate = n; // applied once the sound format is known
        } else if (option == "--channels") {
            if (!Number(value, 1, 2, n)) return error = "--channels is 1 or 2", false;
            s.channels = static_cast<std::uint16_t>(n);
        } else if (option == "--boost") {
            if (!Number(value, 0, 3, n)) return error = "--boost is 0 to 3", false;
            s.boost = static_cast<std::uint16_t>(n);
        }
    }
    args = rest;
    if (!changed) return true;
    if (rate > 0) {
        if (s.soundFormat == Code(SoundFormat::ClieAudio)) s.bitRate = static_cast<std::uint32_t>(rate);
        else s.sampleRate = static_cast<std::uint32_t>(rate) << 16;
    }
    s.customised = true;
    AtomContainer packed;
    if (PackSettings(s, s.name, packed) != noErr) return error = "out of memory", false;
    settings = std::move(packed);
    return true;
}
