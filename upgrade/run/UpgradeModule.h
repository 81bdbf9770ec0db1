// The firmware-upgrade operations of the CDMA data card module: one upgrade
// run (FirmWareUpgrade) and every operation it is made of, grouped in files
// the way the run is grouped: sequence, image set, port handling, programmer
// loading, image streaming, NV backup, lock files, backup and restore phases.
//
// The host-facing module object (module/) owns one UpgradeModule and hands it
// the request of message 1025; progress goes back through the reporter.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "packet/Packet.h"
#include "platform/Platform.h"
#include "upgrade/backup/BackupRecord.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/run/RunEvents.h"
#include "upgrade/run/RunPlan.h"

namespace upgrade {

using packet::CPacket;

// Result codes of a run.
constexpr int32_t kUpgradeOk = 0;
constexpr int32_t kPackageRejected = -13313;   // 0xFFFFCBFF
constexpr int32_t kUpgradeFailed = -13314;     // 0xFFFFCBFE

// Capacity of one package path, terminator included.
constexpr size_t kPathCapacity = 260;

// Absolute paths of the package files, rebuilt by every Initialize.
struct DownloadFileList {
    std::u16string strPartitionFilePath;
    std::u16string strQcsblhdCfgdataFilePath;
    std::u16string strQcsblFilePath;
    std::u16string strOemsblhdFilePath;
    std::u16string strOemsblFilePath;
    std::u16string strAmsshdFilePath;
    std::u16string strAmssFilePath;
    std::u16string strAppsboothdFilePath;
    std::u16string strAppsbootFilePath;
    std::u16string strVendorPartitionFilePath;
    std::u16string strSystemPath;
    std::u16string strBootFilePath;
    std::u16string strUserdataFilePath;
    std::u16string strSplashFilePath;
    std::u16string strRecoveryFilePath;
    std::u16string strCefsFilePath;
    std::u16string strNvBakFilePath;
};

// One lock file of the card's EFS: its absolute EFS path and its length.
struct LockFileEntry {
    std::u16string path;
    int32_t size = 0;
};

// What the backup phase saved for the restore phase of the same run.
struct BackupPhaseState {
    bool wifiSaved = false;
    uint8_t wifiAddress[6] = {};
    bool lockFilesSaved = false;
    bool lockFolderMissing = false;   // the card has no lock folder, so no lock files to lose
    std::vector<LockFileEntry> lockFiles;
};

// What the last NV restore gave back, item by item.
struct NvRestoreOutcome {
    std::vector<uint16_t> restored;
    std::vector<NvItemNotRestored> notRestored;
};

// The state one run hands from phase to phase.
struct UpgradeRun {
    RunPlan plan;
    int32_t port = 0;
    std::u16string packageFolder;
    std::unique_ptr<CPacket> packet;
    uint8_t nv22[128] = {};      // NV item 22 as read
    uint8_t nv22Save[50] = {};   // its first 22 bytes, then zeros: what goes back after the reset
};

// Name of the lock backup file (in the current folder).
std::u16string LockBackupFileName();

// Where a card is: the protocol it answers on its port.
enum class CardState { Absent, Silent, Firmware, BootDownloader, FlashProgrammer };
// "its firmware", "its boot downloader", "the flash programmer", ...
const char* CardStateText(CardState state);

// Progress percentages (0-100) go to the host's display module.
using ProgressReporter = std::function<void(int percent)>;
// Asked at the start of each step: true stops the operation there.
using CancelCheck = std::function<bool()>;

class UpgradeModule {
public:
    explicit UpgradeModule(ProgressReporter reporter = {});

