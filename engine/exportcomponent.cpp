// The export component: its selector table, the settings exchange and the merge of databases.
#include "engine/exportcomponent.h"

#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "engine/exportinstance.h"
#include "import/mpegaudio.h"
#include "moviedb/pdb.h"
#include "platform/resources.h"

namespace {

// The MPEG audio tables every instance shares: 144 bit rates then 12
// sample rates, 32-bit, host order; the component's reference value from
// the first open to the last close. Instances opened and closed on several
// threads at once load and free them one at a time.
std::mutex gTablesLock;

OSErr LoadMpegTables(Component component) {
    const std::lock_guard<std::mutex> hold(gTablesLock);
    if (GetComponentRefcon(component) != 0) return noErr;
    auto* table = new (std::nothrow) std::uint32_t[kMpegTableEntries];
    if (table == nullptr) return memFullErr;
    if (OSErr err = ReadMpegRateTables(std::span<std::uint32_t, kMpegTableEntries>(table, kMpegTableEntries))) {
        delete[] table;
        return err;
    }
    SetComponentRefcon(component, reinterpret_cast<std::intptr_t>(table));
    return noErr;
}

ComponentResult Open(ComponentInstance self) {
    auto* instance = new (std::nothrow) ExportInstance;
    if (instance == nullptr) return memFullErr;
    SetComponentInstanceStorage(self, instance);
    if (OSErr err = OpenStandardExporter(instance->standardExporter)) return err;
    return LoadMpegTables(GetComponentOf(self));
}

ComponentResult Close(ComponentInstance self) {
    auto* instance = static_cast<ExportInstance*>(GetComponentInstanceStorage(self));
    const Component component = GetComponentOf(self);
    if (instance != nullptr) {
        if (instance->standardExporter) (void)CloseComponent(instance->standardExporter);
        delete instance;
        SetComponentInstanceStorage(self, nullptr);
    }
    // The last instance takes the shared tables with it.
    const std::lock_guard<std::mutex> hold(gTablesLock);
    if (CountComponentInstances(component) <= 1) {
        delete[] reinterpret_cast<std::uint32_t*>(GetComponentRefcon(component));
        SetComponentRefcon(component, 0);
    }
    return noErr;
}

ComponentResult GetAuxiliaryData(ExportInstance& instance, MovieExportGetAuxiliaryDataParams* p) {
    // The handle must hold 'VTRO' and -8961 in host order; it is cut to
    // the four bytes of the missing decoder's format.
    if (p == nullptr || p->data == nullptr || p->handleType == nullptr || p->data->Size() != 6) return paramErr;
    std::uint32_t tag = 0;
    std::int16_t code = 0;
    std::memcpy(&tag, p->data->Data(), 4);
    std::memcpy(&code, p->data->Data() + 4, 2);
    if (tag != Fcc("VTRO") || code != noCodecErr) return paramErr;
    if (OSErr err = p->data->Resize(4)) return err;
    std::memcpy(p->data->Data(), &instance.missingDecoder, 4);
    *p->handleType = Fcc("imdc");
    return noErr;
}

} // namespace

OSErr AddExportSource(ExportInstance& instance, const MovieExportAddDataSourceParams& source) {
    const MovieExportAddDataSourceParams* p = &source;
    if (p->scale == 0 || p->trackType == 0 || p->getData == nullptr || p->getProperty == nullptr) return paramErr;
    const bool video = p->trackType == kVideoMediaType;
    if (!video && p->trackType != kSoundMediaType) return paramErr;
    std::unique_ptr<ExportSource>& slot = video ? instance.video : instance.sound;
    if (slot) return paramErr;
    slot.reset(new (std::nothrow) ExportSource);
    if (!slot) return memFullErr;
    slot->trackNumber = video ? 1 : 2;
    slot->timeScale = p->scale;
    slot->getProperty = p->getProperty;
    slot->getData = p->getData;
    slot->refcon = p->refcon;
    if (p->trackID) *p->trackID = slot->trackNumber;
    return noErr;
}

