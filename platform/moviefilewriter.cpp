// Video files and PNG pictures through the media libraries' encoders.
#include "platform/moviefilewriter.h"

#include <algorithm>

#include "platform/libav.h"

extern "C" {
#include <libavutil/audio_fifo.h>
}

namespace {

// A status for a media library's error: the system's reason where it gave
// one (a full disk, a folder not writable), else an I/O error.
OSErr StatusOf(int error) {
    if (error >= 0) return noErr;
    if (error == AVERROR(ENOMEM)) return memFullErr;
    if (-error > 0 && -error < 4096) return StatusFromErrno(-error);
    return ioErr;
}

struct OutputCloser {
    void operator()(AVFormatContext* c) const {
        if (c == nullptr) return;
        if (c->pb != nullptr && !(c->oformat->flags & AVFMT_NOFILE)) avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct FifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

// The encoder's own rate when it takes this one, else the lowest it takes
// above (AAC has no 8192 Hz), else its highest.
int EncodableRate(const AVCodec* encoder, int rate) {
    if (encoder->supported_samplerates == nullptr) return rate;
    int best = 0, highest = 0;
    for (const int* r = encoder->supported_samplerates; *r != 0; ++r) {
        if (*r == rate) return rate;
        if (*r > rate && (best == 0 || *r < best)) best = *r;
        highest = std::max(highest, *r);
    }
    return best != 0 ? best : highest;
}

} // namespace

struct MovieFileWriter::Impl {
    FileSpec final, partial;
    // Declared before the output, so that an unfinished file is closed
    // before it is deleted.
    ScopedFileDeletion unfinished;
    std::unique_ptr<AVFormatContext, OutputCloser> output;
    ff::CodecPtr video, sound;
    AVStream* videoStream = nullptr;
    AVStream* soundStream = nullptr;
    ff::SwsPtr scaler;
    ff::SwrPtr resampler;
    std::unique_ptr<AVAudioFifo, FifoFreer> waiting; // resampled sound not yet a whole encoder frame
    ff::FramePtr picture, soundFrame, converted;
    ff::PacketPtr packet;
    std::uint16_t channels = 0;
    std::int64_t soundTime = 0; // in the encoder's samples
    bool finished = false;

    OSErr OpenVideo(std::int32_t width, std::int32_t height, std::int32_t timeScale);
    OSErr OpenSound(std::uint32_t rate, std::uint16_t channels);
    OSErr Send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame);
    OSErr EncodeWaitingSound(bool all);
};

MovieFileWriter::MovieFileWriter() = default;
MovieFileWriter::~MovieFileWriter() = default;

OSErr MovieFileWriter::Impl::OpenVideo(std::int32_t width, std::int32_t height, std::int32_t timeScale) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (encoder == nullptr) encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (encoder == nullptr) return noCodecErr;
    video.reset(avcodec_alloc_context3(encoder));
    if (!video) return memFullErr;
    video->width = width;
    video->height = height;
    video->time_base = {1, timeScale};
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->gop_size = 2 * timeScale; // a key frame every few seconds keeps seeking in players quick
    if (output->oformat->flags & AVFMT_GLOBALHEADER) video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // Handheld pictures are small: near-transparent quality costs little.
    av_opt_set(video->priv_data, "preset", "veryfast", 0);
    av_opt_set(video->priv_data, "crf", "16", 0);
    video->thread_count = 0; // the encoder's own threads, one a core: it is most of a render's time
    if (int err = avcodec_open2(video.get(), encoder, nullptr); err < 0) return StatusOf(err);
    videoStream = avformat_new_stream(output.get(), nullptr);
    if (videoStream == nullptr) return memFullErr;
    videoStream->time_base = video->time_base;
    if (int err = avcodec_parameters_from_context(videoStream->codecpar, video.get()); err < 0) return StatusOf(err);

    picture.reset(av_frame_alloc());
    if (!picture) return memFullErr;
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    if (int err = av_frame_get_buffer(picture.get(), 0); err < 0) return StatusOf(err);
    scaler.reset(sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P, ff::ScalingFlags(false),
                                nullptr, nullptr, nullptr));
    return scaler ? noErr : memFullErr;
}

