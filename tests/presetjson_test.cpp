// Presets as JSON files: every device preset's round trip, what a file
// says, and the refusal of every wrong value.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <tuple>

#include "platform/resources.h"
#include "presets/presetjson.h"
#include "presets/presets.h"
#include "resources/application_resources.h"

namespace {

class PresetJson : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenApplicationResources(), noErr); }

    static AtomContainer Device(std::string_view name) {
        AtomContainer preset;
        EXPECT_EQ(FindPreset(name, false, &preset), noErr) << name;
        return preset;
    }

    static std::string Exported(const AtomContainer& preset) {
        std::string json;
        EXPECT_EQ(ExportPresetJson(preset, json), noErr);
        return json;
    }

    // Every value UnpackSettings gives that a preset keeps.
    static auto Kept(const EditSettings& s) {
        return std::tie(static_cast<const ConversionSettings&>(s), s.layoutWidth, s.layoutHeight, s.maker, s.osVersion,
                        s.controlsUpright, s.formatCount, s.formats, s.maxChannels, s.customised, s.name, s.basedOn);
    }

    // Export, import, and the settings before and after.
    static void ExpectRoundTrip(const AtomContainer& preset) {
        AtomContainer back;
        std::string problem;
        const std::string json = Exported(preset);
        ASSERT_EQ(ImportPresetJson(json, back, problem), noErr) << problem << "\n" << json;
        EXPECT_TRUE(problem.empty());
        EditSettings was, is;
        UnpackSettings(was, preset);
        UnpackSettings(is, back);
        EXPECT_TRUE(Kept(was) == Kept(is)) << json << "\n" << Exported(back);
    }

    static AtomContainer Packed(const EditSettings& s, std::string_view name) {
        AtomContainer out;
        EXPECT_EQ(PackSettings(s, name, out), noErr);
        return out;
    }
};

} // namespace

TEST_F(PresetJson, EveryDevicePresetAndOddUserPresetsComeBackTheSame) {
    for (std::int16_t i = 1; i <= CountResources(Fcc("STNG")); ++i) {
        Resource r;
        AtomContainer preset;
        ASSERT_EQ(GetIndResource(Fcc("STNG"), i, r), noErr);
        ASSERT_EQ(AtomContainer::Parse(r.data, preset), noErr);
        SCOPED_TRACE(r.id);
        ExpectRoundTrip(preset);
    }
    // User presets: saved from another, customised, at a fraction of a frame
    // rate, in uncompressed stereo, in CLIÉ Audio at another bit rate, under
    // a name of 63 three-byte characters.
    AtomContainer t3 = Device("Tungsten T3");
    EditSettings s;
    UnpackSettings(s, t3);
    s.basedOn = "Tungsten T3";
    s.customised = true;
    s.frameRate = IntToFixed(15) / 2;
    s.soundFormat = Code(SoundFormat::UncompressedStereo);
    s.channels = 2;
    s.sampleRate = UIntToUnsignedFixed(22050);
    std::string cjk63;
    for (int n = 0; n < 63; ++n) cjk63 += "\xE6\xBC\xA2";
    ExpectRoundTrip(Packed(s, cjk63));
    s.soundFormat = Code(SoundFormat::ClieAudio);
    s.sampleRate = UIntToUnsignedFixed(44100);
    s.bitRate = 47000;
    s.frameRate = 0;
    ExpectRoundTrip(Packed(s, "Loud"));
}

TEST_F(PresetJson, AFileSaysWhatAConversionDoes) {
    const nlohmann::json t3 = nlohmann::json::parse(Exported(Device("PEG-NR70/V (Wide - CCW)")));
    EXPECT_EQ(t3["format"], "vantro-preset");
    EXPECT_EQ(t3["version"], 1);
    EXPECT_EQ(t3["name"], "PEG-NR70/V (Wide - CCW)");
    EXPECT_EQ(t3["video"], nlohmann::json::parse(R"({"format": "color", "fps": 10, "kbps": 560, "width": 480,
                                                    "height": 320, "angle": -90})"));
    EXPECT_EQ(t3["sound"], nlohmann::json::parse(R"({"format": "clie", "rate": 44100, "channels": 2,
                                                    "bitRate": 33000, "boost": 0})"));
    EXPECT_EQ(t3["device"]["maker"], "Sony CLIE");
    EXPECT_EQ(t3["device"]["formats"], nlohmann::json::parse(R"(["clie", "yamaha"])"));
    // Sound values a conversion replaces are written as it uses them: a rate
    // CLIÉ Audio does not take, stereo in a mono-only format.
    EditSettings s;
    UnpackSettings(s, Device("Zire 71"));
    s.soundFormat = Code(SoundFormat::ClieAudio);
    s.sampleRate = UIntToUnsignedFixed(8192);
    EXPECT_EQ(nlohmann::json::parse(Exported(Packed(s, "Odd")))["sound"]["rate"], 44100);
    s.soundFormat = Code(SoundFormat::YamahaAdpcm);
    s.channels = 2;
    EXPECT_EQ(nlohmann::json::parse(Exported(Packed(s, "Odd")))["sound"]["channels"], 1);
    std::string json;
    EXPECT_EQ(ExportPresetJson(AtomContainer(), json), paramErr);
}

