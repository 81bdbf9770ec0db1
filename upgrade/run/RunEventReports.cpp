// The events of the operations, reported where the engine learns each fact:
// the step it enters, the state the card was last seen in, why it stopped,
// and what of the card's data did not go back.
#include "upgrade/run/UpgradeModule.h"

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

void UpgradeModule::StartEvents() {
    m_Step = RunStep::Prepare;
    m_Failure = FailureReason::None;
    m_bKnownState = false;
}

bool UpgradeModule::EnterStep(RunStep step) {
    m_Step = step;
    if (m_Events) m_Events->OnStep(step);
    if (m_Cancel && m_Cancel()) {
        NoteFailure(FailureReason::Interrupted);
        return false;
    }
    return true;
}

void UpgradeModule::NoteFailure(FailureReason reason) {
    if (m_Failure == FailureReason::None) m_Failure = reason;
}

void UpgradeModule::NoteCardState(CardState state) {
    m_KnownState = state;
    m_bKnownState = true;
}

void UpgradeModule::NoteCardFailure(const CPacket* packet) {
    const bool answered = packet != nullptr && packet->IsOpen() && packet->AnsweredSinceLastWrite();
    NoteFailure(answered ? FailureReason::Refused : FailureReason::NoAnswer);
}

void UpgradeModule::ReportLosses() {
    if (!m_Events) return;
    for (const NvItemNotRestored& item : m_Record.nvNotRestored) {
        RunLoss loss;
        loss.kind = LossKind::NvItem;
        loss.reason = NvLossReason(item.status);
        loss.nvItem = item.item;
        loss.nvStatus = item.status;
        m_Events->OnLoss(loss);
    }
    if (m_Backup.wifiSaved && m_Record.wifiRestore != RestoreResult::Done) {
        RunLoss loss;
        loss.kind = LossKind::WifiAddress;
        loss.reason = LossOf(m_Record.wifiRestore);
        m_Events->OnLoss(loss);
    }
    if (!m_Backup.lockFilesSaved) return;
    for (const RecordedLockFile& entry : m_Record.lockFiles) {
        if (entry.restore == RestoreResult::Done) continue;
        RunLoss loss;
        loss.kind = LossKind::LockFile;
        loss.reason = LossOf(entry.restore);
        loss.lockFile = entry.path;
        m_Events->OnLoss(loss);
    }
}

void UpgradeModule::ReportWifiNotSaved(LossReason reason) {
    if (!m_Events) return;
    RunLoss loss;
    loss.kind = LossKind::WifiAddress;
    loss.reason = reason;
    m_Events->OnLoss(loss);
}

bool UpgradeModule::RestoreAndReport(CPacket& packet) {
    const bool restored = RunRestorePhase(packet);
    ReportLosses();
    if (!restored) NoteCardFailure(&packet);
    return restored;
}

void UpgradeModule::ReportOutcome(int32_t result, const std::u16string& packageFolder) {
    if (!m_Events) return;
    RunOutcome outcome;
    outcome.result = result;
    if (result != kUpgradeOk) {
        outcome.failedStep = m_Step;
        outcome.reason = result == kPackageRejected ? FailureReason::Package : m_Failure;
        if (outcome.reason == FailureReason::None) outcome.reason = FailureReason::NoAnswer;
    }
    outcome.cardState = m_KnownState;
    outcome.cardStateKnown = m_bKnownState;
    outcome.keptBackup = m_strKeptBackup;
    outcome.keptReadNow = m_strKeptReadNow;
    outcome.esn = m_Record.esn != 0 ? m_Record.esn : m_dwCardEsn;
    outcome.esnKnown = outcome.esn != 0;
    outcome.softwareVersion = m_strSoftwareVersion;
    outcome.nvItemsRestored = m_Record.nvRestored.size();
    const bool wiped = m_Record.leftFirmware && !m_Record.restored;
    if (result != kUpgradeOk && wiped) {
        const bool inFirmware = m_bKnownState && m_KnownState == CardState::Firmware;
        // After the reset the new firmware runs: only the data is missing.
        outcome.recovery = inFirmware && m_Step == RunStep::Restore ? Recovery::Restore : Recovery::Rescue;
        outcome.recoveryPackage = packageFolder;
        outcome.recoveryFrom = m_strKeptBackup;
    }
    m_Events->OnOutcome(outcome);
}

}  // namespace upgrade