    // ---- upgrade sequence
    [[nodiscard]] int32_t FirmWareUpgrade(int32_t port, const std::u16string& packageFolder);
    // The phases of a run, in order. Preparation answers a result code
    // (kPackageRejected before the card is touched); the others a success flag.
    [[nodiscard]] int32_t PrepareAndIdentify(UpgradeRun& run);
    [[nodiscard]] bool OpenCardPort(CPacket& packet, int32_t port);
    [[nodiscard]] bool ReadFtmModeAndNv22(UpgradeRun& run);
    [[nodiscard]] bool SwitchAndStartProgrammer(UpgradeRun& run);
    // Takes the card from the state it was found in (its firmware, the boot
    // downloader or the flash programmer) to a greeted flash programmer.
    [[nodiscard]] bool StartProgrammer(UpgradeRun& run, CardState from);
    [[nodiscard]] bool FlashImages(UpgradeRun& run);
    [[nodiscard]] bool ResetAndRestore(UpgradeRun& run);
    // The partition table; on the card's request once more with the
    // override, which makes the run a full download.
    [[nodiscard]] bool WritePartitionTable(CPacket& packet);
    void ShowRatio(int percent);
    // Traces, closes the port and destroys the packet.
    void DealError(std::unique_ptr<CPacket>& packet);
    [[nodiscard]] bool DealQ7K(CPacket& packet);

    // ---- operations beside the run: a card's backup, restore and rescue
    // Tells the card's state from its answers: the boot downloader's
    // no-operation, the programmer's hello, the firmware's ESN, in that order
    // (each is harmless to the other states). Leaves the port open.
    [[nodiscard]] CardState ProbeCardState(CPacket& packet, int32_t port);
    // One round of the three probes on the open port.
    [[nodiscard]] CardState StateFromAnswers(CPacket& packet);
    // Saves the card's NV items, Wi-Fi address and lock files into folder and
    // keeps them; the card stays in its firmware with lock access off.
    [[nodiscard]] bool BackupCard(int32_t port, const std::u16string& folder);
    // Writes a kept backup back to a card in its firmware: the NV items, the
    // Wi-Fi address, the lock files. A backup of another ESN needs force.
    [[nodiscard]] bool RestoreCard(int32_t port, const std::u16string& keptFolder, bool force);
    // Brings back a card an interrupted or failed run left behind, from
    // whatever state it is in: every image with cefs, the reset, the restore
    // of the package folder's backup (or of fromFolder). Answers as a run.
    // A backup of another card is refused before anything is written; with
    // withoutData a card outside its firmware is flashed and nothing restored.
    [[nodiscard]] int32_t RescueCard(int32_t port, const std::u16string& packageFolder, const std::u16string& fromFolder,
                                     bool withoutData = false);

    // ---- events for a front-end: steps, progress, losses, outcome
    // The sink (none by default) and the stop request of the operations
    // that follow; neither changes the trace.
    void SetEventSink(RunEventSink* sink) { m_Events = sink; }
    void SetCancelCheck(CancelCheck check) { m_Cancel = std::move(check); }

    // ---- image set and initialisation
    [[nodiscard]] bool Initialize(const std::u16string& packageFolder);
    [[nodiscard]] bool CheckFile(const std::u16string& path);
    [[nodiscard]] bool SelectArmprgAccordingToPidVid(const std::u16string& packageFolder);
    // Writes the embedded flash programmer next to the host executable (or,
    // when that folder is not writable, to a per-user folder). Runs once when
    // the library loads; remembers the file actually written.
    [[nodiscard]] static bool ExtractProgrammer();
    static const std::u16string& ExtractedProgrammerPath();

    // ---- port handling and mode switching
    // Opens COM port (closing the packet's port first when it is open).
    [[nodiscard]] bool InitPort(CPacket& packet, int32_t port);
    // The same by the number of the packet's last open: after each restart
    // the card comes back under it.
    [[nodiscard]] bool InitPort(CPacket& packet);
    [[nodiscard]] bool ReOpenCOMPort(CPacket& packet);
    [[nodiscard]] bool SwitchToDownload(CPacket& packet);
    void PrepareCardForSwitch(CPacket& packet);
    [[nodiscard]] bool ConfirmDownloader(CPacket& packet);
    [[nodiscard]] bool SelectPhoneType(CPacket& packet);
    [[nodiscard]] bool CheckPhoneInfo(CPacket& packet);
    [[nodiscard]] bool ResetMobileSDP(CPacket& packet);

