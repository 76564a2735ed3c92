// Feeds arbitrary bytes to the movie database inspector, with and without a
// scrambling key, to what the inspector decodes from a database it accepts
// (a "16 Grays" picture, the sound), and to the reader's look-ups a player
// makes: whatever the input, it must answer, never crash, never size a
// buffer by a damaged count, and every answer must hold together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "moviedb/moviereader.h"
#include "tools/inspect.h"
#include "video/handheldscreen.h"
#include "video/moviepictures.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// A list's bytes lie inside the reader's.
void RequireInside(const MovieReader& reader, std::span<const std::uint8_t> piece) {
    const std::span<const std::uint8_t> all = reader.Bytes();
    Require(piece.empty() || (piece.data() >= all.data() && piece.data() + piece.size() <= all.data() + all.size()));
}

void CheckPictures(const MovieReader& reader) {
    const std::span<const MoviePicture> pictures = reader.Pictures();
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        RequireInside(reader, pictures[i].payload);
        std::size_t key = 0;
        if (reader.KeyFrameAtOrBefore(i, key) == noErr) Require(key <= i && pictures[key].key);
        std::size_t at = 0;
        Require(reader.PictureAt(pictures[i].start, at) == noErr && pictures[at].start == pictures[i].start);
    }
}

void CheckSound(const MovieReader& reader) {
    const std::span<const MovieSound> sounds = reader.Sounds();
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        RequireInside(reader, sounds[i].payload);
        std::size_t at = 0;
        if (sounds[i].frames > 0) Require(reader.SoundChunkAt(sounds[i].firstFrame, at) == noErr && at == i);
    }
    std::size_t at = 0;
    Require(reader.SoundChunkAt(reader.Database().streams[1].durationSum, at) == paramErr);
}

void CheckRandomAccess(const MovieReader& reader) {
    for (const MovieLayoutItem& item : reader.LayoutItems()) RequireInside(reader, item.picture);
    if (!reader.Playable()) {
        std::size_t at = 0;
        Require(reader.Pictures().empty() && reader.Sounds().empty());
        Require(reader.KeyFrameAtOrBefore(0, at) == paramErr && reader.PictureAt(0, at) == paramErr &&
                reader.SoundChunkAt(0, at) == paramErr);
        return;
    }
    CheckPictures(reader);
    CheckSound(reader);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    Inspection plain = InspectDatabase({bytes, size});
    (void)DescribeInspection(plain, true);
    static const std::uint8_t key[512] = {1, 2, 3};
    if (plain.scrambled) {
        Inspection keyed = InspectDatabase({bytes, size}, key);
        (void)DescribeInspection(keyed, false);
    }
    const std::span<const std::uint8_t> keyUsed = plain.scrambled ? std::span<const std::uint8_t>(key) : std::span<const std::uint8_t>();
    CheckRandomAccess(MovieReader({bytes, size}, keyUsed));
    if (!plain.Valid()) return 0;
    std::vector<std::uint8_t> gray;
    std::uint32_t width = 0, height = 0;
    const auto frames = static_cast<std::uint32_t>(plain.streams[0].chunks);
    if (frames > 0) (void)DecodeGraysFrameOf({bytes, size}, keyUsed, frames - 1, gray, width, height);
    // The player's decoder, Cinepak included, forward and back.
    const MovieReader reader({bytes, size}, keyUsed);
    MoviePictureDecoder pictures;
    FrameBuffer shown;
    if (pictures.Open(reader) == noErr)
        for (std::size_t n : {pictures.Count() - 1, std::size_t{0}, pictures.Count() / 2})
            if (pictures.Decode(n, shown) == noErr && (shown.Width() == 0 || shown.Height() == 0)) std::abort();
    // The whole screen around the movie, upright on a tall and a wide handheld.
    FrameBuffer screen;
    for (const HandheldShape device : {HandheldShape{320, 480, true}, HandheldShape{160, 160, false}}) {
        HandheldScreen layout;
        if (layout.Compose(reader, device) == noErr && shown.Width() > 0 && layout.Show(shown, 1, screen) == noErr &&
            (screen.Width() != layout.Width() || screen.Height() != layout.Height()))
            std::abort();
    }
    std::vector<std::int16_t> samples;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    (void)DecodeSoundOf({bytes, size}, keyUsed, samples, channels, rate);
    return 0;
}
