// The card's NV items: read into the backup table file (channel.nvm) before
// the reflash, and written back from it after the reset.
#pragma once

#include <string>
#include <vector>

#include "packet/Packet.h"
#include "upgrade/backup/NvBackupTable.h"

namespace upgrade {

using packet::CPacket;
class RunReporter;
struct RunData;

class NvBackup {
public:
    NvBackup(RunData& data, RunReporter& reporter) : data_(data), reporter_(reporter) {}

    // Makes the backup folder (durably) unless it exists.
    [[nodiscard]] static bool CreateNVBackupDirectory(const std::u16string& folder);
    [[nodiscard]] bool BackupNVMOP(CPacket& packet, const std::u16string& path);
    [[nodiscard]] bool RestoreNVMOP(CPacket& packet, const std::u16string& path);

private:
    [[nodiscard]] bool ReadRestoreTable(const std::u16string& path, std::vector<nvtable::NvRecord>& records);
    [[nodiscard]] bool OpenCardForNvWrites(CPacket& packet);
    [[nodiscard]] bool WriteNvRecords(CPacket& packet, const std::vector<nvtable::NvRecord>& records);

    RunData& data_;
    RunReporter& reporter_;
};

}  // namespace upgrade
