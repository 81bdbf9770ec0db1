// What the station knows of each port's card, as its printers show it: one
// row per port, and the totals.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "host/fwupgrade/report/RunResult.h"

namespace fwupgrade::station {

enum class RowState { Waiting, Running, Done, Failed, NeedsRescue, NotSupported, Stopped };

// "waiting", "running", "done", ...
std::string RowStateWord(RowState state);

struct Row {
    std::string port;
    std::string identity;       // "2e1a:0081"
    std::string esn;            // "" until known
    std::string version;        // the card's firmware version as the run read it
    std::string step;           // what the run does now, in words
    int percent = -1;           // -1 before the first progress value
    double secondsLeft = -1;    // -1 when not estimated
    RowState state = RowState::Waiting;
    std::string reason;         // why it failed, or why it is left alone
    std::string command;        // the command that brings the card back
    std::string keptBackup;
    bool present = true;
};

// One change the printers are told about.
enum class Happening { Appeared, NotSupported, Identified, Step, Progress, Result, Removed };

struct Totals {
    size_t flashed = 0;
    size_t failed = 0;
    size_t needRescue = 0;
    size_t running = 0;
    size_t waiting = 0;
};

class Board {
public:
    Board() : start_(std::chrono::steady_clock::now()) {}

    Row& At(const std::string& port);
    const Row* Find(const std::string& port) const;
    // Sets the row's outcome from a worker's result.
    void Record(const std::string& port, const RunResult& result);
    const std::vector<std::string>& Order() const { return order_; }
    Totals Count() const;
    double SecondsSinceStart() const;

private:
    std::map<std::string, Row> rows_;
    std::vector<std::string> order_;   // ports in the order they first appeared
    std::chrono::steady_clock::time_point start_;
};

// The ESN a kept backup folder is filed under (".../backups/<ESN>/<time>").
std::string EsnOfKeptBackup(const std::string& folder);

}  // namespace fwupgrade::station
