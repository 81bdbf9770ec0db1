#include "ProcessRunner.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <sstream>

namespace fwupgrade::testing {

namespace {

using Clock = std::chrono::steady_clock;
using test_support::MillisecondsLeft;

}  // namespace

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

RunningProcess::RunningProcess(const std::vector<std::string>& args, const std::string& folder,
                               const Environment& env)
    : process_(args, folder, env) {}

bool RunningProcess::Pump(int timeoutMs) {
    const int fds[2] = {process_.Out(), process_.Err()};
    if (fds[0] < 0 && fds[1] < 0) return false;
    pollfd polled[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    if (::poll(polled, 2, timeoutMs) < 0 && errno != EINTR) return false;
    std::string* sinks[2] = {&outcome_.out, &outcome_.err};
    for (int i = 0; i < 2; ++i)
        if (fds[i] >= 0 && polled[i].revents != 0) process_.ReadInto(fds[i], *sinks[i]);
    return process_.Out() >= 0 || process_.Err() >= 0;
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

void RunningProcess::Signal(int signal) const { process_.Signal(signal); }

ProcessOutcome RunningProcess::Wait(int timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (Pump(MillisecondsLeft(deadline))) {
        if (MillisecondsLeft(deadline) == 0) {
            outcome_.timedOut = true;
            process_.KillGroup();
            break;
        }
    }
    const int status = process_.Reap();
    outcome_.exitStatus = outcome_.timedOut ? -1 : status;
    return outcome_;
}

ProcessOutcome RunProcess(const std::vector<std::string>& args, const std::string& folder, const Environment& env,
                          int timeoutSeconds) {
    RunningProcess process(args, folder, env);
    return process.Wait(timeoutSeconds);
}

}  // namespace fwupgrade::testing