namespace {

// ---- Merging movie databases ----

struct SourceDatabase {
    File file;
    std::uint8_t header[78];
    std::vector<std::uint32_t> offsets, sizes;
};

OSErr ReadSource(const FileSpec& path, SourceDatabase& db) {
    if (OSErr err = File::Open(path, File::Mode::Read, db.file)) return err;
    std::uint64_t size = 0;
    if (OSErr err = db.file.Size(size)) return err;
    if (OSErr err = db.file.ReadAt(0, db.header)) return err;
    const std::uint16_t count = ReadBE16(db.header + 76);
    std::vector<std::uint8_t> list(std::size_t{count} * 8);
    if (count > 0)
        if (OSErr err = db.file.ReadAt(78, list)) return err;
    for (std::uint16_t i = 0; i < count; ++i) db.offsets.push_back(ReadBE32(list.data() + 8 * i));
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint64_t end = i + 1 < count ? db.offsets[i + 1] : size;
        if (end < db.offsets[i]) return paramErr;
        db.sizes.push_back(static_cast<std::uint32_t>(end - db.offsets[i]));
    }
    return noErr;
}

ComponentResult Merge(const MergeMovieDatabasesParams* p) {
    if (p == nullptr || p->name == nullptr || p->name->size() > 31 || p->destination == nullptr || p->count < 0 ||
        (p->count > 0 && p->sources == nullptr))
        return paramErr;
    std::vector<SourceDatabase> sources(static_cast<std::size_t>(p->count));
    std::uint32_t total = 1;
    for (std::int32_t i = 0; i < p->count; ++i) {
        if (OSErr err = ReadSource(p->sources[i], sources[static_cast<std::size_t>(i)])) return err;
        total += static_cast<std::uint32_t>(sources[static_cast<std::size_t>(i)].offsets.size());
    }
    if (total > 0xFFFF) return paramErr;

    // The directory: the count of entries, then per source the index of its
    // first record and its name; the last entry stays zero.
    std::vector<std::uint8_t> directory(static_cast<std::size_t>(p->count + 2) * 34, 0);
    WriteBE16(directory.data(), static_cast<std::uint16_t>(p->count + 1));
    std::uint16_t first = 1;
    for (std::int32_t i = 0; i < p->count; ++i) {
        std::uint8_t* entry = directory.data() + 34 * (i + 1);
        WriteBE16(entry, first);
        std::memcpy(entry + 2, sources[static_cast<std::size_t>(i)].header, 32);
        first = static_cast<std::uint16_t>(first + sources[static_cast<std::size_t>(i)].offsets.size());
    }

    // The merged database's header and record list, the way the writer
    // makes them: the directory first, then every source's records.
    PdbHeader pdb;
    pdb.name = *p->name;
    pdb.creationDate = pdb.modificationDate = PalmDateNow();
    pdb.type = Fcc("VMRG");
    pdb.creator = Fcc("VTRO");
    pdb.recordCount = static_cast<std::uint16_t>(total);
    ByteBlock head;
    OSErr built = AppendPdbHeader(head, pdb);
    std::uint32_t offset = kPdbHeaderSize + kPdbRecordEntrySize * total + kPdbGapSize;
    std::uint32_t index = 0;
    auto entry = [&](std::uint32_t size) {
        if (!built) built = AppendPdbRecordEntry(head, offset, index++);
        offset += size;
    };
    entry(static_cast<std::uint32_t>(directory.size()));
    for (const SourceDatabase& s : sources)
        for (std::uint32_t size : s.sizes) entry(size);
    const std::uint8_t gap[kPdbGapSize] = {};
    if (!built) built = head.Append(gap);
    if (built) return built;

    (void)DeleteFile(*p->destination);
    File out;
    if (OSErr err = File::CreateNew(*p->destination, out)) return err;
    OSErr err = out.WriteAt(0, head.Span());
    std::uint64_t at = head.Size();
    if (!err) err = out.WriteAt(at, directory);
    at += directory.size();
    std::vector<std::uint8_t> record;
    for (SourceDatabase& s : sources)
        for (std::size_t r = 0; !err && r < s.offsets.size(); ++r) {
            record.resize(s.sizes[r]);
            err = s.file.ReadAt(s.offsets[r], record);
            if (!err) err = out.WriteAt(at, record);
            at += record.size();
        }
    if (!err) err = out.Close();
    if (err) {
        (void)out.Close();
        (void)DeleteFile(*p->destination);
    }
    return err;
}

// ---- The selector table ----

using Procedure = ComponentResult (*)(ComponentInstance self, ExportInstance& instance, void* params);

ComponentResult ToFile(ComponentInstance self, ExportInstance&, void* params) {
    auto* p = static_cast<MovieExportToFileParams*>(params);
    if (p == nullptr || p->file == nullptr || p->movie == nullptr) return paramErr;
    // A minimal alias of the file: here its path.
    MovieExportToDataRefParams toDataRef{p->file, kAliasDataRefType, p->movie, p->onlyThisTrack, p->startTime, p->duration};
    return CallComponent(self, kMovieExportToDataRefSelect, &toDataRef);
}

