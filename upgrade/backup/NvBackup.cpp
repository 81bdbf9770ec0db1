// NV item backup and restore: the 90 items of the card saved to
// "channel.nvm" in the package folder before the reflash and written back
// after it.
#include "upgrade/backup/NvBackup.h"

#include <vector>

#include "platform/Trace.h"
#include "upgrade/backup/BackupSafeFile.h"
#include "upgrade/run/RunData.h"
#include "upgrade/run/RunReporter.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/backup/NvItems.h"

namespace upgrade {

namespace {

constexpr const char16_t* kBackupFunction = u"CFWUpgradeDataCDMA7627Module::BackupNVMOP";
constexpr const char16_t* kRestoreFunction = u"CFWUpgradeDataCDMA7627Module::RestoreNVMOP";

constexpr uint16_t kStatusNotActive = 5;
constexpr uint16_t kStatusBadParameter = 6;
constexpr uint16_t kStatusReadOnly = 7;

bool IsSeparator(char16_t c) { return c == u'\\' || c == platform::PathSeparator(); }

bool SkippedOnBackup(uint16_t status) { return status == kStatusNotActive || status == kStatusBadParameter; }

bool SkippedOnRestore(uint16_t status) {
    return status == kStatusNotActive || status == kStatusBadParameter || status == kStatusReadOnly;
}

// A file error of the backup file is shown to the user, as well as traced:
// the trace may not be looked at before the next attempt.
void ReportFileError(const std::string& error) { platform::ShowMessageBox(platform::Utf8ToWide(error)); }

enum class TableRead { Ok, FileError, WrongLength };

TableRead ReadWholeFile(const std::u16string& path, std::vector<uint8_t>& content, std::string& error) {
    platform::File file;
    if (!file.OpenRead(path)) {
        error = "cannot open " + platform::WideToUtf8(path);
        return TableRead::FileError;
    }
    const uint64_t length = file.Length();
    if (length != nvtable::kTableSize) {
        error = "unexpected length of " + platform::WideToUtf8(path);
        return TableRead::WrongLength;
    }
    content.assign(nvtable::kTableSize, 0);
    if (file.Read(content.data(), static_cast<uint32_t>(content.size())) != content.size()) {
        error = "cannot read " + platform::WideToUtf8(path);
        return TableRead::FileError;
    }
    return TableRead::Ok;
}

}  // namespace

bool NvBackup::CreateNVBackupDirectory(const std::u16string& folder) {
    std::u16string lookup = folder;
    if (!folder.empty() && IsSeparator(folder.back())) {
        if (folder.size() == 3) {
            if (folder[1] == u':') {
                return true;   // a drive root always exists
            }
            // Any other three-character folder keeps its separator: "ab/"
            // names a folder only, never a file called "ab".
        } else if (folder.size() > 1) {
            lookup.pop_back();
        }
    }
    if (platform::PathExists(lookup)) {
        return true;
    }
    // The folder holds the card's data from now on: its entry must survive a power cut.
    return platform::CreateDurableDirectory(folder);
}

bool NvBackup::BackupNVMOP(CPacket& packet, const std::u16string& path) {
    std::vector<nvtable::NvRecord> records = nvtable::InitialRecords();

    platform::Sleep(500);
    if (!packet.SendSpc()) {
        return false;
    }

    for (nvtable::NvRecord& record : records) {
        if (record.item >= nvtable::kEndMarker) {
            break;
        }
        if (packet.NvItemRead(record.item, record.data.data(), record.status)) {
            data_.nvStatus = record.status;
            continue;
        }
        data_.nvStatus = record.status;
        if (SkippedOnBackup(record.status)) {
            continue;
        }
        if (!packet.NvItemRead(record.item, record.data.data(), record.status)) {
            data_.nvStatus = record.status;
            return false;
        }
        data_.nvStatus = record.status;
    }

    const std::vector<uint8_t> table = nvtable::EncodeTable(records);
    std::string error;
    if (!WriteFileReplacing(path, table, error)) {
        FW_TRACE(kBackupFunction, u"Execute BackupNVMOP file write fail: %s", platform::Utf8ToWide(error).c_str());
        ReportFileError(error);
        reporter_.NoteFailure(FailureReason::FileSystem);
        return false;
    }
    return true;
}

bool NvBackup::RestoreNVMOP(CPacket& packet, const std::u16string& path) {
    data_.nvRestore = NvRestoreOutcome{};
    std::vector<nvtable::NvRecord> records;
    if (!ReadRestoreTable(path, records)) {
        return false;
    }
    platform::Sleep(5000);
    if (!OpenCardForNvWrites(packet)) {
        return false;
    }
    platform::Sleep(1000);
    if (!WriteNvRecords(packet, records)) {
        return false;
    }
    platform::Sleep(5000);
    return true;
}

bool NvBackup::ReadRestoreTable(const std::u16string& path, std::vector<nvtable::NvRecord>& records) {
    std::vector<uint8_t> content;
    std::string error;
    const TableRead read = ReadWholeFile(path, content, error);
    if (read == TableRead::Ok && nvtable::DecodeTable(content, records)) {
        return true;
    }
    if (error.empty()) {
        error = "unexpected content of " + platform::WideToUtf8(path);
    }
    FW_TRACE(kRestoreFunction, u"Execute RestoreNVMOP file read fail: %s", platform::Utf8ToWide(error).c_str());
    // A table of the wrong length is refused quietly; a file that cannot
    // be opened or read is a file error the user is shown.
    if (read == TableRead::FileError) {
        ReportFileError(error);
    }
    return false;
}

// Offline, factory test mode and the service code: the card takes NV writes
// only after the service code is accepted.
bool NvBackup::OpenCardForNvWrites(CPacket& packet) {
    (void)packet.EnterOfflineMode();   // the service code below decides whether the restore goes on

    uint8_t ftmMode[nvtable::kItemDataSize] = {};
    ftmMode[0] = 1;
    uint16_t status = 0;
    (void)packet.NvItemWrite(kNvFtmModeItem, ftmMode, status);   // as above

    platform::Sleep(500);
    if (packet.SendSpc()) {
        return true;
    }
    platform::Sleep(2000);
    return packet.SendSpc();
}

// Each item is written, and written again once when refused; an item the
// card does not keep is skipped. A second refusal stops the restore, and
// the items after it are noted as not attempted.
bool NvBackup::WriteNvRecords(CPacket& packet, const std::vector<nvtable::NvRecord>& records) {
    uint16_t status = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const nvtable::NvRecord& record = records[i];
        if (packet.NvItemWrite(record.item, record.data.data(), status)) {
            data_.nvStatus = status;
            data_.nvRestore.restored.push_back(record.item);
            continue;
        }
        data_.nvStatus = status;
        if (SkippedOnRestore(status)) {
            data_.nvRestore.notRestored.push_back({record.item, status});
            continue;
        }
        if (!packet.NvItemWrite(record.item, record.data.data(), status)) {
            data_.nvStatus = status;
            data_.nvRestore.notRestored.push_back({record.item, status});
            for (size_t later = i + 1; later < records.size(); ++later)
                data_.nvRestore.notRestored.push_back({records[later].item, kNotAttempted});
            return false;
        }
        data_.nvStatus = status;
        data_.nvRestore.restored.push_back(record.item);
    }
    return true;
}

}  // namespace upgrade