    // ---- flash programmer loading
    [[nodiscard]] bool DownloadArmPrg(CPacket& packet);
    [[nodiscard]] bool GoToFlashPrg(CPacket& packet);

    // ---- image streaming
    [[nodiscard]] bool DownloadPartitionTable(CPacket& packet);
    [[nodiscard]] bool DownloadSecondbootloaderheader(CPacket& packet);
    [[nodiscard]] bool DownloadSecondbootloader(CPacket& packet);
    [[nodiscard]] bool DownloadAppsbootloader(CPacket& packet);
    [[nodiscard]] bool WindowsDownloadwithHeaderHS(CPacket& packet, const std::u16string& headerPath, const std::u16string& imagePath,
                                     uint8_t imageType, int fromPercent, int toPercent);
    [[nodiscard]] bool WindowsDownloadHS(CPacket& packet, const std::u16string& imagePath, uint8_t imageType, int fromPercent,
                           int toPercent);
    [[nodiscard]] bool EraseSector(CPacket& packet, const std::string& partitionName);

    // ---- NV item backup and restore
    [[nodiscard]] static bool CreateNVBackupDirectory(const std::u16string& folder);
    [[nodiscard]] bool BackupNVMOP(CPacket& packet, const std::u16string& path);
    [[nodiscard]] bool RestoreNVMOP(CPacket& packet, const std::u16string& path);
    [[nodiscard]] bool ReadRestoreTable(const std::u16string& path, std::vector<nvtable::NvRecord>& records);
    [[nodiscard]] bool OpenCardForNvWrites(CPacket& packet);
    [[nodiscard]] bool WriteNvRecords(CPacket& packet, const std::vector<nvtable::NvRecord>& records);

    // ---- EFS lock-file backup and restore
    [[nodiscard]] bool EnumAllAbsoluteFilePathInEfsDir(CPacket& packet, const std::u16string& root,
                                         std::vector<LockFileEntry>& list);
    [[nodiscard]] bool BackupLockFile(std::vector<LockFileEntry>& list, CPacket& packet);
    [[nodiscard]] bool RestoreLockFile(CPacket& packet, const std::vector<LockFileEntry>& list);
    [[nodiscard]] bool CopyNVFileFromEFS(CPacket& packet, platform::File& local, const std::u16string& path, int32_t& size);
    [[nodiscard]] bool CopyNVFileToEFS(CPacket& packet, platform::File& local, const std::u16string& path, int32_t size);

    // ---- backup and restore phases (before the card leaves its firmware, after its reset)
    [[nodiscard]] bool RunBackupPhase(CPacket& packet, const std::u16string& packageFolder, const RunPlan& plan);
    [[nodiscard]] bool BackupWifiAddress(CPacket& packet);
    [[nodiscard]] bool BackupLockFiles(CPacket& packet);
    [[nodiscard]] bool RunRestorePhase(CPacket& packet);

