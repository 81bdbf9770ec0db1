// The backup record on disk and the kept backups.
//
// The record beside "channel.nvm" is rewritten safely (temporary file,
// flush, rename, folder sync) each time the run takes the card a step
// further. Every completed backup is also copied, with its record, into the
// per-user data folder under backups/<ESN>/<UTC time>/. A kept backup is
// written once and never overwritten or deleted; its record is written last,
// so a folder without one is not a kept backup.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "upgrade/backup/BackupRecord.h"

namespace upgrade {

// File names inside a kept backup folder.
constexpr const char16_t* kKeptNvName = u"channel.nvm";
constexpr const char16_t* kKeptLockName = u"VEKLock_1";

// folder + separator + name (no separator doubled).
std::u16string JoinPath(const std::u16string& folder, const std::u16string& name);
// A relative path made absolute against the current folder.
std::u16string AbsolutePath(const std::u16string& path);
// "/x", "\\x" or "C:..." (either system's form).
bool IsAbsolutePath(const std::u16string& path);
// One name without a separator, a drive, "." or "..".
bool IsPlainFileName(const std::u16string& name);
// The part after the last separator.
std::u16string FileNameOf(const std::u16string& path);

// The file paths of a record read from folder made absolute: a file name is
// beside the record (kept records name their files so); an absolute path
// that no longer exists becomes the file of that name beside the record
// when there is one (a kept backup written before its names were relative,
// then moved). Anything else relative is refused.
[[nodiscard]] bool ResolveRecordPaths(const std::u16string& folder, BackupRecord& record, std::string& error);

// The whole file when it is a regular file of at most limit bytes.
[[nodiscard]] bool ReadWholeFile(const std::u16string& path, std::vector<uint8_t>& out, uint64_t limit);

[[nodiscard]] bool WriteBackupRecord(const std::u16string& path, const BackupRecord& record, std::string& error);

enum class RecordRead { Missing, Refused, Read };
// Reads and parses the record, its file paths resolved as ResolveRecordPaths does.
[[nodiscard]] RecordRead ReadBackupRecord(const std::u16string& path, BackupRecord& out, std::string& error);

// True when the files the record names hold exactly the bytes of its digests,
// the NV table at its full length and the lock backup at the length of the
// lock files it lists; otherwise error says which one does not.
[[nodiscard]] bool BackupFilesMatch(const BackupRecord& record, std::string& error);

struct KeptBackup {
    std::u16string folder;
    BackupRecord record;   // its paths point into the folder
};

// <user data>/backups ("" when there is no user data folder).
std::u16string KeptBackupsRoot();
// The kept backups of one card, oldest first (by their folder names).
std::vector<KeptBackup> ListKeptBackups(uint32_t esn);
// Every kept backup of every card, oldest first within each card.
std::vector<KeptBackup> ListAllKeptBackups();

// The record of a card whose restore is pending, wherever its package folder
// is: <user data>/pending/<ESN> names it while it is pending.
void NotePendingRecord(uint32_t esn, const std::u16string& recordPath, bool pending);
// The record path noted for the card ("" when none).
std::u16string PendingRecordOf(uint32_t esn);

// A new, empty, durable folder for a kept backup of the card:
// backups/<ESN>/<time>, with "-2", "-3", ... when that name is taken (a time
// that is not a record's time gives "unknown-time").
[[nodiscard]] bool MakeKeptFolder(uint32_t esn, const std::string& time, std::u16string& folder, std::string& error);

// What the note of a card's pending restore says, seen from a run whose own
// record is at besidePath (a note naming that record is the run's own
// business, and says None here).
enum class NotedPending {
    None,       // no note, or its record is no longer pending for this card
    Usable,     // its record is pending for this card and its files match
    Unusable,   // its record is gone, refused, or its files no longer match
};
// out holds the record when it was read; path the noted path; error why it
// is Unusable.
NotedPending FindNotedPendingRecord(uint32_t esn, const std::u16string& besidePath, BackupRecord& out,
                                    std::u16string& path, std::string& error);
// The card holds its own data again: its note goes, whatever record it names.
void ForgetPendingNote(uint32_t esn);
// The cards with a note of a pending restore, in ESN order.
std::vector<uint32_t> CardsWithPendingNotes();

// Keeps the backup the record describes: its files are checked against the
// digests, copied into a new folder, and the record (with the paths of the
// copies) written last. A backup whose data one of the card's kept backups
// already holds is not stored again; folder then names that one. The kept
// record describes the data only: how far a run got is left out, and it names
// its files by their names in the folder.
[[nodiscard]] bool KeepBackup(const BackupRecord& record, std::u16string& folder, std::string& error);

}  // namespace upgrade
