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
    std::vector<LockFileEntry> lockFiles;
};

// Progress percentages (0-100) go to the host's display module.
using ProgressReporter = std::function<void(int percent)>;

class UpgradeModule {
public:
    explicit UpgradeModule(ProgressReporter reporter = {});

    // ---- upgrade sequence
    int32_t FirmWareUpgrade(int32_t port, const std::u16string& packageFolder);
    void ShowRatio(int percent);
    // Traces, closes the port and destroys the packet.
    void DealError(std::unique_ptr<CPacket>& packet);
    bool DealQ7K(CPacket& packet);

    // ---- image set and initialisation
    bool Initialize(const std::u16string& packageFolder);
    bool CheckFile(const std::u16string& path);
    bool SelectArmprgAccordingToPidVid(const std::u16string& packageFolder);
    // Writes the embedded flash programmer next to the host executable (or,
    // when that folder is not writable, to a per-user folder). Runs once when
    // the library loads; remembers the file actually written.
    static bool ExtractProgrammer();
    static const std::u16string& ExtractedProgrammerPath();

    // ---- port handling and mode switching
    bool InitPort(CPacket& packet, int32_t port);
    bool ReOpenCOMPort(CPacket& packet, int32_t port);
    bool SwitchToDownload(CPacket& packet, int32_t port);
    bool SelectPhoneType(CPacket& packet);
    bool CheckPhoneInfo(CPacket& packet);
    bool ResetMobileSDP(CPacket& packet, int32_t port);

    // ---- flash programmer loading
    bool DownloadArmPrg(CPacket& packet);
    bool GoToFlashPrg(CPacket& packet, int32_t port);

    // ---- image streaming
    bool DownloadPartitionTable(CPacket& packet);
    bool DownloadSecondbootloaderheader(CPacket& packet);
    bool DownloadSecondbootloader(CPacket& packet);
    bool DownloadAppsbootloader(CPacket& packet);
    bool WindowsDownloadwithHeaderHS(CPacket& packet, const std::u16string& headerPath, const std::u16string& imagePath,
                                     uint8_t imageType, int fromPercent, int toPercent);
    bool WindowsDownloadHS(CPacket& packet, const std::u16string& imagePath, uint8_t imageType, int fromPercent,
                           int toPercent);
    bool EraseSector(CPacket& packet, const std::string& partitionName);

    // ---- NV item backup and restore
    static bool CreateNVBackupDirectory(const std::u16string& folder);
    bool BackupNVMOP(CPacket& packet, const std::u16string& path);
    bool RestoreNVMOP(CPacket& packet, const std::u16string& path);

    // ---- EFS lock-file backup and restore
    bool EnumAllAbsoluteFilePathInEfsDir(CPacket& packet, const std::u16string& root,
                                         std::vector<LockFileEntry>& list);
    bool BackupLockFile(std::vector<LockFileEntry>& list, CPacket& packet);
    bool RestoreLockFile(CPacket& packet, const std::vector<LockFileEntry>& list);
    bool CopyNVFileFromEFS(CPacket& packet, platform::File& local, const std::u16string& path, int32_t& size);
    bool CopyNVFileToEFS(CPacket& packet, platform::File& local, const std::u16string& path, int32_t size);

    // ---- backup and restore phases (steps 15 and 35.5 of the run)
    bool RunBackupPhase(CPacket& packet, const std::u16string& packageFolder);
    bool RunRestorePhase(CPacket& packet);

    // ---- members
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
    // Status word of the last NV backup or restore item.
    uint16_t m_wNvStatus = 0;
    BackupPhaseState m_Backup;

private:
    ProgressReporter reporter_;
};

// Name of the lock backup file (in the current folder).
std::u16string LockBackupFileName();

}  // namespace upgrade
