// vantro render: a movie database as the handheld plays it, into an
// ordinary video and a contact sheet anyone can open.
#include <CLI/CLI.hpp>
#include <unistd.h>

#include <cstdio>

#include "cli/commands.h"
#include "engine/render.h"
#include "presets/presets.h"

namespace {

// The percentage on a terminal's line, redrawn when it changes.
class RenderProgress : public RenderSink {
public:
    bool Progress(int permille) override {
        if (!terminal_ || permille / 10 == shown_) return true;
        shown_ = permille / 10;
        std::fprintf(stderr, "\rRendering %3d%%", shown_);
        return true;
    }
    ~RenderProgress() override {
        if (terminal_ && shown_ >= 0) std::fprintf(stderr, "\r              \r");
    }

private:
    bool terminal_ = isatty(2) != 0;
    int shown_ = -1;
};

} // namespace

void AddRenderOptions(CLI::App& c, RenderOptions& o) {
    c.add_option("file", o.file, "a movie database")->required()->type_name("FILE.pdb");
    CLI::Option* video = c.add_option("-o,--out", o.video, "the video to write (H.264 and AAC; .mp4, .mkv or .mov)")->type_name("OUT.mp4");
    CLI::Option* sheet = c.add_option("--sheet", o.sheet, "a contact sheet of pictures spread over the movie")->type_name("OUT.png");
    c.add_option("--pictures", o.pictures, "how many pictures the sheet shows")->check(CLI::Range(1, 100))->needs(sheet)->type_name("N");
    c.add_option("--scale", o.scale, "each handheld pixel as N × N pixels (default 2)")->check(CLI::Range(1, 8))->type_name("N");
    c.add_option("--screen", o.screen, "color, or 8bit: as a 256-colour handheld shows a colour movie")
        ->check(CLI::IsMember({"color", "8bit"}))
        ->type_name("color|8bit");
    c.add_option("--device", o.device, "show the handheld's whole screen: the layout and the controls' margins around the movie")
        ->type_name("PRESET");
    c.add_option("--key", o.key, "the 512-byte key of a scrambled database")->check(CLI::ExistingFile)->type_name("KEYFILE");
    c.callback([video, sheet] {
        if (video->count() == 0 && sheet->count() == 0) throw CLI::ValidationError("render", "give -o OUT.mp4, --sheet OUT.png or both");
    });
}

int RunRender(const RenderOptions& o) {
    RenderProgress progress;
    RenderJob job;
    job.database = o.file;
    job.key = o.key.value_or("");
    job.video = o.video.value_or("");
    job.sheet = o.sheet.value_or("");
    job.sheetPictures = o.pictures;
    job.scale = o.scale;
    job.paletteScreen = o.screen == "8bit";
    job.sink = &progress;
    if (o.device) {
        AtomContainer preset;
        std::string error;
        if (!LookUpPreset(*o.device, preset, error)) {
            std::fprintf(stderr, "vantro: %s\n", error.c_str());
            return kExitUsage;
        }
        EditSettings device;
        UnpackSettings(device, preset);
        job.device = {device.layoutWidth, device.layoutHeight, device.controlsUpright != 0};
    }
    RenderReport report;
    if (OSErr err = RenderMovie(job, report)) {
        if (err == dupFNErr) {
            std::fprintf(stderr, "vantro: %s exists already: name a new file\n", report.detail.c_str());
            return kExitFailed;
        }
        std::fprintf(stderr, "vantro: %s: cannot render (%s%s%d)\n", o.file.c_str(), report.detail.c_str(),
                     report.detail.empty() ? "error " : ", error ", static_cast<int>(err));
        return kExitFailed;
    }
    if (!job.video.empty())
        std::printf("%s: %zu pictures at %ux%u, %.2f s%s\n", job.video.c_str(), report.pictures, report.width, report.height,
                    static_cast<double>(report.durationHundredths) / 100.0, report.sound ? ", with sound" : "");
    if (!job.sheet.empty()) std::printf("%s: %d pictures\n", job.sheet.c_str(), o.pictures);
    return 0;
}