ComponentResult Auxiliary(ComponentInstance, ExportInstance& instance, void* params) {
    return GetAuxiliaryData(instance, static_cast<MovieExportGetAuxiliaryDataParams*>(params));
}

ComponentResult Progress(ComponentInstance, ExportInstance& instance, void* params) {
    auto* p = static_cast<MovieExportSetProgressProcParams*>(params);
    if (p == nullptr) return paramErr;
    instance.progress = p->proc;
    instance.progressRefcon = p->refcon;
    return noErr;
}

ComponentResult UserDialog(ComponentInstance self, ExportInstance&, void* params) {
    // Nothing to show: the settings come from the application's window.
    auto* p = static_cast<MovieExportDoUserDialogParams*>(params);
    if (p != nullptr && p->canceled != nullptr) *p->canceled = false;
    AtomContainer settings;
    MovieExportSettingsParams get{&settings};
    return CallComponent(self, kMovieExportGetSettingsAsAtomContainerSelect, &get);
}

ComponentResult ToDataRef(ComponentInstance self, ExportInstance& instance, void* params) {
    auto* p = static_cast<MovieExportToDataRefParams*>(params);
    if (p == nullptr || p->dataRef == nullptr || p->movie == nullptr) return paramErr;
    const auto* tables = reinterpret_cast<const std::uint32_t*>(GetComponentRefcon(GetComponentOf(self)));
    return ExportMovie(instance, tables, *p->dataRef, p->dataRefType, *p->movie, p->onlyThisTrack, p->startTime,
                       p->duration);
}

ComponentResult FromProcedures(ComponentInstance, ExportInstance& instance, void* params) {
    auto* p = static_cast<MovieExportFromProceduresParams*>(params);
    if (p == nullptr || p->dataRef == nullptr) return paramErr;
    return RunConversion(instance, *p->dataRef, p->dataRefType);
}

ComponentResult AddSource(ComponentInstance, ExportInstance& instance, void* params) {
    auto* p = static_cast<MovieExportAddDataSourceParams*>(params);
    return p == nullptr ? paramErr : AddExportSource(instance, *p);
}

ComponentResult Validate(ComponentInstance, ExportInstance& instance, void* params) {
    return DelegateComponentCall(instance.standardExporter, kMovieExportValidateSelect, params);
}

ComponentResult GetSettings(ComponentInstance, ExportInstance& instance, void* params) {
    auto* p = static_cast<MovieExportSettingsParams*>(params);
    if (p == nullptr || p->settings == nullptr) return paramErr;
    return GetExportSettings(instance.settings, p->settings);
}

ComponentResult SetSettings(ComponentInstance, ExportInstance& instance, void* params) {
    auto* p = static_cast<MovieExportSettingsParams*>(params);
    if (p == nullptr) return paramErr;
    return SetExportSettings(instance.settings, p->settings);
}

ComponentResult Extension(ComponentInstance, ExportInstance&, void* params) {
    auto* p = static_cast<MovieExportOSTypeParams*>(params);
    if (p == nullptr || p->value == nullptr) return paramErr;
    *p->value = Fcc("pdb ");
    return noErr;
}

ComponentResult ShortTypeString(ComponentInstance, ExportInstance&, void* params) {
    auto* p = static_cast<MovieExportStringParams*>(params);
    if (p == nullptr || p->value == nullptr) return paramErr;
    return GetIndString(513, 1, *p->value);
}

ComponentResult SourceMediaType(ComponentInstance, ExportInstance&, void* params) {
    auto* p = static_cast<MovieExportOSTypeParams*>(params);
    if (p == nullptr || p->value == nullptr) return paramErr;
    *p->value = 0; // any media
    return noErr;
}

ComponentResult MergeSelector(ComponentInstance, ExportInstance&, void* params) {
    return Merge(static_cast<MergeMovieDatabasesParams*>(params));
}

// Ranges of 128 selectors, each with the count of entries it has; entries
// without a procedure answer badComponentSelector like selectors past the
// count.
struct Range {
    std::int16_t first;
    std::int16_t count;
    const Procedure* entries;
};
constexpr Procedure kExporterEntries[] = {
    nullptr,         ToFile,        nullptr,       Auxiliary,   Progress,      nullptr,         UserDialog,
    nullptr,         ToDataRef,     FromProcedures, AddSource,  Validate,      GetSettings,     SetSettings,
    Extension,       ShortTypeString, SourceMediaType};
