// A program started as a user would start it, for tests and benchmarks: its
// arguments, working folder and extra environment, in a process group of its
// own, its output on a pipe, its input on a pipe when asked for, and its
// standard error on a pipe or in a named file. What is left of the group is
// killed when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

using Environment = std::vector<std::pair<std::string, std::string>>;

struct ChildStreams {
    bool feedInput = false;   // a pipe to the program's standard input
    std::string errFile;      // its standard error goes there; "" for a pipe
};

class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& args, const std::string& folder, const Environment& env,
                 const ChildStreams& streams = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // The read ends of its output and (with no error file) its standard
    // error; -1 once closed.
    int Out() const { return out_; }
    int Err() const { return err_; }
    // Appends what one read of `fd` gives to `sink`; false (and the pipe
    // closed) at its end.
    bool ReadInto(int fd, std::string& sink);
    void Write(const std::string& text);
    void Signal(int signal) const;
    void KillGroup();
    // Waits for the process; its exit status, -1 when a signal ended it.
    int Reap();
    bool Reaped() const { return reaped_; }

private:
    void Close(int& fd);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int in_ = -1;
    bool reaped_ = false;
    int exitStatus_ = -1;
};

// What is left of the time until `deadline`, for poll().
int MillisecondsLeft(std::chrono::steady_clock::time_point deadline);

}  // namespace test_support
