// Operations on a card beside the upgrade run, made of the run's own phases
// and operations: finding which state a card is in, saving its data alone,
// writing a kept backup back, and rescuing a card a run left behind.
#include <vector>

#include "packet/Codec.h"
#include "platform/Trace.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/run/FWUpgradeDataCDMAW326Module.h"
#include "upgrade/flashing/StreamFormat.h"
#include "upgrade/run/UpgradeInternal.h"

namespace upgrade {
namespace {

constexpr const char16_t* kProbe = u"CFWUpgradeDataCDMA7627Module::ProbeCardState";
constexpr const char16_t* kBackup = u"CFWUpgradeDataCDMA7627Module::BackupCard";
constexpr const char16_t* kRestore = u"CFWUpgradeDataCDMA7627Module::RestoreCard";
constexpr const char16_t* kRescue = u"CFWUpgradeDataCDMA7627Module::RescueCard";

constexpr uint8_t kHelloAnswer = 0x02;
// A programmer killed in the middle of a raw data block still counts bytes
// towards it and answers nothing until the block is complete. Flag bytes
// complete it (its checksum fails, so nothing is kept), and a flag that
// arrives between blocks ends the raw transfer.
constexpr uint32_t kRawFlushBytes = kRawBlockFrameSize + 64;

std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

// Opens the port and finds the card answering in its firmware (also from
// the AT-command port the new firmware starts with).
bool ReachFirmware(UpgradeModule& module, CPacket& packet, int32_t port) {
    if (!module.InitPort(packet, port) && !module.InitPort(packet, port)) return false;
    return packet.CommunicateWithMobile();
}

}  // namespace

void UpgradeModule::TakeDataOf(const BackupRecord& record) {
    m_strChannelNvPath = record.nvFile;
    m_strLockBackupPath = record.lockFile;
    m_Backup.wifiSaved = record.wifiSaved;
    std::copy(record.wifi.begin(), record.wifi.end(), m_Backup.wifiAddress);
    m_Backup.lockFilesSaved = record.lockFilesSaved;
    m_Backup.lockFiles.clear();
    for (const RecordedLockFile& entry : record.lockFiles) m_Backup.lockFiles.push_back({entry.path, entry.size});
}

const char* CardStateText(CardState state) {
    switch (state) {
        case CardState::Absent: return "not on its port";
        case CardState::Silent: return "on its port but not answering";
        case CardState::Firmware: return "in its firmware";
        case CardState::BootDownloader: return "in its boot downloader";
        case CardState::FlashProgrammer: return "in the flash programmer";
    }
    return "unknown";
}

CardState UpgradeModule::ProbeCardState(CPacket& packet, int32_t port) {
    FW_TRACE(kProbe, u"Probe the state of the card on port %d", port);
    if (!InitPort(packet, port) && !InitPort(packet, port)) {
        m_LastCardState = CardState::Absent;
    } else {
        m_LastCardState = StateFromAnswers(packet);
        if (m_LastCardState == CardState::Silent) {
            FW_TRACE(kProbe, u"No answer: complete a raw data block the card may still wait for");
            const std::vector<uint8_t> flags(kRawFlushBytes, packet::codec::kFlag);
            packet.Purge(platform::kPurgeAll);
            packet.Write(flags.data(), static_cast<uint32_t>(flags.size()));
            platform::Sleep(500);
            packet.Purge(platform::kPurgeAll);
            // Only the programmer waits in a raw block: its hello is the one probe left.
            if (packet.Hello() && packet.Response().code() == kHelloAnswer) m_LastCardState = CardState::FlashProgrammer;
        }
    }
    FW_TRACE(kProbe, u"The card is %s", Wide(CardStateText(m_LastCardState)).c_str());
    NoteCardState(m_LastCardState);
    return m_LastCardState;
}

CardState UpgradeModule::StateFromAnswers(CPacket& packet) {
    if (packet.DoNoop()) return CardState::BootDownloader;
    if (packet.Hello() && packet.Response().code() == kHelloAnswer) return CardState::FlashProgrammer;
    if (packet.CommunicateWithMobile() && ReadCardEsn(packet, m_dwCardEsn)) return CardState::Firmware;
    return CardState::Silent;
}

bool UpgradeModule::BackupCard(int32_t port, const std::u16string& folder) {
    ClearRunState();
    StartEvents();
    bFullDownload = 0;
    CPacket packet;
    FW_TRACE(kBackup, u"Back up the card on port %d into %s", port, folder.c_str());
    m_strChannelNvPath = JoinPath(folder, u"channel.nvm");
    m_strLockBackupPath = JoinPath(folder, kKeptLockName);
    bool saved = EnterStep(RunStep::Prepare) && ReachFirmware(*this, packet, port);
    if (!saved) FW_TRACE(kBackup, u"The card does not answer in its firmware");
    if (saved) {
        NoteCardState(CardState::Firmware);
        (void)SelectPhoneType(packet);   // only for the version the record names ("" when unread)
        saved = EnterStep(RunStep::Backup) && RunBackupPhase(packet, folder);
        // The listing switched lock-file access on; a backup never leaves it so.
        if (!packet.EnableDisableLockFileRW(0)) FW_TRACE(kBackup, u"Lock-file access could not be switched off");
    }
    if (!saved) NoteCardFailure(&packet);
    if (packet.IsOpen()) packet.Close();
    ReportOutcome(saved ? kUpgradeOk : kUpgradeFailed, {});
    return saved;
}

bool UpgradeModule::RestoreCard(int32_t port, const std::u16string& keptFolder, bool force) {
    StartEvents();
    const bool restored = RestoreSteps(port, keptFolder, force);
    ReportOutcome(restored ? kUpgradeOk : kUpgradeFailed, {});
    return restored;
}

bool UpgradeModule::RestoreSteps(int32_t port, const std::u16string& keptFolder, bool force) {
    ClearRunState();
    if (!EnterStep(RunStep::Prepare)) return false;
    FW_TRACE(kRestore, u"Restore %s to the card on port %d", keptFolder.c_str(), port);
    BackupRecord record;
    std::string error;
    const RecordRead read = ReadBackupRecord(JoinPath(keptFolder, kBackupRecordName), record, error);
    if (read != RecordRead::Read || !BackupFilesMatch(record, error)) {
        FW_TRACE(kRestore, u"The backup in %s cannot be restored: %s", keptFolder.c_str(),
                 Wide(read == RecordRead::Missing ? "it holds no backup record" : error).c_str());
        NoteFailure(FailureReason::NoBackup);
        return false;
    }
    CPacket packet;
    if (!ReachFirmware(*this, packet, port) || !ReadCardEsn(packet, m_dwCardEsn)) {
        FW_TRACE(kRestore, u"The card does not answer in its firmware");
        NoteCardFailure(&packet);
        return false;
    }
    NoteCardState(CardState::Firmware);
    if (m_Events) m_Events->OnCardIdentified(m_dwCardEsn, m_strSoftwareVersion);
    if (m_dwCardEsn != record.esn && !force) {
        FW_TRACE(kRestore, u"The backup belongs to the card with ESN %s, this card has ESN %s",
                 Wide(EsnText(record.esn)).c_str(), Wide(EsnText(m_dwCardEsn)).c_str());
        NoteFailure(FailureReason::OtherCard);
        packet.Close();
        return false;
    }
    // A kept record stays as it was written; a pending one (beside a
    // package's channel.nvm) learns what went back.
    m_Record = record;
    m_bRecordActive = record.RestorePending();
    m_strRecordPath = JoinPath(keptFolder, kBackupRecordName);
    TakeDataOf(record);
    m_strKeptBackup = keptFolder;
    const bool restored = EnterStep(RunStep::Restore) && RestoreAndReport(packet);
    if (packet.IsOpen()) packet.Close();
    return restored;
}

bool UpgradeModule::TakeRescueBackup() {
    const bool chosen = !m_Rescue.fromFolder.empty();
    const std::u16string path = chosen ? JoinPath(m_Rescue.fromFolder, kBackupRecordName) : m_strRecordPath;
    BackupRecord record;
    std::string error;
    const RecordRead read = ReadBackupRecord(path, record, error);
    if (read != RecordRead::Read || !BackupFilesMatch(record, error)) {
        FW_TRACE(kRescue, u"No backup of the card's data to restore (%s): a rescue does not wipe a card without one",
                 Wide(read == RecordRead::Missing ? "there is no " + platform::WideToUtf8(path) : error).c_str());
        NoteFailure(FailureReason::NoBackup);
        return false;
    }
    FW_TRACE(kRescue, u"Restore the backup of %s (ESN %s, software %s): %s", Wide(record.time).c_str(),
             Wide(EsnText(record.esn)).c_str(), Wide(record.version).c_str(),
             platform::RemoveFileSpec(record.nvFile).c_str());
    std::string keptError;
    if (!KeepBackup(record, m_strKeptBackup, keptError))
        FW_TRACE(kRescue, u"The backup could not be kept: %s", Wide(keptError).c_str());
    m_Record = record;
    m_Record.leftFirmware = true;
    m_Record.restored = false;
    if (m_Record.fullDownload == FullDownloadReason::None) m_Record.fullDownload = FullDownloadReason::Rescue;
    m_bRecordActive = true;
    m_bRestoringPending = true;
    TakeDataOf(record);
    return SaveRecord();
}

bool UpgradeModule::RestoresOntoTheRightCard(CPacket& packet) {
    uint32_t esn = 0;
    if (!ReadCardEsn(packet, esn)) {
        FW_TRACE(kRescue, u"The card's ESN cannot be read after the reset: nothing is restored");
        NoteCardFailure(&packet);
        return false;
    }
    if (esn == m_Record.esn) return true;
    NoteFailure(FailureReason::OtherCard);
    FW_TRACE(kRescue, u"The card (ESN %s) is not the card of the backup (ESN %s): nothing is restored",
             Wide(EsnText(esn)).c_str(), Wide(EsnText(m_Record.esn)).c_str());
    return false;
}

int32_t UpgradeModule::RescueCard(int32_t port, const std::u16string& packageFolder, const std::u16string& fromFolder,
                                  bool withoutData) {
    StartEvents();
    m_Rescue = RescueOptions{true, fromFolder, withoutData};
    const int32_t result = RescueSteps(port, packageFolder);
    m_Rescue = RescueOptions{};
    ReportOutcome(result, packageFolder);
    return result;
}

bool UpgradeModule::ChosenBackupFitsTheCard(CardState state) {
    if (m_Rescue.fromFolder.empty()) return true;
    BackupRecord chosen, pending;
    std::string error;
    // An unreadable choice is refused later, with its own reason.
    if (ReadBackupRecord(JoinPath(m_Rescue.fromFolder, kBackupRecordName), chosen, error) != RecordRead::Read) return true;
    uint32_t cardEsn = 0;
    if (state == CardState::Firmware) {
        cardEsn = m_dwCardEsn;
    } else if (ReadBackupRecord(m_strRecordPath, pending, error) == RecordRead::Read && pending.RestorePending()) {
        cardEsn = pending.esn;   // the card an interrupted run left on this port
    }
    if (cardEsn == 0 || cardEsn == chosen.esn) return true;
    FW_TRACE(kRescue, u"The backup in %s belongs to the card with ESN %s, this card has ESN %s: nothing is written",
             m_Rescue.fromFolder.c_str(), Wide(EsnText(chosen.esn)).c_str(), Wide(EsnText(cardEsn)).c_str());
    m_dwCardEsn = cardEsn;
    NoteFailure(FailureReason::OtherCard);
    return false;
}

int32_t UpgradeModule::RescueSteps(int32_t port, const std::u16string& packageFolder) {
    FW_TRACE(kRescue, u"Rescue the card on port %d with the package %s", port, packageFolder.c_str());
    UpgradeRun run;
    run.port = port;
    run.packageFolder = packageFolder;
    run.packet = std::make_unique<CPacket>();
    ClearRunState();
    if (!EnterStep(RunStep::Prepare)) return kUpgradeFailed;
    ShowRatio(0);
    if (!Initialize(packageFolder)) return kPackageRejected;
    m_strRecordPath = JoinPath(packageFolder, kBackupRecordName);
    auto fail = [&]() {
        NoteCardFailure(run.packet.get());
        DealError(run.packet);
        return kUpgradeFailed;
    };
    if (!SelectArmprgAccordingToPidVid(packageFolder)) {
        NoteFailure(FailureReason::Package);
        return fail();
    }

    const CardState state = ProbeCardState(*run.packet, port);
    if (state == CardState::Firmware) {
        // Upgraded as a retry is: the whole package, the backup restored.
        if (!ChosenBackupFitsTheCard(state)) return fail();
        DealError(run.packet);
        return UpgradeSteps(port, packageFolder);
    }
    return FlashFromOutsideFirmware(run, state);
}

int32_t UpgradeModule::FinishInterruptedRun(UpgradeRun& run) {
    auto fail = [&]() {
        NoteCardFailure(run.packet.get());
        DealError(run.packet);
        return kUpgradeFailed;
    };
    const std::u16string packageRecord = JoinPath(run.packageFolder, kBackupRecordName);
    std::u16string recordPath = packageRecord;
    BackupRecord pending;
    std::string error;
    const bool besidePackage =
        ReadBackupRecord(packageRecord, pending, error) == RecordRead::Read && pending.RestorePending();
    if (!besidePackage && !OnlyNotedPendingRecord(packageRecord, pending, recordPath)) return fail();
    FW_TRACE(kRescue, u"No answer in the firmware, and %s holds a restore pending: look for the card outside it",
             recordPath.c_str());
    if (!SelectArmprgAccordingToPidVid(run.packageFolder)) {
        NoteFailure(FailureReason::Package);
        return fail();
    }
    const CardState state = ProbeCardState(*run.packet, run.port);
    if (state != CardState::BootDownloader && state != CardState::FlashProgrammer) return fail();
    FW_TRACE(kRescue, u"Finish the interrupted run of %s (ESN %s) as a rescue", Wide(pending.time).c_str(),
             Wide(EsnText(pending.esn)).c_str());
    // The silence in the firmware is explained: the outcome is the rescue's.
    m_Failure = FailureReason::None;
    m_strRecordPath = recordPath;
    m_Rescue = RescueOptions{true, u"", false};
    const int32_t result = FlashFromOutsideFirmware(run, state);
    m_Rescue = RescueOptions{};
    return result;
}

bool UpgradeModule::OnlyNotedPendingRecord(const std::u16string& besidePath, BackupRecord& pending,
                                           std::u16string& path) {
    size_t usable = 0;
    for (uint32_t esn : CardsWithPendingNotes()) {
        BackupRecord noted;
        std::u16string notedPath;
        std::string error;
        if (FindNotedPendingRecord(esn, besidePath, noted, notedPath, error) != NotedPending::Usable) continue;
        if (++usable > 1) break;
        pending = noted;
        path = notedPath;
    }
    if (usable > 1)
        FW_TRACE(kRescue, u"Several cards have a restore pending on this computer: which one is on this port is not known");
    return usable == 1;
}

int32_t UpgradeModule::FlashFromOutsideFirmware(UpgradeRun& run, CardState state) {
    auto fail = [&]() {
        NoteCardFailure(run.packet.get());
        DealError(run.packet);
        return kUpgradeFailed;
    };
    if (state != CardState::BootDownloader && state != CardState::FlashProgrammer) {
        NoteFailure(FailureReason::NoAnswer);
        return fail();
    }
    if (m_Rescue.withoutData) {
        FW_TRACE(kRescue, u"Rescue without the card's data: cefs.mbn wipes the card and nothing is restored");
    } else if (!ChosenBackupFitsTheCard(state) || !TakeRescueBackup()) {
        return fail();
    } else if (!LoadNv22FromBackup(run)) {
        NoteFailure(FailureReason::NoBackup);
        return fail();
    }
    bFullDownload = 1;
    // The card is outside its firmware: from here a host treats the rescue
    // as a run past the switch.
    if (!EnterStep(RunStep::Switch)) return fail();
    ShowRatio(6);

    if (state == CardState::BootDownloader) {
        ShowRatio(7);
        FW_TRACE(kRescue, u"Function: DownloadArmPrg");
        if (!DownloadArmPrg(*run.packet)) return fail();
        ShowRatio(8);
        platform::Sleep(2000);
        FW_TRACE(kRescue, u"Function: GoToFlashPrg");
        if (!GoToFlashPrg(*run.packet)) return fail();
    } else if (!run.packet->Nop()) {
        return fail();
    }
    NoteCardState(CardState::FlashProgrammer);
    ShowRatio(10);
    if (!EnterStep(RunStep::Images) || !FlashImages(run) || !ResetAndRestore(run)) return fail();
    ShowRatio(100);
    DealError(run.packet);
    FW_TRACE(kRescue, u"The card is rescued");
    return kUpgradeOk;
}

}  // namespace upgrade
