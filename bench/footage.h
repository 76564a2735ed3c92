// Real footage for the Cinepak benchmark, made by the ffmpeg tool from
// photographs that Debian's lomiri-wallpapers-16.04 package installs (the
// benchmark's set-up, `./build.sh bench`, installs it): 24 seconds of
// 640 × 480 at 30 frames/s in six scenes of 4 seconds joined by hard cuts.
//
//   pan        a mountain landscape, the view moving slowly sideways
//   zoom       a forest stream, slowly zoomed in
//   shake      leaves against the sky, held by an unsteady hand
//   grain      dandelions, a slow pan under light film grain
//   dark       a sunset darkened into dusk, zooming out, with grain
//   saturated  paint brushes, colours pushed up, a slow diagonal pan
//
// The clip is kept in the build folder under a name made from its recipe,
// so a changed recipe makes a new clip.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"

namespace footage {

inline constexpr const char* kPhotoFolder = "/usr/share/backgrounds/";
inline constexpr const char* kPhotoPackage = "lomiri-wallpapers-16.04";

inline constexpr int kScenes = 6;
inline constexpr int kSceneSeconds = 4;

struct Scene {
    const char* name;
    const char* photo;
    // From the decoded photograph to 120 frames (4 s at 30 frames/s) of
    // 640 × 480. Still pictures are scaled once, repeated by `loop` (119
    // repeats) and then moved over: crop offsets and zoom factors are
    // functions of the frame number n (0–119) or the time t.
    const char* filter;
};

inline const Scene kSceneList[kScenes] = {
    {"pan", "aitzgorri_by_Aitzol_Berasategi.jpg",
     // 901 × 600: 261 pixels of travel, about 2 a frame.
     "scale=-2:600:flags=lanczos,format=rgb24,loop=loop=119:size=1:start=0,setpts=N/30/TB,"
     "crop=640:480:x='(iw-ow)*n/119':y='(ih-oh)/2+30'"},
    {"zoom", "life_by_Aitzol_Berasategi.jpg",
     // Each frame scaled afresh from a 1000-pixel-wide copy, 800 to 1040
     // pixels wide (1.3×), and its middle kept: a zoom without the integer
     // steps of moving a crop.
     "scale=1000:-2:flags=lanczos,format=rgb24,loop=loop=119:size=1:start=0,setpts=N/30/TB,"
     "scale=w='2*trunc(400*(1+0.3*n/119))':h=-2:eval=frame:flags=bicubic,crop=640:480"},
    {"shake", "Dragonfly_by_Bolly.jpg",
     // A hand's tremor: three sines of unrelated frequencies (1–8 Hz) each
     // way, up to 21 pixels sideways and 16 up and down.
     "scale=720:-2:flags=lanczos,format=rgb24,loop=loop=119:size=1:start=0,setpts=N/30/TB,"
     "crop=640:480:x='40+12*sin(2*PI*t*1.1)+6*sin(2*PI*t*2.9+1)+3*sin(2*PI*t*6.3+2)':"
     "y='30+9*sin(2*PI*t*0.9+0.5)+5*sin(2*PI*t*3.3+2)+2*sin(2*PI*t*7.7)'"},
    {"grain", "seeding_by_Clements_Engelhardt.jpg",
     // Uniform grain of ±5 levels in each plane, new every frame (standard
     // deviation 2.9; the converter's halving averages four pixels into
     // one and leaves about 1.4).
     "scale=-2:540:flags=lanczos,format=rgb24,loop=loop=119:size=1:start=0,setpts=N/30/TB,"
     "crop=640:480:x='(iw-ow)*(1-n/119)':y='(ih-oh)/2',format=yuv420p,noise=alls=10:allf=t+u:all_seed=7"},
    {"dark", "sunset_by_Aitzol_Berasategi.jpg",
     // Gamma 0.45 and a lower black level: a dusk whose mean luma is
     // about 40 of 255, where the other scenes have 80 to 120. zoompan moves by whole pixels
     // of its input, so the input is 4× the output's width. The grain is
     // the same as in the scene before.
     "scale=2560:-2:flags=lanczos,eq=gamma=0.45:brightness=-0.1:saturation=0.8,"
     "zoompan=z='1.35-0.35*on/119':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=120:s=640x480:fps=30,"
     "format=yuv420p,noise=alls=10:allf=t+u:all_seed=11"},
    {"saturated", "Picture_1A_by_freespace.jpg",
     "scale=820:-2:flags=lanczos,eq=saturation=1.8:contrast=1.05,format=rgb24,loop=loop=119:size=1:start=0,"
     "setpts=N/30/TB,crop=640:480:x='(iw-ow)*n/119':y='(ih-oh)*n/119'"},
};

// FNV-1a, 64 bits: a name for a cached file from everything that made it.
inline std::uint64_t Hash(const void* data, std::size_t size, std::uint64_t h = 14695981039346656037ull) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

inline std::string Hex(std::uint64_t h) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// The ffmpeg tool's arguments that write the clip to `out`.
inline std::vector<std::string> Recipe(const std::string& out) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-y", "-loglevel", "error"};
    std::string graph;
    for (int i = 0; i < kScenes; ++i) {
        // Still pictures come in at 30 frames/s so that the repeats keep that rate.
        argv.insert(argv.end(), {"-framerate", "30", "-i", std::string(kPhotoFolder) + kSceneList[i].photo});
        graph += "[" + std::to_string(i) + ":v]" + kSceneList[i].filter + ",format=yuv420p,setsar=1[s" + std::to_string(i) + "];";
    }
    for (int i = 0; i < kScenes; ++i) graph += "[s" + std::to_string(i) + "]";
    graph += "concat=n=" + std::to_string(kScenes) + ":v=1:a=0[out]";
    // H.264 at a high quality, on one thread so that every machine makes
    // the same clip. Its own losses do not matter: the benchmark measures
    // against the clip as decoded.
    argv.insert(argv.end(), {"-filter_complex", graph, "-map", "[out]", "-r", "30", "-c:v", "libx264", "-crf", "16",
                             "-preset", "medium", "-threads", "1", "-pix_fmt", "yuv420p", "-f", "mp4", out});
    return argv;
}

// The clip in `folder`, made when it is not there yet (or when `fresh`);
// empty when the photographs are missing or the ffmpeg tool fails.
inline std::string Make(const std::filesystem::path& folder, bool fresh) {
    for (const Scene& scene : kSceneList)
        if (!std::filesystem::exists(std::string(kPhotoFolder) + scene.photo)) {
            std::fprintf(stderr, "%s%s is missing: `./build.sh bench` installs %s\n", kPhotoFolder, scene.photo, kPhotoPackage);
            return {};
        }
    std::string key;
    for (const std::string& a : Recipe("")) key += a + '\n';
    const std::filesystem::path path = folder / ("footage-" + Hex(Hash(key.data(), key.size())) + ".mp4");
    if (std::filesystem::exists(path) && !fresh) return path.string();
    std::filesystem::create_directories(folder);
    // Made under a partial name, then renamed: an interrupted run leaves no
    // half clip to be taken for a whole one.
    const std::filesystem::path partial = path.string() + ".partial";
    std::fprintf(stderr, "making the footage (about half a minute)...\n");
    if (RunProgram(Recipe(partial.string())) != noErr) {
        std::fprintf(stderr, "the ffmpeg tool could not make the footage\n");
        return {};
    }
    std::filesystem::rename(partial, path);
    return path.string();
}

} // namespace footage