    // ---- the backup record of the run
    // Rewrites the record after a change of m_Record; false when it could
    // not be written (traced).
    [[nodiscard]] bool SaveRecord();
    // Takes NV item 22 for the write-back after the reset from the backup
    // being restored (a retry restores what the card held before the wipe).
    [[nodiscard]] bool LoadNv22FromBackup(UpgradeRun& run);
    // The record an earlier run left beside channel.nvm when it names this
    // card, has a restore pending and its files match their digests;
    // otherwise false, with the reason traced.
    [[nodiscard]] bool FindPendingBackup(const RunPlan& plan, bool esnRead, uint32_t esn, BackupRecord& pending);
    // The record of what the backup phase just saved to nvPath and the lock
    // backup file; false when a file cannot be digested.
    [[nodiscard]] bool DescribeBackup(uint32_t esn, const std::u16string& nvPath, BackupRecord& out);
    // A first backup: the record is written and the backup kept.
    [[nodiscard]] bool RecordFreshBackup(const BackupRecord& fresh);
    // A retry: what the card holds now is kept aside, and the run takes the
    // pending backup's data for its own restore.
    [[nodiscard]] bool AdoptPendingBackup(const RunPlan& plan, const BackupRecord& pending, BackupRecord readNow);
    // Notes in the record why the run writes cefs, resets and restores.
    void RecordFullDownload(FullDownloadReason reason);
    // The backup a rescue restores: --from, else the package folder's record
    // if its files match; it becomes the run's record, pending.
    [[nodiscard]] bool TakeRescueBackup(const RunPlan& plan);
    // A rescue that found the card outside its firmware checks, once the
    // card runs its new firmware, that it is the card of the backup.
    [[nodiscard]] bool RestoresOntoTheRightCard(CPacket& packet);
    // Forgets what an earlier run of this module saved and decided.
    void ClearRunState();

    // ---- what the operations found, for the host and for tests
    const DownloadFileList& DownloadFiles() const { return m_DownloadFileList; }
    bool HasUserdata() const { return m_bHasUserdata != 0; }
    bool HasSplash() const { return m_bHasSplash != 0; }
    bool HasVendorPartition() const { return m_bHasVendorPartition != 0; }
    // The run writes every image with cefs, then resets and restores.
    bool FullDownload() const { return bFullDownload != 0; }
    bool IsQ7() const { return bIsQ7 != 0; }
    // Status word of the last NV backup or restore item.
    uint16_t NvStatus() const { return m_wNvStatus; }
    const BackupPhaseState& BackupState() const { return m_Backup; }
    // The software version text SelectPhoneType read ("" when unread).
    const std::string& SoftwareVersion() const { return m_strSoftwareVersion; }
    const BackupRecord& Record() const { return m_Record; }
    // The run restores a backup an earlier run left pending.
    bool RestoringPending() const { return m_bRestoringPending; }
    // The kept backup folder of the data this run restores ("" when none).
    const std::u16string& KeptBackup() const { return m_strKeptBackup; }
    // The kept backup of what a retry read from the wiped card ("" when none).
    const std::u16string& KeptReadNow() const { return m_strKeptReadNow; }
    // The state the last probe found, and the card's ESN when it was read.
    CardState LastCardState() const { return m_LastCardState; }
    uint32_t CardEsn() const { return m_dwCardEsn; }

