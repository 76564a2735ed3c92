// Start-up and shutdown shared by the front ends, and the command-line string rule.
#include "engine/app/startup.h"

#include "delivery/outputfile.h"
#include "engine/exportcomponent.h"
#include "platform/preferences.h"
#include "platform/resources.h"
#include "resources/application_resources.h"

OSErr StartApplication(Application& app) {
    RegisterExportComponent(); // the check below opens it, or says why not
    // When they cannot be opened, start-up goes on with what is open: every
    // later use of a resource says which one is missing.
    (void)OpenApplicationResources(&app.resourceFile);
    // What runs that were killed left behind: spool files, sound copies,
    // half-written preferences. A file that cannot go now goes next time.
    (void)SweepTemporaryFiles(TemporaryFolder(), {"lxmv", "blah", "vantro-sample", "alloc_0", "alloc_1", "alloc_2", "alloc_3", "dewindow"});
    (void)SweepTemporaryFiles(PreferenceFolder(), {"VTRP."});
    ComponentInstance check = nullptr;
    if (OSErr err = OpenDefaultComponent(kMovieExportType, kVantroExportSubType, check)) return err;
    (void)CloseComponent(check);

    Preferences prefs;
    if (LoadPreferences(prefs) == noErr && !prefs.settings.IsNull()) {
        app.settings = std::move(prefs.settings);
        app.destination = prefs.destination;
        app.exportFolder = prefs.exportFolder;
        // Partial files a killed run left in the chosen folder.
        if (!app.exportFolder.empty()) (void)SweepDeadPartials(app.exportFolder);
        return noErr;
    }
    Resource first;
    if (OSErr err = GetIndResource(Fcc("STNG"), 1, first)) return err;
    return AtomContainer::Parse(first.data, app.settings);
}

OSErr SaveApplicationSettings(const Application& app) {
    return SavePreferences(app.settings, app.destination, app.exportFolder);
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> names;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i >= line.size()) break;
        const bool quoted = line[i] == '"';
        if (quoted) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != '"' && (quoted || line[i] != ' ')) ++i;
        names.emplace_back(line.substr(start, i - start));
        // The character that ended the name is dropped.
        if (i < line.size()) ++i;
    }
    return names;
}
