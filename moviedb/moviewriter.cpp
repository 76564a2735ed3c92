// The movie writer: configuration, media chunks, header record and database image.
#include "moviedb/moviewriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "moviedb/formats.h"
#include "moviedb/pdb.h"
#include "moviedb/writerstate.h"
#include "platform/bytes.h"

namespace {

bool Configuring(const MovieWriter* w) { return w != nullptr && w->state == WriterState::Configuring; }

bool IsColourFormat(std::int16_t format) {
    using E = PictureEncoding;
    return format == Code(E::Colour8Bit) || format == Code(E::Animation) || format == Code(E::ZyG2) ||
           format == Code(E::Cinepak) || format == Code(E::Mpeg4);
}

// Bits per pixel the player sets up for the movie ("mv").
std::uint8_t DisplayDepth(const MovieWriter& w) {
    if (w.hasVideo) {
        using E = PictureEncoding;
        switch (w.videoFormat) {
        case Code(E::BlackAndWhite): return 1;
        case Code(E::FourGrays): return 2;
        case Code(E::SixteenGrays):
        case Code(E::Animation): return 4;
        case Code(E::Colour8Bit):
        case Code(E::ZyG2): return 8;
        default: return 16; // Cinepak, MPEG-4
        }
    }
    std::uint8_t depth = 0;
    if (w.hasText) depth = 1;
    if (w.hasLayout) depth = 16;
    return depth;
}

struct Payload {
    std::uint8_t bytes[32] = {};
    std::uint32_t size = 0;
    Payload& U8(std::uint8_t v) {
        bytes[size++] = v;
        return *this;
    }
    Payload& U16(std::uint16_t v) {
        WriteBE16(bytes + size, v);
        size += 2;
        return *this;
    }
    Payload& U32(std::uint32_t v) {
        WriteBE32(bytes + size, v);
        size += 4;
        return *this;
    }
    std::span<const std::uint8_t> Span() const { return {bytes, size}; }
};

OSErr AppendStreamChunks(ByteBlock& h, std::uint16_t streamTag, StreamPatch& patch) {
    // "sh": tag, 16-bit zero, 16-bit duration; "sx": tag, 32-bit zero, 32-bit duration.
    if (OSErr err = AppendChunk(h, ChunkTag("sh"), Payload().U16(streamTag).U16(0).U16(0).Span(), &patch.sh)) return err;
    return AppendChunk(h, ChunkTag("sx"), Payload().U16(streamTag).U32(0).U32(0).Span(), &patch.sx);
}

OSErr AppendFlagChunk(ByteBlock& h, std::uint16_t tag, bool value) {
    return AppendChunk(h, tag, Payload().U16(value ? 1 : 0).Span());
}

// Text chunks carry their strings NUL-terminated; the chunk pads odd sums.
OSErr AppendText(ByteBlock& payload, const std::string& text) {
    if (OSErr err = payload.Append({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})) return err;
    return payload.AppendByte(0);
}

OSErr BuildHeaderRecord(MovieWriter& w) {
    ByteBlock& h = w.header;
    h.Clear();
    // "mv": picture size, or the presentation size when there is none.
    const bool pictureSize = w.paddedWidth != 0 && w.paddedHeight != 0;
    Payload mv;
    if (pictureSize) {
        mv.U16(w.paddedWidth).U16(w.paddedHeight).U8(0);
    } else {
        mv.U16(w.presentation[0]).U16(w.presentation[1]).U8(1);
    }
    mv.U8(DisplayDepth(w));
    if (OSErr err = AppendChunk(h, ChunkTag("mv"), mv.Span())) return err;
    if (OSErr err = AppendChunk(h, ChunkTag("mt"), Payload().U16(0).Span(), &w.mtAt)) return err;

    if (w.hasVideo)
        if (OSErr err = AppendStreamChunks(h, ChunkTag("fr"), w.videoPatch)) return err;
    if (w.hasText)
        if (OSErr err = AppendStreamChunks(h, ChunkTag("tx"), w.textPatch)) return err;
    if (w.hasSound) {
        if (OSErr err = AppendStreamChunks(h, ChunkTag("au"), w.soundPatch)) return err;
        const std::uint16_t channels = w.audioSettled ? w.encodingChannels : w.wave.channels;
        Payload ah;
        ah.U32(static_cast<std::uint32_t>(w.audioFormatCode)).U16(channels).U32(w.wave.sampleRate).U32(w.soundLeadIn);
        if (OSErr err = AppendChunk(h, ChunkTag("ah"), ah.Span(), &w.ahAt)) return err;
        if (w.audioFormatCode == Code(SoundFormat::ClieAudio)) {
            const std::uint16_t mode = w.audioSettled ? w.settledChannelMode : w.atracChannelMode;
            const std::uint16_t code = w.audioSettled ? w.bitRateCode : 33;
            if (OSErr err = AppendChunk(h, ChunkTag("ax"), Payload().U16(mode).U16(code).Span())) return err;
        }
    }
    if (w.rotation != 0)
        if (OSErr err = AppendChunk(h, ChunkTag("an"), Payload().U16(static_cast<std::uint16_t>(w.rotation)).Span()))
            return err;
    if (w.hasReference) {
        ByteBlock rf;
        if (OSErr err = rf.AppendBE16(w.referenceNumber)) return err;
        if (OSErr err = AppendText(rf, w.referenceText)) return err;
        if (OSErr err = AppendChunk(h, ChunkTag("rf"), rf.Span())) return err;
    }
    if (w.metadataSet[0] || w.metadataSet[1] || w.metadataSet[2]) {
        ByteBlock md;
        for (const std::string& text : w.metadata)
            if (OSErr err = AppendText(md, text)) return err;
        if (OSErr err = AppendChunk(h, ChunkTag("md"), md.Span())) return err;
    }
    if (w.hasRect && w.rect[1] != w.rect[3] && w.rect[0] != w.rect[2]) {
        Payload mr;
        for (std::int16_t v : w.rect) mr.U16(static_cast<std::uint16_t>(v));
        if (OSErr err = AppendChunk(h, ChunkTag("mr"), mr.Span())) return err;
    }
    if (w.hasAp)
        if (OSErr err = AppendFlagChunk(h, ChunkTag("ap"), w.ap)) return err;
    if (w.hasCv)
        if (OSErr err = AppendFlagChunk(h, ChunkTag("cv"), w.cv)) return err;
    if (w.hasIa)
        if (OSErr err = AppendFlagChunk(h, ChunkTag("ia"), w.ia)) return err;
    if (w.sm != 0)
        if (OSErr err = AppendChunk(h, ChunkTag("sm"), Payload().U16(w.sm).Span())) return err;
    if (w.hasColor) {
        Payload bc;
        bc.U8(w.color[0]).U8(w.color[1]).U8(w.color[2]).U8(0);
        if (OSErr err = AppendChunk(h, ChunkTag("bc"), bc.Span())) return err;
    }
    if (w.hasFullScreen)
        if (OSErr err = AppendFlagChunk(h, ChunkTag("fs"), w.fullScreen)) return err;
    if (w.hasKey)
        if (OSErr err = AppendChunk(h, ChunkTag("ec"), Payload().U16(0).Span())) return err;
    if (OSErr err = AppendChunk(h, ChunkTag("bt"), {})) return err;
    if (w.hasVideo && IsColourFormat(w.videoFormat)) {
        if (OSErr err = AppendReservedChunk(h, ChunkTag("py"), 768, &w.pyAt)) return err;
        if (OSErr err = AppendReservedChunk(h, ChunkTag("ic"), 8192, &w.icAt)) return err;
    }
    if (w.chapterCount > 0) {
        ByteBlock cl;
        if (OSErr err = cl.AppendBE16(w.chapterCount)) return err;
        if (OSErr err = cl.Append(w.chapterEntries)) return err;
        if (OSErr err = AppendChunk(h, ChunkTag("cl"), cl.Span())) return err;
    }
    return noErr;
}

OSErr BuildLayoutItemChunk(const LayoutItem& item, ByteBlock& out) {
    ByteBlock body;
    Payload oh;
    for (std::int16_t v : {item.left, item.top, item.width, item.height, item.zero, item.kind, item.layer, item.shown,
                           item.options})
        oh.U16(static_cast<std::uint16_t>(v));
    if (OSErr err = AppendChunk(body, ChunkTag("oh"), oh.Span())) return err;
    if (item.kind == 3) {
        // "px": its length, the tag, then the image block without its own
        // 4-byte total length.
        if (item.imageBlock.size() < 4 || item.imageBlock.size() > kMaxChunkSize) return paramErr;
        if (OSErr err = body.AppendBE16(static_cast<std::uint16_t>(item.imageBlock.size()))) return err;
        if (OSErr err = body.AppendBE16(ChunkTag("px"))) return err;
        if (OSErr err = body.Append(item.imageBlock.subspan(4))) return err;
    }
    ByteBlock chunk;
    if (OSErr err = AppendChunk(chunk, ChunkTag("bi"), body.Span())) return err;
    out = std::move(chunk);
    return noErr;
}

bool AllBlank(const char* text) {
    for (; *text != '\0'; ++text)
        if (*text != ' ') return false;
    return true;
}

} // namespace

