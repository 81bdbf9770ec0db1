#include "ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>

namespace fwupgrade::testing {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

RunningProcess::RunningProcess(const std::vector<std::string>& args, const std::string& folder,
                               const Environment& env) {
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return;
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (auto& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(126);
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    fds_[0] = outPipe[0];
    fds_[1] = errPipe[0];
}

RunningProcess::~RunningProcess() {
    for (int fd : fds_)
        if (fd >= 0) ::close(fd);
    if (pid_ > 0 && !reaped_) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool RunningProcess::Pump(int timeoutMs) {
    pollfd polled[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) return false;
    if (::poll(polled, 2, timeoutMs) < 0 && errno != EINTR) return false;
    std::string* sinks[2] = {&outcome_.out, &outcome_.err};
    for (int i = 0; i < 2; ++i) {
        if (fds_[i] < 0 || polled[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t got = ::read(fds_[i], buffer, sizeof buffer);
        if (got > 0) {
            sinks[i]->append(buffer, static_cast<size_t>(got));
        } else {
            ::close(fds_[i]);
            fds_[i] = -1;
        }
    }
    return fds_[0] >= 0 || fds_[1] >= 0;
}

bool RunningProcess::WaitForLine(const std::function<bool(const std::string&)>& match, int timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    size_t scanned = 0;
    for (;;) {
        size_t end;
        while ((end = outcome_.out.find('\n', scanned)) != std::string::npos) {
            if (match(outcome_.out.substr(scanned, end - scanned))) return true;
            scanned = end + 1;
        }
        const int left = MillisecondsLeft(deadline);
        if (left == 0 || !Pump(left)) return false;
    }
}

void RunningProcess::Signal(int signal) const {
    if (pid_ > 0 && !reaped_) ::kill(pid_, signal);
}

ProcessOutcome RunningProcess::Wait(int timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (Pump(MillisecondsLeft(deadline))) {
        if (MillisecondsLeft(deadline) == 0) {
            outcome_.timedOut = true;
            ::kill(-pid_, SIGKILL);
            break;
        }
    }
    int status = 0;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    reaped_ = true;
    outcome_.exitStatus = WIFEXITED(status) && !outcome_.timedOut ? WEXITSTATUS(status) : -1;
    return outcome_;
}

ProcessOutcome RunProcess(const std::vector<std::string>& args, const std::string& folder, const Environment& env,
                          int timeoutSeconds) {
    RunningProcess process(args, folder, env);
    return process.Wait(timeoutSeconds);
}

}  // namespace fwupgrade::testing
