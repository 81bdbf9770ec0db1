// The two phases that carry the card's own data across the reflash: the
// backup before the card leaves its firmware and the restore after the reset
// into the new one. The order inside the backup phase is fixed: backup
// folder, Wi-Fi address, lock files, NV items.
#include "platform/Trace.h"
#include "upgrade/FWUpgradeDataCDMAW326Module.h"

namespace upgrade {

namespace {

constexpr const char16_t* kSequenceFunction = u"CFWUpgradeDataCDMA7627Module::FirmWareUpgrade";
constexpr const char16_t* kLockFileRoot = u"vek";

}  // namespace

bool UpgradeModule::RunBackupPhase(CPacket& packet, const std::u16string& packageFolder) {
    FW_TRACE(kSequenceFunction, u"Function: CreateNVBackupDirectory");
    if (!CreateNVBackupDirectory(packageFolder)) {
        return false;
    }

    m_Backup.wifiSaved = true;
    FW_TRACE(kSequenceFunction, u"Function: ReadWiFiAddress1");
    int wifi = packet.ReadWiFiAddress(m_Backup.wifiAddress);
    if (wifi != 1) {
        FW_TRACE(kSequenceFunction, u"Function: ReadWiFiAddress2");
        wifi = packet.ReadWiFiAddress(m_Backup.wifiAddress);
        if (wifi == 0) {
            FW_TRACE(kSequenceFunction, u"backup wifi failed,make sure the wifi address be written!");
            m_Backup.wifiSaved = false;
        } else if (wifi == -1) {
            FW_TRACE(kSequenceFunction, u"The phone software do not support reading wifi address command");
            m_Backup.wifiSaved = false;
        } else if (wifi != 1) {
            // Any other answer is no address either; never write back what was not read.
            m_Backup.wifiSaved = false;
        }
    }

    m_Backup.lockFilesSaved = true;
    FW_TRACE(kSequenceFunction, u"EnumAllAbsoluteFilePathInEfsDir");
    m_Backup.lockFiles.clear();
    if (!EnumAllAbsoluteFilePathInEfsDir(packet, kLockFileRoot, m_Backup.lockFiles)) {
        FW_TRACE(kSequenceFunction, u"function EnumAllAbsoluteFilePathInEfsDir fail");
        m_Backup.lockFilesSaved = false;
        m_Backup.lockFiles.clear();
    } else if (!BackupLockFile(m_Backup.lockFiles, packet)) {
        FW_TRACE(kSequenceFunction, u"function Backup Lockfile fail");
        m_Backup.lockFilesSaved = false;
        return false;
    }

    FW_TRACE(kSequenceFunction, u"Function: BackupNVMOP");
    return BackupNVMOP(packet, m_strChannelNvPath);
}

bool UpgradeModule::RunRestorePhase(CPacket& packet) {
    FW_TRACE(kSequenceFunction, u"Function: RestoreNVMOP");
    if (!RestoreNVMOP(packet, m_strChannelNvPath)) {
        return false;
    }

    if (m_Backup.wifiSaved) {
        FW_TRACE(kSequenceFunction, u"Execute WriteWiFiAddress1 function");
        if (packet.WriteWiFiAddress(m_Backup.wifiAddress) != 1) {
            FW_TRACE(kSequenceFunction, u"Execute WriteWiFiAddress2 function");
            if (packet.WriteWiFiAddress(m_Backup.wifiAddress) != 1) {
                FW_TRACE(kSequenceFunction, u"Execute WriteWiFiAddress2 function fail ");
            }
        }
    }

    if (m_Backup.lockFilesSaved) {
        if (!RestoreLockFile(packet, m_Backup.lockFiles)) {
            FW_TRACE(kSequenceFunction, u"Execute RestoreLockFile function fail ");
        }
    }
    return true;
}

}  // namespace upgrade
