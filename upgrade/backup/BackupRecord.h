// The backup record: a small text file beside "channel.nvm" that says whose
// data the backup files hold (ESN, software version, time), what else was
// saved (the Wi-Fi address, the lock-file list with its sizes), the SHA-256
// of each file, and how far the run has taken the card. A run that fails
// after the card left its firmware leaves a record with a restore pending;
// the next run on the same card restores from it instead of from what the
// wiped card now holds.
//
// Encoding and parsing are pure; the parser refuses anything that is not a
// whole record written by EncodeBackupRecord.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace upgrade {

// File name of the record, beside "channel.nvm" and in every kept backup.
constexpr const char16_t* kBackupRecordName = u"backup-record.txt";

enum class FullDownloadReason { None, Q7k, Override, Rescue };
enum class RestoreResult { NotRun, Done, Failed };

struct RecordedLockFile {
    std::u16string path;   // absolute EFS path
    int32_t size = 0;
    RestoreResult restore = RestoreResult::NotRun;
};

struct NvItemNotRestored {
    uint16_t item = 0;
    uint16_t status = 0;   // the card's NV status; kNotAttempted when never written
    bool operator==(const NvItemNotRestored&) const = default;
};
constexpr uint16_t kNotAttempted = 0xFFFF;

struct BackupRecord {
    uint32_t esn = 0;
    std::string version;          // software version text, "" when it could not be read
    std::string time;             // UTC, "YYYYMMDDTHHMMSSZ"
    std::u16string nvFile;        // the channel.nvm this record describes
    std::string nvSha256;
    bool wifiSaved = false;
    std::array<uint8_t, 6> wifi{};
    bool lockFilesSaved = false;
    std::u16string lockFile;      // the lock backup file (when lockFilesSaved)
    std::string lockSha256;
    std::vector<RecordedLockFile> lockFiles;   // in the order of the lock backup file
    // Set on a backup read from a card whose earlier restore was pending: the
    // time of that earlier backup. Such a read is kept, never restored from
    // in place of the earlier one.
    std::string readWhilePending;

    // How far the run has taken the card.
    bool leftFirmware = false;
    FullDownloadReason fullDownload = FullDownloadReason::None;
    bool cefsWriting = false;
    bool restored = false;        // the restore phase ran to its end
    std::string versionAfter;     // the version the new firmware reports after the reset ("" before)

    // What the restore gave back.
    RestoreResult nvRestore = RestoreResult::NotRun;
    std::vector<uint16_t> nvRestored;
    std::vector<NvItemNotRestored> nvNotRestored;
    RestoreResult wifiRestore = RestoreResult::NotRun;

    // The card left its firmware on a run that wipes it, and its data has
    // not all gone back yet.
    [[nodiscard]] bool RestorePending() const { return leftFirmware && fullDownload != FullDownloadReason::None && !restored; }
    // The same saved data: the files, the Wi-Fi address and the lock-file list.
    [[nodiscard]] bool SameDataAs(const BackupRecord& other) const;
};

// Upper limits a record never reaches when written by a run.
constexpr size_t kMaxRecordBytes = 4u << 20;
constexpr size_t kMaxRecordedLockFiles = 8192;
constexpr size_t kMaxRecordedNvItems = 6000;

std::string EncodeBackupRecord(const BackupRecord& record);
// Fills out and returns true for a whole, well-formed record; otherwise
// returns false with the reason in error ("line 4: ...").
[[nodiscard]] bool ParseBackupRecord(std::span<const uint8_t> bytes, BackupRecord& out, std::string& error);

// "8012A5C3"
std::string EsnText(uint32_t esn);
// "YYYYMMDDTHHMMSSZ" of the operating system's UTC time ("" when unknown).
std::string RecordTimeNow();
// Exactly the form RecordTimeNow writes (so safe as a folder name).
bool IsRecordTime(std::string_view text);

}  // namespace upgrade
