// Where a converted movie goes and what it is called: the source's folder or
// the chosen one, the movie's name (or the source's, underscores made
// spaces), without its extension, then ".pdb"; "-1", "-2", … when the name
// is taken, so that no file is ever overwritten.
//
// A name is taken and its file created in one step: the conversion writes
// into a hidden partial file beside the final name (".clip.pdb.vantro-partial"),
// created exclusively and locked for as long as its run lives, and the
// finished database is moved to its final name without ever replacing a
// file. However a run ends, nothing partial or empty carries a final name;
// a partial file whose lock no process holds is a dead run's, and the next
// reservation in that folder removes it.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

// The folder a source's database goes to: the source's own, or the chosen one.
FileSpec OutputFolder(const FileSpec& source, bool useSourceFolder, const FileSpec& exportFolder);
// The database file's base name: the typed movie name, else the source's
// name as the user wrote it, without its extension. bdNamErr for a
// typed name that is a path rather than a name (a separator, ".", "..") or
// empty.
[[nodiscard]] OSErr OutputBaseName(const FileSpec& source, std::string_view movieName, std::string& base);
// The hidden name a final name is written under until it is complete.
FileSpec PartialNameOf(const FileSpec& final);
// The name a database of that base would take now ("clip.pdb", else
// "clip-1.pdb", ...), without reserving it: what a dry run shows.
FileSpec ProposedOutput(const FileSpec& folder, const std::string& base);
inline constexpr std::string_view kPartialSuffix = ".vantro-partial";

// The database names a run has given out, kept distinct among the run's
// conversions, which may reserve their outputs at the same time.
struct BatchNames {
    std::mutex lock;
    std::vector<std::string> names;
};

// One output file from its reservation to its final name.
class OutputReservation {
public:
    OutputReservation() = default;
    ~OutputReservation() { Discard(); }
    OutputReservation(OutputReservation&&) noexcept = default;
    OutputReservation& operator=(OutputReservation&& other) noexcept;
    OutputReservation(const OutputReservation&) = delete;
    OutputReservation& operator=(const OutputReservation&) = delete;

    bool Active() const { return file_.IsOpen(); }
    // The name the database will have; after Commit, the name it has.
    const FileSpec& FinalPath() const { return final_; }
    // Where the conversion writes it meanwhile: the reserved file itself,
    // reached through this process's open descriptor where the system offers
    // one, so that nothing put under its name since is ever written into.
    FileSpec WritePath() const;
    const FileSpec& PartialPath() const { return partial_; }
    // The database's name on the handheld (code page 1252, at most 31 bytes),
    // also stored in the partial file's name field from the start so that
    // other reservations in the folder see it.
    const std::string& DatabaseName() const { return databaseName_; }

    // Moves the complete database to its final name, flushed to the disk
    // first. Should something have taken that name meanwhile, the next free
    // "-N" name is used. Succeeds only when the file is there under its
    // name; a folder that vanished, or a partial name that no longer names
    // this reservation's file, is fnOpnErr.
    [[nodiscard]] OSErr Commit();
    // Deletes the partial file, when it is still this reservation's.
    void Discard();

private:
    friend OSErr ReserveOutputFile(const FileSpec&, const std::string&, BatchNames*, OutputReservation&, bool);
    File file_;
    FileIdentity identity_;
    FileSpec folder_, final_, partial_;
    std::string base_, databaseName_;
};

// Reserves the first free name (`base`.pdb, `base`-1.pdb, …) in `folder` and
// creates its partial file. bdNamErr when the name is too long for the file
// system; fnOpnErr when the folder cannot hold files (missing, not a folder,
// not searchable). The database name is made unique among the
// databases in the folder (finished or being written) and `batchNames`,
// which receives it; with `underscoresAsSpaces` (a name taken from the
// source file) it shows spaces where the file name has underscores, as the
// handheld's names do. Dead runs' partial files in the folder are removed
// first.
[[nodiscard]] OSErr ReserveOutputFile(const FileSpec& folder, const std::string& base,
                                      BatchNames* batchNames, OutputReservation& out,
                                      bool underscoresAsSpaces = false);

// Removes the partial files in `folder` that no live run holds; answers how
// many.
int SweepDeadPartials(const FileSpec& folder);
