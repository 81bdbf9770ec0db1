#include "tests/matrix/Scenarios.h"

#include <cctype>

namespace matrix {
namespace {

constexpr int32_t kFailed = -13314;

const std::string kIdentifyNv = "Function: pPacket->NvItemRead(NV_FTM_MODE_I,item_ftm, sta)";
const std::string kBackupNv = "Function: BackupNVMOP";
const std::string kLockList = "EnumAllAbsoluteFilePathInEfsDir";
const std::string kSwitch = "Function: SwitchToDownload";
const std::string kGoToProgrammer = "Function: GoToFlashPrg";
const std::string kAmss =
    "Function: WindowsDownloadwithHeaderHS(pPacket, m_DownloadFileList.strAmsshdFilePath, "
    "m_DownloadFileList.strAmssFilePath, 0x05, DLOEM, DLAMSS)";
const std::string kSystem =
    "Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strSystemPath, 0x15, DLBOOTIMG, DLSYSTEMIMG)";
const std::string kCefs =
    "Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strCefs_appsFilePath, 0x09, DLRECOVERY, DLCEFS)";
const std::string kReset = "Function: ResetMobileSDP";
const std::string kRestoreNv = "Function: RestoreNVMOP";

struct CommandFault {
    sim::FaultKind kind;
    const char* text;
    const char* rule;   // the fault's value, if any
};
constexpr CommandFault kCommandFaults[] = {
    {sim::FaultKind::Silence, "silenced", ""},
    {sim::FaultKind::Late, "answered 25 s late", ",value=25000"},
    {sim::FaultKind::Nak, "refused", ""},
    {sim::FaultKind::Corrupt, "answered corrupted", ""},
    {sim::FaultKind::NoEndFlag, "answered without its end flag", ""},
    {sim::FaultKind::Split, "answered in two halves", ",value=2"},
};

struct Fixed {
    CardKind card;
    std::string fault;
    std::vector<std::string> rules;
    int32_t result;
    std::string failedStep;
    std::string killAtStep = {};
};

std::string Identifier(const std::string& text) {
    std::string out;
    bool upper = true;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            out += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            upper = false;
        } else {
            upper = true;
        }
    }
    return out;
}

Scenario FromFixed(const Fixed& row) {
    Scenario s;
    s.card = row.card;
    s.name = Identifier(row.fault) + "_" + CardKindName(row.card);
    s.fault = row.fault;
    s.rules = row.rules;
    s.result = row.result;
    s.failedStep = row.failedStep;
    s.killAtStep = row.killAtStep;
    return s;
}

void AddCommandFaults(std::vector<Scenario>& out) {
    constexpr Position kPositions[] = {Position::First, Position::Middle, Position::Last};
    for (int p = 0; p < kPhaseCount; ++p) {
        const Phase phase = static_cast<Phase>(p);
        for (int at = 0; at < 3; ++at) {
            // Each phase meets every kind of card; only cards that are wiped are restored.
            CardKind card = static_cast<CardKind>((p + at) % 3);
            if (phase == Phase::Restore && card == CardKind::SameTable) card = CardKind::Q7k;
            for (const CommandFault& fault : kCommandFaults) {
                Scenario s;
                s.commandFault = true;
                s.card = card;
                s.kind = fault.kind;
                s.phase = phase;
                s.position = kPositions[at];
                s.rules = {std::string(sim::FaultKindName(fault.kind)) + ":" + fault.rule};
                s.fault = std::string(PositionName(s.position)) + " request of the " + PhaseName(phase) + " phase " +
                          fault.text;
                s.name = Identifier(std::string(PhaseName(phase)) + " " + PositionName(s.position) + " " +
                                    sim::FaultKindName(fault.kind)) +
                         "_" + CardKindName(card);
                out.push_back(s);
            }
        }
    }
}

// Re-enumeration slow (within the module's patience) or missing at each of
// the three mode changes.
void AddReenumerations(std::vector<Fixed>& rows) {
    const char* const kTransitions[] = {"to the boot downloader", "to the flash programmer", "into the new firmware"};
    const std::string kFailedAt[] = {kSwitch, kGoToProgrammer, kReset};
    for (CardKind card : {CardKind::Q7k, CardKind::Override}) {
        for (int t = 0; t < 3; ++t) {
            const std::string n = std::to_string(t + 1);
            rows.push_back({card, std::string("re-enumeration ") + kTransitions[t] + " 15 s slow",
                            {"reenum_slow:occurrence=" + n + ",value=15000"}, 0, ""});
            rows.push_back({card, std::string("re-enumeration ") + kTransitions[t] + " missing",
                            {"reenum_missing:occurrence=" + n}, kFailed, kFailedAt[t]});
        }
    }
}