constexpr Procedure kPrivateEntries[] = {nullptr, MergeSelector};
constexpr Range kRanges[] = {{0x80, 17, kExporterEntries}, {0x400, 2, kPrivateEntries}};

Procedure Lookup(std::int16_t selector) {
    for (const Range& r : kRanges)
        if (selector >= r.first && selector < r.first + 128)
            return selector - r.first < r.count ? r.entries[selector - r.first] : nullptr;
    return nullptr;
}

ComponentResult Dispatch(ComponentInstance self, std::int16_t selector, void* params) {
    switch (selector) {
    case kComponentOpenSelect: return Open(self);
    case kComponentCloseSelect: return Close(self);
    case kComponentCanDoSelect: {
        const std::int16_t asked = params ? static_cast<ComponentCanDoParams*>(params)->selector : 0;
        const bool standard = asked == kComponentOpenSelect || asked == kComponentCloseSelect ||
                              asked == kComponentCanDoSelect || asked == kComponentVersionSelect;
        return standard || Lookup(asked) != nullptr ? 1 : 0;
    }
    case kComponentVersionSelect: return kVantroExportVersion;
    default: break;
    }
    const Procedure procedure = Lookup(selector);
    auto* instance = static_cast<ExportInstance*>(GetComponentInstanceStorage(self));
    if (procedure == nullptr || instance == nullptr) return badComponentSelector;
    return procedure(self, *instance, params);
}

} // namespace

OSErr OpenStandardExporter(ComponentInstance& out) {
    ComponentDescription looking;
    looking.componentType = kMovieExportType;
    looking.componentSubType = kStandardExportSubType;
    looking.componentManufacturer = kAppleManufacturer;
    looking.componentFlags = kStandardExporterFlags;
    looking.componentFlagsMask = kStandardExporterFlags;
    const Component standard = FindNextComponent(nullptr, looking);
    if (standard == nullptr) return cantFindHandler;
    return OpenComponent(standard, out);
}

Component RegisterExportComponent() {
    static std::mutex once;
    static Component registered = nullptr;
    std::lock_guard<std::mutex> lock(once);
    if (registered == nullptr) {
        RegisterStandardExporter();
        ComponentDescription d;
        d.componentType = kMovieExportType;
        d.componentSubType = kVantroExportSubType;
        d.componentManufacturer = kVantroExportMaker;
        d.componentFlags = kVantroExportFlags;
        registered = RegisterComponent(d, &Dispatch, "Linked Lumexa");
    }
    return registered;
}

ComponentResult MovieExportToFile(ComponentInstance exporter, const FileSpec& file, const Movie& movie) {
    MovieExportToFileParams p{&file, &movie, 0, 0, movie.Duration()};
    return CallComponent(exporter, kMovieExportToFileSelect, &p);
}

ComponentResult MovieExportSetProgressProc(ComponentInstance exporter, MovieProgressProc proc, void* refcon) {
    MovieExportSetProgressProcParams p{proc, refcon};
    return CallComponent(exporter, kMovieExportSetProgressProcSelect, &p);
}

ComponentResult MovieExportSetSettings(ComponentInstance exporter, AtomContainer& settings) {
    MovieExportSettingsParams p{&settings};
    return CallComponent(exporter, kMovieExportSetSettingsFromAtomContainerSelect, &p);
}

ComponentResult MovieExportGetSettings(ComponentInstance exporter, AtomContainer& settings) {
    MovieExportSettingsParams p{&settings};
    return CallComponent(exporter, kMovieExportGetSettingsAsAtomContainerSelect, &p);
}

ComponentResult MovieExportGetMissingDecoder(ComponentInstance exporter, OSType& format) {
    ByteBlock handle;
    const std::uint32_t tag = Fcc("VTRO");
    const std::int16_t code = noCodecErr;
    if (OSErr err = handle.Resize(6)) return err;
    std::memcpy(handle.Data(), &tag, 4);
    std::memcpy(handle.Data() + 4, &code, 2);
    OSType type = 0;
    MovieExportGetAuxiliaryDataParams p{&handle, &type};
    const ComponentResult result = CallComponent(exporter, kMovieExportGetAuxiliaryDataSelect, &p);
    if (result == noErr) std::memcpy(&format, handle.Data(), 4);
    return result;
}

ComponentResult MergeMovieDatabases(ComponentInstance exporter, const FileSpec* sources, std::int32_t count,
                                    const FileSpec& destination, const std::string& name) {
    MergeMovieDatabasesParams p{sources, count, &destination, &name};
    return CallComponent(exporter, kMergeMovieDatabasesSelect, &p);
}
