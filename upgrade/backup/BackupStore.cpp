#include "upgrade/backup/BackupStore.h"

#include <algorithm>

#include "platform/Platform.h"
#include "upgrade/backup/BackupArchive.h"
#include "upgrade/backup/BackupSafeFile.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/backup/Sha256.h"

namespace upgrade {
namespace {

// The most bytes a lock backup may hold: every lock file at its largest.
constexpr uint64_t kMaxCopiedFile = uint64_t(1) << 31;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

}  // namespace

bool ReadWholeFile(const std::u16string& path, std::vector<uint8_t>& out, uint64_t limit) {
    platform::File file;
    if (!file.OpenRead(path)) return false;
    const uint64_t length = file.Length();
    if (length > limit) return false;
    out.resize(static_cast<size_t>(length));
    return length == 0 || file.Read(out.data(), static_cast<uint32_t>(length)) == length;
}

namespace {

// The length of a file, or false when it cannot be opened.
bool FileLength(const std::u16string& path, uint64_t& length) {
    platform::File file;
    if (!file.OpenRead(path)) return false;
    length = file.Length();
    return true;
}

// Copies a file whose digest must match; the copy is written safely.
bool CopyVerified(const std::u16string& from, const std::string& sha256, const std::u16string& to,
                  std::string& error) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(from, bytes, kMaxCopiedFile)) {
        error = "cannot read " + platform::WideToUtf8(from);
        return false;
    }
    if (Sha256Hex(bytes) != sha256) {
        error = platform::WideToUtf8(from) + " does not match the digest of its record";
        return false;
    }
    return WriteFileReplacing(to, bytes, error);
}

// Exactly what EsnText writes: eight upper-case hex digits.
bool ParseEsnText(const std::string& text, uint32_t& esn) {
    if (text.size() != 8 || text.find_first_not_of("0123456789ABCDEF") != std::string::npos) return false;
    esn = static_cast<uint32_t>(std::stoul(text, nullptr, 16));
    return true;
}

// A folder of card data: its entry is made durable before anything is put in it.
// A folder several runs share (backups/, pending/): another card's run may
// make it at the same moment, and then its entry is synced here as well.
bool MakeFolder(const std::u16string& folder) {
    if (platform::PathExists(folder) || platform::CreateDurableDirectory(folder)) return true;
    return platform::PathExists(folder) && platform::SyncFolder(platform::RemoveFileSpec(folder));
}

// A folder name that no kept backup of the card has yet: the time, then
// the time with "-2", "-3", ...
std::u16string NewFolderName(const std::u16string& cardFolder, const std::string& time) {
    // A time from a record of unknown origin never names a folder elsewhere.
    const std::u16string base = platform::Utf8ToWide(IsRecordTime(time) ? time : "unknown-time");
    std::u16string name = base;
    for (int n = 2; platform::PathExists(JoinPath(cardFolder, name)); ++n)
        name = base + u"-" + platform::Utf8ToWide(std::to_string(n));
    return name;
}

}  // namespace

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
    if (folder.empty()) return name;
    if (IsSeparator(folder.back())) return folder + name;
    return folder + platform::PathSeparator() + name;
}

std::u16string AbsolutePath(const std::u16string& path) {
    if (IsAbsolutePath(path)) return path;
    const std::u16string current = platform::CurrentFolder();
    return current.empty() ? path : JoinPath(current, path);
}

bool WriteBackupRecord(const std::u16string& path, const BackupRecord& record, std::string& error) {
    const std::string text = EncodeBackupRecord(record);
    return WriteFileReplacing(path, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, error);
}

RecordRead ReadBackupRecord(const std::u16string& path, BackupRecord& out, std::string& error) {
    if (!platform::PathExists(path)) return RecordRead::Missing;
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, kMaxRecordBytes + 1)) {
        error = "cannot read it (not a regular file, or too large)";
        return RecordRead::Refused;
    }
    if (!ParseBackupRecord(bytes, out, error)) return RecordRead::Refused;
    if (ResolveRecordPaths(platform::RemoveFileSpec(AbsolutePath(path)), out, error)) return RecordRead::Read;
    out = BackupRecord{};
    return RecordRead::Refused;
}

bool IsAbsolutePath(const std::u16string& path) {
    return !path.empty() && (IsSeparator(path[0]) || (path.size() > 1 && path[1] == u':'));
}

bool IsPlainFileName(const std::u16string& name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    return std::none_of(name.begin(), name.end(), [](char16_t c) { return IsSeparator(c) || c == u':'; });
}

