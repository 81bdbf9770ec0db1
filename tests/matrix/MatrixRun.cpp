#include "tests/matrix/MatrixRun.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include <nlohmann/json.hpp>

#include "host/kit/HostKit.h"
#include "module/Application.h"
#include "module/UpgradeModuleObject.h"
#include "tests/support/TestClocks.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"
#include "tests/matrix/CardCheck.h"
#include "tests/matrix/Survey.h"
#include "tests/matrix/Workspace.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/run/UpgradeModule.h"

namespace matrix {
namespace {

namespace fs = std::filesystem;
constexpr int32_t kPort = 7;
constexpr int32_t kFailed = -13314;
constexpr uint32_t kUserPauseMs = 180000;

TraceSteps* g_steps = nullptr;

sim::CardData MakeCardData(CardKind kind, sim::PackageOptions& options) {
    sim::CardData data = sim::DefaultCardData();
    if (kind != CardKind::Q7k) {
        options.version = "LUM_W326V1.0.0B06";
        data.version = sim::kOtherVersion;
        options.newPartitionLayout = kind == CardKind::Override;
    }
    return data;
}

sim::CardMode ModeFromName(const std::string& name) {
    for (sim::CardMode mode : {sim::CardMode::AtCommand, sim::CardMode::Diagnostic, sim::CardMode::BootDownloader,
                               sim::CardMode::FlashProgrammer})
        if (name == sim::ModeName(mode)) return mode;
    return sim::CardMode::Diagnostic;
}

class ScenarioRun {
public:
    explicit ScenarioRun(const Scenario& scenario) : s_(scenario), ws_(scenario.name) {}

    Outcome Run();
    std::vector<Request> Survey();

private:
    bool MakePackage();
    void Plug(sim::CardData data, sim::FaultPlan faults = {});
    std::optional<Request> Target();
    sim::FaultPlan PlanFor(const std::optional<Request>& target);
    void ScopeToStep(const Request& target);
    int32_t KilledRun();
    void Recover();
    void RecoverFromFailure();
    void Verify();

