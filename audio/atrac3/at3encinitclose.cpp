// Opening and closing the encoder: the table of bit-rate codes and channel
// modes, and the working memory.
#include <new>

#include "audio/atrac3/at3internal.h"

namespace {

struct ModeEntry {
    int code;
    int mode;
    int bytes[2]; // each channel's budget
    int limit[2]; // each channel's band limit in Hz
};

// The frame size is the sum of the channel budgets; a "Dual" frame gives
// its second channel only a sliver of the spectrum.
constexpr ModeEntry kModes[] = {
    {12, kAt3Mono, {34, 0}, {2000, 0}},
    {16, kAt3Mono, {48, 0}, {3100, 0}},
    {24, kAt3Mono, {68, 0}, {6800, 0}},
    {24, kAt3Stereo, {34, 34}, {2000, 2000}},
    {33, kAt3Mono, {96, 0}, {8200, 0}},
    {33, kAt3Stereo, {48, 48}, {3100, 3100}},
    {33, kAt3Dual, {91, 5}, {5500, 100}},
    {47, kAt3Mono, {136, 0}, {11000, 0}},
    {47, kAt3Stereo, {68, 68}, {5500, 5500}},
    {47, kAt3Dual, {131, 5}, {6800, 100}},
    {66, kAt3Mono, {192, 0}, {16500, 0}},
    {66, kAt3Stereo, {96, 96}, {8200, 8200}},
    {66, kAt3Dual, {146, 46}, {12400, 3100}},
};

const ModeEntry* FindMode(int code, int mode) {
    // A mode of 0 means the code's natural one: mono where only mono (or
    // mono and stereo) exist, "Dual" where all three do.
    if (mode == 0) mode = (code == 12 || code == 16 || code == 24) ? kAt3Mono : kAt3Dual;
    for (const ModeEntry& entry : kModes)
        if (entry.code == code && entry.mode == mode) return &entry;
    return nullptr;
}

} // namespace

At3EncContext::At3EncContext() = default;
At3EncContext::~At3EncContext() = default;

int At3EncOpen(int bitRateCode, int channelMode, At3EncContext& context) {
    return At3EncOpenAt(bitRateCode, channelMode, At3DetectCpu(), context);
}

int At3EncOpenAt(int bitRateCode, int channelMode, At3Cpu cpu, At3EncContext& context) {
    const ModeEntry* entry = FindMode(bitRateCode, channelMode);
    if (entry == nullptr) return kAt3Refused;
    auto state = std::unique_ptr<At3EncState>(new (std::nothrow) At3EncState());
    if (!state) return kAt3Failed;
    state->kernels = At3KernelsFor(cpu);

    context.channelMode = entry->mode;
    context.channels = entry->mode == kAt3Mono ? 1 : 2;
    context.sampleRate = kAt3SampleRate;
    context.frameBytes = 0;
    for (int ch = 0; ch < 2; ++ch) {
        context.channelBytes[ch] = entry->bytes[ch];
        context.bandLimit[ch] = entry->limit[ch];
        context.frameBytes += entry->bytes[ch];
        At3ChannelState& channel = state->channel[ch];
        channel.budgetBytes = entry->bytes[ch];
        // Line i covers (i .. i + 1) × 22050 / 1024 Hz; a line counts as
        // below the limit when it lies wholly below it.
        channel.limitLine = entry->limit[ch] * kAt3Lines / (kAt3SampleRate / 2);
        channel.bandsCoded = channel.limitLine > 0 ? (channel.limitLine - 1) / kAt3BandLines : 0;
    }
    context.clearBytes = context.frameBytes;
    context.cpu = cpu;
    for (int& count : context.inputHistory) count = kAt3FrameSamples;
    context.state = std::move(state);
    return kAt3Ok;
}

void At3EncClose(At3EncContext& context) {
    context.state.reset();
}