TEST_F(PresetJson, EveryWrongValueIsRefusedNamingItsField) {
    const nlohmann::json good = nlohmann::json::parse(Exported(Device("Tungsten T3")));
    const struct {
        const char* pointer; // the value changed, or "" for the text below
        nlohmann::json value;
        const char* field;   // what the problem names
    } cases[] = {
        {"/format", "other", "format"},
        {"/version", 2, "version"},
        {"/name", "  ", "name"},
        {"/name", 5, "name"},
        {"/basedOn", "a\tb", "basedOn"},
        {"/customised", 1, "customised"},
        {"/colour", 1, "\"colour\""},
        {"/video", "color", "video"},
        {"/video/format", "sepia", "video.format"},
        {"/video/fps", 0, "video.fps"},
        {"/video/fps", 61, "video.fps"},
        {"/video/fps", "fast", "video.fps"},
        {"/video/kbps", 15, "video.kbps"},
        {"/video/kbps", 320.5, "video.kbps"},
        {"/video/width", 481, "video.width"},
        {"/video/height", -1, "video.height"},
        {"/video/angle", 45, "video.angle"},
        {"/video/angle", 90, "video.angle"}, // the movie is not wide
        {"/video/widht", 320, "\"video.widht\""},
        {"/sound/format", "mp3", "sound.format"},
        {"/sound/rate", 12000, "sound.rate"},
        {"/sound/rate", 18446744073709551615u, "sound.rate"},
        {"/sound/channels", 3, "sound.channels"},
        {"/sound/bitRate", 1000, "sound.bitRate"},
        {"/sound/boost", 4, "sound.boost"},
        {"/device/screenWidth", 0, "device.screenWidth"},
        {"/device/maker", "Apple", "device.maker"},
        {"/device/maker", 70000, "device.maker"},
        {"/device/osVersion", "5.2.1", "device.osVersion"},
        {"/device/controlsUpright", "yes", "device.controlsUpright"},
        {"/device/formats", {"adpcm", "adpcm"}, "device.formats"},
        {"/device/formats", {"none"}, "device.formats"},
        {"/device/maxChannels", 0, "device.maxChannels"},
        {"", "{\"format\": \"vantro-preset\", \"version\": 1", "JSON"},
        {"", "[1, 2]", "JSON object"},
        {"", std::string(100, '[') + std::string(100, ']'), "too large"},
        {"", "", "JSON"},
    };
    for (const auto& c : cases) {
        std::string text;
        if (*c.pointer == '\0') {
            text = c.value.get<std::string>();
        } else {
            nlohmann::json changed = good;
            changed[nlohmann::json::json_pointer(c.pointer)] = c.value;
            text = changed.dump();
        }
        SCOPED_TRACE(text);
        AtomContainer preset;
        std::string problem;
        EXPECT_EQ(ImportPresetJson(text, preset, problem), paramErr);
        EXPECT_TRUE(preset.IsNull());
        EXPECT_NE(problem.find(c.field), std::string::npos) << problem;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
    }
    // Yamaha ADPCM plays mono at 8000 Hz only; a name is cut, not refused;
    // what a file leaves out is a preset's default.
    AtomContainer preset;
    std::string problem;
    nlohmann::json yamaha = good;
    yamaha["sound"] = {{"format", "yamaha"}, {"channels", 2}};
    EXPECT_EQ(ImportPresetJson(yamaha.dump(), preset, problem), paramErr);
    EXPECT_NE(problem.find("sound.channels is 1 for yamaha"), std::string::npos) << problem;
    yamaha["sound"] = {{"format", "yamaha"}};
    ASSERT_EQ(ImportPresetJson(yamaha.dump(), preset, problem), noErr) << problem;
    ASSERT_EQ(ImportPresetJson(R"({"format": "vantro-preset", "version": 1, "name": ")" + std::string(70, 'n') + "\"}",
                               preset, problem),
              noErr)
        << problem;
    EditSettings s;
    UnpackSettings(s, preset);
    EXPECT_EQ(s.name, std::string(63, 'n'));
    EXPECT_EQ(s.soundFormat, Code(SoundFormat::Adpcm2to1));
    EXPECT_EQ(s.frameWidth, 160);
}
