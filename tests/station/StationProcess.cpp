#include "StationProcess.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace fwupgrade::station_tests {

namespace {

using Clock = std::chrono::steady_clock;
using test_support::MillisecondsLeft;

}  // namespace

StationProcess::StationProcess(const std::vector<std::string>& args, const std::string& folder,
                               const Environment& env, const std::string& errFile)
    : process_(args, folder, env, test_support::ChildStreams{true, errFile}) {}

bool StationProcess::Pump(int timeoutMs) {
    if (process_.Out() < 0) return false;
    pollfd polled{process_.Out(), POLLIN, 0};
    if (::poll(&polled, 1, timeoutMs) <= 0) return true;
    if (!process_.ReadInto(process_.Out(), pending_)) return false;
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

void StationProcess::Say(const std::string& line) { process_.Write(line + "\n"); }

void StationProcess::Signal(int signal) const { process_.Signal(signal); }

int StationProcess::Wait(int timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (Pump(MillisecondsLeft(deadline)) && MillisecondsLeft(deadline) > 0) {
    }
    if (process_.Out() >= 0) return -1;
    return process_.Reap();
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
