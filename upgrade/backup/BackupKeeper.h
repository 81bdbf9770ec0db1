// The run's backup record and the kept copies of the card's data: a backup
// an earlier run left pending is found and adopted, a fresh one is described,
// recorded and kept, and the record is rewritten each time the run takes the
// card a step further.
#pragma once

#include <cstdint>
#include <string>

#include "upgrade/backup/BackupRecord.h"
#include "upgrade/run/RunPlan.h"

namespace upgrade {

class RunReporter;
struct RunData;

class BackupKeeper {
public:
    BackupKeeper(RunData& data, RunReporter& reporter) : data_(data), reporter_(reporter) {}

    // Forgets what an earlier operation recorded and kept.
    void Clear();
    // Rewrites the record after a change of Record(); false when it could
    // not be written (traced).
    [[nodiscard]] bool SaveRecord();
    // Notes in the record why the run writes cefs, resets and restores.
    void RecordFullDownload(FullDownloadReason reason);

    // The record an earlier run left beside channel.nvm when it names this
    // card, has a restore pending and its files match their digests (or the
    // backup the plan chose); otherwise false, with the reason traced.
    [[nodiscard]] bool FindPendingBackup(const RunPlan& plan, bool esnRead, uint32_t esn, BackupRecord& pending);
    // The record of what the backup phase just saved to nvPath and the lock
    // backup file; false when a file cannot be digested.
    [[nodiscard]] bool DescribeBackup(uint32_t esn, const std::u16string& nvPath, BackupRecord& out);
    // A first backup: the record is written and the backup kept.
    [[nodiscard]] bool RecordFreshBackup(const BackupRecord& fresh);
    // A retry: what the card holds now is kept aside, and the run takes the
    // pending backup's data for its own restore.
    [[nodiscard]] bool AdoptPendingBackup(const RunPlan& plan, const BackupRecord& pending, BackupRecord readNow);
    // The backup a rescue restores: the chosen one, else the package
    // folder's record if its files match; it becomes the run's record, pending.
    [[nodiscard]] bool TakeRescueBackup(const RunPlan& plan);
    // A kept backup written back alone: a kept record stays as it was
    // written; a pending one (beside a package's channel.nvm) learns what
    // went back.
    void TakeKeptBackup(const BackupRecord& record, const std::u16string& keptFolder);
    // The one record of the kept store's pending notes (besides the one at
    // besidePath) still pending with its files whole; false when none or
    // several, as a card outside its firmware cannot tell which is its own.
    [[nodiscard]] bool OnlyNotedPendingRecord(const std::u16string& besidePath, BackupRecord& pending,
                                              std::u16string& path);

    BackupRecord& Record() { return record_; }
    const BackupRecord& Record() const { return record_; }
    const std::u16string& RecordPath() const { return recordPath_; }
    void SetRecordPath(const std::u16string& path) { recordPath_ = path; }
    // The run restores a backup an earlier run left pending.
    bool RestoringPending() const { return restoringPending_; }
    // The kept backup folder of the data this run restores ("" when none).
    const std::u16string& KeptBackup() const { return keptBackup_; }
    // The kept backup of what a retry read from the wiped card ("" when none).
    const std::u16string& KeptReadNow() const { return keptReadNow_; }

private:
    // A backup an earlier run left pending, or the one a rescue restores,
    // becomes the run's record, pending, and its data the data restored.
    void AdoptAsRunRecord(const BackupRecord& backup);
    // Takes the card's data to restore (NV file, lock files, Wi-Fi address)
    // from a backup record.
    void TakeDataOf(const BackupRecord& record);

    RunData& data_;
    RunReporter& reporter_;
    // The record's file beside channel.nvm and its content.
    std::u16string recordPath_;
    BackupRecord record_;
    bool active_ = false;
    bool restoringPending_ = false;
    std::u16string keptBackup_;
    std::u16string keptReadNow_;
};

}  // namespace upgrade
