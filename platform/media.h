// The media layer: source files opened as movies with tracks, the data
// sources that hand out decoded pictures and sound by time, decompression
// into 32-bit 'BGRA' frames through a matrix, and the sound converter. Any
// file FFmpeg reads is a source; a still picture is a movie of one frame
// lasting one second.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byteblock.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/geometry.h"
#include "platform/status.h"

inline constexpr OSType kVideoMediaType = Fcc("vide");
inline constexpr OSType kSoundMediaType = Fcc("soun");
inline constexpr OSType kTextMediaType = Fcc("text");
// The sound of an MPEG-1 system stream: heard, but read by the system itself.
inline constexpr OSType kMpegMediaType = Fcc("MPEG");

// Sample formats of decoded sound, as four-char codes: signed 16-bit and
// 8-bit offset binary as the converter's outputs use them, and the decoders'
// own formats (interleaved, little-endian).
inline constexpr OSType kSoundS16 = Fcc("sowt");
inline constexpr OSType kSoundU8 = Fcc("NONE");
inline constexpr OSType kSoundS32 = Fcc("in32");
inline constexpr OSType kSoundF32 = Fcc("fl32");
inline constexpr OSType kSoundF64 = Fcc("fl64");

struct ImageDescription {
    OSType format = 0; // the codec's four-char code ('avc1', 'cvid', 'png ')
    std::uint16_t width = 0, height = 0; // as displayed: aspect ratio and rotation applied
};

struct SoundDescription {
    OSType format = 0;            // kSoundS16, kSoundF32, …
    OSType codec = 0;             // the compressed format in the file ('mp4a', '.mp3')
    std::uint16_t channels = 0;
    std::uint16_t sampleSize = 0; // bits
    UnsignedFixed sampleRate = 0;
};

struct TrackInfo {
    OSType mediaType = 0;
    bool enabled = false;
    std::int64_t duration = 0;  // in the track's time scale
    std::int32_t timeScale = 0;
    OSType format = 0;          // the sample description's four-char code
    ImageDescription image;     // video tracks
    SoundDescription sound;     // sound tracks
    bool decodable = false;     // a decoder exists for the format
};

struct Chapter {
    std::int64_t startMs = 0;
    std::string title;
};

// The extensions of the file names taken for media files where a folder's
// files are gathered or offered (lower case, no dot, sorted): the formats
// FFmpeg reads that the converter makes movies of. A file of any other name
// still opens when it is named on its own.
std::span<const std::string_view> MediaFileExtensions();
// Whether the name ends in one of them, in any letter case.
bool IsMediaFileName(const FileSpec& path);

class VideoSource;
class SoundSource;
class FrameBuffer;

class Movie {
public:
    Movie();
    ~Movie();
    Movie(Movie&&) noexcept;
    Movie& operator=(Movie&&) noexcept;

    // fnfErr for a missing file, noMovieFound for one that is no movie.
    [[nodiscard]] static OSErr Open(const FileSpec& path, Movie& out);
    bool IsOpen() const { return impl_ != nullptr; }

    std::int32_t TimeScale() const; // 1000
    std::int64_t Duration() const;  // in the movie's time scale
    // The display size of the first enabled video track (0 × 0 without one).
    Rect Box() const;
    int TrackCount() const;
    // Tracks are numbered from 1, in the file's stream order; a chapter
    // track, when the file has chapters, comes last.
    TrackInfo Track(int number) const;
    // The first enabled track of the media type, or 0.
    int FindTrack(OSType mediaType) const;
    // '©nam', '©inf' or '©cpy'; empty when absent.
    std::string Annotation(OSType key) const;
    std::vector<Chapter> Chapters() const;
    // Multiplies a track's time scale (the small-time-scale rule for video).
    void ScaleTrackTimeScale(int number, std::int32_t factor);
    // The poster frame (the picture at time 0) drawn over the whole buffer.
    [[nodiscard]] OSErr PosterFrame(FrameBuffer& buffer) const;
    const FileSpec& Path() const;