std::u16string FileNameOf(const std::u16string& path) {
    const size_t at = path.find_last_of(u"/\\");
    return at == std::u16string::npos ? path : path.substr(at + 1);
}

namespace {

bool ResolveRecordPath(const std::u16string& folder, const char* key, std::u16string& path, std::string& error) {
    if (IsAbsolutePath(path)) {
        // A backup moved with its folder: the file is beside its record now.
        const std::u16string beside = JoinPath(folder, FileNameOf(path));
        if (!platform::PathExists(path) && IsPlainFileName(FileNameOf(path)) && platform::PathExists(beside))
            path = beside;
        return true;
    }
    if (!IsPlainFileName(path)) {
        error = std::string("'") + key + "' " + platform::WideToUtf8(path) +
                " is neither an absolute path nor the name of a file beside the record";
        return false;
    }
    path = JoinPath(folder, path);
    return true;
}

}  // namespace

bool ResolveRecordPaths(const std::u16string& folder, BackupRecord& record, std::string& error) {
    return ResolveRecordPath(folder, "nv-file", record.nvFile, error) &&
           (!record.lockFilesSaved || ResolveRecordPath(folder, "lock-file", record.lockFile, error));
}

bool BackupFilesMatch(const BackupRecord& record, std::string& error) {
    std::string digest;
    if (!Sha256OfFile(record.nvFile, digest) || digest != record.nvSha256) {
        error = platform::WideToUtf8(record.nvFile) + " is missing or does not match its digest";
        return false;
    }
    // A digest says nothing of a file that was wrong when it was taken.
    uint64_t length = 0;
    if (!FileLength(record.nvFile, length) || length != nvtable::kTableSize) {
        error = platform::WideToUtf8(record.nvFile) + " holds " + std::to_string(length) + " bytes, not the " +
                std::to_string(nvtable::kTableSize) + " of an NV table";
        return false;
    }
    if (!record.lockFilesSaved) return true;
    if (!Sha256OfFile(record.lockFile, digest) || digest != record.lockSha256) {
        error = platform::WideToUtf8(record.lockFile) + " is missing or does not match its digest";
        return false;
    }
    uint64_t listed = 0;
    for (const RecordedLockFile& entry : record.lockFiles) listed += static_cast<uint64_t>(entry.size);
    if (!FileLength(record.lockFile, length) || length != listed) {
        error = platform::WideToUtf8(record.lockFile) + " holds " + std::to_string(length) + " bytes, not the " +
                std::to_string(listed) + " of the lock files its record lists";
        return false;
    }
    return true;
}

std::u16string KeptBackupsRoot() {
    const std::u16string data = platform::UserDataFolder();
    return data.empty() ? std::u16string() : JoinPath(data, u"backups");
}

std::vector<KeptBackup> ListKeptBackups(uint32_t esn) {
    std::vector<KeptBackup> kept;
    const std::u16string root = KeptBackupsRoot();
    if (root.empty()) return kept;
    const std::u16string cardFolder = JoinPath(root, platform::Utf8ToWide(EsnText(esn)));
    std::vector<std::u16string> names = platform::ListFolder(cardFolder);
    std::sort(names.begin(), names.end());
    for (const std::u16string& name : names) {
        KeptBackup backup{JoinPath(cardFolder, name), {}};
        std::string error;
        if (ReadBackupRecord(JoinPath(backup.folder, kBackupRecordName), backup.record, error) == RecordRead::Read &&
            backup.record.esn == esn)
            kept.push_back(std::move(backup));
    }
    return kept;
}

std::vector<KeptBackup> ListAllKeptBackups() {
    std::vector<KeptBackup> all;
    const std::u16string root = KeptBackupsRoot();
    if (root.empty()) return all;
    std::vector<std::u16string> cards = platform::ListFolder(root);
    std::sort(cards.begin(), cards.end());
    for (const std::u16string& card : cards) {
        uint32_t esn = 0;
        if (!ParseEsnText(platform::WideToUtf8(card), esn)) continue;
        for (KeptBackup& backup : ListKeptBackups(esn)) all.push_back(std::move(backup));
    }
    return all;
}

namespace {

std::u16string PendingNote(uint32_t esn) {
    const std::u16string data = platform::UserDataFolder();
    return data.empty() ? data : JoinPath(JoinPath(data, u"pending"), platform::Utf8ToWide(EsnText(esn)));
}

}  // namespace

