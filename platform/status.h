// Status codes in the Mac OS convention: a signed 16-bit number, 0 for
// success, negative for failure. Every operation that can fail answers one;
// the caller passes it on unchanged. The type is [[nodiscard]], so dropping a
// status on the floor is a compile-time warning everywhere it happens.
#pragma once

#include <cstdint>
#include <string_view>

enum [[nodiscard]] OSErr : std::int16_t {
    noErr = 0,

    // File and I/O errors (File Manager).
    dskFulErr = -34,   // disk full
    nsvErr = -35,      // no such volume
    ioErr = -36,       // I/O error
    bdNamErr = -37,    // bad file name
    fnOpnErr = -38,    // file not open: the destination could not be created
    eofErr = -39,      // end of data: the normal end of a source
    posErr = -40,      // position before the start of the file
    fnfErr = -43,      // file not found
    dupFNErr = -48,    // a file of that name exists
    paramErr = -50,    // bad parameter or wrong state
    permErr = -54,     // permission denied

    memFullErr = -108,        // out of memory
    userCanceledErr = -128,   // user cancelled
    resNotFound = -192,       // no resource of that type and ID
    badChannel = -205,        // bad audio channel

    // Movie toolbox.
    cantFindHandler = -2003,         // unable to decode video
    invalidTrack = -2009,            // audio-only movie not converted
    progressProcAborted = -2019,     // conversion cancelled
    noMovieFound = -2048,            // unable to open source file
    noSoundTrackInMovieErr = -2055,  // a warning: the file is complete without sound
    internalComponentErr = -2070,

    // Media layer start-up.
    qtmlDllLoadErr = -2093,
    qtmlDllEntryNotFoundErr = -2094,
    qtmlUninitialized = -2095,

    // Atom containers. cannotFindAtomErr doubles as "no preset of that name".
    cannotFindAtomErr = -2101,
    notLeafAtomErr = -2102,           // data asked of an atom that has children
    atomIndexInvalidErr = -2104,
    duplicateAtomTypeAndIDErr = -2105,
    invalidAtomErr = -2106,           // bad atom reference, or data of the wrong size
    invalidAtomContainerErr = -2107,  // malformed container bytes
    invalidAtomTypeErr = -2108,
    cannotBeLeafAtomErr = -2109,      // a child asked of an atom that carries data

    // Components.
    invalidComponentID = -3000,    // no such component
    validInstancesExist = -3001,   // the component still has open instances
    componentNotCaptured = -3002,  // a delegate could not be opened

    // Image codecs.
    noCodecErr = -8961,       // no decoder for a format
    codecDataVersErr = -8970, // no decompressor for the codec
};

// The platform's component calls answer 32-bit results: a status, or a value
// (a version, a can-do flag). Bad component selectors answer this code.
using ComponentResult = std::int32_t;
inline constexpr ComponentResult badComponentSelector = static_cast<ComponentResult>(0x80008002u);

// Widens a status to a component result and back. Values outside the 16-bit
// range (badComponentSelector) are kept as they are only in ComponentResult.
constexpr ComponentResult ToComponentResult(OSErr err) { return err; }
constexpr OSErr ToOSErr(std::int32_t code) { return static_cast<OSErr>(static_cast<std::int16_t>(code)); }

// The symbolic name of a status for logs and diagnostics ("paramErr"); an
// unnamed code gives an empty view. User-visible messages come from the
// error table in the resources, not from here.
std::string_view StatusName(std::int32_t code);
// What a file system status means in the system's words ("permission
// denied", "the disk is full"), for the codes the error table does not
// explain; empty for the others.
std::string_view StatusReason(OSErr err);
