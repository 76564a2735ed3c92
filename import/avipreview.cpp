// The "Linked AVI" preview component's registration.
#include "import/avipreview.h"

#include <mutex>

#include "import/aviheader.h"

namespace {

ComponentResult Dispatch(ComponentInstance, std::int16_t selector, void* params) {
    switch (selector) {
    case kComponentOpenSelect:
    case kComponentCloseSelect: return noErr;
    case kComponentCanDoSelect: {
        const std::int16_t asked = params ? static_cast<ComponentCanDoParams*>(params)->selector : 0;
        return asked >= -4 && asked <= -1 ? 1 : 0;
    }
    case kComponentVersionSelect: return 0x00010000;
    default: return badComponentSelector;
    }
}

} // namespace

Component RegisterAviPreview() {
    static std::once_flag once;
    static Component registered = nullptr;
    std::call_once(once, [] {
        ComponentDescription d;
        d.componentType = kPreviewType;
        d.componentSubType = kMoviePreviewSubType;
        d.componentManufacturer = Fcc("VTRO");
        d.componentFlags = 1;
        registered = RegisterComponent(d, &Dispatch, "Linked AVI");
    });
    return registered;
}

bool AviPreviewExamines(std::string_view fileName) { return HasAviExtension(fileName); }