    // The threads each picture decoder made from now on uses: 0 (the first
    // value) for as many as the machine has cores; 1 when several movies
    // are decoded at once and the cores are spoken for.
    void SetDecoderThreads(int threads);
    [[nodiscard]] OSErr NewVideoSource(int track, std::unique_ptr<VideoSource>& out) const;
    [[nodiscard]] OSErr NewSoundSource(int track, std::unique_ptr<SoundSource>& out) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// A decoded picture, owned by the source that answered it; valid until the
// source's next request.
struct DecodedPicture;

struct VideoSample {
    std::int64_t time = 0;     // the requested time
    std::int64_t duration = 0; // to the end of the frame's display interval
    std::int64_t frameTime = 0; // where the frame's display interval starts
    ImageDescription description;
    std::int32_t seed = 0;     // changes only when the decoding parameters change
    const DecodedPicture* picture = nullptr;
};

// The video data procedures of one track. Decoding is sequential; a request
// before the previous one seeks.
class VideoSource {
public:
    virtual ~VideoSource() = default;
    std::int32_t TimeScale() const { return timeScale_; }
    // The frame rate and depth the exporter was told (answered as 'tprl' and 'sptl').
    void SetFrameRate(Fixed rate) { frameRate_ = rate; }
    void SetDepth(std::int16_t depth) { depth_ = depth; }
    // 'wdth', 'hegt' (16.16), 'dura' (time scale units), 'tprl' (16.16), 'sptl'.
    [[nodiscard]] OSErr GetProperty(OSType property, std::int64_t& value) const;
    // The frame shown at `time`; eofErr after the last frame's end.
    [[nodiscard]] virtual OSErr GetFrame(std::int64_t time, VideoSample& out) = 0;

protected:
    std::int32_t timeScale_ = 1000;
    std::int64_t duration_ = 0;
    ImageDescription description_;
    Fixed frameRate_ = 0;
    std::int16_t depth_ = 0;
};

struct SoundChunk {
    SoundDescription description;
    std::span<const std::uint8_t> data; // interleaved samples; valid until the next request
    std::int64_t sampleCount = 0;       // sample frames
    std::int32_t seed = 0;
};

// The sound data procedure of one track: the decoded sound, chunk by chunk.
class SoundSource {
public:
    virtual ~SoundSource() = default;
    std::int32_t TimeScale() const { return timeScale_; }
    std::int64_t Duration() const { return duration_; }
    // The next chunk; eofErr at the end.
    [[nodiscard]] virtual OSErr GetChunk(SoundChunk& out) = 0;

protected:
    std::int32_t timeScale_ = 1000;
    std::int64_t duration_ = 0;
};

// 32-bit pixels, bytes B, G, R, A in memory.
class FrameBuffer {
public:
    [[nodiscard]] OSErr Create(std::int32_t width, std::int32_t height);
    // Every pixel white and opaque.
    void EraseToWhite();
    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    std::int32_t RowBytes() const { return width_ * 4; }
    std::uint8_t* Pixels() { return pixels_.Data(); }
    const std::uint8_t* Pixels() const { return pixels_.Data(); }
    const std::uint8_t* Pixel(std::int32_t x, std::int32_t y) const { return pixels_.Data() + y * RowBytes() + x * 4; }

private:
    ByteBlock pixels_;
    std::int32_t width_ = 0, height_ = 0;
};

// Draws decoded pictures of one description into a frame buffer through a
// matrix that maps the picture's rectangle (0, 0, width, height) into the
// buffer: scaling with area averaging when shrinking, quarter turns, and
// clipping to the buffer (which keeps what was there elsewhere).
class DecompressionSequence {
public:
    DecompressionSequence();
    ~DecompressionSequence();
    DecompressionSequence(const DecompressionSequence&) = delete;
    DecompressionSequence& operator=(const DecompressionSequence&) = delete;

    [[nodiscard]] OSErr Begin(const ImageDescription& description, const Matrix& matrix, FrameBuffer* destination);
    [[nodiscard]] OSErr Decompress(const DecodedPicture& picture);
    void End();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Decodes single compressed pictures of a codec named by its four-char code
// ('cvid', 'jpeg', …) into a frame buffer of the picture's size.
class ImageDecompressor {
public:
    ImageDecompressor();
    ~ImageDecompressor();
    ImageDecompressor(const ImageDecompressor&) = delete;
    ImageDecompressor& operator=(const ImageDecompressor&) = delete;

    // noCodecErr when no decoder handles the code.
    [[nodiscard]] OSErr Open(OSType codec, std::int32_t width, std::int32_t height);
    // Decodes one compressed picture (which may depend on the ones before)
    // into `out`, created at the picture's size when it differs.
    [[nodiscard]] OSErr Decode(std::span<const std::uint8_t> data, FrameBuffer& out);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Decodes the packets of a compressed sound codec named by its four-char
// code ('atrc' for ATRAC3 as RealMedia names it, '.mp2' and '.mp1' for MPEG
// audio Layers II and I) into 32-bit float samples,
// channels interleaved. `setup` is the codec's set-up data as its container
// carries it; `packetBytes` the fixed packet size, for codecs that have one.
class SoundDecompressor {
public:
    SoundDecompressor();
    ~SoundDecompressor();
    SoundDecompressor(const SoundDecompressor&) = delete;
    SoundDecompressor& operator=(const SoundDecompressor&) = delete;

    // noCodecErr when no decoder handles the code or it refuses the set-up.
    [[nodiscard]] OSErr Open(OSType codec, std::uint32_t sampleRate, std::uint16_t channels,
                             std::uint32_t packetBytes, std::span<const std::uint8_t> setup);
    // Decodes one packet; the samples are appended to `out`.
    // codecDataVersErr when the decoder rejects the packet.
    [[nodiscard]] OSErr Decode(std::span<const std::uint8_t> packet, std::vector<float>& out);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Converts sound chunks between sample formats, channel counts and rates.
struct SoundOutputFormat {
    OSType format = kSoundS16; // kSoundS16 (signed 16-bit little-endian) or kSoundU8
    std::uint16_t channels = 1;
    std::uint32_t sampleRate = 8000;
};

class SoundConverter {
public:
    SoundConverter();
    ~SoundConverter();
    SoundConverter(const SoundConverter&) = delete;
    SoundConverter& operator=(const SoundConverter&) = delete;

    [[nodiscard]] OSErr Open(const SoundDescription& input, const SoundOutputFormat& output);
    // For `inputBytes` of input: the most input one call takes and the output
    // buffer that call needs.
    void BufferSizes(std::uint32_t inputBytes, std::uint32_t& inputLimit, std::uint32_t& outputSize) const;
    // Converts whole input frames; `output` receives the converted bytes
    // (appended).
    [[nodiscard]] OSErr Convert(std::span<const std::uint8_t> input, ByteBlock& output);
    // Flushes what the resampler still holds.
    [[nodiscard]] OSErr End(ByteBlock& output);
    void Close();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};
