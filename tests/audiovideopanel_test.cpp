// The Audio & Video tab: what its popups offer for a device, and what a
// pick does to the settings.
#include <gtest/gtest.h>

#include "engine/app/audiovideopanel.h"
#include "tests/preset_fixtures.h"

namespace {

using Texts = std::vector<std::string>;
using Change = void (*)(EditSettings&);

const Texts kNotApplicable{"Not Applicable"};

class AudioVideoPanelTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenApplicationResources(), noErr); }

    static std::string Selected(const Popup& p) { return p.selected < 0 ? "(none)" : p.items.at(p.selected); }
};

} // namespace

TEST_F(AudioVideoPanelTest, SoundPopupsOfferWhatTheDevicePlaysInItsFormat) {
    const Texts clieStereo{"23.500 kbps", "33.000 kbps", "47.000 kbps", "66.000 kbps"};
    const struct {
        const char* device;
        Texts formats, rates;
        std::string rate;
        Texts channels;
    } cases[] = {
        {"All color Palm OS devices", {"No Audio", "-", "ADPCM", "Uncompressed"}, {"4.096 kHz", "8.192 kHz", "16.384 kHz"}, "8.192 kHz", {"Mono"}},
        {"PEG-NR70/V", {"No Audio", "-", "CLIÉ Audio", "Yamaha ADPCM"}, clieStereo, "33.000 kbps", {"Mono", "Stereo"}},
        {"Treo 600", {"No Audio", "-", "ADPCM", "Uncompressed", "Yamaha ADPCM"},
         {"8.000 kHz", "11.025 kHz", "22.050 kHz", "44.100 kHz"}, "22.050 kHz", {"Mono", "Stereo"}},
        {"PEG-T400/T415/T425", {"No Audio", "-", "Yamaha ADPCM"}, {"8.000 kHz"}, "8.000 kHz", {"Mono"}},
        {"Tungsten W", {"No Audio", "-"}, kNotApplicable, "Not Applicable", kNotApplicable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        const EditSettings s = DevicePreset(c.device);
        const AudioVideoPanel panel = DescribeAudioVideo(s);
        EXPECT_EQ(panel.soundFormat.items, c.formats);
        const std::string format = Selected(panel.soundFormat);
        EXPECT_EQ(format, c.formats[c.formats.size() == 2 ? 0 : 2]);
        EXPECT_EQ(panel.sampleRate.items, c.rates);
        EXPECT_EQ(Selected(panel.sampleRate), c.rate);
        EXPECT_EQ(panel.rateLabel, format == "CLIÉ Audio" ? "Bit Rate:" : "Sample Rate:");
        EXPECT_EQ(panel.channels.items, c.channels);
        EXPECT_EQ(panel.channels.enabled, c.channels.size() > 1);
        EXPECT_EQ(panel.ratio.enabled, format == "ADPCM");
        EXPECT_EQ(panel.boost.enabled, format != "No Audio");
        EXPECT_FALSE(panel.soundDescription.empty());
    }
    // The other ratio and the stereo form of uncompressed sound stand on the
    // entries of the codes the device offers (626 and 627).
    EditSettings treo = DevicePreset("Treo 600");
    for (const auto& [format, entry] : {std::pair{628, "ADPCM"}, std::pair{630, "Uncompressed"}}) {
        treo.soundFormat = format;
        EXPECT_EQ(Selected(DescribeAudioVideo(treo).soundFormat), entry);
    }
}

TEST_F(AudioVideoPanelTest, VideoPopupsFollowTheFormat) {
    const struct {
        const char* device;
        std::int16_t depth; // 0: the device's own
        Texts shown;        // the format, frames per second and bit rate selected
    } cases[] = {
        {"m505/m515", 0, {"Cinepak Mobile", "12", "320 kbps"}},
        {"m500", 0, {"16 Grays", "10", "Not Applicable"}},
        {"m505/m515", 32767, {"no video", "Not Applicable", "Not Applicable"}},
    };
    for (const auto& c : cases) {
        EditSettings s = DevicePreset(c.device);
        if (c.depth != 0) s.depth = c.depth;
        const AudioVideoPanel panel = DescribeAudioVideo(s);
        EXPECT_EQ((Texts{Selected(panel.videoFormat), Selected(panel.frameRate), Selected(panel.videoBitRate)}), c.shown);
        EXPECT_EQ(panel.videoBitRate.enabled, c.shown[2] != "Not Applicable");
        EXPECT_FALSE(panel.videoDescription.empty());
    }
}

TEST_F(AudioVideoPanelTest, APickSetsItsValueAndWhatTheFormatBringsAlong) {
    const auto none = [](EditSettings&) {};
    const struct {
        const char* device;
        Change before; // the settings the pick starts from
        AudioVideoItem item;
        int index;
        Change expected; // what the pick changes; null: the pick is refused
        Texts rates;     // the rates then offered; empty: not checked
    } cases[] = {
        {"PEG-NR70/V", none, AudioVideoItem::SoundFormat, 3,
         [](EditSettings& s) { s.soundFormat = 629, s.channels = 1, s.sampleRate = UIntToUnsignedFixed(8000); }, {"8.000 kHz"}},
        {"Treo 600", none, AudioVideoItem::SoundFormat, 3, [](EditSettings& s) { s.soundFormat = 630; },
         {"8.000 kHz", "11.025 kHz", "22.050 kHz", "44.100 kHz"}},
        {"m500", none, AudioVideoItem::SoundFormat, 3, [](EditSettings& s) { s.soundFormat = 627; },
         {"4.096 kHz", "8.192 kHz", "16.384 kHz", "32.768 kHz"}},
        {"m500", [](EditSettings& s) { s.soundFormat = 627, s.sampleRate = UIntToUnsignedFixed(16384); },
         AudioVideoItem::SoundFormat, 2, [](EditSettings& s) { s.soundFormat = 626, s.sampleRate = UIntToUnsignedFixed(8192); }, {}},
        {"m500", [](EditSettings& s) { s.soundFormat = 628, s.sampleRate = UIntToUnsignedFixed(16384); },
         AudioVideoItem::SoundFormat, 2, none, {}}, // already ADPCM: ratio and rate stay
        {"PEG-NR70/V", [](EditSettings& s) { s.soundFormat = 629, s.channels = 1, s.bitRate = 11750; },
         AudioVideoItem::SoundFormat, 2,
         [](EditSettings& s) { s.soundFormat = 624, s.bitRate = 66000, s.sampleRate = UIntToUnsignedFixed(44100); }, {}},
        {"PEG-N700C/N710C", [](EditSettings& s) { s.channels = 1, s.bitRate = 16500; }, AudioVideoItem::Channels, 1,
         [](EditSettings& s) { s.channels = 2, s.bitRate = 23500; }, {"23.500 kbps", "33.000 kbps", "47.000 kbps", "66.000 kbps"}},
        {"PEG-N700C/N710C", [](EditSettings& s) { s.channels = 1, s.bitRate = 47000; }, AudioVideoItem::Channels, 1,
         [](EditSettings& s) { s.channels = 2; }, {}},
        {"Treo 600", none, AudioVideoItem::SampleRate, 1, [](EditSettings& s) { s.sampleRate = UIntToUnsignedFixed(11025); }, {}},
        {"PEG-N700C/N710C", none, AudioVideoItem::SampleRate, 2, [](EditSettings& s) { s.bitRate = 47000; }, {}},
        {"Treo 600", none, AudioVideoItem::Ratio, 1, [](EditSettings& s) { s.soundFormat = 628; }, {}},
        {"m505/m515", none, AudioVideoItem::Boost, 3, [](EditSettings& s) { s.boost = 3; }, {}},
        {"m505/m515", none, AudioVideoItem::VideoFormat, 3, [](EditSettings& s) { s.depth = 36; }, {}},
        {"m505/m515", none, AudioVideoItem::FrameRate, 9, [](EditSettings& s) { s.frameRate = IntToFixed(15); }, {}},
        {"m505/m515", none, AudioVideoItem::VideoBitRate, 13, [](EditSettings& s) { s.videoBitRate = 1500; }, {}},
        // Refused: disabled popups, a separator, past the end.
        {"Tungsten W", none, AudioVideoItem::Boost, 2, nullptr, {}},
        {"m500", none, AudioVideoItem::Channels, 0, nullptr, {}},
        {"m505/m515", none, AudioVideoItem::VideoFormat, 1, nullptr, {}},
        {"m505/m515", none, AudioVideoItem::FrameRate, 14, nullptr, {}},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << row++ << ", " << c.device);
        EditSettings s = DevicePreset(c.device);
        c.before(s);
        EditSettings expected = s;
        if (c.expected != nullptr) c.expected(expected);
        EXPECT_EQ(EditAudioVideo(s, c.item, c.index), c.expected != nullptr);
        EXPECT_EQ(static_cast<const ConversionSettings&>(s), static_cast<const ConversionSettings&>(expected));
        EXPECT_EQ(s.edited, c.expected != nullptr);
        if (!c.rates.empty()) {
            EXPECT_EQ(DescribeAudioVideo(s).sampleRate.items, c.rates);
        }
    }
}
