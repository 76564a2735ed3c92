// Other programs run by the system (the ffmpeg tool for the sample clip):
// started with an argument vector, never through a shell, so that no file
// name or environment value is ever read as a command.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

// Runs the program (looked up in PATH) with the arguments, standard input
// from /dev/null, and waits for it. noErr when it exits with status 0;
// fnfErr when it cannot be started; ioErr when it fails.
[[nodiscard]] OSErr RunProgram(const std::vector<std::string>& argv);
