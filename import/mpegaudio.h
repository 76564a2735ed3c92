// MPEG-1 audio, Layers I and II: the frame header and our own decoder, in
// the structure of the ISO/IEC 11172-3 reference decoder. Its tables (the
// Layer II bit allocations and the synthesis window) are the 'MPTB' text
// resources; bit rates and sampling rates come from the export component's
// table block (144 bit rates in kbit/s, then 12 sampling rates).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/status.h"

inline constexpr int kMpegTableEntries = 156;

struct MpegHeader {
    int version = 0;    // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int layer = 0;      // 0 Layer I, 1 Layer II, 2 Layer III
    bool protection = false;
    int bitRateIndex = 0, samplingIndex = 0;
    int padding = 0, privateBit = 0, mode = 0, modeExtension = 0, flags = 0, emphasis = 0;
    int channels = 0;
    int bitRate = 0;    // kbit/s
    int sampleRate = 0; // Hz
    int samplesPerFrame = 0;
    int frameLength = 0; // bytes, header included
};

// The bit-rate and sampling-rate tables from the application's 'MPBR' and
// 'MPSR' resources, in host order; memFullErr when either is missing (the
// export component's answer when it cannot have them).
[[nodiscard]] OSErr ReadMpegRateTables(std::span<std::uint32_t, kMpegTableEntries> out);

// Parses a header word; false when it is not a valid one (the top 11 bits
// set, a bit rate and a sampling rate in the tables).
bool ParseMpegHeader(std::uint32_t word, std::span<const std::uint32_t> tables, MpegHeader& out);

class MpegAudioDecoder {
public:
    MpegAudioDecoder();
    ~MpegAudioDecoder();
    MpegAudioDecoder(const MpegAudioDecoder&) = delete;
    MpegAudioDecoder& operator=(const MpegAudioDecoder&) = delete;

    // Allocates the buffers, computes the synthesis matrix and reads the
    // tables; memFullErr, or resNotFound when a table is missing.
    [[nodiscard]] OSErr Start();
    // Decodes one frame (header included) into interleaved 16-bit samples
    // (room for 1152 × 2); `sampleFrames` is 384 for Layer I, 1152 for
    // Layer II, 0 for other layers. paramErr for a frame that cannot be
    // decoded.
    [[nodiscard]] OSErr DecodeFrame(std::span<const std::uint8_t> frame, std::span<const std::uint32_t> tables,
                                    int& sampleFrames, std::int16_t* pcm);

    struct State;

private:
    std::unique_ptr<State> state_;
};
