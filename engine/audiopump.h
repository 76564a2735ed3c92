// The sound side of a conversion: the writer's sound parameters worked out
// from the settings, and the pump that moves the source's sound, converted
// to the output format, into the writer chunk by chunk.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/exportsettings.h"
#include "moviedb/moviewriter.h"
#include "platform/media.h"

// The output the converter delivers: what ConfigureAudio chose.
struct AudioOutput {
    std::uint16_t channels = 1;
    std::uint32_t sampleRate = 8000;
    std::uint16_t bitsPerSample = 16;
    std::uint32_t samplesPerRecord = 8000;
};

// Gives the writer its sound parameters, in the order the writer expects
// them. `sourceChannels` is the channel count of the source's sound.
[[nodiscard]] OSErr ConfigureAudio(const ExportSettings& settings, std::uint16_t sourceChannels, MovieWriter* writer,
                                   AudioOutput& output);

class AudioPump {
public:
    // `durationMs`: the source movie's duration; sound beyond it is not taken.
    AudioPump(const AudioOutput& output, std::int64_t durationMs);
    ~AudioPump();

    // Moves one chunk of sound into the writer; eofErr at the end of the
    // sound (after the converter's tail was written).
    [[nodiscard]] OSErr Pump(SoundSource& source, MovieWriter* writer);
    // How far the sound has got, in milliseconds of the source.
    std::int64_t ProgressMs() const { return static_cast<std::int64_t>(seconds_ * 1000.0); }
    // After the end: true when the source had sound but the converter gave
    // less than half of what its length asks for (a sound at a rate no
    // output rate can be made from, such as 1 Hz).
    bool SoundLost() const { return expectedFrames_ > 0 && deliveredFrames_ * 2 < expectedFrames_; }

private:
    [[nodiscard]] OSErr Deliver(MovieWriter* writer);

    AudioOutput output_;
    std::int64_t durationMs_;
    std::unique_ptr<SoundConverter> converter_;
    std::int32_t seed_ = -1;
    bool halving_ = false;
    double seconds_ = 0;
    double expectedFrames_ = 0, deliveredFrames_ = 0; // in output frames
    ByteBlock converted_;
};
