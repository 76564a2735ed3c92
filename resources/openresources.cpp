// Opens the application's compiled-in resources once per process.
#include <mutex>

#include "resources/application_resources.h"

OSErr OpenApplicationResources(std::int16_t* refNum) {
    static std::once_flag once;
    static OSErr result = noErr;
    static std::int16_t opened = -1;
    std::call_once(once, [] {
        result = OpenResourceFile(kApplicationResources, opened);
        if (result != noErr) opened = -1;
    });
    if (refNum) *refNum = opened;
    return result;
}
