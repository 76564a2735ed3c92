// The ATRAC3 encoder's modules and its working memory. Private to the
// library (and its tests): the system sees only at3enc.h.
#pragma once

#include <cstdint>

#include "audio/atrac3/at3enc.h"

inline constexpr int kAt3Bands = 4;          // QMF bands
inline constexpr int kAt3BandLines = 256;    // spectral lines per band
inline constexpr int kAt3Lines = 1024;       // spectral lines per frame
inline constexpr int kAt3Subbands = 32;      // spectral subbands
inline constexpr int kAt3QmfTaps = 48;
inline constexpr int kAt3QmfHistory = kAt3QmfTaps - 2;
inline constexpr int kAt3MaxGainPoints = 7;

// Where each spectral subband starts; the last entry closes the spectrum.
extern const std::uint16_t kAt3SubbandStart[kAt3Subbands + 1];
// Scale factors: 2^((i - 15) / 3).
extern const float kAt3ScaleFactor[64];
// Quantiser range per selector: the largest mantissa plus one half.
extern const float kAt3MaxQuant[8];
inline constexpr int kAt3MaxMantissa[8] = {0, 1, 2, 3, 4, 7, 15, 31};

// ---- cpuid ----
At3Cpu At3CpuFromFeatures(std::uint32_t edx);

// ---- PACKMSB: bits into bytes, most significant bit first ----
class At3BitWriter {
public:
    At3BitWriter(std::uint8_t* out, int bytes) : out_(out), limit_(bytes * 8) {}
    // Writes the low `count` bits of `value`; answers false past the end.
    bool Put(std::uint32_t value, int count);
    int Used() const { return used_; }

private:
    std::uint8_t* out_;
    int limit_;
    int used_ = 0;
};

// ---- HUFF_AT2: the spectral code tables ----
struct At3Code {
    std::uint8_t bits;
    std::uint8_t code;
};
// The code of a mantissa (selectors 2 to 7) or of a mantissa pair (selector 1).
At3Code At3HuffCode(int selector, int mantissa);
At3Code At3HuffPairCode(int first, int second);

// ---- CALCBITS: the bits a subband's mantissas take ----
int At3ClcBits(int selector, int count);
int At3VlcBits(int selector, const int* mantissas, int count);

// ---- encode_at2: quantising and writing a channel's sound unit ----
struct At3GainInfo {
    int count = 0;
    int level[kAt3MaxGainPoints] = {};
    int location[kAt3MaxGainPoints] = {};
};

struct At3Allocation {
    int codedSubbands = 0; // subbands signalled (the last index plus one)
    bool clc = false;      // constant-length codes for the whole unit
    int selector[kAt3Subbands] = {};
    int scaleIndex[kAt3Subbands] = {};
    bool deadZone[kAt3Subbands] = {};
};

// Tonal components: short runs of lines around spectral peaks, coded with
// their own scale factor at the finest selector and added back to the
// spectrum by the decoder; the rest of the spectrum is then coded around them.
inline constexpr int kAt3TonalValues = 4;    // lines per component
inline constexpr int kAt3TonalSelector = 7;
inline constexpr int kAt3MaxTonal = 24;
struct At3Tonal {
    int count = 0;
    bool clc = false;
    int position[kAt3MaxTonal] = {}; // first line, in rising order
    int scaleIndex[kAt3MaxTonal] = {};
    int mantissa[kAt3MaxTonal][kAt3TonalValues] = {};
};
// Takes up to `wanted` components at the largest peaks below `limitLine`
// out of `spectrum`, leaving the rest in `residual`.
void At3ExtractTonal(const float* spectrum, int limitLine, int wanted, At3Tonal& tonal, float* residual);
// The bits the tonal part of a unit takes (5 when there is none).
int At3TonalBits(const At3Tonal& tonal, int bandsCoded);

