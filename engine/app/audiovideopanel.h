// The "Audio & Video" tab as plain data: what each popup offers for the
// current settings, which entry holds their value, the two descriptions,
// and what picking an entry does to the settings. The popups offer only
// what the device plays: its own sound formats, and the rates and channels
// that follow from the format and from whether the device plays stereo.
#pragma once

#include <string>
#include <vector>

#include "presets/presets.h"

// One popup. A "-" entry is a separator. `selected` is 0-based, -1 when no
// entry holds the current value (a rate the list lacks, say).
struct Popup {
    std::vector<std::string> items;
    int selected = 0;
    bool enabled = true;
};

struct AudioVideoPanel {
    Popup videoFormat, frameRate, videoBitRate, soundFormat, channels, sampleRate, ratio, boost;
    std::string videoDescription, soundDescription;
    std::string rateLabel; // "Bit Rate:" for "CLIÉ Audio", else "Sample Rate:"
};

// Every popup and text of the tab for these settings, from the
// application's string lists; a popup that does not apply reads "Not
// Applicable" and is disabled.
AudioVideoPanel DescribeAudioVideo(const EditSettings& settings);

enum class AudioVideoItem { VideoFormat, FrameRate, VideoBitRate, SoundFormat, Channels, SampleRate, Ratio, Boost };

// The user picked entry `index` of a popup as DescribeAudioVideo gives it:
// the value it names goes into the settings, with what the format brings
// along (a new sound format's rate, the channels Yamaha ADPCM plays, a
// stereo "CLIÉ Audio" bit rate), and the settings count as edited. Showing
// them customised is the preset menus' part (PresetMenus::MarkCustomised).
// False, with nothing changed, for a disabled popup, a separator or an
// index past the end.
bool EditAudioVideo(EditSettings& settings, AudioVideoItem item, int index);