    const Scenario& s_;
    Workspace ws_;
    platform::RecordingClock clock_;
    sim::InProcessPortOpener opener_;
    std::shared_ptr<sim::Card> card_;
    sim::CardData before_;
    upgrade::UpgradeModule module_;
    Outcome out_;
};

bool ScenarioRun::MakePackage() {
    sim::PackageOptions options;
    before_ = MakeCardData(s_.card, options);
    std::string error;
    if (sim::MakePackage(ws_.Package(), options, error)) return true;
    out_.problems.push_back("package: " + error);
    return false;
}

void ScenarioRun::Plug(sim::CardData data, sim::FaultPlan faults) {
    card_ = sim::MakeCard(std::move(data), sim::CardTiming{}, std::move(faults));
    opener_.Attach(kPort, card_);
}

std::vector<Request> ScenarioRun::Survey() {
    platform::SetClock(&clock_);
    platform::SetComPortOpener(&opener_);
    std::vector<Request> requests;
    if (MakePackage()) {
        Plug(before_);
        RequestLog log(*g_steps);
        log.Attach(*card_);
        g_steps->Reset();
        g_steps->onStep = [&](const std::string& step) { log.CountStep(step); };
        if (module_.FirmWareUpgrade(kPort, platform::Utf8ToWide(ws_.Package())) == 0) requests = log.Requests();
        g_steps->onStep = nullptr;
        card_->SetTranscript({});
    }
    platform::SetComPortOpener(nullptr);
    platform::SetClock(nullptr);
    return requests;
}

// The request a command fault hits, from a clean run of the same card.
std::optional<Request> ScenarioRun::Target() {
    static std::map<CardKind, std::vector<Request>> surveys;
    if (!surveys.count(s_.card)) {
        Scenario clean;
        clean.card = s_.card;
        clean.name = std::string("survey_") + CardKindName(s_.card);
        surveys[s_.card] = ScenarioRun(clean).Survey();
    }
    std::vector<Request> phase;
    for (const Request& request : surveys[s_.card])
        if (request.phase == s_.phase) phase.push_back(request);
    if (phase.empty()) return std::nullopt;
    const size_t index = s_.position == Position::First ? 0 : s_.position == Position::Middle ? phase.size() / 2
                                                                                                : phase.size() - 1;
    return phase[index];
}

sim::FaultPlan ScenarioRun::PlanFor(const std::optional<Request>& target) {
    sim::FaultPlan plan;
    for (const std::string& rule : s_.rules) plan.rules.push_back(sim::ParseFaultOption(rule));
    if (target) {
        sim::FaultRule& rule = plan.rules.front();
        rule.mode = target->mode;
        rule.command = target->command;
        rule.occurrence = target->occurrence;
        rule.count = 0;
    }
    return plan;
}

// A command fault lasts as long as the step of its request (and that
// step's second attempt): the card is healthy again for the next step.
void ScenarioRun::ScopeToStep(const Request& target) {
    auto seen = std::make_shared<std::map<std::string, uint32_t>>();
    auto armed = std::make_shared<bool>(false);
    g_steps->onStep = [this, target, seen, armed](const std::string& step) {
        const uint32_t count = ++(*seen)[step];
        if (!*armed && step == target.step && count == target.stepOccurrence) {
            *armed = true;
        } else if (*armed && StepKind(step) != StepKind(target.step)) {
            card_->ClearFaults();
            *armed = false;
        }
    };
}

// The host runs in a child that dies as it reaches the step; the card it
// leaves behind is taken up again here, in the state it was in.
int32_t ScenarioRun::KilledRun() {
    const std::string state = (ws_.Root() / "card-at-the-kill.json").string();
    const pid_t child = fork();
    if (child == 0) {
        g_steps->onStep = [&](const std::string& step) {
            if (step != s_.killAtStep) return;
            std::ofstream(state) << card_->StateJson().dump();
            raise(SIGKILL);
        };
        // The child dies at the kill step; coming back at all is the fault exit code 3 reports.
        (void)module_.FirmWareUpgrade(kPort, platform::Utf8ToWide(ws_.Package()));
        _exit(3);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFSIGNALED(status)) {
        out_.problems.push_back("the host did not reach " + s_.killAtStep);
        return kKilled;
    }
    std::ifstream in(state);
    const nlohmann::json json = nlohmann::json::parse(in);
    Plug(sim::CardDataFromJson(json));
    card_->ResumeIn(ModeFromName(json.at("mode").get<std::string>()), json.at("new_firmware").get<bool>());
    out_.failedStep = s_.killAtStep;
    return kKilled;
}

void ScenarioRun::RecoverFromFailure() {
    card_->ClearFaults();
    out_.recovery.clear();
    // The user comes back to the card a few minutes later: whatever it
    // still had to answer has arrived by then.
    clock_.Advance(kUserPauseMs);
    if (!card_->Present()) {
        // Taken out and plugged in again: it starts from what its flash holds.
        Plug(card_->Data());
        out_.recovery = "replug, ";
    }
    upgrade::UpgradeModule prober;
    packet::CPacket packet;
    const upgrade::CardState state = prober.ProbeCardState(packet, kPort);
    packet.Close();
    const std::u16string package = platform::Utf8ToWide(ws_.Package());
    if (state == upgrade::CardState::Firmware) {
        out_.recovery += "retry";
        out_.recoveryResult = module_.FirmWareUpgrade(kPort, package);
    } else if (state == upgrade::CardState::BootDownloader || state == upgrade::CardState::FlashProgrammer) {
        out_.recovery += "rescue";
        out_.recoveryResult = module_.RescueCard(kPort, package, u"");
    } else {
        out_.recovery += "none";
        out_.recoveryResult = kFailed;
        out_.problems.push_back(std::string("the card is left ") + upgrade::CardStateText(state));
    }
}

// A run that succeeded but could not write everything back leaves the
// record saying so; the kept backup is then written back as a user would.
void ScenarioRun::Recover() {
    if (out_.result != 0) return RecoverFromFailure();
    upgrade::BackupRecord record;
    std::string error;
    const std::u16string path = platform::Utf8ToWide(ws_.Package() + "/backup-record.txt");
    bool shortfall = upgrade::ReadBackupRecord(path, record, error) == upgrade::RecordRead::Read &&
                     record.wifiRestore == upgrade::RestoreResult::Failed;
    for (const upgrade::RecordedLockFile& entry : record.lockFiles)
        shortfall = shortfall || entry.restore == upgrade::RestoreResult::Failed;
    out_.recovery = "none";
    if (!shortfall) return;
    card_->ClearFaults();
    out_.recovery = "restore";
    std::u16string newest;
    for (const upgrade::KeptBackup& kept : upgrade::ListKeptBackups(before_.esn))
        if (kept.record.readWhilePending.empty()) newest = kept.folder;
    out_.recoveryResult = module_.RestoreCard(kPort, newest, false) ? 0 : kFailed;
}

void ScenarioRun::Verify() {
    if (out_.recoveryResult != 0) out_.problems.push_back("the " + out_.recovery + " failed");
    if (card_->Bricked()) out_.problems.push_back("the card is bricked");
    const sim::FlashCheck flash = sim::CheckFlashAgainstPackage(card_->Data(), ws_.Package(), s_.card != CardKind::SameTable);
    for (const std::string& problem : flash.problems) out_.problems.push_back("flash: " + problem);
    const bool q7k = s_.card == CardKind::Q7k;
    CheckCardHolds(card_->Data(), before_, q7k, out_.problems);
    CheckKeptBackupHolds(before_, q7k, out_.problems);
    upgrade::BackupRecord record;
    std::string error;
    if (upgrade::ReadBackupRecord(platform::Utf8ToWide(ws_.Package() + "/backup-record.txt"), record, error) ==
            upgrade::RecordRead::Read &&
        record.RestorePending())
        out_.problems.push_back("a restore is still pending");
}

Outcome ScenarioRun::Run() {
    std::optional<Request> target;
    if (s_.commandFault) {
        target = Target();
        if (!target) {
            out_.problems.push_back(std::string("a clean run sends nothing in the ") + PhaseName(s_.phase) + " phase");
            return out_;
        }
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", target->command);
        out_.request = target->mode + " " + code + " #" + std::to_string(target->occurrence);
        const CommandOutcome expected = ExpectedCommandOutcome(s_.phase, s_.position, s_.kind);
        out_.expectedResult = expected.survives ? 0 : kFailed;
        out_.expectedStep = expected.survives ? "" : expected.failsAt.empty() ? target->step : expected.failsAt;
        out_.why = expected.why;
    } else {
        out_.expectedResult = s_.result;
        out_.expectedStep = s_.failedStep;
    }
    platform::SetClock(&clock_);
    platform::SetComPortOpener(&opener_);
    if (MakePackage()) {
        Plug(before_, PlanFor(target));
        g_steps->Reset();
        if (target) ScopeToStep(*target);
        if (s_.killAtStep.empty()) {
            out_.result = module_.FirmWareUpgrade(kPort, platform::Utf8ToWide(ws_.Package()));
            if (out_.result != 0) out_.failedStep = g_steps->FailedStep();
        } else {
            out_.result = KilledRun();
        }
        g_steps->onStep = nullptr;
        Recover();
        Verify();
    }
    platform::SetComPortOpener(nullptr);
    platform::SetClock(nullptr);
    return out_;
}

}  // namespace

std::string StepKind(const std::string& step) {
    std::string out;
    for (char c : step)
        if (!std::isdigit(static_cast<unsigned char>(c))) out += c;
    return out;
}

void StartHost() {
    static hostkit::HostSession* session = nullptr;
    if (session) return;
    session = new hostkit::HostSession();
    session->StartManager();
    module::InitialiseLibrary();
    session->UseLinkedModule(&GetModule);
    g_steps = &TraceSteps::Install();
}

Outcome RunScenario(const Scenario& scenario) { return ScenarioRun(scenario).Run(); }

}  // namespace matrix
