// AVI sources: the header reader, the MPEG Layer-3 copy and the conversion
// of AVI files from every kind of codec.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "import/aviheader.h"
#include "import/avimp3.h"
#include "import/avipreview.h"
#include "import/directshowsource.h"
#include "import/vfwbridge.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"

namespace {

const char* kAviPicture = "-f lavfi -i testsrc2=size=160x120:rate=10:duration=2";
const char* kAviTone = "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=2";

std::filesystem::path Avi(const std::string& name, const std::string& video, const std::string& audio = "-c:a libmp3lame") {
    return MakeFixture("avi-" + name + ".avi", std::string(kAviPicture) + " " + kAviTone + " -c:v " + video + " " + audio + " %o");
}

std::string Code(OSType c) { return FourCharCodeToText(c); }

std::filesystem::path NotRiff() { return WriteTextFixture("notriff.avi", "This is not an AVI file at all, only text."); }

// The AVI fixtures that convert, made on first use, with the picture codec
// and the sound format tag their headers name.
struct AviKind {
    std::filesystem::path file;
    const char* codec; // none for uncompressed pictures
    std::uint16_t tag;
};

std::vector<AviKind> ConvertibleAvis() {
    return {{Avi("xvid", "mpeg4 -vtag XVID"), "XVID", 0x55},
            {Avi("dx50", "mpeg4 -vtag DX50"), "DX50", 0x55},
            {Avi("divx", "mpeg4 -vtag DIVX", "-c:a pcm_s16le"), "DIVX", 1},
            {Avi("div3", "msmpeg4 -vtag DIV3", "-c:a libmp3lame -q:a 4"), "DIV3", 0x55},
            {Avi("mjpeg", "mjpeg"), "MJPG", 0x55},
            {Avi("cinepak", "cinepak"), "cvid", 0x55},
            {Avi("raw24", "rawvideo -pix_fmt bgr24"), "", 0x55},
            {Avi("pal8", "rawvideo -pix_fmt pal8", "-c:a pcm_s16le"), "", 1},
            // The sound first, then the picture: the header walk goes on past it.
            {MakeFixture("avi-audiofirst.avi", std::string(kAviPicture) + " " + kAviTone + " -map 1:a -map 0:v -c:v mjpeg -c:a libmp3lame %o"),
             "MJPG", 0x55},
            {Avi("mp3-cbr", "mjpeg", "-c:a libmp3lame -b:a 64k"), "MJPG", 0x55},
            {Avi("mp3-vbr", "mjpeg", "-c:a libmp3lame -q:a 5"), "MJPG", 0x55}};
}

// The sound chunks of stream 1, found by walking the RIFF structure (not by
// scanning bytes): the bodies over 16 bytes, in file order.
std::vector<std::uint8_t> WalkedMp3(const std::vector<std::uint8_t>& avi) {
    std::vector<std::uint8_t> out;
    auto walk = [&](auto& self, std::size_t from, std::size_t to) -> void {
        for (std::size_t at = from; at + 8 <= to;) {
            const std::uint32_t size = ReadLE32(&avi[at + 4]);
            const std::string id(avi.begin() + static_cast<std::ptrdiff_t>(at), avi.begin() + static_cast<std::ptrdiff_t>(at + 4));
            if (id == "RIFF" || id == "LIST") self(self, at + 12, std::min(to, at + 8 + size));
            else if (id == "01wb" && size > 16) out.insert(out.end(), avi.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                                         avi.begin() + static_cast<std::ptrdiff_t>(at + 8 + size));
            at += 8 + size + (size & 1);
        }
    };
    walk(walk, 0, avi.size());
    return out;
}

} // namespace

TEST(AviHeader, EveryStreamListIsWalked) {
    auto cases = ConvertibleAvis();
    // Two picture streams: the first one's codec.
    cases.push_back({MakeFixture("avi-twovideo.avi", std::string(kAviPicture) + " -map 0:v -map 0:v -c:v:0 cinepak -c:v:1 mjpeg %o"), "cvid", 0});
    for (const AviKind& c : cases) {
        OSType codec = 1;
        std::uint16_t tag = 1234;
        ASSERT_EQ(ReadAviHeader(c.file, &codec, &tag), noErr) << c.file;
        EXPECT_EQ(codec == 0 ? std::string() : Code(codec), c.codec) << c.file;
        EXPECT_EQ(tag, c.tag) << c.file;
    }

    // Not RIFF, and a header cut short: nothing found, no error.
    const auto avi = FileBytes(Avi("xvid", "mpeg4 -vtag XVID"));
    const auto cut = FixtureFolder() / "truncated.avi";
    std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(avi.data()), 200);
    for (const auto& broken : {NotRiff(), cut}) {
        OSType codec = 1;
        std::uint16_t tag = 1;
        EXPECT_EQ(ReadAviHeader(broken, &codec, &tag), noErr);
        EXPECT_EQ(codec, 0u);
        EXPECT_EQ(tag, 0);
    }
    EXPECT_EQ(ReadAviHeader(FixtureFolder() / "missing.avi", nullptr, nullptr), fnfErr);

    // At most three characters of the extension count.
    for (const char* name : {"clip.avi", "CLIP.AvI", "clip.avix"}) EXPECT_TRUE(HasAviExtension(name)) << name;
    for (const char* name : {"clip.av", "avi", "clip.avi.mov"}) EXPECT_FALSE(HasAviExtension(name)) << name;
}

