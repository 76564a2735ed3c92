// The export component: its identity, data sources, auxiliary data, shared
// tables and the merge of movie databases.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "engine/conversion.h"
#include "engine/exportcomponent.h"
#include "platform/resources.h"
#include "resources/application_resources.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"
#include "tests/test_folder.h"

namespace {

// An instance of the component, with the application's resources open.
class Exporter {
public:
    Exporter() {
        EXPECT_EQ(OpenApplicationResources(), noErr);
        EXPECT_EQ(OpenComponent(RegisterExportComponent(), instance_), noErr);
    }
    ~Exporter() {
        if (instance_) {
            EXPECT_EQ(CloseComponent(instance_), noErr);
        }
    }
    ComponentInstance get() const { return instance_; }
    void Close() {
        EXPECT_EQ(CloseComponent(instance_), noErr);
        instance_ = nullptr;
    }

private:
    ComponentInstance instance_ = nullptr;
};

OSErr DummyProperty(void*, std::int32_t, OSType, std::int64_t*) { return paramErr; }
OSErr DummyData(void*, MovieExportGetDataParams*) { return eofErr; }

// A Palm database of `count` records of `size` bytes each.
void WriteDatabase(const std::filesystem::path& path, const char* name, int count, int size) {
    std::vector<std::uint8_t> bytes(78 + 8 * count + 2, 0);
    std::memcpy(bytes.data(), name, std::strlen(name));
    WriteBE32(bytes.data() + 60, Fcc("VMOV"));
    WriteBE32(bytes.data() + 64, Fcc("VTRO"));
    WriteBE16(bytes.data() + 76, static_cast<std::uint16_t>(count));
    for (int i = 0; i < count; ++i) WriteBE32(bytes.data() + 78 + 8 * i, static_cast<std::uint32_t>(bytes.size() + i * size));
    for (int i = 0; i < count; ++i) bytes.insert(bytes.end(), static_cast<std::size_t>(size), static_cast<std::uint8_t>(i));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

TEST(ExportComponent, RegisteredOnceAndNamesItsFiles) {
    const Component component = RegisterExportComponent();
    EXPECT_EQ(RegisterExportComponent(), component); // once per process

    Exporter e;
    // A gap in the table: neither offered nor answered.
    EXPECT_EQ(ComponentFunctionImplemented(e.get(), kMovieExportToHandleSelect), 0);
    EXPECT_EQ(CallComponent(e.get(), kMovieExportToHandleSelect, nullptr), badComponentSelector);

    OSType type = 1;
    MovieExportOSTypeParams ext{&type};
    ASSERT_EQ(CallComponent(e.get(), kMovieExportGetFileNameExtensionSelect, &ext), noErr);
    EXPECT_EQ(type, Fcc("pdb "));
    ASSERT_EQ(CallComponent(e.get(), kMovieExportGetSourceMediaTypeSelect, &ext), noErr);
    EXPECT_EQ(type, 0u);
    std::string text;
    MovieExportStringParams str{&text};
    ASSERT_EQ(CallComponent(e.get(), kMovieExportGetShortFileTypeStringSelect, &str), noErr);
    EXPECT_EQ(text, "Vantro Movie for Palm OS");
    bool canceled = true;
    MovieExportDoUserDialogParams dialog{nullptr, 0, 0, 0, &canceled};
    EXPECT_EQ(CallComponent(e.get(), kMovieExportDoUserDialogSelect, &dialog), noErr);
    EXPECT_FALSE(canceled);
}

TEST(ExportComponent, DataSourcesOneOfEachKind) {
    Exporter e;
    std::int32_t track = 0;
    auto add = [&](OSType kind, std::int32_t scale, MovieExportGetDataProc data = DummyData) {
        track = 0;
        MovieExportAddDataSourceParams p{kind, scale, &track, DummyProperty, data, nullptr};
        return CallComponent(e.get(), kMovieExportAddDataSourceSelect, &p);
    };
    ASSERT_EQ(add(Fcc("vide"), 600), noErr);
    EXPECT_EQ(track, 1);
    EXPECT_EQ(add(Fcc("vide"), 600), paramErr); // the first stays
    ASSERT_EQ(add(Fcc("soun"), 44100), noErr);
    EXPECT_EQ(track, 2);
    EXPECT_EQ(add(Fcc("text"), 600), paramErr);
    EXPECT_EQ(add(Fcc("soun"), 0), paramErr);
    EXPECT_EQ(add(Fcc("soun"), 8000, nullptr), paramErr);
}

TEST(ExportComponent, ConvertsFromACallersOwnDataSources) {
    // A caller that brings its own procedures: here the standard exporter's
    // sound procedures of a tone, added and converted without a movie.
    const auto tone = ToneWav();
    Movie movie;
    ASSERT_EQ(Movie::Open(tone, movie), noErr);
    Exporter e;
    ComponentInstance standard = nullptr;
    ASSERT_EQ(OpenDefaultComponent(kMovieExportType, kStandardExportSubType, standard), noErr);
    std::int32_t scale = 0, track = 0;
    MovieExportGetPropertyProc getProperty = nullptr;
    MovieExportGetDataProc getData = nullptr;
    void* refcon = nullptr;
    ASSERT_EQ(MovieExportNewGetDataAndPropertiesProcs(standard, movie, kSoundMediaType, 0, 0, movie.Duration(), scale,
                                                      getProperty, getData, refcon), noErr);
    EXPECT_EQ(scale, 44100);
    MovieExportAddDataSourceParams add{kSoundMediaType, scale, &track, getProperty, getData, refcon};
    ASSERT_EQ(CallComponent(e.get(), kMovieExportAddDataSourceSelect, &add), noErr);
    AtomContainer settings;
    ASSERT_EQ(GetExportSettings(TestSettings(kDepthNoVideo, 0, kSoundAdpcm4to1, 11025), &settings), noErr);
    ASSERT_EQ(MovieExportSetSettings(e.get(), settings), noErr);
    TestFolder folder;
    const FileSpec out = folder.Path() / "tone.pdb";
    MovieExportFromProceduresParams run{&out, kAliasDataRefType};
    ASSERT_EQ(CallComponent(e.get(), kMovieExportFromProceduresToDataRefSelect, &run), noErr);
    ASSERT_EQ(MovieExportDisposeGetDataAndPropertiesProcs(standard, getProperty, getData, refcon), noErr);
    ASSERT_EQ(CloseComponent(standard), noErr);
    ByteBlock bytes;
    ASSERT_EQ(ReadWholeFile(out, bytes), noErr);
    const Inspection in = InspectDatabase(bytes.Span());
    ASSERT_TRUE(in.Valid()) << in.problem;
    EXPECT_EQ(in.audioFormat, 628u);
    EXPECT_EQ(in.sampleRate, 11025u);
}

TEST(ExportComponent, AuxiliaryDataNamesTheMissingDecoder) {
    Exporter e;
    Movie movie;
    ASSERT_EQ(Movie::Open(UnknownCodecAvi(), movie), noErr);
    ExportSettings s;
    AtomContainer settings;
    ASSERT_EQ(GetExportSettings(s, &settings), noErr);
    ASSERT_EQ(MovieExportSetSettings(e.get(), settings), noErr);
    TestFolder folder;
    EXPECT_EQ(MovieExportToFile(e.get(), folder.Path() / "out.pdb", movie), noCodecErr);
    OSType format = 0;
    ASSERT_EQ(MovieExportGetMissingDecoder(e.get(), format), noErr);
    EXPECT_EQ(format, Fcc("ZZZZ"));

    // Only a handle of exactly 'VTRO' and -8961 is answered; others stay.
    ByteBlock wrong;
    ASSERT_EQ(wrong.Resize(6), noErr);
    std::memset(wrong.Data(), 0, 6);
    OSType type = 0;
    MovieExportGetAuxiliaryDataParams p{&wrong, &type};
    EXPECT_EQ(CallComponent(e.get(), kMovieExportGetAuxiliaryDataSelect, &p), paramErr);
    EXPECT_EQ(wrong.Size(), 6u);
    EXPECT_EQ(type, 0u);
    ByteBlock handle;
    ASSERT_EQ(handle.Resize(6), noErr);
    const std::uint32_t tag = Fcc("VTRO");
    const std::int16_t code = noCodecErr;
    std::memcpy(handle.Data(), &tag, 4);
    std::memcpy(handle.Data() + 4, &code, 2);
    MovieExportGetAuxiliaryDataParams right{&handle, &type};
    ASSERT_EQ(CallComponent(e.get(), kMovieExportGetAuxiliaryDataSelect, &right), noErr);
    EXPECT_EQ(handle.Size(), 4u);
    EXPECT_EQ(type, Fcc("imdc"));
}

TEST(ExportComponent, InstancesShareTheMpegTablesUntilTheLastCloses) {
    const Component component = RegisterExportComponent();
    Exporter a;
    const std::intptr_t table = GetComponentRefcon(component);
    ASSERT_NE(table, 0);
    const auto* values = reinterpret_cast<const std::uint32_t*>(table);
    EXPECT_EQ(values[1], 32u);       // MPEG-1 Layer I, index 1: 32 kbit/s
    EXPECT_EQ(values[144], 44100u);  // the first sample rate
    {
        Exporter b;
        EXPECT_EQ(GetComponentRefcon(component), table);
        a.Close();
        EXPECT_EQ(GetComponentRefcon(component), table); // survives the first close
    }
    EXPECT_EQ(GetComponentRefcon(component), 0);
}

TEST(ExportComponent, MergesDatabasesBehindADirectory) {
    TestFolder folder;
    const FileSpec sources[2] = {folder.Path() / "first.pdb", folder.Path() / "second.pdb"};
    WriteDatabase(sources[0], "First movie", 10, 7);
    WriteDatabase(sources[1], "Second movie", 20, 12);
    Exporter e;
    const FileSpec merged = folder.Path() / "merged.pdb";
    EXPECT_EQ(MergeMovieDatabases(e.get(), sources, 2, merged, std::string(32, 'x')), paramErr);
    ASSERT_EQ(MergeMovieDatabases(e.get(), sources, 2, merged, "Both"), noErr);

    ByteBlock b;
    ASSERT_EQ(ReadWholeFile(merged, b), noErr);
    const std::uint8_t* p = b.Data();
    EXPECT_STREQ(reinterpret_cast<const char*>(p), "Both");
    EXPECT_EQ(ReadBE32(p + 60), Fcc("VMRG"));
    EXPECT_EQ(ReadBE32(p + 64), Fcc("VTRO"));
    ASSERT_EQ(ReadBE16(p + 76), 31);
    const std::uint32_t first = ReadBE32(p + 78);
    EXPECT_EQ(first, 80u + 8u * 31u);
    EXPECT_EQ(p[78 + 4], 0x40);
    EXPECT_EQ(p[78 + 5], 0xA4);
    EXPECT_EQ(ReadBE16(p + 78 + 6), 0x8000);
    EXPECT_EQ(ReadBE16(p + 78 + 8 * 30 + 6), 0x8000 + 30);
    // The directory: 3, then 1 with the first name and 11 with the second;
    // the last entry zero.
    const std::uint8_t* dir = p + first;
    EXPECT_EQ(ReadBE16(dir), 3);
    EXPECT_EQ(ReadBE16(dir + 34), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(dir + 36), "First movie");
    EXPECT_EQ(ReadBE16(dir + 68), 11);
    EXPECT_STREQ(reinterpret_cast<const char*>(dir + 70), "Second movie");
    for (int i = 102; i < 136; ++i) EXPECT_EQ(dir[i], 0) << i;
    // Records copied unchanged: the second source's last record last.
    EXPECT_EQ(ReadBE32(p + 78 + 8), first + 136);
    EXPECT_EQ(b.Size(), first + 136u + 10u * 7u + 20u * 12u);
    EXPECT_EQ(p[b.Size() - 1], 19);
}
