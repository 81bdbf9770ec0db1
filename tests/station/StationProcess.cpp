#include "StationProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace fwupgrade::station_tests {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

StationProcess::StationProcess(const std::vector<std::string>& args, const std::string& folder,
                               const Environment& env, const std::string& errFile) {
    int outPipe[2], inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(inPipe, O_CLOEXEC) != 0) return;
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (auto& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0);
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(inPipe[0], STDIN_FILENO);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(inPipe[0]);
    out_ = outPipe[0];
    in_ = inPipe[1];
}

StationProcess::~StationProcess() {
    if (in_ >= 0) ::close(in_);
    if (pid_ > 0 && !reaped_) {
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
}

bool StationProcess::Pump(int timeoutMs) {
    if (out_ < 0) return false;
    pollfd polled{out_, POLLIN, 0};
    if (::poll(&polled, 1, timeoutMs) <= 0) return true;
    char buffer[4096];
    const ssize_t got = ::read(out_, buffer, sizeof buffer);
    if (got <= 0) {
        ::close(out_);
        out_ = -1;
        return false;
    }
    pending_.append(buffer, static_cast<size_t>(got));
    size_t newline;
    while ((newline = pending_.find('\n')) != std::string::npos) {
        events_.push_back(nlohmann::json::parse(pending_.substr(0, newline), nullptr, false));
        pending_.erase(0, newline + 1);
    }
    return true;
}

bool StationProcess::WaitFor(const std::function<bool(const nlohmann::json&)>& match, int timeoutSeconds,
                             size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        if (static_cast<size_t>(std::count_if(events_.begin(), events_.end(), match)) >= count) return true;
        const bool open = Pump(MillisecondsLeft(deadline));
        if (!open || MillisecondsLeft(deadline) == 0)
            return static_cast<size_t>(std::count_if(events_.begin(), events_.end(), match)) >= count;
    }
}

void StationProcess::Drain() {
    for (size_t before = SIZE_MAX; before != events_.size() || !pending_.empty();) {
        before = events_.size();
        const size_t pendingBefore = pending_.size();
        if (!Pump(0) || (events_.size() == before && pending_.size() == pendingBefore)) return;
    }
}

void StationProcess::Say(const std::string& line) {
    const std::string text = line + "\n";
    (void)!::write(in_, text.data(), text.size());
}

void StationProcess::Signal(int signal) const { ::kill(pid_, signal); }

int StationProcess::Wait(int timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (Pump(MillisecondsLeft(deadline)) && MillisecondsLeft(deadline) > 0) {
    }
    if (out_ >= 0) return -1;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<nlohmann::json> StationProcess::EventsOf(const std::string& port, const std::string& kind) const {
    std::vector<nlohmann::json> found;
    for (const auto& event : events_)
        if (event.is_object() && event.value("port", "") == port && (kind.empty() || event.value("event", "") == kind))
            found.push_back(event);
    return found;
}

std::string StationProcess::Text() const {
    std::string text;
    for (const auto& event : events_) text += event.dump() + "\n";
    return text;
}

std::function<bool(const nlohmann::json&)> Event(const std::string& kind, const std::string& port) {
    return [kind, port](const nlohmann::json& event) {
        return event.is_object() && event.value("event", "") == kind && (port.empty() || event.value("port", "") == port);
    };
}

}  // namespace fwupgrade::station_tests