TEST(AviMp3, TheCopyHoldsExactlyTheSoundChunks) {
    const std::pair<const char*, const char*> kinds[] = {{"mp3-cbr", "-c:a libmp3lame -b:a 64k"}, {"mp3-vbr", "-c:a libmp3lame -q:a 5"}};
    for (const auto& [name, audio] : kinds) {
        const auto avi = Avi(name, "mjpeg", audio);
        FileSpec copy;
        std::vector<Fixed> progress;
        auto record = [](std::int16_t message, Fixed fraction, void* refcon) -> std::int16_t {
            if (message == 1) static_cast<std::vector<Fixed>*>(refcon)->push_back(fraction);
            return 0;
        };
        ASSERT_EQ(ExtractAviMp3(avi, record, &progress, copy), noErr);
        ScopedFileDeletion cleanup(copy);
        EXPECT_EQ(copy.filename().string().rfind("blah", 0), 0u);
        EXPECT_EQ(copy.extension(), ".mp3");
        const auto expected = WalkedMp3(FileBytes(avi));
        ASSERT_GT(expected.size(), 1000u);
        EXPECT_TRUE(FileBytes(copy) == expected) << audio;
        // The copy is the first twentieth of the conversion.
        ASSERT_FALSE(progress.empty());
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_NEAR(progress.back(), 0.05 * 65536, 2);
    }
}

TEST(AviMp3, ChunksAcrossPiecesSmallChunksAndPadBytes) {
    // Built by hand: chunk bodies that straddle the 16384-byte reads, chunks
    // of 16 bytes and less (skipped, even when they hold "01wb"), odd sizes
    // with their pad byte, and other streams' chunks between.
    std::vector<std::uint8_t> file;
    std::vector<std::uint8_t> expected;
    auto chunk = [&](const char* id, std::uint32_t size, std::uint8_t fill) {
        file.insert(file.end(), id, id + 4);
        for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
        std::vector<std::uint8_t> body(size, fill);
        if (size >= 4 && fill == 0x77) std::memcpy(body.data(), "01wb", 4); // a decoy inside a skipped chunk
        file.insert(file.end(), body.begin(), body.end());
        if (size & 1) file.push_back(0xEE);
        if (std::string(id) == "01wb" && size > kSmallestKeptChunk) expected.insert(expected.end(), body.begin(), body.end());
    };
    chunk("00dc", 16370, 1);
    chunk("01wb", 417, 2);   // starts before 16384, ends after
    chunk("01wb", 16, 0x77); // skipped whole, decoy included
    chunk("01wb", 3, 4);     // skipped, odd: a pad byte
    chunk("01wb", 40000, 5); // spans three reads
    chunk("00dc", 21, 6);
    chunk("01wb", 17, 7);    // the smallest kept
    const auto path = FixtureFolder() / "handmade.avi";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    FileSpec copy;
    ASSERT_EQ(ExtractAviMp3(path, nullptr, nullptr, copy), noErr);
    ScopedFileDeletion cleanup(copy);
    EXPECT_TRUE(FileBytes(copy) == expected);
}

TEST(AviMp3, TheDurationRule) {
    EXPECT_TRUE(Mp3NeedsRepair(1120, 1000)); // 12 % off
    EXPECT_TRUE(Mp3NeedsRepair(880, 1000));
    EXPECT_FALSE(Mp3NeedsRepair(1090, 1000)); // 9 % off
    EXPECT_FALSE(Mp3NeedsRepair(1100, 1000)); // exactly a tenth
    EXPECT_FALSE(Mp3NeedsRepair(0, 1000));
    EXPECT_FALSE(Mp3NeedsRepair(1000, 0));
}

