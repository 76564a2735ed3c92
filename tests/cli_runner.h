// The command-line program run by the tests as a user runs it, with the
// test's own configuration and temporary folders under `home`.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_folder.h"
#include "tools/inspect.h"

#ifndef VANTRO_CLI
#error "VANTRO_CLI must name the command-line program"
#endif

// `vantro` with its arguments, started in the background; its standard
// output goes to `home`/`tag`.out, its errors to `home`/`tag`.err.
class Vantro {
public:
    Vantro(const std::filesystem::path& home, std::vector<std::string> args, const std::string& tag = "run",
           std::filesystem::path temporary = {}) {
        if (temporary.empty()) temporary = home / "tmp";
        std::filesystem::create_directories(temporary);
        std::vector<std::string> env = {"VANTRO_CONFIG_DIR=" + (home / "config").string(), "TMPDIR=" + temporary.string(),
                                        "HOME=" + home.string(),
                                        "PATH=/usr/bin:/bin"};
        args.insert(args.begin(), VANTRO_CLI);
        out_ = home / (tag + ".out");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        err_ = home / (tag + ".err");
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        for (auto& e : env) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, VANTRO_CLI, &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    Vantro(const Vantro&) = delete;
    Vantro& operator=(const Vantro&) = delete;

    // The exit status; 256 + the signal's number when one killed it.
    int Wait() {
        Reap(0);
        return status_;
    }
    bool Running() { return !Reap(WNOHANG); }
    void Signal(int signal) const { kill(pid_, signal); }
    std::string Output() const { return FileText(out_); }
    std::string Errors() const { return FileText(err_); }

private:
    bool Reap(int options) {
        int status = 0;
        if (pid_ <= 0) return true;
        const pid_t r = waitpid(pid_, &status, options);
        if (r == 0) return false;
        pid_ = -1;
        if (r > 0) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
        return true;
    }

    pid_t pid_ = -1;
    int status_ = -1;
    std::filesystem::path out_, err_;
};

struct VantroResult {
    int status;
    std::string output, errors;
};

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A database the program wrote, as the inspector reads it.
inline Inspection InspectFile(const std::filesystem::path& pdb) { return InspectDatabase(FileBytes(pdb)); }

// `vantro` run to its end.
inline VantroResult RunVantro(const std::filesystem::path& home, std::vector<std::string> args) {
    Vantro run(home, std::move(args));
    const int status = run.Wait();
    return {status, run.Output(), run.Errors()};
}
