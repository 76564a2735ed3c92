// Presets to and from JSON. The sound rules below are the ones a conversion
// applies to the settings it is given (the export component's), so that a
// file says what a conversion with the preset does.
#include "presets/presetjson.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <new>
#include <nlohmann/json.hpp>
#include <span>

#include "moviedb/formats.h"
#include "platform/textorder.h"
#include "presets/presets.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kFormatMark = "vantro-preset";
constexpr int kVersion = 1;
// A preset's file is small; anything much larger or deeper is not one.
constexpr std::size_t kMostBytes = 64 * 1024;
constexpr int kMostDepth = 8;

// The rate a format without sound keeps, and the bit rate every format but
// "CLIÉ Audio" keeps, unused.
constexpr std::uint32_t kSilentRate = 8192;
constexpr std::uint32_t kPlainBitRate = 33000;
constexpr std::uint32_t kClieSampleRate = 44100;

// A format as a problem names it.
std::string Shown(const SoundRule& rule) {
    switch (rule.format) {
    case SoundFormat::UncompressedMono: return "uncompressed with 1 channel";
    case SoundFormat::UncompressedStereo: return "uncompressed with 2 channels";
    default: {
        const SoundFormatEntry* entry = FindSoundFormat(Code(rule.format));
        return entry != nullptr ? std::string(entry->commandLine) : std::string();
    }
    }
}

bool Among(std::uint32_t value, std::span<const std::uint32_t> values) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

// "a, b or c".
std::string Choices(std::span<const std::uint32_t> values) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i == 0 ? "" : i + 1 == values.size() ? " or " : ", ") + std::to_string(values[i]);
    return values.size() > 1 ? "one of " + text : text;
}

std::string_view SoundName(std::int32_t code) {
    const SoundFormatEntry* entry = FindSoundFormat(code);
    return entry != nullptr ? entry->commandLine : std::string_view();
}

std::string OsVersionText(std::uint32_t v) {
    return std::to_string(v >> 24) + "." + std::to_string(v >> 20 & 0xF);
}

// ---- Reading: each check answers false with the problem set ----

class Reader {
public:
    explicit Reader(std::string& problem) : problem_(problem) {}

    bool Fail(const std::string& field, const std::string& takes) {
        problem_ = field + " " + takes;
        return false;
    }

    // The object's fields are all among `known`.
    bool OnlyKnown(const Json& object, const std::string& where, std::initializer_list<std::string_view> known) {
        for (const auto& [key, value] : object.items()) {
            if (std::find(known.begin(), known.end(), key) != known.end()) continue;
            std::string names;
            for (std::string_view k : known) names += (names.empty() ? "" : ", ") + std::string(k);
            return Fail("\"" + where + key + "\"", "is not a field here; the fields are " + names);
        }
        return true;
    }

    // An object field; absent leaves `out` null.
    bool Object(const Json& parent, const char* key, const Json*& out) {
        out = nullptr;
        if (!parent.contains(key)) return true;
        out = &parent.at(key);
        return out->is_object() || Fail(key, "is an object { ... }");
    }

    // A whole number in [low, high]; absent keeps `value`.
    template <typename T>
    bool Integer(const Json* object, const char* key, const std::string& field, std::int64_t low, std::int64_t high,
                 T& value, const std::string& takes) {
        if (object == nullptr || !object->contains(key)) return true;
        const Json& v = object->at(key);
        std::int64_t n = 0;
        if (v.is_number_unsigned()) {
            if (v.get<std::uint64_t>() > static_cast<std::uint64_t>(high)) return Fail(field, takes);
            n = static_cast<std::int64_t>(v.get<std::uint64_t>());
        } else if (v.is_number_integer()) {
            n = v.get<std::int64_t>();
        } else {
            return Fail(field, takes);
        }
        if (n < low || n > high) return Fail(field, takes);
        value = static_cast<T>(n);
        return true;
    }

    bool Boolean(const Json* object, const char* key, const std::string& field, bool& value) {
        if (object == nullptr || !object->contains(key)) return true;
        const Json& v = object->at(key);
        if (!v.is_boolean()) return Fail(field, "is true or false");
        value = v.get<bool>();
        return true;
    }

    // A string; absent keeps `value`.
    bool Text(const Json* object, const char* key, const std::string& field, std::string& value, const std::string& takes) {
        if (object == nullptr || !object->contains(key)) return true;
        const Json& v = object->at(key);
        if (!v.is_string()) return Fail(field, takes);
        value = v.get<std::string>();
        return true;
    }

private:
    std::string& problem_;
};

