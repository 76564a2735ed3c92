// A preset as a small JSON file a person can read, edit and share:
//
//   {"format": "vantro-preset", "version": 1,
//    "name": "Holiday", "basedOn": "Tungsten T3", "customised": false,
//    "video": {"format": "color", "fps": 12, "kbps": 320, "width": 320, "height": 240, "angle": 0},
//    "sound": {"format": "adpcm", "rate": 22050, "channels": 2, "bitRate": 33000, "boost": 0},
//    "device": {"screenWidth": 320, "screenHeight": 480, "maker": "Palm", "osVersion": "5.2",
//               "controlsUpright": false, "formats": ["adpcm", "adpcm4", "uncompressed"], "maxChannels": 2}}
//
// Formats go by their command-line names (moviedb/formats.h): video color,
// grays or none; sound none, adpcm, adpcm4, uncompressed (mono or stereo as
// "channels" says), yamaha or clie. "fps" is a number or "best" (every
// source frame); "angle" turns a 480 × 320 or 320 × 480 movie by -90, 0 or
// 90 degrees; "rate" is in hertz and "bitRate" (the CLIÉ Audio bit rate) in
// bits per second; "maker" is a maker's name (or its number when the maker
// table has none); "osVersion" is the lowest Palm OS, "major.minor" (or
// the whole 32-bit number when it has more).
#pragma once

#include <string>
#include <string_view>

#include "platform/atoms.h"
#include "platform/status.h"

// The preset as JSON, its values as UnpackSettings reads them; sound values
// that a conversion replaces (a rate the sound format does not play, the
// channels of a mono-only format, a bit rate CLIÉ Audio does not take) are
// written as the conversion uses them.
// paramErr for a null preset or one whose video format or offered sound
// formats have no command-line name; memFullErr when memory runs out.
[[nodiscard]] OSErr ExportPresetJson(const AtomContainer& preset, std::string& json);

// A preset from JSON as ExportPresetJson writes it, packed as PackSettings
// packs one. "format", "version" and "name" are needed; any other field
// left out takes the value a preset has without it (a left-out rate: the
// one the sound format falls back to); a field not named above is refused.
// Every value is checked: fps 1 to 60 or "best", kbps 16 to 4000, width and
// height 16 to 480, the sound rate one the sound format plays, channels 1
// or 2 (1 for yamaha), the CLIÉ Audio bit rate one it takes, boost 0 to 3,
// the names as NormalisePresetName takes them. paramErr when anything is
// wrong, with `problem` one line naming the field and what it takes;
// `preset` then stays as it was. memFullErr when memory runs out.
[[nodiscard]] OSErr ImportPresetJson(std::string_view json, AtomContainer& preset, std::string& problem);