// NV items refused on reading (the backup) and on writing (the restore):
// the list's first, a middle and its last item.
void AddNvRefusals(std::vector<Fixed>& rows) {
    const char* const kItems[] = {"77", "1724", "4837"};
    for (const char* item : kItems) {
        rows.push_back({CardKind::Q7k, std::string("NV item ") + item + " read refused",
                        {std::string("nv_refuse:command=0x26,count=0,item=") + item}, kFailed, kBackupNv});
        for (CardKind card : {CardKind::Q7k, CardKind::Override})
            rows.push_back({card, std::string("NV item ") + item + " write refused",
                            {std::string("nv_refuse:command=0x27,count=0,item=") + item}, kFailed, kRestoreNv});
    }
    rows.push_back({CardKind::Override, "NV item 453 read refused", {"nv_refuse:command=0x26,count=0,item=453"}, kFailed,
                    kIdentifyNv});
    rows.push_back({CardKind::Q7k, "NV item 22 read refused", {"nv_refuse:command=0x26,count=0,item=22"}, kFailed,
                    kIdentifyNv});
    rows.push_back({CardKind::Q7k, "NV item 96 cleared in vain ten times", {"nv_refuse:command=0x27,count=10,item=96"},
                    0, ""});
    rows.push_back({CardKind::Override, "NV item 22 written back in vain three times",
                    {"nv_refuse:command=0x27,count=3,item=22"}, 0, ""});
}

// EFS2 failures while the lock files are listed and copied, and while they
// are written back.
void AddEfsFailures(std::vector<Fixed>& rows) {
    struct Efs {
        const char* what;
        const char* rule;
        int32_t result;
    };
    const Efs kBackup[] = {
        {"EFS directory open fails", "efs_fail:command=0x0B,count=0", kFailed},
        {"EFS directory read fails", "efs_fail:command=0x0C,occurrence=2,count=0", kFailed},
        {"EFS lock file open fails", "efs_fail:command=0x02,count=0", kFailed},
        {"EFS lock file read fails", "efs_fail:command=0x04,occurrence=2,count=0", kFailed},
        {"EFS lock file size unknown", "efs_fail:command=0x11,occurrence=2,count=1", kFailed},
    };
    for (const Efs& e : kBackup) rows.push_back({CardKind::Q7k, e.what, {e.rule}, e.result, kLockList});
    for (CardKind card : {CardKind::Q7k, CardKind::Override}) {
        rows.push_back({card, "EFS lock file write fails", {"efs_fail:command=0x05,count=0"}, 0, ""});
        rows.push_back({card, "EFS lock file write fails once", {"efs_fail:command=0x05,count=1"}, 0, ""});
    }
}

// Raw data blocks damaged or never answered: once (resent) or every time.
void AddBlocks(std::vector<Fixed>& rows) {
    for (CardKind card : {CardKind::Q7k, CardKind::Override}) {
        for (const char* block : {"0", "1", "2"}) {
            const std::string b = block;
            rows.push_back({card, "system.img block " + b + " damaged every time",
                            {"bad_block:image=system.img,count=0,value=" + b}, kFailed, kSystem});
            rows.push_back({card, "system.img block " + b + " never answered",
                            {"block_unanswered:image=system.img,count=0,value=" + b}, kFailed, kSystem});
        }
        rows.push_back({card, "system.img block 1 damaged once", {"bad_block:image=system.img,value=1"}, 0, ""});
        // An unanswered block is not sent again: the image fails and the rescue writes it.
        rows.push_back({card, "system.img block 2 unanswered once", {"block_unanswered:image=system.img,value=2"},
                        kFailed, kSystem});
        rows.push_back({card, "amss.mbn block 0 damaged every time", {"bad_block:image=amss.mbn,count=0,value=0"},
                        kFailed, kAmss});
        rows.push_back({card, "cefs.mbn block 1 damaged every time", {"bad_block:image=cefs.mbn,count=0,value=1"},
                        kFailed, kCefs});
        rows.push_back({card, "cefs.mbn block 0 never answered", {"block_unanswered:image=cefs.mbn,count=0,value=0"},
                        kFailed, kCefs});
    }
}