// How deep the text nests its objects and arrays (strings skipped).
int Depth(std::string_view text) {
    int depth = 0, most = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            most = std::max(most, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return most;
}

bool ReadVideo(Reader& r, const Json* video, EditSettings& s) {
    if (video != nullptr &&
        !r.OnlyKnown(*video, "video.", {"format", "fps", "kbps", "width", "height", "angle"}))
        return false;
    const VideoFormatEntry* current = FindVideoFormat(s.depth);
    std::string format(current != nullptr ? current->commandLine : "grays");
    if (!r.Text(video, "format", "video.format", format, "is " + CommandLineNames(true))) return false;
    const auto entry = std::find_if(std::begin(kVideoFormats), std::end(kVideoFormats),
                                    [&](const VideoFormatEntry& e) { return e.commandLine == format; });
    if (entry == std::end(kVideoFormats)) return r.Fail("video.format", "is " + CommandLineNames(true));
    s.depth = Code(entry->depth);
    if (video != nullptr && video->contains("fps")) {
        const Json& fps = video->at("fps");
        if (fps.is_string() && fps.get<std::string>() == "best") s.frameRate = 0;
        else if (fps.is_number() && fps.get<double>() >= 1 && fps.get<double>() <= 60) s.frameRate = DoubleToFixed(fps.get<double>());
        else return r.Fail("video.fps", "is 1 to 60 or \"best\"");
    }
    s.angle = 0;
    if (!r.Integer(video, "kbps", "video.kbps", 16, 4000, s.videoBitRate, "is 16 to 4000") ||
        !r.Integer(video, "width", "video.width", 16, 480, s.frameWidth, "is 16 to 480") ||
        !r.Integer(video, "height", "video.height", 16, 480, s.frameHeight, "is 16 to 480") ||
        !r.Integer(video, "angle", "video.angle", -90, 90, s.angle, "is -90, 0 or 90"))
        return false;
    if (s.angle % 90 != 0) return r.Fail("video.angle", "is -90, 0 or 90");
    const bool wide = (s.frameWidth == 480 && s.frameHeight == 320) || (s.frameWidth == 320 && s.frameHeight == 480);
    if (s.angle != 0 && !wide) return r.Fail("video.angle", "is 0 unless the movie is 480x320 or 320x480");
    return true;
}

bool ReadSound(Reader& r, const Json* sound, EditSettings& s) {
    if (sound != nullptr && !r.OnlyKnown(*sound, "sound.", {"format", "rate", "channels", "bitRate", "boost"}))
        return false;
    std::string format(SoundName(static_cast<std::int32_t>(s.soundFormat)));
    if (!r.Text(sound, "format", "sound.format", format, "is " + CommandLineNames(false))) return false;
    const auto entry = std::find_if(std::begin(kSoundFormats), std::end(kSoundFormats),
                                    [&](const SoundFormatEntry& e) { return e.commandLine == format; });
    if (entry == std::end(kSoundFormats)) return r.Fail("sound.format", "is " + CommandLineNames(false));
    if (!r.Integer(sound, "channels", "sound.channels", 1, 2, s.channels, "is 1 or 2")) return false;
    // One name, two codes: the channels say which.
    s.soundFormat = Code(entry->format == SoundFormat::UncompressedMono && s.channels == 2 ? SoundFormat::UncompressedStereo
                                                                                           : entry->format);
    const SoundRule* rule = SoundRuleFor(s.soundFormat);
    if (rule != nullptr && rule->channels != 0 && s.channels != rule->channels)
        return r.Fail("sound.channels", "is " + std::to_string(rule->channels) + " for " + Shown(*rule));
    // "CLIÉ Audio" plays 44100 Hz at one of its bit rates; the others play
    // their rates, and keep the plain bit rate.
    const bool clie = rule != nullptr && rule->bitRates;
    const std::string shown = rule != nullptr ? Shown(*rule) : "none";
    const std::string rates = rule == nullptr ? "any rate" : clie ? "44100" : Choices(rule->rates);
    const std::string bitRates = clie ? Choices(rule->rates) : std::to_string(kPlainBitRate);
    std::uint32_t rate = rule == nullptr ? kSilentRate : clie ? kClieSampleRate : rule->defaultRate;
    s.bitRate = clie ? rule->defaultRate : kPlainBitRate;
    if (!r.Integer(sound, "rate", "sound.rate", 0, 0xFFFF, rate, "for " + shown + " is " + rates) ||
        !r.Integer(sound, "bitRate", "sound.bitRate", 0, 0xFFFFFF, s.bitRate, "is " + bitRates) ||
        !r.Integer(sound, "boost", "sound.boost", 0, 3, s.boost, "is 0 to 3"))
        return false;
    if (rule != nullptr && (clie ? rate != kClieSampleRate : !Among(rate, rule->rates)))
        return r.Fail("sound.rate", "for " + shown + " is " + rates);
    if (clie ? !Among(s.bitRate, rule->rates) : s.bitRate != kPlainBitRate) return r.Fail("sound.bitRate", "is " + bitRates);
    s.sampleRate = UIntToUnsignedFixed(rate);
    return true;
}

bool ReadDevice(Reader& r, const Json* device, EditSettings& s) {
    if (device != nullptr && !r.OnlyKnown(*device, "device.", {"screenWidth", "screenHeight", "maker", "osVersion",
                                                               "controlsUpright", "formats", "maxChannels"}))
        return false;
    bool upright = s.controlsUpright != 0;
    if (!r.Integer(device, "screenWidth", "device.screenWidth", 16, 480, s.layoutWidth, "is 16 to 480") ||
        !r.Integer(device, "screenHeight", "device.screenHeight", 16, 480, s.layoutHeight, "is 16 to 480") ||
        !r.Boolean(device, "controlsUpright", "device.controlsUpright", upright) ||
        !r.Integer(device, "maxChannels", "device.maxChannels", 1, 2, s.maxChannels, "is 1 or 2"))
        return false;
    s.controlsUpright = upright ? 1 : 0;
    if (device == nullptr) return true;
    if (device->contains("maker")) {
        const Json& maker = device->at("maker");
        std::string names;
        int id = -1;
        if (auto list = ListPresets("manufac"))
            for (const std::string& name : list->Names()) {
                names += (names.empty() ? "" : ", ") + name;
                if (maker.is_string() && EqualText(name, maker.get<std::string>())) id = ManufacturerIdForName(name);
            }
        if (maker.is_string() && id < 0) return r.Fail("device.maker", "is one of " + names + " or a number 0 to 65535");
        if (id < 0 && !r.Integer(device, "maker", "device.maker", 0, 0xFFFF, id, "is a maker's name or a number 0 to 65535"))
            return false;
        s.maker = static_cast<std::uint16_t>(id);
    }
    if (device->contains("osVersion")) {
        const Json& os = device->at("osVersion");
        const std::string takes = "is \"major.minor\" (\"5.2\") or a number";
        if (os.is_string()) {
            const std::string text = os.get<std::string>();
            unsigned major = 0, minor = 0;
            char end = 0;
            if (std::sscanf(text.c_str(), "%2u.%2u%c", &major, &minor, &end) != 2 || major < 1 || major > 15 || minor > 15 ||
                text != std::to_string(major) + "." + std::to_string(minor))
                return r.Fail("device.osVersion", takes);
            s.osVersion = major << 24 | minor << 20;
        } else if (!r.Integer(device, "osVersion", "device.osVersion", 0, 0xFFFFFFFF, s.osVersion, takes)) {
            return false;
        }
    }
    if (device->contains("formats")) {
        const Json& formats = device->at("formats");
        std::string names;
        for (const SoundFormatEntry& e : kSoundFormats)
            if (e.format != SoundFormat::None && e.format != SoundFormat::UncompressedStereo)
                names += (names.empty() ? "" : ", ") + std::string(e.commandLine);
        const std::string takes = "is a list of at most 20 sound formats, each once, of " + names;
        if (!formats.is_array() || formats.size() > s.formats.size()) return r.Fail("device.formats", takes);
        s.formats.fill(0);
        s.formatCount = 0;
        for (const Json& name : formats) {
            const auto entry = std::find_if(std::begin(kSoundFormats) + 1, std::end(kSoundFormats), [&](const SoundFormatEntry& e) {
                return name.is_string() && e.commandLine == name.get<std::string>();
            });
            if (entry == std::end(kSoundFormats)) return r.Fail("device.formats", takes);
            const std::uint32_t code = static_cast<std::uint32_t>(Code(entry->format));
            if (std::find(s.formats.begin(), s.formats.begin() + s.formatCount, code) != s.formats.begin() + s.formatCount)
                return r.Fail("device.formats", takes);
            s.formats[s.formatCount++] = code;
        }
    }
    return true;
}

OSErr Import(std::string_view text, AtomContainer& preset, std::string& problem) {
    Reader r(problem);
    if (text.size() > kMostBytes || Depth(text) > kMostDepth) return r.Fail("The text", "is too large for a preset"), paramErr;
    Json root;
    try {
        root = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
        return r.Fail("The text", "is not JSON (at byte " + std::to_string(e.byte) + ")"), paramErr;
    }
    if (!root.is_object()) return r.Fail("The text", "is not a preset: it is no JSON object { ... }"), paramErr;
    if (!r.OnlyKnown(root, "", {"format", "version", "name", "basedOn", "customised", "video", "sound", "device"}))
        return paramErr;
    if (!root.contains("format") || !root.at("format").is_string() || root.at("format").get<std::string>() != kFormatMark)
        return r.Fail("format", "is \"vantro-preset\" in a preset's file"), paramErr;
    int version = 0;
    if (!root.contains("version") || !r.Integer(&root, "version", "version", kVersion, kVersion, version, "is 1"))
        return r.Fail("version", "is 1"), paramErr;

    // Every value a preset lacks its default, then the file's.
    EditSettings s;
    AtomContainer bare;
    if (OSErr err = AtomContainer::Create(bare)) return err;
    UnpackSettings(s, bare);
    std::string typed, name, why;
    if (!root.contains("name") || !r.Text(&root, "name", "name", typed, "is the preset's name, as text"))
        return r.Fail("name", "is the preset's name, as text"), paramErr;
    if (NormalisePresetName(typed, name, &why) != noErr) return r.Fail("name:", why), paramErr;
    std::string basedOn;
    if (!r.Text(&root, "basedOn", "basedOn", basedOn, "is the name of the preset it came from, as text")) return paramErr;
    if (!basedOn.empty() && NormalisePresetName(basedOn, s.basedOn, &why) != noErr) return r.Fail("basedOn:", why), paramErr;
    if (!r.Boolean(&root, "customised", "customised", s.customised)) return paramErr;
    const Json *video = nullptr, *sound = nullptr, *device = nullptr;
    if (!r.Object(root, "video", video) || !r.Object(root, "sound", sound) || !r.Object(root, "device", device) ||
        !ReadVideo(r, video, s) || !ReadSound(r, sound, s) || !ReadDevice(r, device, s))
        return paramErr;
    return PackSettings(s, name, preset);
}

} // namespace

