// A movie database played as the handheld plays it.
#include "engine/playback.h"

#include <algorithm>
#include <cstdio>

#include "audio/moviesound.h"
#include "moviedb/moviereader.h"
#include "video/cinepakpalette.h"
#include "video/moviepictures.h"

namespace {

// A movie without pictures plays on the player's own blank screen: the
// presentation size the movie stores, or the square of the first handhelds.
constexpr int kBlankSide = 160;

} // namespace

std::string PlayingTime(std::uint64_t hundredths) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu.%llu", static_cast<unsigned long long>(hundredths / 6000),
                  static_cast<unsigned long long>(hundredths / 100 % 60), static_cast<unsigned long long>(hundredths / 10 % 10));
    return text;
}

struct MoviePlayback::Impl {
    MovieReader reader{std::span<const std::uint8_t>()};
    MoviePictureDecoder pictures;
    bool hasPictures = false;
    HandheldScreen screen;
    bool wholeScreen = false;
    bool paletteScreen = false;
    FrameBuffer decoded;
    int width = 0, height = 0;
    std::uint64_t duration = 0;

    MovieSoundDecoder sound;
    bool hasSound = false;
    std::size_t nextChunk = 0;         // the sound chunk to decode next
    std::vector<std::int16_t> pending; // decoded, not yet read
    std::size_t pendingAt = 0;

    OSErr OpenPictures(const PlaybackJob& job, std::string& problem);
};

MoviePlayback::MoviePlayback() = default;
MoviePlayback::~MoviePlayback() = default;

OSErr MoviePlayback::Open(const PlaybackJob& job, std::string& problem) {
    impl_.reset();
    auto m = std::make_unique<Impl>();
    if (OSErr err = ReadMovieFile(job.database, job.key, m->reader, problem)) return err;
    m->paletteScreen = job.paletteScreen;
    m->hasSound = m->sound.Open(m->reader) == noErr;
    if (OSErr err = m->OpenPictures(job, problem)) return err;
    if (!m->hasPictures && !m->hasSound) {
        problem = "neither pictures nor sound to play";
        return paramErr;
    }
    if (m->hasSound) {
        std::uint64_t frames = 0;
        for (const MovieSound& s : m->reader.Sounds()) frames += s.frames;
        m->duration = std::max(m->duration, frames * 100 / std::max<std::uint32_t>(1, m->sound.Rate()));
    }
    impl_ = std::move(m);
    return noErr;
}

OSErr MoviePlayback::Impl::OpenPictures(const PlaybackJob& job, std::string& problem) {
    const MovieDatabase& in = reader.Database();
    if (in.noPicture || reader.Pictures().empty()) {
        width = job.device.width != 0 ? job.device.width : in.pictureWidth >= 16 ? in.pictureWidth & ~1 : kBlankSide;
        height = job.device.width != 0 ? job.device.height : in.pictureHeight >= 16 ? in.pictureHeight & ~1 : kBlankSide;
        return noErr;
    }
    if (OSErr err = pictures.Open(reader)) {
        problem = err == noCodecErr ? "no Cinepak decoder" : "pictures of an encoding this player does not know";
        return err;
    }
    hasPictures = true;
    const MoviePicture& last = reader.Pictures().back();
    duration = last.start + last.duration;
    wholeScreen = job.device.width != 0;
    if (wholeScreen) {
        if (OSErr err = screen.Compose(reader, job.device)) {
            problem = err == noCodecErr ? "no Cinepak decoder" : "the layout's picture does not decode";
            return err;
        }
        width = screen.Width(), height = screen.Height();
        return noErr;
    }
    const bool turned = reader.Rotation() == 90 || reader.Rotation() == -90;
    width = turned ? in.pictureHeight : in.pictureWidth;
    height = turned ? in.pictureWidth : in.pictureHeight;
    return noErr;
}