OSErr MovieFileWriter::Impl::OpenSound(std::uint32_t rate, std::uint16_t count) {
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (encoder == nullptr) return noCodecErr;
    sound.reset(avcodec_alloc_context3(encoder));
    if (!sound) return memFullErr;
    channels = count;
    av_channel_layout_default(&sound->ch_layout, count);
    sound->sample_rate = EncodableRate(encoder, static_cast<int>(rate));
    sound->sample_fmt = encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    sound->bit_rate = 64000 * count;
    sound->time_base = {1, sound->sample_rate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER) sound->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int err = avcodec_open2(sound.get(), encoder, nullptr); err < 0) return StatusOf(err);
    soundStream = avformat_new_stream(output.get(), nullptr);
    if (soundStream == nullptr) return memFullErr;
    soundStream->time_base = sound->time_base;
    if (int err = avcodec_parameters_from_context(soundStream->codecpar, sound.get()); err < 0) return StatusOf(err);

    SwrContext* raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &sound->ch_layout, sound->sample_fmt, sound->sample_rate, &sound->ch_layout,
                            AV_SAMPLE_FMT_S16, static_cast<int>(rate), 0, nullptr) < 0)
        return memFullErr;
    resampler.reset(raw);
    if (int err = swr_init(resampler.get()); err < 0) return StatusOf(err);
    waiting.reset(av_audio_fifo_alloc(sound->sample_fmt, count, 4096));
    soundFrame.reset(av_frame_alloc());
    converted.reset(av_frame_alloc());
    return waiting && soundFrame && converted ? noErr : memFullErr;
}

OSErr MovieFileWriter::Create(const FileSpec& path, std::int32_t width, std::int32_t height, std::int32_t timeScale,
                              std::uint32_t rate, std::uint16_t channels) {
    impl_ = std::make_unique<Impl>();
    Impl& m = *impl_;
    if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0 || timeScale <= 0) return paramErr;
    if (NameTaken(path)) return dupFNErr;
    ff::QuietLibraries();
    const AVOutputFormat* format = av_guess_format(nullptr, path.c_str(), nullptr);
    if (format == nullptr) return noCodecErr;

    // The partial file is ours from its creation on.
    m.final = path;
    m.partial = path.parent_path() / ("." + path.filename().string() + ".vantro-partial");
    File reserved;
    if (OSErr err = File::CreateNew(m.partial, reserved)) return err;
    m.unfinished = ScopedFileDeletion(m.partial);
    (void)reserved.Close();

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, format, nullptr, m.partial.c_str()) < 0) return memFullErr;
    m.output.reset(raw);
    m.packet.reset(av_packet_alloc());
    if (!m.packet) return memFullErr;
    if (OSErr err = m.OpenVideo(width, height, timeScale)) return err;
    if (channels > 0)
        if (OSErr err = m.OpenSound(rate, channels)) return err;
    if (int err = avio_open(&m.output->pb, m.partial.c_str(), AVIO_FLAG_WRITE); err < 0) return StatusOf(err);
    return StatusOf(avformat_write_header(m.output.get(), nullptr));
}

