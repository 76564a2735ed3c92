// Playing a finished movie database on the desktop as the handheld would:
// the screen at any time (found through the seek tables, as the handheld
// seeks) and the sound streamed from any time. The window's player shows
// what this reports; the render writes the same screens to a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/media.h"
#include "platform/status.h"
#include "video/handheldscreen.h"

// A time in hundredths as the player and the sheet show it: "m:ss.s".
std::string PlayingTime(std::uint64_t hundredths);

struct PlaybackJob {
    FileSpec database;
    FileSpec key;          // the scrambling key (512 bytes) of a scrambled movie
    HandheldShape device;  // the screen around the movie; none: the pictures alone
    bool paletteScreen = false; // as a 256-colour handheld shows a colour movie
};

class MoviePlayback {
public:
    MoviePlayback();
    ~MoviePlayback();
    MoviePlayback(const MoviePlayback&) = delete;
    MoviePlayback& operator=(const MoviePlayback&) = delete;

    // Reads and lays out the movie. On failure `problem` says why in words.
    [[nodiscard]] OSErr Open(const PlaybackJob& job, std::string& problem);

    std::uint64_t Duration() const; // hundredths of a second
    bool HasPictures() const;
    // The screen's size, upright and unscaled.
    int Width() const;
    int Height() const;
    // Whether the movie carries the palette a 256-colour screen shows it with.
    bool HasPalette() const;
    // Changes the view of the screens from then on.
    void SetPaletteScreen(bool on);

    // The screen showing at a time, each pixel `scale` × `scale`; a movie
    // without pictures shows the player's blank screen.
    [[nodiscard]] OSErr ScreenAt(std::uint64_t hundredths, int scale, FrameBuffer& out);
    // When the screen next changes after a time: the next picture's start,
    // or the movie's end.
    std::uint64_t NextChange(std::uint64_t hundredths) const;

    std::uint16_t Channels() const; // 0 without sound
    std::uint32_t SampleRate() const;
    // Starts the sound at a time: the chunk holding it is found through the
    // sound seek table and decoded afresh.
    [[nodiscard]] OSErr SeekSound(std::uint64_t hundredths);
    // The next `frames` sample frames (fewer at the end; none after it),
    // channels interleaved.
    [[nodiscard]] OSErr ReadSound(std::size_t frames, std::vector<std::int16_t>& out);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};
