// The sound side of a conversion: the writer's sound settings and the pump through the converter.
#include "engine/audiopump.h"

#include <cstring>

#include "audio/soundinput.h"

OSErr ConfigureAudio(const ExportSettings& s, std::uint16_t sourceChannels, MovieWriter* writer, AudioOutput& out) {
    AudioOutput o;
    // A stereo setting over a mono source stays mono.
    o.channels = s.channels == 2 && sourceChannels == 1 ? 1 : s.channels;
    o.sampleRate = s.soundFormat == kSoundClieAudio ? 44100 : UnsignedFixedIntegerPart(s.sampleRate);
    o.bitsPerSample = s.soundFormat == kSoundUncompressedMono ? 8 : 16;
    // Records of about a second, or less where the player wants it.
    const std::uint32_t rate = o.sampleRate;
    switch (s.soundFormat) {
    case kSoundClieAudio: o.samplesPerRecord = 7350; break;
    case kSoundAdpcm2to1:
    case kSoundAdpcm4to1: o.samplesPerRecord = rate % 256 != 0 ? rate / 5 : rate; break;
    case kSoundYamahaAdpcm: o.samplesPerRecord = rate / 5; break;
    case kSoundUncompressedStereo: o.samplesPerRecord = rate > 8192 ? rate / 4 : rate; break;
    default: o.samplesPerRecord = rate; break;
    }

    WaveFormat format;
    format.channels = o.channels;
    format.sampleRate = rate;
    format.bitsPerSample = o.bitsPerSample;
    if (OSErr err = SetWriterParameter(writer, kWriterSoundLeadIn, 2 * static_cast<std::intptr_t>(rate))) return err;
    if (OSErr err = SetInterleave(writer, static_cast<std::int32_t>(rate), 100)) return err;
    if (OSErr err = SetWriterParameter(writer, kWriterSamplesPerRecord, o.samplesPerRecord)) return err;
    if (OSErr err = SetWriterParameter(writer, kWriterAtracChannelMode, o.channels == 2 ? 2 : 1)) return err;
    if (OSErr err = SetSoundFormat(writer, format)) return err;
    if (OSErr err = SetWriterParameter(writer, kWriterBoost, s.boost)) return err;
    if (OSErr err = SetAudioFormatCode(writer, s.soundFormat)) return err;
    if (OSErr err = SetWriterParameter(writer, kWriterAtracBitRate, s.bitRate)) return err;
    out = o;
    return noErr;
}

AudioPump::AudioPump(const AudioOutput& output, std::int64_t durationMs) : output_(output), durationMs_(durationMs) {}
AudioPump::~AudioPump() = default;

OSErr AudioPump::Deliver(MovieWriter* writer) {
    if (converted_.Empty()) return noErr;
    const std::uint32_t frameBytes = output_.bitsPerSample / 8u * output_.channels;
    std::uint32_t bytes = converted_.Size() / frameBytes * frameBytes;
    std::uint32_t kept = 0;
    if (halving_) {
        // 4096 Hz: each frame the mean of two frames the converter made at
        // 8192 Hz. An odd frame waits for its partner in the next chunk, so
        // that no sound is lost and the pairs never slip.
        auto* s = reinterpret_cast<std::int16_t*>(converted_.Data());
        const std::uint32_t frames = bytes / frameBytes / 2;
        for (std::uint32_t f = 0; f < frames; ++f)
            for (std::uint16_t c = 0; c < output_.channels; ++c) {
                const int a = s[(2 * f) * output_.channels + c], b = s[(2 * f + 1) * output_.channels + c];
                s[f * output_.channels + c] = static_cast<std::int16_t>((a + b) >> 1);
            }
        kept = bytes / frameBytes % 2;
        if (kept) std::memmove(s + frames * output_.channels, s + 2 * frames * output_.channels, frameBytes);
        bytes = frames * frameBytes;
    }
    OSErr err = noErr;
    if (bytes > 0) err = WriteAudioSamples(writer, converted_.Data(), bytes, bytes / frameBytes);
    deliveredFrames_ += static_cast<double>(bytes / frameBytes);
    if (kept) {
        // The waiting frame moves to the front.
        std::memmove(converted_.Data(), converted_.Data() + bytes, frameBytes);
        (void)converted_.Resize(frameBytes);
    } else {
        converted_.Clear();
    }
    return err;
}

OSErr AudioPump::Pump(SoundSource& source, MovieWriter* writer) {
    SoundChunk chunk;
    OSErr got = source.GetChunk(chunk);
    if (got == noErr && durationMs_ > 0 && seconds_ * 1000.0 >= static_cast<double>(durationMs_)) got = eofErr;
    if (got != noErr) {
        // The end: the converter's tail, then done.
        if (converter_) {
            if (OSErr err = converter_->End(converted_)) return err;
            if (OSErr err = Deliver(writer)) return err;
            converter_.reset();
        }
        return got;
    }
    if (chunk.seed != seed_ || !converter_) {
        // A new description gets a new converter; the old one's tail is dropped.
        SoundOutputFormat format;
        format.format = output_.bitsPerSample == 8 ? kSoundU8 : kSoundS16;
        format.channels = output_.channels;
        format.sampleRate = output_.sampleRate;
        halving_ = output_.bitsPerSample == 16 && output_.sampleRate == 4096;
        if (halving_) format.sampleRate = 8192;
        auto converter = std::make_unique<SoundConverter>();
        if (OSErr err = converter->Open(chunk.description, format)) return err;
        converter_ = std::move(converter);
        seed_ = chunk.seed;
    }
    if (OSErr err = converter_->Convert(chunk.data, converted_)) return err;
    if (OSErr err = Deliver(writer)) return err;
    const double chunkSeconds = static_cast<double>(chunk.sampleCount) / UnsignedFixedToDouble(chunk.description.sampleRate);
    seconds_ += chunkSeconds;
    expectedFrames_ += chunkSeconds * output_.sampleRate;
    return noErr;
}
