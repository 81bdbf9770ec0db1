#include "host/fwupgrade/run/UnfinishedRuns.h"

#include <algorithm>
#include <map>

namespace fwupgrade {

namespace {

std::string Text(const nlohmann::json& entry, const char* key) {
    const auto it = entry.find(key);
    return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool Unfinished(const nlohmann::json& entry) { return Text(entry, "result") == kUnfinishedResult; }

bool SameCard(const nlohmann::json& entry, const CardKeys& card, const std::string& esn) {
    const auto same = [](const std::string& a, const std::string& b) { return !a.empty() && a == b; };
    return same(Text(entry, "device"), card.device) || same(Text(entry, "device_by_id"), card.stableDevice) ||
           same(esn, card.esn);
}

}  // namespace

std::vector<nlohmann::json> FoldRunEntries(const std::vector<nlohmann::json>& entries) {
    std::vector<nlohmann::json> folded;
    std::map<std::string, size_t> atRun;
    for (const auto& entry : entries) {
        const std::string run = Text(entry, "run");
        const auto seen = run.empty() ? atRun.end() : atRun.find(run);
        if (seen == atRun.end()) {
            if (!run.empty()) atRun[run] = folded.size();
            folded.push_back(entry);
        } else if (Unfinished(folded[seen->second])) {
            folded[seen->second] = entry;
        }
    }
    return folded;
}

std::optional<nlohmann::json> UnfinishedRunOn(const std::vector<nlohmann::json>& folded, const CardKeys& card,
                                              const std::string& ownRun, const UnfinishedLookup& lookup) {
    for (auto it = folded.rbegin(); it != folded.rend(); ++it) {
        if (Text(*it, "run") == ownRun && !ownRun.empty()) continue;
        const std::string nv = Text(*it, "channel_nvm");
        if (!Unfinished(*it)) {
            // A run on the card that ended since has told of the older ones.
            if (SameCard(*it, card, Text(*it, "esn"))) return std::nullopt;
            continue;
        }
        const auto pid = it->find("pid");
        if (pid != it->end() && pid->is_number_integer() && lookup.running && lookup.running(pid->get<int64_t>())) continue;
        // A record a later run wrote over tells nothing of this run's card
        // (the own run's record is read before it is written: lookup.esnOf).
        const bool overwritten = !nv.empty() && std::any_of(folded.rbegin(), it, [&](const nlohmann::json& later) {
            return Text(later, "channel_nvm") == nv && Text(later, "run") != ownRun;
        });
        const std::string esn = !Text(*it, "esn").empty()          ? Text(*it, "esn")
                                : lookup.esnOf && !overwritten ? lookup.esnOf(*it)
                                                               : std::string();
        if (SameCard(*it, card, esn)) return *it;
    }
    return std::nullopt;
}

std::string UnfinishedRunWords(const nlohmann::json& entry) {
    std::string words = Text(entry, "command");
    if (words.empty()) words = "a run on " + Text(entry, "device");
    words += ", started " + Text(entry, "time");
    if (const std::string log = Text(entry, "log"); !log.empty()) words += " (log: " + log + ")";
    return words;
}

}  // namespace fwupgrade
