// `fwupgrade station --json` in the background: its input to write stop
// lines to, its JSON events as they come, and its end.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/ChildProcess.h"

namespace fwupgrade::station_tests {

using test_support::Environment;

class StationProcess {
public:
    // Its standard error goes to `errFile`. What remains of its process
    // group is killed when the object goes.
    StationProcess(const std::vector<std::string>& args, const std::string& folder, const Environment& env,
                   const std::string& errFile);

    // Reads events until `count` of those so far match; false when the
    // output ends or the time is up first.
    bool WaitFor(const std::function<bool(const nlohmann::json&)>& match, int timeoutSeconds, size_t count = 1);
    // Reads all that has come so far, without waiting.
    void Drain();
    void Say(const std::string& line);
    void Signal(int signal) const;
    // Reads to the end and reaps; the exit status, -1 when it did not end in time.
    int Wait(int timeoutSeconds);

    const std::vector<nlohmann::json>& Events() const { return events_; }
    // The events of one port, of one kind ("" for all).
    std::vector<nlohmann::json> EventsOf(const std::string& port, const std::string& kind = "") const;
    std::string Text() const;
    pid_t Pid() const { return process_.Pid(); }

private:
    bool Pump(int timeoutMs);

    test_support::ChildProcess process_;
    std::string pending_;
    std::vector<nlohmann::json> events_;
};

// An event of `kind` for `port` (any port when "").
std::function<bool(const nlohmann::json&)> Event(const std::string& kind, const std::string& port = "");

}  // namespace fwupgrade::station_tests
