// `fwupgrade station --json` in the background: its input to write stop
// lines to, its JSON events as they come, and its end.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace fwupgrade::station_tests {

using Environment = std::vector<std::pair<std::string, std::string>>;

class StationProcess {
public:
    StationProcess(const std::vector<std::string>& args, const std::string& folder, const Environment& env,
                   const std::string& errFile);
    // Stops the station and what remains of its process group.
    ~StationProcess();
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

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
    pid_t Pid() const { return pid_; }

private:
    bool Pump(int timeoutMs);

    pid_t pid_ = -1;
    int out_ = -1;
    int in_ = -1;
    std::string pending_;
    std::vector<nlohmann::json> events_;
    bool reaped_ = false;
};

// An event of `kind` for `port` (any port when "").
std::function<bool(const nlohmann::json&)> Event(const std::string& kind, const std::string& port = "");

}  // namespace fwupgrade::station_tests
