// Names of status codes for logs.
#include "platform/status.h"

std::string_view StatusName(std::int32_t code) {
    switch (code) {
    case noErr: return "noErr";
    case dskFulErr: return "dskFulErr";
    case nsvErr: return "nsvErr";
    case ioErr: return "ioErr";
    case bdNamErr: return "bdNamErr";
    case fnOpnErr: return "fnOpnErr";
    case eofErr: return "eofErr";
    case posErr: return "posErr";
    case fnfErr: return "fnfErr";
    case dupFNErr: return "dupFNErr";
    case paramErr: return "paramErr";
    case permErr: return "permErr";
    case memFullErr: return "memFullErr";
    case userCanceledErr: return "userCanceledErr";
    case resNotFound: return "resNotFound";
    case badChannel: return "badChannel";
    case cantFindHandler: return "cantFindHandler";
    case invalidTrack: return "invalidTrack";
    case progressProcAborted: return "progressProcAborted";
    case noMovieFound: return "noMovieFound";
    case noSoundTrackInMovieErr: return "noSoundTrackInMovieErr";
    case internalComponentErr: return "internalComponentErr";
    case qtmlDllLoadErr: return "qtmlDllLoadErr";
    case qtmlDllEntryNotFoundErr: return "qtmlDllEntryNotFoundErr";
    case qtmlUninitialized: return "qtmlUninitialized";
    case cannotFindAtomErr: return "cannotFindAtomErr";
    case notLeafAtomErr: return "notLeafAtomErr";
    case atomIndexInvalidErr: return "atomIndexInvalidErr";
    case duplicateAtomTypeAndIDErr: return "duplicateAtomTypeAndIDErr";
    case invalidAtomErr: return "invalidAtomErr";
    case invalidAtomContainerErr: return "invalidAtomContainerErr";
    case invalidAtomTypeErr: return "invalidAtomTypeErr";
    case cannotBeLeafAtomErr: return "cannotBeLeafAtomErr";
    case invalidComponentID: return "invalidComponentID";
    case validInstancesExist: return "validInstancesExist";
    case componentNotCaptured: return "componentNotCaptured";
    case noCodecErr: return "noCodecErr";
    case codecDataVersErr: return "codecDataVersErr";
    case badComponentSelector: return "badComponentSelector";
    default: return {};
    }
}

std::string_view StatusReason(OSErr err) {
    switch (err) {
    case permErr: return "permission denied";
    case dskFulErr: return "the disk is full";
    case ioErr: return "input/output error";
    case fnfErr: return "no such file";
    case bdNamErr: return "the name is too long or not allowed";
    default: return {};
    }
}
