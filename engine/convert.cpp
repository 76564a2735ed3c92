// The typed conversion call: a job's output reserved, its source opened and
// analysed, the driver run, and the database moved into place.
#include "engine/convert.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "delivery/outputfile.h"
#include "engine/conversion.h"
#include "engine/exportcomponent.h"
#include "engine/exportinstance.h"
#include "import/mpegaudio.h"
#include "platform/media.h"
#include "resources/application_resources.h"

namespace {

// The MPEG audio rate tables, read once per process for every conversion.
const std::uint32_t* MpegTables() {
    static std::uint32_t tables[kMpegTableEntries];
    static bool read = false;
    static std::once_flag once;
    std::call_once(once, [] {
        (void)OpenApplicationResources();
        read = ReadMpegRateTables(std::span<std::uint32_t, kMpegTableEntries>(tables, kMpegTableEntries)) == noErr;
    });
    return read ? tables : nullptr;
}

// The standard exporter an instance reads a movie's tracks through, closed
// with the conversion.
struct StandardExporter {
    ComponentInstance instance = nullptr;
    ~StandardExporter() {
        if (instance != nullptr) (void)CloseComponent(instance);
    }
    OSErr Open() {
        RegisterExportComponent(); // registers the standard exporter too
        return OpenStandardExporter(instance);
    }
};

// The driver's progress messages for a sink: its length at "open", 0 to
// 1000 at each update, a cancel when it answers false.
struct SinkProgress {
    ConversionSink* sink;
    const ConversionReport* report; // its length, once the source is open

    static std::int16_t Procedure(std::int16_t message, Fixed fraction, void* refcon) {
        auto* self = static_cast<SinkProgress*>(refcon);
        if (message == kProgressOpen) self->sink->Started(self->report->lengthMs);
        if (message != kProgressUpdate) return 0;
        const int permille =
            fraction >= fixed1 ? 1000 : fraction <= 0 ? 0 : FixRound(FixMul(fraction, IntToFixed(1000)));
        return self->sink->Progress(permille) ? 0 : userCanceledErr;
    }
};

// What the system knows about a source that would not open, in a few
// words: the code alone says the same for all of these.
std::string SourceProblem(const FileSpec& source, OSErr err) {
    struct stat st {};
    if (stat(source.c_str(), &st) != 0) return errno == ENOENT ? "no such file" : std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "a folder, not a file";
    if (access(source.c_str(), R_OK) != 0) return std::strerror(errno);
    if (st.st_size == 0) return "an empty file";
    return err == noMovieFound ? "not a media file, or a damaged one" : "";
}

// Where the database goes: a reserved name, or exactly the named file.
OSErr PlaceOutput(const ConversionJob& job, OutputReservation& reservation, FileSpec& destination, OSType& dataRefType) {
    if (!job.destination.empty()) {
        destination = job.destination;
        dataRefType = kAliasDataRefType;
        return noErr;
    }
    std::string base;
    if (OSErr err = OutputBaseName(job.source, job.movieName, base)) return err;
    if (OSErr err = ReserveOutputFile(OutputFolder(job.source, job.toSourceFolder, job.exportFolder), base,
                                      job.batchNames, reservation, job.movieName.empty()))
        return err;
    destination = reservation.WritePath();
    dataRefType = kReservedFileDataRefType;
    return noErr;
}

// The conversion under a progress procedure of the driver's kind.
OSErr ConvertWithProcedure(const ConversionJob& job, MovieProgressProc progress, void* refcon, ConversionReport& report) {
    report = {};
    OutputReservation reservation;
    FileSpec destination;
    OSType dataRefType = 0;
    if (OSErr err = PlaceOutput(job, reservation, destination, dataRefType)) {
        report.detail = "in " + OutputFolder(job.source, job.toSourceFolder, job.exportFolder).string();
        if (const std::string_view why = StatusReason(err); !why.empty()) report.detail += ": " + std::string(why);
        return report.status = err;
    }

    // The source as a movie; small video time scales made finer, so that
    // frame times stay exact.
    Movie movie;
    if (OSErr err = Movie::Open(job.source, movie)) {
        report.detail = SourceProblem(job.source, err);
        return report.status = err == fnfErr ? noMovieFound : err;
    }
    report.lengthMs = ConvertTimeScale(movie.Duration(), movie.TimeScale(), 1000);
    movie.SetDecoderThreads(job.decoderThreads);
    const int video = movie.FindTrack(kVideoMediaType);
    if (video != 0 && movie.Track(video).timeScale < 600) movie.ScaleTrackTimeScale(video, 100);

    StandardExporter standard;
    if (OSErr err = standard.Open()) return report.status = err;
    ExportInstance instance;
    if (OSErr err = CopyExportSettings(job.settings, instance.settings)) return report.status = err;
    instance.standardExporter = standard.instance;
    instance.progress = progress;
    instance.progressRefcon = refcon;
    instance.picturesAhead = job.picturesAhead;
    instance.times = job.times;
    const OSErr err = ExportMovie(instance, MpegTables(), destination, dataRefType, movie, 0, 0, movie.Duration());
    instance.standardExporter = nullptr;
    report.missingDecoder = instance.missingDecoder;
    // Only a complete database gets its name; anything else goes with the
    // reservation.
    if (err != noErr && err != noSoundTrackInMovieErr) {
        // A disk that fills up: the database's folder, or the temporary
        // folder the spool and sound copies use.
        const FileSpec folder = job.destination.empty() ? reservation.FinalPath().parent_path() : job.destination.parent_path();
        if (err == dskFulErr) report.detail = "writing in " + folder.string() + " or " + TemporaryFolder().string();
        else report.detail = StatusReason(err);
        return report.status = err;
    }
    if (job.destination.empty()) {
        if (OSErr committed = reservation.Commit()) {
            report.detail = "in " + reservation.FinalPath().parent_path().string();
            return report.status = committed;
        }
        report.output = reservation.FinalPath();
    } else {
        report.output = job.destination;
    }
    return report.status = err;
}

} // namespace

OSErr Convert(const ConversionJob& job, ConversionReport& report) {
    if (job.sink == nullptr) return ConvertWithProcedure(job, nullptr, nullptr, report);
    SinkProgress progress{job.sink, &report};
    return ConvertWithProcedure(job, &SinkProgress::Procedure, &progress, report);
}

OSErr ConvertMovie(const FileSpec& source, const ExportSettings& settings, const FileSpec& destination,
                   ConversionProgressProc progress, void* refcon, ConversionResult* result) {
    // The settings as a caller of the component would give them: through the
    // settings container, whose reading brings the sound settings onto what
    // their format allows; with the size code and the key it does not carry.
    AtomContainer container;
    if (OSErr err = GetExportSettings(settings, &container)) return err;
    QTAtom size = container.FindChildByIndex(0, Fcc("size"), 1);
    if (size == 0)
        if (OSErr err = container.InsertChild(0, Fcc("size"), 1, 0, {}, &size)) return err;
    std::uint8_t code[2];
    WriteBE16(code, settings.sizeCode);
    if (OSErr err = container.InsertChild(size, Fcc("dimn"), 1, 0, code)) return err;
    if (settings.hasScramblingKey)
        if (OSErr err = container.InsertChild(0, Fcc("cryp"), 1, 0, settings.scramblingKey.Span())) return err;
    ConversionJob job;
    job.source = source;
    job.destination = destination;
    if (OSErr err = SetExportSettings(job.settings, &container)) return err;
    ConversionReport report;
    const OSErr err = ConvertWithProcedure(job, progress, refcon, report);
    if (result != nullptr) result->missingDecoder = report.missingDecoder;
    return err;
}
