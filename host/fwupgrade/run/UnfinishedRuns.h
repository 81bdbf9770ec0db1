// Runs that never finished. A run appends a history entry before it touches
// the card ("result": "unfinished") and a second one, with the same "run"
// id, when it ends. A run killed on the way (SIGKILL, a power cut) leaves
// only the first: the history shows it as unfinished, and the next run on
// the same card (same ESN, device link or USB port) says so.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace fwupgrade {

constexpr const char* kUnfinishedResult = "unfinished";

// One entry per run, in the order the runs started: an ending replaces the
// entry its run wrote at the start. Entries without a run id stay as they are.
std::vector<nlohmann::json> FoldRunEntries(const std::vector<nlohmann::json>& entries);

// How a run names its card: any one of them that matches is the same card.
struct CardKeys {
    std::string device;         // as the run was given it
    std::string stableDevice;   // "/dev/serial/by-id/..." or "usb-port:1-1.2"
    std::string esn;            // "" before the card was read
};

struct UnfinishedLookup {
    // The ESN a run that never finished had read from its card, if any; not
    // asked when a later run wrote the same channel.nvm.
    std::function<std::string(const nlohmann::json& entry)> esnOf;
    // True while the process that wrote the entry still runs.
    std::function<bool(int64_t pid)> running;
};

// The newest run on this card that never finished, other than `ownRun`, and
// only when no run on the card ended after it.
std::optional<nlohmann::json> UnfinishedRunOn(const std::vector<nlohmann::json>& folded, const CardKeys& card,
                                              const std::string& ownRun, const UnfinishedLookup& lookup);

// "fwupgrade upgrade --device ... started 2026-12-09T06:04:57+0000 (log: ...)"
std::string UnfinishedRunWords(const nlohmann::json& entry);

}  // namespace fwupgrade
