// Encoding one frame: per channel the spectrum, the bit allocation for the
// channel's budget and the packed sound unit, channel 1 first.
#include <algorithm>
#include <cstring>

#include "audio/atrac3/at3internal.h"

namespace {
// The library's end-of-input rule: two frames after a call with fewer than
// this many samples per channel.
constexpr int kShortInput = 883;
} // namespace

int At3EncFrame(const std::int16_t* samples, std::uint8_t* output, At3EncContext& context, int sampleCount,
                int channelCount, [[maybe_unused]] int frameIndex) {
    // Frames are coded independently; only their order matters, so the
    // frame's index changes nothing.
    At3EncState* state = context.state.get();
    if (state == nullptr || output == nullptr || channelCount < 1 || channelCount > 2 || sampleCount < 0 ||
        (samples == nullptr && sampleCount > 0))
        return kAt3Failed;
    std::memset(output, 0, static_cast<std::size_t>(context.clearBytes));

    context.inputHistory[0] = context.inputHistory[1];
    context.inputHistory[1] = context.inputHistory[2];
    context.inputHistory[2] = sampleCount / channelCount;
    if (context.inputHistory[0] < kShortInput) return kAt3EndOfInput;

    At3ReadSamples(samples, std::min(sampleCount, kAt3FrameSamples * channelCount), channelCount,
                   context.channels, state->input);
    int offset = 0;
    for (int ch = 0; ch < context.channels; ++ch) {
        At3ChannelState& channel = state->channel[ch];
        At3TimeToFrequency(*state, channel, state->input[ch], state->spectrum, state->gains);
        for (int i = channel.limitLine; i < kAt3Lines; ++i) state->spectrum[i] = 0;
        const int budget = channel.budgetBytes * 8 - At3FixedBits(channel.bandsCoded, state->gains);
        At3Allocation allocation;
        At3Tonal tonal;
        At3ChooseCoding(state->spectrum, channel.limitLine, channel.bandsCoded, budget, tonal, state->residual,
                        allocation);
        if (!At3WriteSoundUnit(state->residual, channel.bandsCoded, state->gains, tonal, allocation, output + offset,
                               channel.budgetBytes))
            return kAt3Failed;
        offset += channel.budgetBytes;
    }
    return kAt3Ok;
}
