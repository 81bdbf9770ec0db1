#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test_support {

namespace {

struct Pipe {
    int read = -1;
    int write = -1;
    bool Open() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return false;
        read = fds[0];
        write = fds[1];
        return true;
    }
};

// In the child: never returns.
[[noreturn]] void Exec(std::vector<std::string> args, const std::string& folder, const Environment& env,
                       const Pipe& out, const Pipe& err, const Pipe& in, const std::string& errFile) {
    ::setpgid(0, 0);
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(126);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    ::dup2(out.write, STDOUT_FILENO);
    if (in.read >= 0) ::dup2(in.read, STDIN_FILENO);
    const int errFd = errFile.empty() ? err.write : ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (errFd >= 0) ::dup2(errFd, STDERR_FILENO);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& folder, const Environment& env,
                           const ChildStreams& streams) {
    Pipe out, err, in;
    if (!out.Open() || (streams.errFile.empty() && !err.Open()) || (streams.feedInput && !in.Open())) return;
    pid_ = ::fork();
    if (pid_ == 0) Exec(args, folder, env, out, err, in, streams.errFile);
    for (int end : {out.write, err.write, in.read})
        if (end >= 0) ::close(end);
    out_ = out.read;
    err_ = err.read;
    in_ = in.write;
}

ChildProcess::~ChildProcess() {
    Close(in_);
    if (pid_ > 0 && !reaped_) {
        KillGroup();
        Reap();
    }
    Close(out_);
    Close(err_);
}

void ChildProcess::Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool ChildProcess::ReadInto(int fd, std::string& sink) {
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
        sink.append(buffer, static_cast<size_t>(got));
        return true;
    }
    Close(fd == out_ ? out_ : err_);
    return false;
}

void ChildProcess::Write(const std::string& text) {
    if (in_ >= 0) (void)!::write(in_, text.data(), text.size());
}

void ChildProcess::Signal(int signal) const {
    if (pid_ > 0 && !reaped_) ::kill(pid_, signal);
}

void ChildProcess::KillGroup() {
    if (pid_ > 0 && !reaped_) ::kill(-pid_, SIGKILL);
}

int ChildProcess::Reap() {
    if (pid_ <= 0 || reaped_) return exitStatus_;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exitStatus_;
}

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace test_support