// ---- Life cycle ----------------------------------------------------------------

OSErr NewMovieWriter(MovieWriter** out) {
    if (out == nullptr) return paramErr;
    *out = new (std::nothrow) MovieWriter;
    return *out == nullptr ? memFullErr : noErr;
}

OSErr DisposeMovieWriter(MovieWriter* writer) {
    if (writer == nullptr) return paramErr;
    writer->spool.Dispose();
    writer->layout.Dispose();
    delete writer;
    return noErr;
}

WriterState GetWriterState(const MovieWriter* writer) {
    return writer ? writer->state : WriterState::Configuring;
}

// ---- Configuration -------------------------------------------------------------

OSErr SetDatabaseName(MovieWriter* w, const char* name) {
    if (!Configuring(w) || name == nullptr) return paramErr;
    try {
        w->name = name;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    w->hasName = true;
    return noErr;
}

OSErr SetMetadataString(MovieWriter* w, int which, const char* text) {
    if (!Configuring(w)) return paramErr;
    if (text == nullptr || *text == '\0' || AllBlank(text)) return noErr;
    if (which < 1 || which > 3) return paramErr;
    try {
        w->metadata[which - 1] = text;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    w->metadataSet[which - 1] = true;
    return noErr;
}

OSErr SetPictureSize(MovieWriter* w, std::uint16_t width, std::uint16_t height) {
    if (!Configuring(w)) return paramErr;
    // Rounded up to a multiple of 4; a size of 0 gives 4.
    auto pad = [](std::uint16_t v) {
        return static_cast<std::uint16_t>(((static_cast<int>(v) - 1) / 4) * 4 + 4);
    };
    w->width = width;
    w->height = height;
    w->paddedWidth = pad(width);
    w->paddedHeight = pad(height);
    return noErr;
}

OSErr SetVideoFormat(MovieWriter* w, std::int16_t code) {
    if (!Configuring(w) || code < Code(PictureEncoding::FourGrays) || code > Code(PictureEncoding::Mpeg4)) return paramErr;
    w->videoFormat = code;
    return noErr;
}

OSErr AddChapter(MovieWriter* w, std::uint32_t timeMs, std::uint32_t textLength, const char* text) {
    if (w == nullptr || (text == nullptr && textLength > 0)) return paramErr;
    if (w->chapterCount == 0xFFFF) return paramErr;
    std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text), textLength);
    // A final carriage return is not part of the chapter's name.
    if (!bytes.empty() && bytes.back() == '\r') bytes = bytes.first(bytes.size() - 1);
    ByteBlock& e = w->chapterEntries;
    const std::uint32_t rollback = e.Size();
    OSErr err = e.AppendBE32(timeMs / 10);
    if (!err) err = e.Append(bytes);
    if (!err) err = e.AppendBE16(0);
    if (!err && bytes.size() % 2 == 1) err = e.AppendByte(0);
    if (err) {
        (void)e.Resize(rollback);
        return err;
    }
    ++w->chapterCount;
    return noErr;
}

