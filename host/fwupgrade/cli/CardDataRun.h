// One backup or restore in the run session every card command shares: the
// card aimed at, the log, the history entry (the unfinished one first), the
// signal watch and its interrupt policy, and the summary in the command's
// own words.
#pragma once

#include <optional>
#include <string>

#include "host/fwupgrade/card/CardAim.h"
#include "host/fwupgrade/card/ModemManager.h"
#include "host/fwupgrade/cli/CardCommands.h"
#include "host/fwupgrade/plugin/PluginHost.h"
#include "host/fwupgrade/plugin/PluginOperations.h"
#include "host/fwupgrade/run/RunSession.h"
#include "host/fwupgrade/run/SignalWatch.h"

namespace fwupgrade {

// These commands take no package: the rescue command they print names its place.
constexpr const char* kPackagePlaceholder = "DIR";

// A backup's or restore's summary: the headline, the command's own lines,
// then the ways on and the log.
std::string CardDataSummary(const RunResult& result);

class CardDataRun {
public:
    // `stopNotice` and `stoppedMidway` as CardDataMode has them.
    CardDataRun(const CardDataOptions& options, std::string stopNotice, std::string stoppedMidway);
    CardDataRun(const CardDataRun&) = delete;
    CardDataRun& operator=(const CardDataRun&) = delete;

    // Aims at the card, opens the log, asks the module about the card,
    // loads the plug-in and writes the unfinished history entry; false with
    // the result set when the run cannot start.
    bool Start();

    PluginOperations& Operations() { return *operations_; }
    RunSession& Session() { return session_; }
    RunResult& Result() { return result_; }
    CardFacts& Facts() { return facts_; }
    // Hands the facts known so far to the session: a run ended by a signal reports them.
    void ShareFacts() { session_.SetCardFacts(facts_); }

    bool Fail(int exitStatus, const std::string& headline);
    // After a failure: a card a run left outside its firmware is named so.
    void DescribeCardOutsideFirmware(const char* failed);
    // Reports the run with `details` under the headline; the exit status.
    int Finish(const std::string& details);

private:
    bool AskModule();
    bool LoadPlugin();
    void NameRescue();

    CardDataOptions options_;
    CardAim aim_;
    std::string aimError_;
    bool aimed_ = false;
    SingleRunRequest request_;
    RunResult result_;
    CardFacts facts_;
    RunSession session_;
    SignalWatch watch_;
    std::optional<ModemManagerInhibition> inhibition_;   // destroyed after the module's last port
    std::optional<PluginHost> host_;
    std::optional<PluginOperations> operations_;
};

}  // namespace fwupgrade