TEST(AviSources, EveryKindConvertsWithPictureAndSoundInStep) {
    ExportSettings settings;
    SetFirstPresetSettings(settings); // 10 frames a second, ADPCM
    // The sound copies and spool files go here, and must all be gone after.
    TestFolder temporary;
    ASSERT_EQ(setenv("TMPDIR", temporary.Path().c_str(), 1), 0);
    for (const AviKind& kind : ConvertibleAvis()) {
        SCOPED_TRACE(kind.file.filename().string());
        const Converted c = ConvertTo(kind.file, settings);
        ASSERT_EQ(c.err, noErr);
        ASSERT_TRUE(c.inspection.hasAudio);
        // Within a frame (a tenth of a second) of each other.
        EXPECT_NEAR(static_cast<double>(c.inspection.streams[0].shDuration), static_cast<double>(c.inspection.streams[1].shDuration), 10.0);
        for (const auto& e : std::filesystem::directory_iterator(temporary.Path()))
            if (e.is_regular_file()) ADD_FAILURE() << "left behind: " << e.path();
    }
    unsetenv("TMPDIR");
}

namespace {

// PSNR of red, green and blue between a 'BGRA' buffer and rows of another
// layout (offsets of blue, green and red within `pixelBytes`).
double Psnr(const FrameBuffer& a, const std::uint8_t* rows, int rowBytes, int pixelBytes, int blue, int green, int red) {
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const std::uint8_t* p = a.Pixel(x, y);
            const std::uint8_t* q = rows + static_cast<std::ptrdiff_t>(y) * rowBytes + x * pixelBytes;
            for (const auto& [i, j] : {std::pair{0, blue}, std::pair{1, green}, std::pair{2, red}}) sum += (p[i] - q[j]) * (p[i] - q[j]);
        }
    const double mse = sum / (3.0 * a.Width() * a.Height());
    return 10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9));
}

} // namespace

TEST(VfwBridge, RowsWideningAndColourTables) {
    EXPECT_EQ(BridgeRowSize(160), 480);
    EXPECT_EQ(BridgeRowSize(161), 484); // 486 rounded down, 483 needed
    EXPECT_EQ(WidenFive(31), 255);
    EXPECT_EQ(WidenFive(1), 8);
    EXPECT_EQ(WidenFive(0), 0);

    // Two rows of two pixels, bottom-up: the bitmap's first row is the
    // picture's last.
    const std::uint8_t eight[] = {2, 3, 0, 0, /* bottom */ 0, 1, 0, 0 /* top */};
    std::vector<std::uint8_t> table(768, 0);
    for (int i = 0; i < 4; ++i) table[3 * i] = static_cast<std::uint8_t>(10 * i), table[3 * i + 1] = 100, table[3 * i + 2] = static_cast<std::uint8_t>(200 + i);
    std::uint8_t argb[16] = {}, bgr[12] = {};
    CopyBitmapRows(eight, 8, 2, 2, 4, table, argb, 8, k32BitARGB);
    const std::uint8_t wantArgb[16] = {0, 0, 100, 200, 0, 10, 100, 201, 0, 20, 100, 202, 0, 30, 100, 203};
    EXPECT_EQ(0, std::memcmp(argb, wantArgb, 16));
    CopyBitmapRows(eight, 8, 2, 2, 4, table, bgr, 6, k24BitBGR);
    const std::uint8_t wantBgr[12] = {200, 100, 0, 201, 100, 10, 202, 100, 20, 203, 100, 30};
    EXPECT_EQ(0, std::memcmp(bgr, wantBgr, 12));

    // 5-5-5: red 31, green 1, blue 16 in one pixel.
    const std::uint16_t v = static_cast<std::uint16_t>(31 << 10 | 1 << 5 | 16);
    const std::uint8_t sixteen[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), 0, 0};
    std::uint8_t one[4] = {};
    CopyBitmapRows(sixteen, 16, 1, 1, 4, {}, one, 4, k32BitARGB);
    EXPECT_EQ(one[1], 255);
    EXPECT_EQ(one[2], 8);
    EXPECT_EQ(one[3], WidenFive(16));
    // Other destinations copy nothing.
    std::uint8_t untouched[4] = {9, 9, 9, 9};
    CopyBitmapRows(sixteen, 16, 1, 1, 4, {}, untouched, 4, Fcc("2vuy"));
    EXPECT_EQ(untouched[0], 9);
}