// Sends a frame (null: the end) and writes every packet the encoder has.
OSErr MovieFileWriter::Impl::Send(AVCodecContext* codec, AVStream* stream, const AVFrame* frame) {
    if (int err = avcodec_send_frame(codec, frame); err < 0) return StatusOf(err);
    for (;;) {
        const int got = avcodec_receive_packet(codec, packet.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return noErr;
        if (got < 0) return StatusOf(got);
        av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (int err = av_interleaved_write_frame(output.get(), packet.get()); err < 0) return StatusOf(err);
    }
}

OSErr MovieFileWriter::WritePicture(const FrameBuffer& buffer, std::int64_t time) {
    if (impl_ == nullptr || !impl_->video || impl_->finished) return paramErr;
    Impl& m = *impl_;
    if (buffer.Width() != m.video->width || buffer.Height() != m.video->height) return paramErr;
    if (int err = av_frame_make_writable(m.picture.get()); err < 0) return StatusOf(err);
    const std::uint8_t* source[] = {buffer.Pixels()};
    const int stride[] = {buffer.RowBytes()};
    sws_scale(m.scaler.get(), source, stride, 0, buffer.Height(), m.picture->data, m.picture->linesize);
    m.picture->pts = time;
    return m.Send(m.video.get(), m.videoStream, m.picture.get());
}

// Whole encoder frames out of the waiting sound; with `all`, the rest too.
OSErr MovieFileWriter::Impl::EncodeWaitingSound(bool all) {
    const int frameSize = sound->frame_size > 0 ? sound->frame_size : 1024;
    while (av_audio_fifo_size(waiting.get()) >= (all ? 1 : frameSize)) {
        av_frame_unref(soundFrame.get());
        soundFrame->nb_samples = frameSize;
        soundFrame->format = sound->sample_fmt;
        soundFrame->sample_rate = sound->sample_rate;
        if (int err = av_channel_layout_copy(&soundFrame->ch_layout, &sound->ch_layout); err < 0) return StatusOf(err);
        if (int err = av_frame_get_buffer(soundFrame.get(), 0); err < 0) return StatusOf(err);
        // A short last frame is padded with silence.
        av_samples_set_silence(soundFrame->extended_data, 0, frameSize, channels, sound->sample_fmt);
        const int read = av_audio_fifo_read(waiting.get(), reinterpret_cast<void**>(soundFrame->extended_data), frameSize);
        if (read < 0) return StatusOf(read);
        soundFrame->pts = soundTime;
        soundTime += frameSize;
        if (OSErr err = Send(sound.get(), soundStream, soundFrame.get())) return err;
    }
    return noErr;
}

OSErr MovieFileWriter::WriteSound(std::span<const std::int16_t> samples) {
    if (impl_ == nullptr || !impl_->sound || impl_->finished) return paramErr;
    Impl& m = *impl_;
    const int frames = static_cast<int>(samples.size() / m.channels);
    const std::uint8_t* in[] = {reinterpret_cast<const std::uint8_t*>(samples.data())};
    av_frame_unref(m.converted.get());
    m.converted->nb_samples = swr_get_out_samples(m.resampler.get(), frames);
    m.converted->format = m.sound->sample_fmt;
    if (int err = av_channel_layout_copy(&m.converted->ch_layout, &m.sound->ch_layout); err < 0) return StatusOf(err);
    if (m.converted->nb_samples <= 0) return noErr;
    if (int err = av_frame_get_buffer(m.converted.get(), 0); err < 0) return StatusOf(err);
    const int got = swr_convert(m.resampler.get(), m.converted->extended_data, m.converted->nb_samples,
                                frames > 0 ? in : nullptr, frames);
    if (got < 0) return StatusOf(got);
    if (av_audio_fifo_write(m.waiting.get(), reinterpret_cast<void**>(m.converted->extended_data), got) < got)
        return memFullErr;
    return m.EncodeWaitingSound(false);
}

OSErr MovieFileWriter::Finish() {
    if (impl_ == nullptr || !impl_->video || impl_->finished) return paramErr;
    Impl& m = *impl_;
    if (m.sound) {
        if (OSErr err = WriteSound({})) return err; // what the resampler still holds
        if (OSErr err = m.EncodeWaitingSound(true)) return err;
        if (OSErr err = m.Send(m.sound.get(), m.soundStream, nullptr)) return err;
    }
    if (OSErr err = m.Send(m.video.get(), m.videoStream, nullptr)) return err;
    if (int err = av_write_trailer(m.output.get()); err < 0) return StatusOf(err);
    if (int err = avio_closep(&m.output->pb); err < 0) return StatusOf(err);
    if (OSErr err = RenameNoReplace(m.partial, m.final)) return err;
    m.unfinished.Release();
    m.finished = true;
    return noErr;
}

OSErr WritePng(const FileSpec& path, const FrameBuffer& buffer) {
    ff::QuietLibraries();
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (encoder == nullptr) return noCodecErr;
    ff::CodecPtr codec(avcodec_alloc_context3(encoder));
    ff::FramePtr frame(av_frame_alloc());
    ff::PacketPtr packet(av_packet_alloc());
    if (!codec || !frame || !packet) return memFullErr;
    codec->width = buffer.Width();
    codec->height = buffer.Height();
    codec->pix_fmt = AV_PIX_FMT_RGB24;
    codec->time_base = {1, 1};
    if (int err = avcodec_open2(codec.get(), encoder, nullptr); err < 0) return StatusOf(err);
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = buffer.Width();
    frame->height = buffer.Height();
    if (int err = av_frame_get_buffer(frame.get(), 0); err < 0) return StatusOf(err);
    for (std::int32_t y = 0; y < buffer.Height(); ++y)
        for (std::int32_t x = 0; x < buffer.Width(); ++x) {
            const std::uint8_t* bgra = buffer.Pixel(x, y);
            std::uint8_t* rgb = frame->data[0] + y * frame->linesize[0] + 3 * x;
            rgb[0] = bgra[2], rgb[1] = bgra[1], rgb[2] = bgra[0];
        }
    if (int err = avcodec_send_frame(codec.get(), frame.get()); err < 0) return StatusOf(err);
    if (int err = avcodec_receive_packet(codec.get(), packet.get()); err < 0) return StatusOf(err);

    File out;
    if (OSErr err = File::CreateNew(path, out)) return err;
    ScopedFileDeletion unfinished(path);
    if (OSErr err = out.WriteAt(0, {packet->data, static_cast<std::size_t>(packet->size)})) return err;
    if (OSErr err = out.Close()) return err;
    unfinished.Release();
    return noErr;
}
