// The history entry of one card's run: what was run on which card, from
// which package, with what result, and how long each phase took.
#pragma once

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/report/RunFindings.h"
#include "host/fwupgrade/report/RunResult.h"

namespace fwupgrade {

// What is known about the card itself.
struct CardFacts {
    std::string esn;
    std::string versionBefore;
    std::string versionAfter;
    std::string keptBackup;    // the folder where the run's backups were kept
};

// Gathers the card facts of a run: the version the module traced before the
// flash, and the ESN, the new firmware's version and the kept backup from the
// backup record beside channel.nvm when the run (started at `started`) wrote it.
CardFacts GatherCardFacts(const RunFindings& findings, const std::string& channelNvm, std::time_t started);

struct RunRecord {
    std::string time;            // local time the run started, ISO 8601 with offset
    std::string command;         // the command line as the user gave it
    std::string device;
    std::string stableDevice;    // the /dev/serial/by-id link to the device, if any
    CardFacts card;
    std::string package;
    std::string packageDigest;
    std::string failedStep;      // plain words, empty when no step failed
    std::vector<std::pair<std::string, double>> phases;   // name, seconds
    double seconds = 0;
};

// "ok", "rejected", "failed", "interrupted" or "error", from the exit status.
std::string ResultWord(int exitStatus);

nlohmann::json HistoryEntry(const RunRecord& record, const RunResult& result);

// The link in `byIdFolder` that points at the same device; the device itself
// when it is such a link; else empty.
std::string StableDevicePath(const std::string& device, const std::string& byIdFolder = "/dev/serial/by-id");

// "2026-01-06T21:05:31+0100"
std::string LocalTimeText(std::time_t when);

}  // namespace fwupgrade