std::uint64_t MoviePlayback::Duration() const { return impl_ ? impl_->duration : 0; }
bool MoviePlayback::HasPictures() const { return impl_ && impl_->hasPictures; }
int MoviePlayback::Width() const { return impl_ ? impl_->width : 0; }
int MoviePlayback::Height() const { return impl_ ? impl_->height : 0; }
bool MoviePlayback::HasPalette() const { return impl_ && impl_->hasPictures && !impl_->reader.Palette().empty(); }
void MoviePlayback::SetPaletteScreen(bool on) {
    if (impl_) impl_->paletteScreen = on;
}

OSErr MoviePlayback::ScreenAt(std::uint64_t hundredths, int scale, FrameBuffer& out) {
    if (!impl_ || scale < 1) return paramErr;
    Impl& m = *impl_;
    if (!m.hasPictures) {
        if (out.Width() != m.width * scale || out.Height() != m.height * scale)
            if (OSErr err = out.Create(m.width * scale, m.height * scale)) return err;
        out.EraseToWhite();
        return noErr;
    }
    std::size_t index = 0;
    if (OSErr err = m.reader.PictureAt(hundredths, index)) return err;
    if (OSErr err = m.pictures.Decode(index, m.decoded)) return err;
    if (m.paletteScreen && !m.reader.Palette().empty())
        ShowOnPaletteScreen(m.decoded.Pixels(), m.decoded.RowBytes(), static_cast<std::uint32_t>(m.decoded.Width()),
                            static_cast<std::uint32_t>(m.decoded.Height()), m.reader.Palette(), m.reader.InverseMap());
    if (m.wholeScreen) return m.screen.Show(m.decoded, scale, out);
    return ShowUpright(m.decoded, m.reader.Rotation(), scale, out);
}

std::uint64_t MoviePlayback::NextChange(std::uint64_t hundredths) const {
    if (!impl_) return 0;
    const auto pictures = impl_->reader.Pictures();
    const auto later = std::upper_bound(pictures.begin(), pictures.end(), hundredths,
                                        [](std::uint64_t t, const MoviePicture& p) { return t < p.start; });
    return later == pictures.end() || !impl_->hasPictures ? impl_->duration : later->start;
}

std::uint16_t MoviePlayback::Channels() const { return impl_ && impl_->hasSound ? impl_->sound.Channels() : 0; }
std::uint32_t MoviePlayback::SampleRate() const { return impl_ && impl_->hasSound ? impl_->sound.Rate() : 0; }

OSErr MoviePlayback::SeekSound(std::uint64_t hundredths) {
    if (!impl_ || !impl_->hasSound) return paramErr;
    Impl& m = *impl_;
    m.pending.clear();
    m.pendingAt = 0;
    const std::uint64_t frame = hundredths * m.sound.Rate() / 100;
    std::size_t chunk = 0;
    if (m.reader.SoundChunkAt(frame, chunk) != noErr) {
        m.nextChunk = m.reader.Sounds().size(); // past the sound's end: silence
        return noErr;
    }
    m.nextChunk = chunk;
    if (OSErr err = m.sound.Decode(m.nextChunk++, m.pending)) return err;
    // Into the chunk up to the time asked for.
    m.pendingAt = static_cast<std::size_t>(frame - m.reader.Sounds()[chunk].firstFrame) * m.sound.Channels();
    return noErr;
}

OSErr MoviePlayback::ReadSound(std::size_t frames, std::vector<std::int16_t>& out) {
    out.clear();
    if (!impl_ || !impl_->hasSound) return paramErr;
    Impl& m = *impl_;
    const std::size_t wanted = frames * m.sound.Channels();
    while (out.size() < wanted) {
        if (m.pendingAt >= m.pending.size()) {
            if (m.nextChunk >= m.reader.Sounds().size()) break;
            m.pending.clear();
            m.pendingAt = 0;
            if (OSErr err = m.sound.Decode(m.nextChunk++, m.pending)) return err;
            continue;
        }
        const std::size_t take = std::min(wanted - out.size(), m.pending.size() - m.pendingAt);
        out.insert(out.end(), m.pending.begin() + static_cast<std::ptrdiff_t>(m.pendingAt),
                   m.pending.begin() + static_cast<std::ptrdiff_t>(m.pendingAt + take));
        m.pendingAt += take;
    }
    return noErr;
}