void NotePendingRecord(uint32_t esn, const std::u16string& recordPath, bool pending) {
    const std::u16string note = PendingNote(esn);
    if (note.empty()) return;
    if (pending) {
        if (PendingRecordOf(esn) == recordPath) return;
        MakeFolder(platform::RemoveFileSpec(note));
        const std::string text = platform::WideToUtf8(recordPath);
        std::string error;
        // Without the note a restore falls back to the card's last kept backup.
        (void)WriteFileReplacing(note, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, error);
    } else if (PendingRecordOf(esn) == recordPath) {
        (void)platform::RemoveFile(note);   // a note left behind names a record with nothing pending, never taken
    }
}

std::u16string PendingRecordOf(uint32_t esn) {
    std::vector<uint8_t> bytes;
    const std::u16string note = PendingNote(esn);
    if (note.empty() || !ReadWholeFile(note, bytes, 64 * 1024)) return {};
    return platform::Utf8ToWide(std::string(bytes.begin(), bytes.end()));
}

NotedPending FindNotedPendingRecord(uint32_t esn, const std::u16string& besidePath, BackupRecord& out,
                                    std::u16string& path, std::string& error) {
    path = PendingRecordOf(esn);
    if (path.empty() || path == AbsolutePath(besidePath)) return NotedPending::None;
    switch (ReadBackupRecord(path, out, error)) {
        case RecordRead::Missing: error = "it no longer exists"; return NotedPending::Unusable;
        case RecordRead::Refused: return NotedPending::Unusable;
        case RecordRead::Read: break;
    }
    // A note left behind by a record that went on without it.
    if (!out.RestorePending() || out.esn != esn) return NotedPending::None;
    return BackupFilesMatch(out, error) ? NotedPending::Usable : NotedPending::Unusable;
}

std::vector<uint32_t> CardsWithPendingNotes() {
    std::vector<uint32_t> cards;
    const std::u16string data = platform::UserDataFolder();
    if (data.empty()) return cards;
    for (const std::u16string& name : platform::ListFolder(JoinPath(data, u"pending"))) {
        uint32_t esn = 0;
        if (ParseEsnText(platform::WideToUtf8(name), esn)) cards.push_back(esn);
    }
    std::sort(cards.begin(), cards.end());
    return cards;
}

void ForgetPendingNote(uint32_t esn) {
    const std::u16string note = PendingNote(esn);
    // A note that cannot be removed is judged by its record at the next read.
    if (!note.empty() && platform::PathExists(note)) (void)platform::RemoveFile(note);
}

bool MakeKeptFolder(uint32_t esn, const std::string& time, std::u16string& folder, std::string& error) {
    const std::u16string root = KeptBackupsRoot();
    const std::u16string cardFolder = JoinPath(root, platform::Utf8ToWide(EsnText(esn)));
    if (root.empty() || !MakeFolder(root) || !MakeFolder(cardFolder)) {
        error = "cannot create the folder of kept backups " + platform::WideToUtf8(cardFolder);
        return false;
    }
    // Another run of a card with the same ESN may take the name between the
    // look and the mkdir; then the next free name is taken.
    constexpr int kTries = 16;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        folder = JoinPath(cardFolder, NewFolderName(cardFolder, time));
        if (platform::CreateDirectory(folder)) {
            if (platform::SyncFolder(cardFolder)) return true;
            error = "cannot make the new folder " + platform::WideToUtf8(folder) + " durable";
            return false;
        }
        if (!platform::PathExists(folder)) break;
    }
    error = "cannot create " + platform::WideToUtf8(folder);
    return false;
}

bool KeepBackup(const BackupRecord& record, std::u16string& folder, std::string& error) {
    for (const KeptBackup& kept : ListKeptBackups(record.esn)) {
        if (kept.record.SameDataAs(record) && kept.record.readWhilePending == record.readWhilePending) {
            folder = kept.folder;
            return true;
        }
    }
    std::u16string target;
    if (!MakeKeptFolder(record.esn, record.time, target, error)) return false;
    // Names relative to the kept folder: the folder travels whole.
    const BackupRecord copy = KeptDescription(record);
    if (!CopyVerified(record.nvFile, record.nvSha256, JoinPath(target, kKeptNvName), error)) return false;
    if (record.lockFilesSaved &&
        !CopyVerified(record.lockFile, record.lockSha256, JoinPath(target, kKeptLockName), error))
        return false;
    // The record's write syncs the kept folder after its last entry.
    if (!WriteBackupRecord(JoinPath(target, kBackupRecordName), copy, error)) return false;
    folder = target;
    return true;
}

}  // namespace upgrade
