// Fault injection: rules that make the card misbehave at a chosen request,
// block or mode change. Given on the command line ("kind:key=value,...") or
// as a JSON scenario file (an array of rule objects with the same keys).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace sim {

enum class FaultKind {
    Silence,          // the request is lost: no answer, nothing done (NV requests: of item `item`, or any)
    Late,             // the answer comes `value` ms late
    Nak,              // answered with a refusal: diag error code / download NAK reason / programmer error reason = value
    Corrupt,          // byte `value` of the answer frame is flipped
    NoEndFlag,        // the closing flag of the answer is missing
    Split,            // the answer arrives in two halves, the second `value` ms later
    ExtraFlags,       // `value` extra flags before and after the answer
    NvRefuse,         // NV item `item` (read 0x26 / write 0x27 / both) answers NV status `value` (default 4)
    EfsFail,          // EFS2 subsystem command `command` on `path` answers error number `value` (default 5, EIO)
    EfsShortRead,     // EFS2 reads of `path` carry at most `value` bytes
    EfsEndlessListing,     // past its last entry, a listing of directory `path` names one more file each time
    EfsDotEntries,    // a listing of directory `path` starts with "." and ".." as directories
    BadBlock,         // raw data block number `value` (0-based, of image `image` or any) fails its checksum check
    BlockUnanswered,  // raw data block number `value` (as BadBlock) is dropped without any answer
    SlowReenumeration,     // mode change number `occurrence` takes `value` ms to come back
    MissingReenumeration,  // mode change number `occurrence` never comes back
    AnswerOnceAfterReset,  // after the reset into new firmware the card identifies itself once, then falls silent
    WifiRefused,      // the Wi-Fi address commands answer a non-zero status
    WifiUnsupported,  // the Wi-Fi address commands are unknown to the firmware (error response 0x13)
    SpcRefused,       // the service programming code is not accepted, whatever it is
    LockSwitchRefused,     // the lock-file switch answers status `value` (default 1) and stays as it is
};

struct FaultRule {
    FaultKind kind = FaultKind::Silence;
    int command = -1;        // request code (EFS2: subsystem command); -1 matches any
    std::string mode;        // "" any, else "at", "diag", "download", "programmer"
    int item = -1;           // NV item for NvRefuse and Silence
    std::string path;        // EFS2 path for the efs_* kinds ("" any): the file or directory the request names or holds open
    std::string image;       // image name for BadBlock ("" any)
    uint32_t occurrence = 1; // first matching event affected, counted from 1
    uint32_t count = 1;      // matching events affected from there; 0 = all
    int64_t value = 0;
    bool valueGiven = false;
    uint32_t seen = 0;       // matching events so far (runtime)
};

struct FaultPlan {
    std::vector<FaultRule> rules;
};

const char* FaultKindName(FaultKind kind);
// "late:command=0x38,value=2000" -> a rule; throws std::runtime_error when malformed.
FaultRule ParseFaultOption(const std::string& text);
FaultRule FaultRuleFromJson(const nlohmann::json& rule);
FaultPlan FaultPlanFromJson(const nlohmann::json& scenario);

// Counts one matching event for the rule and tells whether it is affected.
bool FaultHits(FaultRule& rule);

}  // namespace sim
