#include "sim/card/Faults.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

namespace sim {
namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};

constexpr KindName kKinds[] = {
    {FaultKind::Silence, "silence"},
    {FaultKind::Late, "late"},
    {FaultKind::Nak, "nak"},
    {FaultKind::Corrupt, "corrupt"},
    {FaultKind::NoEndFlag, "no_end_flag"},
    {FaultKind::Split, "split"},
    {FaultKind::ExtraFlags, "extra_flags"},
    {FaultKind::NvRefuse, "nv_refuse"},
    {FaultKind::EfsFail, "efs_fail"},
    {FaultKind::EfsShortRead, "efs_short_read"},
    {FaultKind::EfsEndlessListing, "efs_endless_listing"},
    {FaultKind::EfsDotEntries, "efs_dot_entries"},
    {FaultKind::BadBlock, "bad_block"},
    {FaultKind::BlockUnanswered, "block_unanswered"},
    {FaultKind::SlowReenumeration, "reenum_slow"},
    {FaultKind::MissingReenumeration, "reenum_missing"},
    {FaultKind::AnswerOnceAfterReset, "answer_once_after_reset"},
    {FaultKind::WifiRefused, "wifi_refused"},
    {FaultKind::WifiUnsupported, "wifi_unsupported"},
    {FaultKind::SpcRefused, "spc_refused"},
    {FaultKind::LockSwitchRefused, "lock_switch_refused"},
};

FaultKind KindFromName(const std::string& name) {
    for (const auto& entry : kKinds) {
        if (name == entry.name) return entry.kind;
    }
    throw std::runtime_error("unknown fault kind: " + name);
}

int64_t ParseNumber(const std::string& key, const std::string& text) {
    size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used, 0);
    } catch (const std::exception&) {
        throw std::runtime_error("fault " + key + ": not a number: " + text);
    }
    if (used != text.size()) throw std::runtime_error("fault " + key + ": not a number: " + text);
    return value;
}

void SetField(FaultRule& rule, const std::string& key, const std::string& text) {
    if (key == "command") {
        rule.command = static_cast<int>(ParseNumber(key, text));
    } else if (key == "mode") {
        if (text != "at" && text != "diag" && text != "download" && text != "programmer") {
            throw std::runtime_error("fault mode: at, diag, download or programmer");
        }
        rule.mode = text;
    } else if (key == "item") {
        rule.item = static_cast<int>(ParseNumber(key, text));
    } else if (key == "image") {
        rule.image = text;
    } else if (key == "path") {
        rule.path = text;
    } else if (key == "occurrence") {
        const int64_t n = ParseNumber(key, text);
        if (n < 1) throw std::runtime_error("fault occurrence counts from 1");
        rule.occurrence = static_cast<uint32_t>(n);
    } else if (key == "count") {
        const int64_t n = ParseNumber(key, text);
        if (n < 0) throw std::runtime_error("fault count must not be negative");
        rule.count = static_cast<uint32_t>(n);
    } else if (key == "value") {
        rule.value = ParseNumber(key, text);
        rule.valueGiven = true;
    } else {
        throw std::runtime_error("unknown fault field: " + key);
    }
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
    for (const auto& entry : kKinds) {
        if (entry.kind == kind) return entry.name;
    }
    return "?";
}

FaultRule ParseFaultOption(const std::string& text) {
    FaultRule rule;
    const size_t colon = text.find(':');
    rule.kind = KindFromName(text.substr(0, colon));
    if (colon == std::string::npos) return rule;
    size_t start = colon + 1;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        if (!part.empty()) {
            const size_t eq = part.find('=');
            if (eq == std::string::npos) throw std::runtime_error("fault field without '=': " + part);
            SetField(rule, part.substr(0, eq), part.substr(eq + 1));
        }
        start = end + 1;
    }
    return rule;
}

FaultRule FaultRuleFromJson(const nlohmann::json& json) {
    if (!json.is_object() || !json.contains("kind")) throw std::runtime_error("fault rule: an object with a kind");
    FaultRule rule;
    rule.kind = KindFromName(json["kind"].get<std::string>());
    for (const auto& [key, value] : json.items()) {
        if (key == "kind") continue;
        SetField(rule, key, value.is_string() ? value.get<std::string>() : value.dump());
    }
    return rule;
}

FaultPlan FaultPlanFromJson(const nlohmann::json& scenario) {
    const nlohmann::json& rules = scenario.is_object() ? scenario.at("faults") : scenario;
    if (!rules.is_array()) throw std::runtime_error("scenario: an array of fault rules");
    FaultPlan plan;
    for (const auto& rule : rules) plan.rules.push_back(FaultRuleFromJson(rule));
    return plan;
}

bool FaultHits(FaultRule& rule) {
    ++rule.seen;
    if (rule.seen < rule.occurrence) return false;
    return rule.count == 0 || rule.seen < rule.occurrence + rule.count;
}

}  // namespace sim
