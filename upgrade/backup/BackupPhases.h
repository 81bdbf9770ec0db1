// The two phases that carry the card's own data across the reflash: the
// backup before the card leaves its firmware and the restore after the
// reset into the new one.
#pragma once

#include <string>

#include "packet/Packet.h"
#include "upgrade/run/RunPlan.h"

namespace upgrade {

using packet::CPacket;
class BackupKeeper;
class LockFiles;
class NvBackup;
class RunReporter;
struct RunData;

class BackupPhases {
public:
    BackupPhases(RunData& data, NvBackup& nv, LockFiles& locks, BackupKeeper& keeper, RunReporter& reporter)
        : data_(data), nv_(nv), locks_(locks), keeper_(keeper), reporter_(reporter) {}

    // Backup folder, Wi-Fi address, lock files, NV items, then the record;
    // a backup pending for this card (or the plan's chosen one) is adopted.
    [[nodiscard]] bool RunBackupPhase(CPacket& packet, const std::u16string& packageFolder, const RunPlan& plan);
    [[nodiscard]] bool RunRestorePhase(CPacket& packet);
    // The restore phase, with its losses reported.
    [[nodiscard]] bool RestoreAndReport(CPacket& packet);

private:
    [[nodiscard]] bool BackupWifiAddress(CPacket& packet);
    [[nodiscard]] bool BackupLockFiles(CPacket& packet);
    void RestoreWifiAddress(CPacket& packet);
    // The lock files back under their paths, unless their backup changed
    // since it was recorded (changed says how).
    void RestoreLockFiles(CPacket& packet, bool locksIntact, const std::string& changed);

    RunData& data_;
    NvBackup& nv_;
    LockFiles& locks_;
    BackupKeeper& keeper_;
    RunReporter& reporter_;
};

}  // namespace upgrade
