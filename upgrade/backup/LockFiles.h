// The card's EFS lock files below "vek": listed breadth first, copied into
// the lock backup file before the reflash and written back under the same
// paths after it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packet/Packet.h"
#include "platform/Platform.h"

namespace upgrade {

using packet::CPacket;
struct LockFileEntry;
struct RunData;
class RunReporter;

class LockFiles {
public:
    LockFiles(RunData& data, RunReporter& reporter) : data_(data), reporter_(reporter) {}

    [[nodiscard]] bool EnumAllAbsoluteFilePathInEfsDir(CPacket& packet, const std::u16string& root,
                                                       std::vector<LockFileEntry>& list);
    // Into the run's lock backup file (the per-user folder when the current
    // one cannot be written).
    [[nodiscard]] bool BackupLockFile(std::vector<LockFileEntry>& list, CPacket& packet);
    [[nodiscard]] bool RestoreLockFile(CPacket& packet, const std::vector<LockFileEntry>& list);

private:
    [[nodiscard]] bool CopyNVFileFromEFS(CPacket& packet, platform::File& local, const std::u16string& path,
                                         int32_t& size);
    [[nodiscard]] bool CopyNVFileToEFS(CPacket& packet, platform::File& local, const std::u16string& path,
                                       int32_t size);

    RunData& data_;
    RunReporter& reporter_;
};

}  // namespace upgrade
