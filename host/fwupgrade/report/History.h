// The run history: one JSON object per line in <state folder>/history.jsonl,
// one entry per run and card. An entry is appended with a single write to a
// file opened for appending and then synced, so entries of runs that end at
// the same time never mix and a crash loses at most the entry being written
// (a torn last line is skipped when the history is read).
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace fwupgrade {

// $XDG_STATE_HOME/fwupgrade, else ~/.local/state/fwupgrade; created when
// missing. Empty when there is no home or it cannot be created.
std::string StateFolder();

constexpr const char* kHistoryFileName = "history.jsonl";

bool AppendHistory(const std::string& file, const nlohmann::json& entry, std::string& error);

// The entries in the order they were written; lines that are not JSON
// objects are skipped.
std::vector<nlohmann::json> ReadHistory(const std::string& file);

// One line of `fwupgrade history`: time, result, device, versions, package.
std::string HistoryRow(const nlohmann::json& entry);

}  // namespace fwupgrade