TEST(VfwBridge, TheComponentDecodesAnAviLikeTheMediaLayer) {
    const auto avi = Avi("xvid", "mpeg4 -vtag XVID");
    EXPECT_TRUE(VfwCanDecode(avi));
    EXPECT_FALSE(VfwCanDecode(NotRiff()));
    EXPECT_FALSE(VfwCanDecode(UnknownCodecAvi()));

    const Component bridge = RegisterBridgeFor(Fcc("XVID"));
    ASSERT_NE(bridge, nullptr);
    EXPECT_EQ(RegisterBridgeFor(Fcc("XVID")), bridge);
    RegisterPresetBridges();
    ComponentDescription preset;
    preset.componentType = Fcc("imdc");
    preset.componentManufacturer = Fcc("VtrO");
    EXPECT_GE(CountComponents(preset), 17); // the sixteen codes and XVID

    std::vector<VideoPacket> packets;
    BitmapHeader format;
    ASSERT_EQ(ReadVideoPackets(avi, packets, format), noErr);
    ASSERT_GT(packets.size(), 10u);
    ComponentInstance codec = nullptr;
    ASSERT_EQ(OpenComponent(bridge, codec), noErr);
    BridgeImage image{format.width, format.height, Fcc("XVID"), {}, {}};
    BridgePreflightParams preflight{&image};
    ASSERT_EQ(CallComponent(codec, kImageCodecPreflightSelect, &preflight), noErr);
    EXPECT_EQ(preflight.wantedPixelSize, 32);
    EXPECT_EQ(preflight.bandMin, 120);
    EXPECT_EQ(preflight.wantedFormat, Fcc("24BG"));
    EXPECT_TRUE(preflight.capabilities & (1u << 26));
    // Every frame decoded, only the eleventh drawn: the frames before it
    // must still be decoded for it to come out right.
    std::vector<std::uint8_t> pixels(160 * 120 * 4, 0xAB);
    const std::size_t shown = 10;
    for (std::size_t i = 0; i <= shown; ++i) {
        BridgeBandParams band{.baseAddress = pixels.data(), .rowBytes = 160 * 4, .data = packets[i].data, .draw = i == shown,
                              .keyFrame = packets[i].keyFrame};
        ASSERT_EQ(CallComponent(codec, kImageCodecBeginBandSelect, &band), noErr);
        ASSERT_EQ(CallComponent(codec, kImageCodecDrawBandSelect, nullptr), noErr) << i;
        ASSERT_EQ(CallComponent(codec, kImageCodecEndBandSelect, nullptr), noErr);
        if (i < shown) {
            ASSERT_EQ(pixels[5], 0xAB) << "frame " << i << " was drawn";
        }
    }
    EXPECT_EQ(CallComponent(codec, kImageCodecQueueStoppingSelect, nullptr), noErr);
    // The same picture as the media layer shows at that frame's time.
    EXPECT_GT(Psnr(PictureAt(avi, packets[shown].seconds + 0.01, 160, 120), pixels.data(), 160 * 4, 4, 3, 2, 1), 60.0);
    BridgeCodecInfo info;
    EXPECT_EQ(CallComponent(codec, kImageCodecGetCodecInfoSelect, &info), noErr);
    ASSERT_EQ(CloseComponent(codec), noErr);

    // A codec nothing decodes.
    ComponentInstance unknown = nullptr;
    ASSERT_EQ(OpenComponent(RegisterBridgeFor(Fcc("ZZZZ")), unknown), noErr);
    BridgeImage nothing{160, 120, Fcc("ZZZZ"), {}, {}};
    BridgePreflightParams refused{&nothing};
    EXPECT_EQ(CallComponent(unknown, kImageCodecPreflightSelect, &refused), codecDataVersErr);
    ASSERT_EQ(CloseComponent(unknown), noErr);
}

TEST(DirectShowSource, FramesByTimeAtTheSettingsRate) {
    const auto avi = Avi("mjpeg", "mjpeg");
    auto source = OpenDirectShowSource(avi);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->width, 160);
    EXPECT_EQ(source->height, 120);
    EXPECT_NEAR(source->length, 2.0, 0.15);
    ASSERT_EQ(SetupDirectShowSource(*source, 80, 60, IntToFixed(4)), noErr);
    EXPECT_EQ(source->rowBytes, 240);
    FrameBuffer pixels;
    int frames = 0;
    OSErr err = noErr;
    while ((err = NextDirectShowFrame(*source, pixels)) == noErr) {
        if (frames == 4) {
            // One second in: the picture the media layer shows then.
            EXPECT_GT(Psnr(PictureAt(avi, 1.0, 80, 60), pixels.Pixels(), pixels.RowBytes(), 4, 0, 1, 2), 60.0);
            EXPECT_EQ(pixels.Pixel(3, 3)[3], 0);
        }
        ++frames;
    }
    EXPECT_EQ(err, eofErr);
    EXPECT_EQ(frames, static_cast<int>(std::ceil(source->length * 4)));
    CloseDirectShowSource(source);
    EXPECT_FALSE(source);
    EXPECT_FALSE(OpenDirectShowSource(NotRiff()));
}

TEST(AviPreview, RegisteredOnceAndLooksOnlyAtAviNames) {
    const Component preview = RegisterAviPreview();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(RegisterAviPreview(), preview);
    EXPECT_TRUE(AviPreviewExamines("Holiday.AVI"));
    EXPECT_FALSE(AviPreviewExamines("holiday.mov"));
}
