// The one call that shows a finished movie database as the handheld plays
// it, in files anyone can open: an ordinary video of its pictures, upright
// and enlarged, with its sound, and a contact sheet of pictures spread over
// its length. The command line and the window's player read the same
// decoders.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/status.h"
#include "video/handheldscreen.h"

// Hears how a render goes; answering false to Progress cancels it.
class RenderSink {
public:
    virtual ~RenderSink() = default;
    // 0 to 1000.
    virtual bool Progress(int /*permille*/) { return true; }
};

struct RenderJob {
    FileSpec database;
    FileSpec key;   // the scrambling key (512 bytes) of a scrambled movie
    FileSpec video; // .mp4, .mkv, .mov; empty for none
    FileSpec sheet; // .png; empty for none
    int sheetPictures = 12;
    int scale = 2; // each handheld pixel as scale × scale pixels, 1 to 8
    // The whole screen of this handheld around the movie (its layout's
    // colour, picture and control margins); none: the pictures alone.
    HandheldShape device;
    // As a 256-colour handheld shows a colour movie: every colour through
    // the movie's palette.
    bool paletteScreen = false;
    RenderSink* sink = nullptr;
};

struct RenderReport {
    OSErr status = noErr;
    std::string detail;           // what the status is about, when known
    std::uint32_t width = 0, height = 0; // of the pictures written, upright and enlarged
    std::size_t pictures = 0;     // shown in the video
    std::uint64_t durationHundredths = 0;
    bool sound = false;
};

// Writes what the job asks for; neither file is left half-written.
[[nodiscard]] OSErr RenderMovie(const RenderJob& job, RenderReport& report);
