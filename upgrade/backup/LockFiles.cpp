// The card's EFS lock files below "vek": listed breadth first, copied one
// after the other into the lock backup file before the reflash and written
// back under the same paths after it. The lengths live only in the list.
#include "upgrade/backup/LockFiles.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

#include "platform/Trace.h"
#include "upgrade/backup/BackupSafeFile.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/RunReporter.h"

namespace upgrade {

namespace {

constexpr const char16_t* kBackupFunction = u"CFWUpgradeDataCDMA7627Module::BackupLockFile";
constexpr const char16_t* kRestoreFunction = u"CFWUpgradeDataCDMA7627Module::RestoreLockFile";

constexpr uint32_t kChunk = 1024;
constexpr uint32_t kEntryTypeFile = 0;
constexpr uint32_t kEntryTypeDirectory = 1;

// A card that lists entries without end (or a directory inside itself) must
// not keep the walk going forever.
constexpr size_t kMaxDirectories = 1024;
constexpr size_t kMaxEntriesPerDirectory = 4096;
constexpr size_t kMaxFiles = 8192;

bool IsBareName(const std::u16string& path) { return path.find_first_of(u"/\\") == std::u16string::npos; }

bool IsDotEntry(const std::u16string& name) { return name == u"." || name == u".."; }

uint64_t TotalSize(const std::vector<LockFileEntry>& list) {
    uint64_t total = 0;
    for (const LockFileEntry& entry : list) {
        total += static_cast<uint64_t>(entry.size < 0 ? 0 : entry.size);
    }
    return total;
}

}  // namespace

std::u16string LockBackupFileName() {
    char name[32];
    std::snprintf(name, sizeof name, "VEKLock_%d", 1);
    return platform::Utf8ToWide(name);
}

bool LockFiles::EnumAllAbsoluteFilePathInEfsDir(CPacket& packet, const std::u16string& root,
                                                     std::vector<LockFileEntry>& list) {
    if (!packet.EnableDisableLockFileRW(1)) {
        return false;
    }
    std::vector<std::u16string> queue{root};
    for (size_t next = 0; next < queue.size(); ++next) {
        const std::u16string directory = queue[next];
        uint32_t handle = 0;
        if (!packet.EfsOpenDir(directory, handle)) {
            data_.backup.lockFolderMissing = next == 0 && packet.EfsDirectoryMissing();
            return false;
        }
        for (uint32_t sequence = 1;; ++sequence) {
            if (sequence > kMaxEntriesPerDirectory) {
                return false;
            }
            uint32_t type = 0;
            std::u16string name;
            if (!packet.EfsReadDir(handle, sequence, type, name)) {
                return false;
            }
            if (name.empty()) {
                break;
            }
            if (IsDotEntry(name)) {
                continue;
            }
            if (type == kEntryTypeFile) {
                if (list.size() >= kMaxFiles) {
                    return false;
                }
                list.push_back(LockFileEntry{directory + u"/" + name, 0});
            } else if (type == kEntryTypeDirectory) {
                if (queue.size() >= kMaxDirectories) {
                    return false;
                }
                queue.push_back(directory + u"/" + name);
            }
        }
        if (!packet.EfsCloseDir(handle)) {
            return false;
        }
    }
    return true;
}

bool LockFiles::BackupLockFile(std::vector<LockFileEntry>& list, CPacket& packet) {
    FW_TRACE(kBackupFunction, u"BackupLockFile");
    auto writer = std::make_unique<ReplacingFileWriter>(data_.lockBackupPath);
    if (!writer->Open()) {
        // A host started from a folder it cannot write (a system folder)
        // puts the file in the per-user folder, as the programmer file goes.
        const std::u16string fallback = JoinPath(platform::UserDataFolder(), data_.lockBackupPath);
        writer = std::make_unique<ReplacingFileWriter>(fallback);
        if (!IsBareName(data_.lockBackupPath) || !writer->Open()) {
            FW_TRACE(kBackupFunction, u"Execute hReadFile.Open function fail");
            reporter_.NoteFailure(FailureReason::FileSystem);
            return false;
        }
        data_.lockBackupPath = fallback;
    }
    for (LockFileEntry& entry : list) {
        if (!CopyNVFileFromEFS(packet, writer->File(), entry.path, entry.size)) {
            FW_TRACE(kBackupFunction, u"Execute CopyNVFileFromEFS function fail");
            writer->Abandon();
            return false;
        }
    }
    if (!writer->Commit()) {
        FW_TRACE(kBackupFunction, u"Execute BackupLockFile file write fail: %s",
                 platform::Utf8ToWide(writer->Error()).c_str());
        reporter_.NoteFailure(FailureReason::FileSystem);
        return false;
    }
    if (!list.empty() && !packet.EnableDisableLockFileRW(0)) {
        FW_TRACE(kBackupFunction, u"Execute EnableDisableLockFileRW function fail");
        return false;
    }
    return true;
}

bool LockFiles::CopyNVFileFromEFS(CPacket& packet, platform::File& local, const std::u16string& path,
                                      int32_t& size) {
    size = 0;
    uint32_t descriptor = 0;
    if (!packet.EfsOpen(path, true, descriptor)) {
        return false;
    }
    uint32_t reported = 0;
    // A file whose length is unknown is never saved as empty: the restore
    // would truncate it on the card.
    if (!packet.EfsFstat(descriptor, reported) ||
        reported > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
        (void)packet.EfsClose(descriptor);   // the stat already failed the file
        return false;
    }
    size = static_cast<int32_t>(reported);

    uint8_t buffer[kChunk];
    uint32_t offset = 0;
    uint32_t count = kChunk;
    do {
        uint32_t bytesRead = 0;
        if (!packet.EfsRead(descriptor, count, offset, buffer, kChunk, bytesRead)) {
            return false;
        }
        // Every chunk must bring exactly the bytes the length promises, or all
        // later files in the backup would be shifted.
        const uint32_t expected = std::min<uint32_t>(count, reported - std::min(reported, offset));
        if (bytesRead != expected) {
            return false;
        }
        if (bytesRead > 0 && local.Write(buffer, bytesRead) != bytesRead) {
            return false;
        }
        offset += kChunk;
        count = reported > offset ? std::min<uint32_t>(kChunk, reported - offset) : 0;
    } while (count > 0);

    return packet.EfsClose(descriptor);
}

bool LockFiles::CopyNVFileToEFS(CPacket& packet, platform::File& local, const std::u16string& path,
                                    int32_t size) {
    uint32_t descriptor = 0;
    if (!packet.EfsOpen(path, false, descriptor)) {
        return false;
    }
    uint8_t buffer[kChunk];
    for (int64_t offset = 0; size - offset > 0; offset += kChunk) {
        const uint32_t count = static_cast<uint32_t>(std::min<int64_t>(kChunk, size - offset));
        if (local.Read(buffer, count) != count) {
            return false;
        }
        if (!packet.EfsWrite(descriptor, static_cast<uint32_t>(offset), buffer, count)) {
            return false;
        }
    }
    return packet.EfsClose(descriptor);
}

bool LockFiles::RestoreLockFile(CPacket& packet, const std::vector<LockFileEntry>& list) {
    FW_TRACE(kRestoreFunction, u"RestoreLockFile");
    data_.lockRestore.assign(list.size(), RestoreResult::NotRun);
    platform::File local;
    if (!local.OpenRead(data_.lockBackupPath)) {
        return false;
    }
    // A backup that does not hold exactly the listed bytes would put the wrong
    // content into every later file: restore nothing from it.
    if (local.Length() != TotalSize(list)) {
        FW_TRACE(kRestoreFunction, u"Execute RestoreLockFile file length fail");
        return false;
    }
    if (!packet.EnableDisableLockFileRW(1)) {
        return false;
    }
    for (size_t i = 0; i < list.size(); ++i) {
        if (!CopyNVFileToEFS(packet, local, list[i].path, list[i].size)) {
            data_.lockRestore[i] = RestoreResult::Failed;
            return false;
        }
        data_.lockRestore[i] = RestoreResult::Done;
    }
    return packet.EnableDisableLockFileRW(0);
}

}  // namespace upgrade
