#pragma once

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "HexFiles.h"
#include "platform/Unicode.h"

#if !defined(_WIN32)
extern char** environ;
#endif

namespace testutil {

#if !defined(_WIN32)
// A program started by a test, with its standard output on a pipe; stopped (SIGTERM, then
// waited for) when the object goes.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv) {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~ChildProcess() {
        Stop();
        if (out_ >= 0)
            close(out_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }

    // Reads standard output until it holds text or the bound passes.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (output_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buf[256];
            const ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0)
                return false;
            output_.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }

    // Sends SIGTERM and waits; returns the exit status (-1 if it did not exit normally).
    int Stop() {
        if (pid_ > 0)
            kill(pid_, SIGTERM);
        return Wait();
    }

    // Waits for the program to end by itself; returns its exit status as Stop does.
    int Wait() {
        if (pid_ <= 0)
            return status_;
        int raw = 0;
        waitpid(pid_, &raw, 0);
        pid_ = -1;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        signal_ = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
        return status_;
    }

    // The signal that ended the program, 0 when it exited by itself.
    int EndingSignal() const { return signal_; }

    const std::string& Output() const { return output_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    int signal_ = 0;
    std::string output_;
};

#endif  // a child process of its own is for the JACK tests, which run on Linux only

struct CommandResult {
    int status = -1;  // the exit status, -1 when it did not exit normally
    std::string out, err;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Runs program with args through the shell, as a script would, with no standard input.
inline CommandResult RunCommand(const std::string& program, const std::string& args) {
    TempFile out(""), err("");
#if defined(_WIN32)
    // cmd.exe strips the outer quotes of a /c line that starts with one.
    const std::string cmd = "\"\"" + program + "\" " + args + " >\"" + out.Path() + "\" 2>\"" +
                            err.Path() + "\" <NUL\"";
    const int status = _wsystem(platform::WideFromUtf8(cmd).c_str());  // names in any script
#else
    const std::string cmd =
        program + " " + args + " >" + out.Path() + " 2>" + err.Path() + " </dev/null";
    const int raw = std::system(cmd.c_str());
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    return {status, ReadAll(out.Path()), ReadAll(err.Path())};
}

}  // namespace testutil
