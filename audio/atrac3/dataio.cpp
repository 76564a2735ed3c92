// Sample input: interleaved 16-bit samples to one float row per channel.
#include "audio/atrac3/at3internal.h"

void At3ReadSamples(const std::int16_t* samples, int sampleCount, int channelCount, int channels,
                    float (*out)[kAt3FrameSamples]) {
    const int frames = channelCount > 0 ? sampleCount / channelCount : 0;
    for (int i = 0; i < kAt3FrameSamples; ++i) {
        float s[2] = {0, 0};
        if (i < frames) {
            s[0] = samples[i * channelCount];
            s[1] = channelCount > 1 ? samples[i * channelCount + 1] : s[0];
            // A two-channel input to a one-channel encoder is mixed down.
            if (channels == 1 && channelCount > 1) s[0] = (s[0] + s[1]) * 0.5f;
        }
        for (int ch = 0; ch < channels; ++ch) out[ch][i] = s[ch];
    }
}
