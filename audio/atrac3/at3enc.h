// "CLIÉ Audio": an ATRAC3 encoder for the small frames Sony's handhelds play.
//
// One encoder per conversion: open it with a bit-rate code and a channel
// mode, give it 1024 sample frames at 44100 Hz per call, in order and
// without gaps (the transforms overlap from frame to frame), and close it.
// Every frame comes out at exactly the size the code and mode fix.
#pragma once

#include <cstdint>
#include <memory>

// Channel modes: one channel; two independent channels of equal budget;
// "Dual", two coded channels of unequal budget, the second one narrow.
inline constexpr int kAt3Mono = 1;
inline constexpr int kAt3Stereo = 2;
inline constexpr int kAt3Dual = 18;

// Answers of the interface (the library's own, not the system's status codes).
inline constexpr int kAt3Ok = 0;
inline constexpr int kAt3Failed = -1;     // set-up or internal failure
inline constexpr int kAt3Refused = -3;    // code or code/mode combination refused
inline constexpr int kAt3EndOfInput = 1;  // two frames after a short call

inline constexpr int kAt3FrameSamples = 1024; // sample frames per channel per frame
inline constexpr int kAt3SampleRate = 44100;

// Processor levels, chosen at open from the processor's feature flags: the
// "KNI" (SSE) and "MMX" variants of the signal-processing modules, or the
// plain ones. Every variant gives identical frames.
enum class At3Cpu : int { kPlain = 0, kMmx = 1, kKni = 2 };

struct At3EncState;

struct At3EncContext {
    At3EncContext();
    ~At3EncContext();
    At3EncContext(const At3EncContext&) = delete;
    At3EncContext& operator=(const At3EncContext&) = delete;

    int channelMode = 0;
    int channels = 0;
    int sampleRate = kAt3SampleRate;
    int channelBytes[2] = {0, 0}; // byte budget of each channel's sound unit
    int bandLimit[2] = {0, 0};    // Hz; nothing is coded above it
    int frameBytes = 0;           // the size of every frame
    int clearBytes = 0;           // the output area cleared before packing
    At3Cpu cpu = At3Cpu::kPlain;
    int inputHistory[3] = {kAt3FrameSamples, kAt3FrameSamples, kAt3FrameSamples}; // samples per channel, newest last

    std::unique_ptr<At3EncState> state; // the working memory, allocated at open
};

// Opens the encoder: kAt3Ok, kAt3Refused or kAt3Failed.
int At3EncOpen(int bitRateCode, int channelMode, At3EncContext& context);
// The same at a given processor level (the tests compare the variants).
int At3EncOpenAt(int bitRateCode, int channelMode, At3Cpu cpu, At3EncContext& context);

// Encodes one frame. `samples`: `sampleCount` interleaved 16-bit samples of
// `channelCount` channels (normally 1024 × channelCount; fewer are padded
// with silence). `output` receives exactly frameBytes bytes. `frameIndex` is
// the number of frames encoded before this one.
int At3EncFrame(const std::int16_t* samples, std::uint8_t* output, At3EncContext& context, int sampleCount,
                int channelCount, int frameIndex);

// Releases what the open allocated; the context may be opened again.
void At3EncClose(At3EncContext& context);

// The processor level this machine gives.
At3Cpu At3DetectCpu();
