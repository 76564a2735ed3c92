// The movie writer: one object per conversion that collects the encoded
// pictures and sound of a movie and produces the finished Palm OS movie
// database (type 'VMOV', creator 'VTRO').
//
// Life cycle: NewMovieWriter -> SetDatabaseName -> configuration ->
// BeginMovie -> media chunks -> EndMovie -> GetDatabaseSize -> ReadDatabase
// (any range, any order, as often as wanted) -> DisposeMovieWriter.
// Configuration is accepted only before BeginMovie, media only between
// BeginMovie and EndMovie, read-out only after EndMovie; everything else
// answers paramErr. Media chunks wait in a private spool file until EndMovie
// lays them out into records, so memory stays bounded by about one record
// plus a small index entry per chunk, whatever the movie's length.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/status.h"

struct MovieWriter;

enum class WriterState : std::uint8_t { Configuring = 0, Open = 1, Finished = 2 };

// Called during EndMovie with a percentage from 0 to 100.
using WriterProgressProc = void (*)(std::int32_t percentage, std::intptr_t refcon);

// ---- Life cycle ------------------------------------------------------------

[[nodiscard]] OSErr NewMovieWriter(MovieWriter** out);
// Frees everything and deletes the spool file, in every state. paramErr for null.
OSErr DisposeMovieWriter(MovieWriter* writer);

struct MovieWriterDeleter {
    void operator()(MovieWriter* writer) const { (void)DisposeMovieWriter(writer); }
};
using OwnedMovieWriter = std::unique_ptr<MovieWriter, MovieWriterDeleter>;

WriterState GetWriterState(const MovieWriter* writer);

// ---- Configuration (state Configuring only) ---------------------------------

// Any length; the database header keeps the first 31 bytes.
[[nodiscard]] OSErr SetDatabaseName(MovieWriter* writer, const char* name);
// which: 1 title, 2 information, 3 rights notice. A null, empty or all-blank
// text is ignored (noErr) and the earlier value kept.
[[nodiscard]] OSErr SetMetadataString(MovieWriter* writer, int which, const char* text);
// Stores the exact size and the padded size (rounded up to a multiple of 4).
[[nodiscard]] OSErr SetPictureSize(MovieWriter* writer, std::uint16_t width, std::uint16_t height);
// 1 4 grays, 2 8-bit colour, 3 black and white, 4 "16 Grays", 5 'rle ',
// 6 'ZyG2', 7 Cinepak, 8 MPEG-4.
[[nodiscard]] OSErr SetVideoFormat(MovieWriter* writer, std::int16_t code);
// Chapters added after BeginMovie never reach the database.
[[nodiscard]] OSErr AddChapter(MovieWriter* writer, std::uint32_t timeMs, std::uint32_t textLength, const char* text);
[[nodiscard]] OSErr SetReferenceText(MovieWriter* writer, std::uint16_t number, const char* text);
[[nodiscard]] OSErr SetTextStream(MovieWriter* writer, bool on);
// Allowed in every state.
[[nodiscard]] OSErr SetProgressProc(MovieWriter* writer, WriterProgressProc proc, std::intptr_t refcon);

// Writer parameters. The value is a number or, where noted, a pointer to
// the data (cast to std::intptr_t).
enum WriterSelector : std::int32_t {
    kWriterAtracBitRate = 1,       // number: "CLIÉ Audio" bits per second
    kWriterAtracChannelMode = 2,   // number: 1 mono, 2 stereo, 18 dual, 0 choose at begin
    kWriterVideoDataRate = 5,      // number: kilobits (1024 bits) per second
    kWriterSoundLeadIn = 100,      // number: sample frames
    kWriterInterleave = 101,       // pointer to two int32: audio period (sample frames), picture period (1/100 s)
    kWriterSamplesPerRecord = 102, // number
    kWriterBoost = 103,            // number: boost level 0 to 3
    kWriterLayoutItem = 200,       // pointer to a LayoutItem
    kWriterMovieRect = 201,        // pointer to four int16: top, left, bottom, right
    kWriterApFlag = 202,           // number
    kWriterCvFlag = 203,           // number
    kWriterBackgroundColor = 204,  // pointer to three bytes: red, green, blue
    kWriterPresentationSize = 205, // pointer to two uint16: width, height
    kWriterFullScreen = 206,       // number
    kWriterMovieTimeScale = 207,   // number: units per second of frame durations
    kWriterRotation = 208,         // number: degrees (low 16 bits, signed)
    kWriterIaFlag = 209,           // number
    kWriterSmValue = 210,          // number (low 8 bits)
    kWriterScramblingKey = 400,    // pointer to 512 bytes
};
[[nodiscard]] OSErr SetWriterParameter(MovieWriter* writer, std::int32_t selector, std::intptr_t value);

// A layout item of the screen: the nine values of its "oh" sub-chunk and,
// for an image, its image block (4-byte total length, bitmap header,
// compressed image).
struct LayoutItem {
    std::int16_t left = 0, top = 0, width = 0, height = 0;
    std::int16_t zero = 0;
    std::int16_t kind = 0;    // 1 background, 2 video area, 3 image
    std::int16_t layer = 0;   // 1 background, 2 image, 3 video area
    std::int16_t shown = 0;
    std::int16_t options = 1; // bit 0 set when the item is made
    std::span<const std::uint8_t> imageBlock;
};

