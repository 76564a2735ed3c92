// Media files for the tests, made by the ffmpeg tool from its synthetic
// sources the first time a test asks for them, and shared by every test
// process of the run (ctest runs each test on its own).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

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
