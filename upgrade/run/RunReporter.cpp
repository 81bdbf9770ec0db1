// The events of the operations, reported where the engine learns each fact:
// the step it enters, the state the card was last seen in, why it stopped,
// and what of the card's data did not go back.
#include "upgrade/run/RunReporter.h"

#include "packet/Packet.h"
#include "upgrade/backup/BackupKeeper.h"
#include "upgrade/run/RunData.h"

namespace upgrade {
namespace {

constexpr uint16_t kNvInactive = 5;
constexpr uint16_t kNvBadParameter = 6;
constexpr uint16_t kNvReadOnly = 7;

LossReason NvLossReason(uint16_t status) {
    if (status == kNotAttempted) return LossReason::NotTried;
    if (status == kNvInactive || status == kNvBadParameter || status == kNvReadOnly) return LossReason::KeptByCard;
    return LossReason::RefusedByCard;
}

LossReason LossOf(RestoreResult result) {
    return result == RestoreResult::Failed ? LossReason::RefusedByCard : LossReason::NotTried;
}

}  // namespace

void RunReporter::ShowRatio(int percent) {
    if (progress_) progress_(percent);
    if (events_) events_->OnProgress(percent);
}

void RunReporter::Start() {
    step_ = RunStep::Prepare;
    failure_ = FailureReason::None;
    stateKnown_ = false;
}

bool RunReporter::EnterStep(RunStep step) {
    step_ = step;
    if (events_) events_->OnStep(step);
    if (cancel_ && cancel_()) {
        NoteFailure(FailureReason::Interrupted);
        return false;
    }
    return true;
}

void RunReporter::NoteFailure(FailureReason reason) {
    if (failure_ == FailureReason::None) failure_ = reason;
}

void RunReporter::NoteCardState(CardState state) {
    knownState_ = state;
    stateKnown_ = true;
}

void RunReporter::NoteCardFailure(const packet::CPacket* packet) {
    const bool answered = packet != nullptr && packet->IsOpen() && packet->AnsweredSinceLastWrite();
    NoteFailure(answered ? FailureReason::Refused : FailureReason::NoAnswer);
}

void RunReporter::ReportLosses(const BackupRecord& record, const BackupPhaseState& saved) {
    if (!events_) return;
    for (const NvItemNotRestored& item : record.nvNotRestored) {
        RunLoss loss;
        loss.kind = LossKind::NvItem;
        loss.reason = NvLossReason(item.status);
        loss.nvItem = item.item;
        loss.nvStatus = item.status;
        events_->OnLoss(loss);
    }
    if (saved.wifiSaved && record.wifiRestore != RestoreResult::Done) {
        RunLoss loss;
        loss.kind = LossKind::WifiAddress;
        loss.reason = LossOf(record.wifiRestore);
        events_->OnLoss(loss);
    }
    if (!saved.lockFilesSaved) return;
    for (const RecordedLockFile& entry : record.lockFiles) {
        if (entry.restore == RestoreResult::Done) continue;
        RunLoss loss;
        loss.kind = LossKind::LockFile;
        loss.reason = LossOf(entry.restore);
        loss.lockFile = entry.path;
        events_->OnLoss(loss);
    }
}

void RunReporter::ReportCardIdentified(uint32_t esn, const std::string& softwareVersion) {
    if (events_) events_->OnCardIdentified(esn, softwareVersion);
}

void RunReporter::ReportWifiNotSaved(LossReason reason) {
    if (!events_) return;
    RunLoss loss;
    loss.kind = LossKind::WifiAddress;
    loss.reason = reason;
    events_->OnLoss(loss);
}

void RunReporter::ReportOutcome(int32_t result, const std::u16string& packageFolder, const BackupKeeper& keeper,
                                const RunData& data) {
    if (!events_) return;
    RunOutcome outcome;
    outcome.result = result;
    if (result != kUpgradeOk) {
        outcome.failedStep = step_;
        outcome.reason = result == kPackageRejected ? FailureReason::Package : failure_;
        if (outcome.reason == FailureReason::None) outcome.reason = FailureReason::NoAnswer;
    }
    outcome.cardState = knownState_;
    outcome.cardStateKnown = stateKnown_;
    outcome.keptBackup = keeper.KeptBackup();
    outcome.keptReadNow = keeper.KeptReadNow();
    outcome.esn = keeper.Record().esn != 0 ? keeper.Record().esn : data.cardEsn;
    outcome.esnKnown = outcome.esn != 0;
    outcome.softwareVersion = data.softwareVersion;
    outcome.nvItemsRestored = keeper.Record().nvRestored.size();
    const bool wiped = keeper.Record().leftFirmware && !keeper.Record().restored;
    if (result != kUpgradeOk && wiped) {
        const bool inFirmware = stateKnown_ && knownState_ == CardState::Firmware;
        // After the reset the new firmware runs: only the data is missing.
        outcome.recovery = inFirmware && step_ == RunStep::Restore ? Recovery::Restore : Recovery::Rescue;
        outcome.recoveryPackage = packageFolder;
        outcome.recoveryFrom = keeper.KeptBackup();
    }
    events_->OnOutcome(outcome);
}

}  // namespace upgrade