// Typed setters of the parameters that take data; the selectors above that
// take a pointer call these.
[[nodiscard]] OSErr SetLayoutItem(MovieWriter* writer, const LayoutItem& item);
// The movie's rectangle on the screen.
[[nodiscard]] OSErr SetMovieRect(MovieWriter* writer, std::int16_t top, std::int16_t left, std::int16_t bottom,
                                 std::int16_t right);
[[nodiscard]] OSErr SetBackgroundColor(MovieWriter* writer, std::uint8_t red, std::uint8_t green, std::uint8_t blue);
[[nodiscard]] OSErr SetPresentationSize(MovieWriter* writer, std::uint16_t width, std::uint16_t height);
// The interleave: sound periods in sample frames, picture periods in 1/100 s.
[[nodiscard]] OSErr SetInterleave(MovieWriter* writer, std::int32_t audioPeriod, std::int32_t picturePeriod);
[[nodiscard]] OSErr SetScramblingKey(MovieWriter* writer, std::span<const std::uint8_t, 512> key);

// The sound format record: only tag, channels, rate and bits are used.
struct WaveFormat {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint32_t sampleRate = 0;
    std::uint32_t averageBytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 16;
};
[[nodiscard]] OSErr SetSoundFormat(MovieWriter* writer, const WaveFormat& format);
// 624 or 626 to 630; anything else (625 included) is paramErr.
[[nodiscard]] OSErr SetAudioFormatCode(MovieWriter* writer, std::int32_t code);

// ---- Running -------------------------------------------------------------------

[[nodiscard]] OSErr BeginMovie(MovieWriter* writer);

// One encoded video frame (state Open): its data, the encoding byte of the
// "fr" header, whether it depends on earlier frames, and its duration in the
// movie time scale (selector 207). The duration is carried to hundredths so
// that a run of frames never drifts.
[[nodiscard]] OSErr WriteVideoChunk(MovieWriter* writer, std::span<const std::uint8_t> data, std::uint8_t encoding,
                                    bool difference, std::uint32_t duration);
// One sound record "au" (state Open): the encoded sound, its sample frames
// and the index of its first sample frame.
[[nodiscard]] OSErr WriteAudioRecord(MovieWriter* writer, std::span<const std::uint8_t> encoded,
                                     std::uint32_t frames, std::uint32_t firstFrame);

[[nodiscard]] OSErr EndMovie(MovieWriter* writer);
[[nodiscard]] OSErr GetDatabaseSize(const MovieWriter* writer, std::uint32_t& size);
[[nodiscard]] OSErr ReadDatabase(const MovieWriter* writer, void* buffer, std::uint32_t offset, std::uint32_t length);

// ---- Encoders ------------------------------------------------------------------
//
// The video and sound encoders attach to the writer. BeginMovie calls Begin
// on each (after the movie's streams are known, before the header record is
// built); EndMovie calls Finish first (to push out pending sound) and then
// FillPalette for the colour formats.
class WriterEncoder {
public:
    virtual ~WriterEncoder() = default;
    [[nodiscard]] virtual OSErr Begin(MovieWriter& writer) = 0;
    [[nodiscard]] virtual OSErr Finish(MovieWriter& writer) = 0;
    // 768 bytes of Y, Cb, Cr palette entries and the 8192-byte inverse map.
    [[nodiscard]] virtual OSErr FillPalette(std::span<std::uint8_t> /*palette*/, std::span<std::uint8_t> /*inverseMap*/) {
        return noErr;
    }
};
enum class EncoderSlot { Video, Sound };
[[nodiscard]] OSErr AttachEncoder(MovieWriter* writer, EncoderSlot slot, std::unique_ptr<WriterEncoder> encoder);
WriterEncoder* GetEncoder(MovieWriter* writer, EncoderSlot slot);

// What the encoders read back from the configuration.
struct WriterAudioConfig {
    std::int32_t formatCode;       // 0 when none
    WaveFormat format;
    std::uint32_t samplesPerRecord;
    float boostFactor;
    std::uint32_t atracBitRate;
    std::uint16_t atracChannelMode;
};
struct WriterVideoConfig {
    std::int16_t formatCode;
    std::uint16_t width, height;             // exact
    std::uint16_t paddedWidth, paddedHeight; // multiples of 4
    std::uint32_t dataRate;                  // bytes per second
    std::int32_t timeScale;
};
WriterAudioConfig GetAudioConfig(const MovieWriter* writer);
WriterVideoConfig GetVideoConfig(const MovieWriter* writer);
// The sound encoder settles these at Begin; "ah" and "ax" carry them.
void SetSettledAudio(MovieWriter* writer, std::uint16_t encodingChannels, std::uint16_t channelMode,
                     std::uint16_t bitRateCode, std::uint32_t bitRate);
bool MovieHasVideo(const MovieWriter* writer);
bool MovieHasSound(const MovieWriter* writer);

// ---- Read-out details ------------------------------------------------------------

inline constexpr std::uint8_t kDifferenceFrameFlag = 0x4; // "fr" flags: depends on earlier frames
// The file offset from which a scrambling key applies.
std::uint32_t GetMediaStartOffset(const MovieWriter* writer);
