// Running another program without a shell.
#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

OSErr RunProgram(const std::vector<std::string>& argv) {
    if (argv.empty()) return paramErr;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return memFullErr;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return fnfErr;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return ioErr;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? noErr : ioErr;
}