// Mantissas of `count` lines at a selector and scale factor; answers the
// squared error of their reconstruction.
float At3Quantise(const float* lines, int count, int selector, int scaleIndex, int* mantissas, bool deadZone = false);
// The smallest scale factor index at least `peak`.
int At3ScaleIndexFor(float peak);
// Bits of the unit's fixed part: id, band count, gain data, spectrum header
// (the tonal part not included).
int At3FixedBits(int bandsCoded, const At3GainInfo* gains);
// Packs one sound unit (the spectrum less its tonal components); false when
// it does not fit `bytes`.
bool At3WriteSoundUnit(const float* spectrum, int bandsCoded, const At3GainInfo* gains, const At3Tonal& tonal,
                       const At3Allocation& allocation, std::uint8_t* out, int bytes);

// ---- dba_at2: the bit allocation that fills a channel's budget ----
// Answers the squared error the allocation leaves.
float At3AllocateBits(const float* spectrum, int limitLine, int budgetBits, At3Allocation& allocation);
// The whole unit's choice: with or without tonal components, whichever
// leaves less error. `residual` receives the spectrum less the components.
void At3ChooseCoding(const float* spectrum, int limitLine, int bandsCoded, int budgetBits, At3Tonal& tonal,
                     float* residual, At3Allocation& allocation);

// ---- QMF, MDCT: the processor-specific kernels ----
struct At3Kernels {
    // Splits `count` samples into two half-rate bands; `history` holds the
    // last kAt3QmfHistory input samples and `work` room for count + history.
    void (*qmfSplit)(const float* in, int count, float* low, float* high, float* history, float* work);
    // The 256-point type-IV DCT.
    void (*dct4)(const float* in, float* out);
};
At3Kernels At3KernelsFor(At3Cpu cpu);
void At3QmfSplitPlain(const float* in, int count, float* low, float* high, float* history, float* work);
void At3Dct4Plain(const float* in, float* out);
void At3Dct4Sse(const float* in, float* out);
// Windowed MDCT of 512 samples into 256 lines (spectrum scaled to sample units).
void At3Mdct(const At3Kernels& kernels, const float* in, float* lines);

// ---- GAINC: gain control for transients ----
// Chooses the gain points of a band's newest 256 samples; `previousPeak` is
// the largest magnitude of the first half of the window as it is coded.
void At3DetectGain(const float* band, float previousPeak, At3GainInfo& gain);
// The level curve the decoder applies over one 256-sample stretch.
void At3GainCurve(const At3GainInfo& gain, float* curve);

// ---- The working memory ----
struct alignas(32) At3ChannelState {
    float qmfHistory[3][kAt3QmfHistory] = {};
    float previous[kAt3Bands][kAt3BandLines] = {}; // each band's last 256 samples
    At3GainInfo previousGain[kAt3Bands];           // the gain sent with them
    int budgetBytes = 0;
    int limitLine = 0;
    int bandsCoded = 0; // QMF bands below the band limit, less one
};

struct alignas(32) At3EncState {
    At3Kernels kernels{};
    bool gainControl = true;
    At3ChannelState channel[2];
    alignas(32) float input[2][kAt3FrameSamples];
    alignas(32) float half[2][kAt3FrameSamples / 2];
    alignas(32) float band[kAt3Bands][kAt3BandLines];
    alignas(32) float work[kAt3FrameSamples + kAt3QmfHistory];
    alignas(32) float window[2 * kAt3BandLines];
    alignas(32) float curve[kAt3BandLines];
    alignas(32) float spectrum[kAt3Lines];
    alignas(32) float residual[kAt3Lines];
    At3GainInfo gains[kAt3Bands];
};

// ---- DATAIO ----
// De-interleaves `sampleCount` samples of `channelCount` channels into
// `channels` float channels of 1024 samples (silence after the input; two
// input channels averaged for one, one copied to two).
void At3ReadSamples(const std::int16_t* samples, int sampleCount, int channelCount, int channels,
                    float (*out)[kAt3FrameSamples]);

// ---- T2F_AT3: time to frequency ----
// One channel's 1024 new samples to its 1024 spectral lines and the gain
// data of each coded band.
void At3TimeToFrequency(At3EncState& state, At3ChannelState& channel, const float* input, float* spectrum,
                        At3GainInfo* gains);