OSErr SetReferenceText(MovieWriter* w, std::uint16_t number, const char* text) {
    if (!Configuring(w) || text == nullptr) return paramErr;
    try {
        w->referenceText = text;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    w->referenceNumber = number;
    w->hasReference = true;
    return noErr;
}

OSErr SetTextStream(MovieWriter* w, bool on) {
    if (!Configuring(w)) return paramErr;
    w->textStream = on;
    return noErr;
}

OSErr SetProgressProc(MovieWriter* w, WriterProgressProc proc, std::intptr_t refcon) {
    if (w == nullptr) return paramErr;
    w->progress = proc;
    w->progressRefcon = refcon;
    return noErr;
}

OSErr SetWriterParameter(MovieWriter* w, std::int32_t selector, std::intptr_t value) {
    if (!Configuring(w)) return paramErr;
    const auto number = static_cast<std::uint32_t>(value);
    const void* pointer = reinterpret_cast<const void*>(value);
    switch (selector) {
    case kWriterAtracBitRate: w->atracBitRate = number; return noErr;
    case kWriterAtracChannelMode: w->atracChannelMode = static_cast<std::uint16_t>(number); return noErr;
    case kWriterVideoDataRate: w->videoDataRate = (number * 1024u) / 8u; return noErr; // product kept to 32 bits
    case kWriterSoundLeadIn: w->soundLeadIn = number; return noErr;
    case kWriterInterleave: {
        if (pointer == nullptr) return paramErr;
        std::int32_t periods[2];
        std::memcpy(periods, pointer, sizeof periods);
        return SetInterleave(w, periods[0], periods[1]);
    }
    case kWriterSamplesPerRecord: w->samplesPerRecord = number; return noErr;
    case kWriterBoost:
        w->boostFactor = number == 1 ? 1.5f : number == 2 ? 2.5f : number == 3 ? 4.0f : 1.0f;
        return noErr;
    case kWriterLayoutItem:
        if (pointer == nullptr) return paramErr;
        return SetLayoutItem(w, *static_cast<const LayoutItem*>(pointer));
    case kWriterMovieRect: {
        if (pointer == nullptr) return paramErr;
        std::int16_t rect[4];
        std::memcpy(rect, pointer, sizeof rect);
        return SetMovieRect(w, rect[0], rect[1], rect[2], rect[3]);
    }
    case kWriterApFlag: w->hasAp = true; w->ap = number != 0; return noErr;
    case kWriterCvFlag: w->hasCv = true; w->cv = number != 0; return noErr;
    case kWriterBackgroundColor: {
        if (pointer == nullptr) return paramErr;
        const auto* rgb = static_cast<const std::uint8_t*>(pointer);
        return SetBackgroundColor(w, rgb[0], rgb[1], rgb[2]);
    }
    case kWriterPresentationSize: {
        if (pointer == nullptr) return paramErr;
        std::uint16_t size[2];
        std::memcpy(size, pointer, sizeof size);
        return SetPresentationSize(w, size[0], size[1]);
    }
    case kWriterFullScreen: w->hasFullScreen = true; w->fullScreen = number != 0; return noErr;
    case kWriterMovieTimeScale:
        if (static_cast<std::int32_t>(number) <= 0) return paramErr;
        w->timeScale = static_cast<std::int32_t>(number);
        return noErr;
    case kWriterRotation: w->rotation = static_cast<std::int16_t>(number & 0xFFFF); return noErr;
    case kWriterIaFlag: w->hasIa = true; w->ia = number != 0; return noErr;
    case kWriterSmValue: w->sm = static_cast<std::uint8_t>(number); return noErr;
    case kWriterScramblingKey:
        if (pointer == nullptr) return paramErr;
        return SetScramblingKey(w, std::span<const std::uint8_t, 512>(static_cast<const std::uint8_t*>(pointer), 512));
    default: return paramErr;
    }
}

OSErr SetLayoutItem(MovieWriter* w, const LayoutItem& item) {
    if (!Configuring(w)) return paramErr;
    ByteBlock chunk;
    if (OSErr err = BuildLayoutItemChunk(item, chunk)) return err;
    try {
        w->layoutItems.push_back(std::move(chunk));
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    return noErr;
}

OSErr SetMovieRect(MovieWriter* w, std::int16_t top, std::int16_t left, std::int16_t bottom, std::int16_t right) {
    if (!Configuring(w)) return paramErr;
    w->rect = {top, left, bottom, right};
    w->hasRect = true;
    return noErr;
}

OSErr SetBackgroundColor(MovieWriter* w, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (!Configuring(w)) return paramErr;
    w->color = {red, green, blue};
    w->hasColor = true;
    return noErr;
}

OSErr SetPresentationSize(MovieWriter* w, std::uint16_t width, std::uint16_t height) {
    if (!Configuring(w)) return paramErr;
    w->presentation = {width, height};
    w->hasPresentation = true;
    return noErr;
}

OSErr SetInterleave(MovieWriter* w, std::int32_t audioPeriod, std::int32_t picturePeriod) {
    if (!Configuring(w)) return paramErr;
    w->audioInterleave = static_cast<std::uint32_t>(audioPeriod);
    w->pictureInterleave = static_cast<std::uint32_t>(picturePeriod);
    return noErr;
}

OSErr SetScramblingKey(MovieWriter* w, std::span<const std::uint8_t, 512> key) {
    if (!Configuring(w)) return paramErr;
    std::copy(key.begin(), key.end(), w->key.begin());
    w->hasKey = true;
    return noErr;
}

OSErr SetSoundFormat(MovieWriter* w, const WaveFormat& format) {
    if (!Configuring(w)) return paramErr;
    w->wave = format;
    return noErr;
}

OSErr SetAudioFormatCode(MovieWriter* w, std::int32_t code) {
    if (!Configuring(w)) return paramErr;
    if (code == Code(SoundFormat::None) || FindSoundFormat(code) == nullptr) return paramErr;
    w->audioFormatCode = code;
    return noErr;
}

OSErr AttachEncoder(MovieWriter* w, EncoderSlot slot, std::unique_ptr<WriterEncoder> encoder) {
    if (!Configuring(w)) return paramErr;
    (slot == EncoderSlot::Video ? w->videoEncoder : w->soundEncoder) = std::move(encoder);
    return noErr;
}

WriterEncoder* GetEncoder(MovieWriter* w, EncoderSlot slot) {
    if (w == nullptr) return nullptr;
    return (slot == EncoderSlot::Video ? w->videoEncoder : w->soundEncoder).get();
}

WriterAudioConfig GetAudioConfig(const MovieWriter* w) {
    return {w->audioFormatCode, w->wave, w->samplesPerRecord, w->boostFactor, w->atracBitRate, w->atracChannelMode};
}

WriterVideoConfig GetVideoConfig(const MovieWriter* w) {
    return {w->videoFormat, w->width, w->height, w->paddedWidth, w->paddedHeight, w->videoDataRate, w->timeScale};
}

void SetSettledAudio(MovieWriter* w, std::uint16_t encodingChannels, std::uint16_t channelMode,
                     std::uint16_t bitRateCode, std::uint32_t bitRate) {
    w->audioSettled = true;
    w->encodingChannels = encodingChannels;
    w->settledChannelMode = channelMode;
    w->bitRateCode = bitRateCode;
    w->atracBitRate = bitRate;
}

bool MovieHasVideo(const MovieWriter* w) { return w != nullptr && w->hasVideo; }
bool MovieHasSound(const MovieWriter* w) { return w != nullptr && w->hasSound; }

// ---- Running ---------------------------------------------------------------------

OSErr BeginMovie(MovieWriter* w) {
    if (!Configuring(w)) return paramErr;
    w->hasVideo = w->videoFormat >= 1 && w->videoFormat <= 8 && w->paddedWidth != 0 && w->paddedHeight != 0;
    w->hasSound = w->audioFormatCode != Code(SoundFormat::None) && FindSoundFormat(w->audioFormatCode) != nullptr;
    w->hasText = w->textStream;
    w->hasLayout = !w->layoutItems.empty();
    if (!(w->hasVideo || w->hasSound || w->hasText || w->hasLayout) || !w->hasName || w->name.empty()) return paramErr;
    w->state = WriterState::Open;

    if (w->hasVideo && w->videoEncoder)
        if (OSErr err = w->videoEncoder->Begin(*w)) return err;
    if (w->hasSound && w->soundEncoder)
        if (OSErr err = w->soundEncoder->Begin(*w)) return err;
    if (OSErr err = BuildHeaderRecord(*w)) return err;
    w->counts = {};
    w->durationCarry = 0;
    return w->spool.Create();
}

OSErr WriteVideoChunk(MovieWriter* w, std::span<const std::uint8_t> data, std::uint8_t encoding, bool difference,
                      std::uint32_t duration) {
    if (w == nullptr || w->state != WriterState::Open || !w->hasVideo) return paramErr;
    const bool pad = data.size() % 2 == 1;
    const std::uint64_t length = 8 + data.size() + (pad ? 1 : 0);
    if (length > kMaxChunkSize) return paramErr;

    // Hundredths with the exact remainder carried (counted in hundredths of
    // a time-scale unit), so the sum of the written durations follows the
    // sum of the true ones whatever the time scale: 15360 or 1001-based
    // scales have no whole number of units in a hundredth.
    const std::uint64_t scale = w->timeScale > 0 ? static_cast<std::uint64_t>(w->timeScale) : 0;
    const std::uint64_t scaled = w->durationCarry + std::uint64_t{duration} * 100;
    const std::uint64_t hundredths = scale != 0 ? scaled / scale : 0;

    std::uint8_t header[8];
    WriteBE16(header, static_cast<std::uint16_t>(length));
    WriteBE16(header + 2, ChunkTag("fr"));
    header[4] = encoding;
    header[5] = static_cast<std::uint8_t>((pad ? 0x1 : 0) | (difference ? kDifferenceFrameFlag : 0));
    WriteBE16(header + 6, static_cast<std::uint16_t>(hundredths));
    static const std::uint8_t zero = 0;
    std::uint64_t offset = 0;
    if (OSErr err = w->spool.Append({header, data, std::span(&zero, pad ? 1 : 0)}, offset)) return err;
    // Counters move only once every piece is written.
    w->durationCarry = scale != 0 ? scaled - hundredths * scale : 0;
    StreamCount& video = w->counts[0];
    ++video.chunks;
    if (!difference) ++video.eligible;
    video.duration += hundredths & 0xFFFF;
    return noErr;
}

OSErr WriteAudioRecord(MovieWriter* w, std::span<const std::uint8_t> encoded, std::uint32_t frames,
                       std::uint32_t firstFrame) {
    if (w == nullptr || w->state != WriterState::Open || !w->hasSound) return paramErr;
    const bool pad = encoded.size() % 2 == 1;
    const std::uint64_t length = 16 + encoded.size() + (pad ? 1 : 0);
    if (length > kMaxChunkSize) return paramErr;
    std::uint8_t header[16] = {};
    WriteBE16(header, static_cast<std::uint16_t>(length));
    WriteBE16(header + 2, ChunkTag("au"));
    WriteBE32(header + 4, frames);
    WriteBE32(header + 8, firstFrame);
    static const std::uint8_t zero = 0;
    std::uint64_t offset = 0;
    if (OSErr err = w->spool.Append({header, encoded, std::span(&zero, pad ? 1 : 0)}, offset)) return err;
    StreamCount& sound = w->counts[1];
    ++sound.chunks;
    ++sound.eligible;
    sound.duration += frames;
    return noErr;
}

OSErr EndMovie(MovieWriter* w) {
    if (w == nullptr || w->state != WriterState::Open) return paramErr;
    w->Progress(0);
    if (w->hasSound && w->soundEncoder)
        if (OSErr err = w->soundEncoder->Finish(*w)) {
            w->state = WriterState::Finished;
            return err;
        }
    if (w->hasVideo && w->videoEncoder)
        if (OSErr err = w->videoEncoder->Finish(*w)) {
            w->state = WriterState::Finished;
            return err;
        }
    w->state = WriterState::Finished;
    if (OSErr err = LayOutRecords(*w)) return err;
    return BuildDatabaseImage(*w);
}

// ---- The database image and its read-out ----------------------------------------------

OSErr BuildDatabaseImage(MovieWriter& w) {
    if (OSErr err = w.layout.Flush()) return err;
    const std::uint64_t n = w.memoryRecords.size() + w.spooledRecords;
    if (n > 0xFFFF) return paramErr; // the record count is a 16-bit field

    PdbHeader header;
    header.name = w.name;
    header.creationDate = header.modificationDate = PalmDateNow();
    header.type = Fcc("VMOV");
    header.creator = Fcc("VTRO");
    header.recordCount = static_cast<std::uint16_t>(n);
    ByteBlock& image = w.image;
    image.Release();
    // The image's final size is known: allocate it once.
    std::uint64_t imageSize = kPdbHeaderSize + kPdbRecordEntrySize * n + kPdbGapSize;
    for (const ByteBlock& record : w.memoryRecords) imageSize += record.Size();
    if (imageSize > ByteBlock::kMaxSize) return paramErr;
    if (OSErr err = image.Reserve(static_cast<std::uint32_t>(imageSize))) return err;
    if (OSErr err = AppendPdbHeader(image, header)) return err;

    std::uint64_t offset = kPdbHeaderSize + kPdbRecordEntrySize * n + kPdbGapSize;
    std::uint32_t index = 0;
    for (const ByteBlock& record : w.memoryRecords) {
        if (OSErr err = AppendPdbRecordEntry(image, static_cast<std::uint32_t>(offset), index++)) return err;
        offset += record.Size();
    }
    // Spooled records are runs of descriptors, each run ended by "re".
    bool recordStarts = true;
    OSErr err = w.layout.ForEach([&](const SpoolDescriptor& d) -> OSErr {
        if (recordStarts) {
            if (offset > 0xFFFFFFFFu) return paramErr; // past what a database can address
            if (OSErr e = AppendPdbRecordEntry(image, static_cast<std::uint32_t>(offset), index++)) return e;
        }
        offset += d.size;
        recordStarts = d.kind == SpoolDescriptor::RecordEnd;
        return noErr;
    });
    if (err) return err;
    if (offset > 0xFFFFFFFFu) return paramErr;
    w.spooledSize = w.layout.TotalSize();
    if (OSErr e = image.AppendBE16(0)) return e; // the gap
    // The media start counts from the first record's start.
    w.mediaStart = w.mediaStartInRecord + image.Size();
    for (ByteBlock& record : w.memoryRecords) {
        if (OSErr e = image.Append(record)) return e;
        record.Release();
    }
    w.memoryRecords.clear();
    w.Progress(100);
    return noErr;
}

OSErr GetDatabaseSize(const MovieWriter* w, std::uint32_t& size) {
    if (w == nullptr || w->state != WriterState::Finished) return paramErr;
    size = static_cast<std::uint32_t>(w->image.Size() + w->spooledSize);
    return noErr;
}

OSErr ReadDatabase(const MovieWriter* w, void* buffer, std::uint32_t offset, std::uint32_t length) {
    std::uint32_t size = 0;
    if (OSErr err = GetDatabaseSize(w, size)) return err;
    if (buffer == nullptr && length > 0) return paramErr;
    if (std::uint64_t{offset} + length > size) return paramErr;
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::uint64_t end = std::uint64_t{offset} + length;

    // The image part.
    std::uint64_t pos = offset;
    const std::uint64_t imageSize = w->image.Size();
    if (pos < imageSize) {
        const std::uint64_t n = std::min(end, imageSize) - pos;
        std::memcpy(out, w->image.Data() + pos, static_cast<std::size_t>(n));
        pos += n;
    }
    // The spooled part, from the layout of the spooled records.
    if (pos < end) {
        std::span<std::uint8_t> rest(out + (pos - offset), static_cast<std::size_t>(end - pos));
        if (OSErr err = w->layout.Read(w->spool, pos - imageSize, rest)) return err;
    }
    // Scrambling covers everything from the media start on.
    if (w->hasKey) {
        for (std::uint64_t p = std::max<std::uint64_t>(offset, w->mediaStart); p < end; ++p)
            out[p - offset] ^= w->key[(p - w->mediaStart) % 512];
    }
    return noErr;
}

// ---- Inspection --------------------------------------------------------------------------

std::uint32_t GetMediaStartOffset(const MovieWriter* w) { return w ? w->mediaStart : 0; }
