// Media files for the tests, made by the ffmpeg tool from its synthetic
// sources the first time a test asks for them, and shared by every test
// process of the run (ctest runs each test on its own).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>

#include "platform/media.h"

#ifndef VANTRO_FIXTURE_DIR
#error "VANTRO_FIXTURE_DIR must name the folder for generated fixtures"
#endif

inline std::filesystem::path FixtureFolder() { return VANTRO_FIXTURE_DIR; }

// Runs an ffmpeg command line (after "ffmpeg -y -loglevel error") that
// writes the file named by %o; the file is made once and then reused.
inline std::filesystem::path MakeFixture(const std::string& name, const std::string& arguments) {
    const std::filesystem::path folder = FixtureFolder();
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / name;
    if (std::filesystem::exists(path)) return path;
    // Made under a private name, then renamed: parallel tests never see half a file.
    const std::filesystem::path partial = folder / (std::to_string(getpid()) + ".partial." + name);
    std::string command = "ffmpeg -nostdin -y -loglevel error " + arguments;
    const std::string marker = "%o";
    command.replace(command.find(marker), marker.size(), "'" + partial.string() + "'");
    if (std::system(command.c_str()) != 0) {
        ADD_FAILURE() << "ffmpeg failed: " << command;
        return path;
    }
    std::filesystem::rename(partial, path);
    return path;
}

// Common synthetic sources.
inline const char* kTestPicture = "-f lavfi -i testsrc2=size=320x240:rate=25:duration=2";
inline const char* kTestTone = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2";

inline std::filesystem::path WriteTextFixture(const std::string& name, const std::string& text) {
    const std::filesystem::path path = FixtureFolder() / name;
    std::filesystem::create_directories(FixtureFolder());
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

inline std::filesystem::path Mp4() {
    return MakeFixture("clip.mp4", std::string(kTestPicture) + " " + kTestTone +
                                       " -c:v libx264 -pix_fmt yuv420p -g 12 -c:a aac -shortest %o");
}

inline std::filesystem::path ToneWav() { return MakeFixture("tone.wav", std::string(kTestTone) + " %o"); }

// The test picture and tone as an MPEG-1 system stream (MPEG-1 video, MPEG
// audio Layer II).
inline std::filesystem::path Mpeg1Program() {
    return MakeFixture("clip.mpg", std::string(kTestPicture) + " " + kTestTone +
                                       " -c:v mpeg1video -b:v 800k -c:a mp2 -shortest -f mpeg %o");
}

// Three seconds of NTSC Video CD streams, 352 × 240 MPEG-1 video at 29.97
// frames a second and a 440 Hz tone in 224 kbit/s MPEG audio at 44100 Hz,
// multiplexed by `muxer`: "vcd" lays them out as a Video CD's AVSEQ01.DAT
// holds them, "mpeg" as a plain program stream.
inline std::filesystem::path VideoCdStreams(const std::string& muxer) {
    return MakeFixture("videocd-" + muxer + ".mpg", "-f lavfi -i testsrc2=size=352x240:rate=29.97:duration=3 "
                                                    "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 "
                                                    "-c:v mpeg1video -c:a mp2 -ar 44100 -ac 2 -b:a 224k -f " + muxer + " %o");
}

// Two minutes of picture and sound at 160 × 120: quick to make, slow
// enough to convert that a signal or a click finds the conversion under way.
inline std::filesystem::path LongClip() {
    return MakeFixture("long.mp4", "-f lavfi -i testsrc2=size=160x120:rate=25:duration=120 "
                                   "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=120 "
                                   "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest %o");
}

// MOV with MPEG-4 video (the mpeg4 encoder), big-endian PCM, annotations and two chapters.
inline std::filesystem::path MovWithChapters() {
    const auto chapters = WriteTextFixture("chapters.txt", ";FFMETADATA1\ntitle=The Title\ncomment=About it\n"
                                                           "copyright=(c) Vantro\n[CHAPTER]\nTIMEBASE=1/1000\n"
                                                           "START=0\nEND=1000\ntitle=Opening\n[CHAPTER]\n"
                                                           "TIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Finale\n");
    return MakeFixture("chapters.mov", std::string(kTestPicture) + " " + kTestTone + " -i '" + chapters.string() +
                                           "' -map 0:v -map 1:a -map_metadata 2 -map_chapters 2 -c:v mpeg4 "
                                           "-c:a pcm_s16be -shortest %o");
}


// An AVI of MPEG-4 video whose four-char codes are changed to 'ZZZZ': a
// codec no decoder knows.
inline std::filesystem::path UnknownCodecAvi() {
    const auto unknown = FixtureFolder() / "unknown.avi";
    if (std::filesystem::exists(unknown)) return unknown;
    const auto avi = MakeFixture("mpeg4.avi", std::string(kTestPicture) + " " + kTestTone +
                                                  " -c:v mpeg4 -c:a libmp3lame -shortest %o");
    std::ifstream in(avi, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (std::size_t at = bytes.find("FMP4"); at != std::string::npos; at = bytes.find("FMP4", at)) bytes.replace(at, 4, "ZZZZ");
    const auto partial = FixtureFolder() / (std::to_string(getpid()) + ".partial.unknown.avi");
    std::ofstream(partial, std::ios::binary) << bytes;
    std::filesystem::rename(partial, unknown);
    return unknown;
}

// A 64 × 48 picture: red, with a blue top-left quadrant and a green
// bottom-right quadrant.
inline std::filesystem::path Pattern() {
    return MakeFixture("pattern.png", "-f lavfi -i color=c=red:s=64x48 -vf "
                                      "\"drawbox=x=0:y=0:w=32:h=24:color=blue:t=fill,"
                                      "drawbox=x=32:y=24:w=32:h=24:color=lime:t=fill\" -frames:v 1 %o");
}

// A file's picture at `seconds` as the media layer draws it into a width ×
// height 'BGRA' buffer: through `matrix`, or the whole picture scaled to fit.
inline FrameBuffer PictureAt(const std::filesystem::path& file, double seconds, int width, int height,
                             std::optional<Matrix> matrix = std::nullopt) {
    Movie movie;
    EXPECT_EQ(Movie::Open(file, movie), noErr) << file;
    std::unique_ptr<VideoSource> source;
    EXPECT_EQ(movie.NewVideoSource(movie.FindTrack(kVideoMediaType), source), noErr);
    VideoSample sample;
    FrameBuffer buffer;
    EXPECT_EQ(buffer.Create(width, height), noErr);
    if (!source || source->GetFrame(static_cast<std::int64_t>(seconds * source->TimeScale()), sample) != noErr) {
        ADD_FAILURE() << "no picture at " << seconds << " s of " << file;
        return buffer;
    }
    const Rect whole = MakeRect(0, 0, sample.description.width, sample.description.height);
    DecompressionSequence sequence;
    EXPECT_EQ(sequence.Begin(sample.description, matrix.value_or(Matrix::MapRect(whole, MakeRect(0, 0, width, height))), &buffer), noErr);
    EXPECT_EQ(sequence.Decompress(*sample.picture), noErr);
    return buffer;
}