    // ---- files an operation uses without a run's Initialize
    void SetVendorPartitionPath(const std::u16string& path) { m_DownloadFileList.strVendorPartitionFilePath = path; }
    const std::u16string& ArmprgPath() const { return m_strArmprgPath; }
    void SetArmprgPath(const std::u16string& path) { m_strArmprgPath = path; }
    const std::u16string& ChannelNvPath() const { return m_strChannelNvPath; }
    void SetChannelNvPath(const std::u16string& path) { m_strChannelNvPath = path; }
    // Where the lock backup file is written and read.
    const std::u16string& LockBackupPath() const { return m_strLockBackupPath; }
    void SetLockBackupPath(const std::u16string& path) { m_strLockBackupPath = path; }

private:
    // The body of FirmWareUpgrade, without its outcome (a rescue of a card
    // in its firmware runs it too).
    [[nodiscard]] int32_t UpgradeSteps(const RunPlan& plan, int32_t port, const std::u16string& packageFolder);
    [[nodiscard]] int32_t RescueSteps(const RunPlan& plan, int32_t port, const std::u16string& packageFolder);
    // False (OtherCard noted) when the chosen backup is of another card than
    // the one found: its ESN, or outside its firmware the pending record's.
    [[nodiscard]] bool ChosenBackupFitsTheCard(const RunPlan& plan, CardState state);
    // A card found in its boot downloader or flash programmer: its backup
    // taken (or none, without data), every image with cefs, the reset and
    // the restore. Answers as a run.
    [[nodiscard]] int32_t FlashFromOutsideFirmware(UpgradeRun& run, CardState state);
    // Message 1025 on a card that did not answer in its firmware: a run
    // that an interrupted one left pending (its record in the package
    // folder) is finished from wherever the card stands.
    [[nodiscard]] int32_t FinishInterruptedRun(UpgradeRun& run);
    // The one record of the kept store's pending notes (besides the one at
    // besidePath) still pending with its files whole; false when none or
    // several, as a card outside its firmware cannot tell which is its own.
    [[nodiscard]] bool OnlyNotedPendingRecord(const std::u16string& besidePath, BackupRecord& pending,
                                              std::u16string& path);
    [[nodiscard]] bool RestoreSteps(int32_t port, const std::u16string& keptFolder, bool force);
    // The step being entered; false when the front-end asked to stop.
    [[nodiscard]] bool EnterStep(RunStep step);
    // The first reason noted in an operation is the one it reports.
    void NoteFailure(FailureReason reason);
    void NoteCardState(CardState state);
    // The reason of a failure nothing noted: the card's silence or its answer.
    void NoteCardFailure(const CPacket* packet);
    void StartEvents();
    void ReportOutcome(int32_t result, const std::u16string& packageFolder);
    // Everything the last restore did not give back.
    void ReportLosses();
    // The backup goes on without the Wi-Fi address.
    void ReportWifiNotSaved(LossReason reason);
    // The restore phase, with its losses reported.
    [[nodiscard]] bool RestoreAndReport(CPacket& packet);

    // Traces the close of an open port and the open that follows.
    void CloseForInitPort(CPacket& packet);
    // Takes the card's data to restore (NV file, lock files, Wi-Fi address)
    // from a backup record.
    void TakeDataOf(const BackupRecord& record);
    // A backup an earlier run left pending, or the one a rescue restores,
    // becomes the run's record, pending, and its data the data restored.
    void AdoptAsRunRecord(const BackupRecord& backup);

    // ---- the state of a run and of the operations beside it
    uint8_t m_byFtmMode = 0;
    DownloadFileList m_DownloadFileList;
    uint8_t m_bHasUserdata = 0;
    uint8_t m_bHasSplash = 0;
    int32_t m_bHasVendorPartition = 0;
    std::u16string m_strArmprgPath;
    int32_t m_bNv22Read = 0;
    int32_t bFullDownload = 0;
    std::u16string m_strChannelNvPath;
    int32_t bIsQ7 = 0;
    uint16_t m_wNvStatus = 0;
    BackupPhaseState m_Backup;
    NvRestoreOutcome m_NvRestore;
    std::vector<RestoreResult> m_LockRestore;   // per entry of m_Backup.lockFiles
    std::string m_strSoftwareVersion;
    // The version the card reported when CheckPhoneInfo last identified it.
    std::string m_strIdentifiedVersion;
    // Where the lock backup file is written and read: the current folder,
    // else the per-user folder, or the file of a backup being restored.
    std::u16string m_strLockBackupPath = LockBackupFileName();
    // The run's backup record: its file beside channel.nvm and its content.
    std::u16string m_strRecordPath;
    BackupRecord m_Record;
    bool m_bRecordActive = false;
    bool m_bRestoringPending = false;
    std::u16string m_strKeptBackup;
    std::u16string m_strKeptReadNow;
    CardState m_LastCardState = CardState::Absent;
    uint32_t m_dwCardEsn = 0;

    ProgressReporter reporter_;
    RunEventSink* m_Events = nullptr;
    CancelCheck m_Cancel;
    RunStep m_Step = RunStep::Prepare;
    FailureReason m_Failure = FailureReason::None;
    bool m_bKnownState = false;
    CardState m_KnownState = CardState::Absent;
};

}  // namespace upgrade