OSErr ExportPresetJson(const AtomContainer& preset, std::string& json) {
    if (preset.IsNull()) return paramErr;
    EditSettings s;
    UnpackSettings(s, preset);
    const VideoFormatEntry* video = FindVideoFormat(s.depth);
    if (video == nullptr) return paramErr;
    // The sound as a conversion takes it.
    ApplySoundRules(s);
    const std::uint32_t rate = UnsignedFixedIntegerPart(s.sampleRate);
    const std::uint16_t channels = s.channels;
    const std::uint32_t bitRate = s.bitRate;
    try {
        Json formats = Json::array();
        for (std::uint16_t i = 0; i < s.formatCount; ++i) {
            const std::string_view name = SoundName(static_cast<std::int32_t>(s.formats[i]));
            if (name.empty() || s.formats[i] == 0) return paramErr;
            formats.push_back(name);
        }
        Json fps = "best";
        if (s.frameRate != 0) fps = (s.frameRate & 0xFFFF) == 0 ? Json(s.frameRate >> 16) : Json(FixedToDouble(s.frameRate));
        const std::string maker = ManufacturerNameForId(s.maker);
        Json out = {
            {"format", kFormatMark},
            {"version", kVersion},
            {"name", s.name},
            {"basedOn", s.basedOn},
            {"customised", s.customised},
            {"video",
             {{"format", video->commandLine},
              {"fps", fps},
              {"kbps", s.videoBitRate},
              {"width", s.frameWidth},
              {"height", s.frameHeight},
              {"angle", s.angle}}},
            {"sound",
             {{"format", SoundName(s.soundFormat)},
              {"rate", rate},
              {"channels", channels},
              {"bitRate", bitRate},
              {"boost", s.boost}}},
            {"device",
             {{"screenWidth", s.layoutWidth},
              {"screenHeight", s.layoutHeight},
              {"maker", maker.empty() ? Json(s.maker) : Json(maker)},
              {"osVersion", (s.osVersion & 0xFFFFF) == 0 ? Json(OsVersionText(s.osVersion)) : Json(s.osVersion)},
              {"controlsUpright", s.controlsUpright != 0},
              {"formats", formats},
              {"maxChannels", s.maxChannels}}},
        };
        // Names that are not UTF-8 (older presets) keep a replacement mark.
        json = out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    } catch (const std::bad_alloc&) {
        return memFullErr;
    } catch (const Json::exception&) {
        return paramErr;
    }
    return noErr;
}

OSErr ImportPresetJson(std::string_view json, AtomContainer& preset, std::string& problem) {
    try {
        AtomContainer made;
        if (OSErr err = Import(json, made, problem)) return err;
        preset = std::move(made);
        problem.clear();
        return noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    } catch (const nlohmann::json::exception& e) {
        problem = std::string("The text is not a preset (") + e.what() + ")";
        return paramErr;
    }
}