// The host killed as the run reaches each boundary between its steps that
// change what the card or the disk holds.
void AddKills(std::vector<Fixed>& rows) {
    const std::pair<const char*, std::string> kSteps[] = {
        {"the backup folder", "Function: CreateNVBackupDirectory"},
        {"the lock file listing", kLockList},
        {"the NV backup", kBackupNv},
        {"the switch", kSwitch},
        {"the programmer load", "Function: DownloadArmPrg"},
        {"the programmer start", kGoToProgrammer},
        {"the partition table", "Function: DownloadPartitionTable"},
        {"system.img", kSystem},
        {"cefs.mbn", kCefs},
        {"the reset", kReset},
        {"the NV restore", kRestoreNv},
        {"the Wi-Fi restore", "Execute WriteWiFiAddress1 function"},
    };
    for (CardKind card : {CardKind::Q7k, CardKind::Override}) {
        for (const auto& [label, step] : kSteps)
            rows.push_back({card, std::string("host killed before ") + label, {}, kKilled, step, step});
    }
}

void AddCards(std::vector<Fixed>& rows) {
    for (CardKind card : {CardKind::Q7k, CardKind::Override, CardKind::SameTable})
        rows.push_back({card, "no fault", {}, 0, ""});
    for (CardKind card : {CardKind::Q7k, CardKind::Override})
        rows.push_back({card, "new firmware answers once after the reset", {"answer_once_after_reset"}, kFailed, kReset});
}

// Requests whose fault the run goes on after, or ends elsewhere than in
// the step that sent them. Any other request fails its step; an answer in
// two halves is read whole.
struct Exception {
    Phase phase;
    Position position;
    const char* kinds;     // the fault kinds this applies to
    bool survives;         // the run goes on
    const char* failsAt;   // otherwise where it ends ("" the step that sent the request)
    const char* why;
};
const Exception kExceptions[] = {
    {Phase::Identify, Position::First, "nak corrupt no_end_flag", true, "", "the status probe takes any answer"},
    {Phase::Identify, Position::First, "late", false, "Execute SelectPhoneType function",
     "the late answers hold up the software version, and without it the kind of card is unknown"},
    {Phase::Backup, Position::Last, "late", true, "", "the late answer is the one to the same item asked again"},
    {Phase::Switch, Position::First, "silence late nak corrupt no_end_flag", true, "",
     "the status probe before the switch is only traced"},
    {Phase::Switch, Position::Middle, "silence nak corrupt no_end_flag", true, "",
     "the NV write before the switch is only traced"},
    {Phase::Switch, Position::Last, "silence nak corrupt no_end_flag", true, "",
     "the boot downloader's parameters are only traced"},
    {Phase::Load, Position::Last, "no_end_flag", true, "", "a streaming answer is read from its leading flag"},
    {Phase::Flash, Position::First, "late", true, "", ""},
    {Phase::Flash, Position::First, "silence nak corrupt no_end_flag", false,
     "Function: DownloadSecondbootloaderheader(pPacket)",
     "an unconfirmed partition table counts as sent; the programmer then refuses the next image"},
    // The size announcement is answered while raw blocks stream, read one read at a time.
    {Phase::Flash, Position::Middle, "split", false, "",
     "a streaming answer split across two reads during the raw transfer is lost"},
    {Phase::Flash, Position::Last, "no_end_flag", true, "", "a streaming answer is read from its leading flag"},
    {Phase::Restore, Position::First, "late corrupt no_end_flag", true, "", "the card resets whatever it answers"},
    {Phase::Restore, Position::Last, "silence late nak corrupt no_end_flag", true, "",
     "switching lock-file access off at the end is only traced"},
};

bool Listed(const char* kinds, sim::FaultKind kind) {
    const std::string list = std::string(" ") + kinds + " ";
    return list.find(std::string(" ") + sim::FaultKindName(kind) + " ") != std::string::npos;
}

}  // namespace

CommandOutcome ExpectedCommandOutcome(Phase phase, Position position, sim::FaultKind kind) {
    for (const Exception& entry : kExceptions) {
        if (entry.phase == phase && entry.position == position && Listed(entry.kinds, kind))
            return {entry.survives, entry.failsAt, entry.why};
    }
    return {kind == sim::FaultKind::Split, "", ""};
}

const char* CardKindName(CardKind kind) {
    switch (kind) {
        case CardKind::Q7k: return "Q7k";
        case CardKind::Override: return "OtherLayout";
        case CardKind::SameTable: return "SameLayout";
    }
    return "?";
}

const char* PositionName(Position position) {
    switch (position) {
        case Position::First: return "first";
        case Position::Middle: return "middle";
        case Position::Last: return "last";
    }
    return "?";
}

std::vector<Scenario> AllScenarios() {
    std::vector<Scenario> out;
    AddCommandFaults(out);
    std::vector<Fixed> rows;
    AddCards(rows);
    AddReenumerations(rows);
    AddNvRefusals(rows);
    AddEfsFailures(rows);
    AddBlocks(rows);
    AddKills(rows);
    for (const Fixed& row : rows) out.push_back(FromFixed(row));
    return out;
}

}  // namespace matrix
