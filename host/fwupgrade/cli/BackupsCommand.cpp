#include "host/fwupgrade/cli/BackupsCommand.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>

#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/report/History.h"
#include "host/fwupgrade/run/PackageView.h"
#include "platform/Platform.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/backup/BackupTransfer.h"

namespace fwupgrade {

namespace {

namespace fs = std::filesystem;

std::string Narrow(const std::u16string& text) { return platform::WideToUtf8(text); }
std::u16string Wide(const std::string& text) { return platform::Utf8ToWide(text); }

std::string Text(const nlohmann::json& entry, const char* key) {
    const auto it = entry.find(key);
    return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The subcommand of a command line: "fwupgrade restore --device D" -> "restore".
std::string CommandWord(const std::string& command) {
    const size_t start = command.find(' ');
    if (start == std::string::npos) return {};
    const size_t end = command.find(' ', start + 1);
    return command.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

// The same folder however it is written (a link, a trailing separator).
std::string SameFolderKey(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(folder, error);
    return error ? folder : canonical.lexically_normal().string();
}

// The folders the history says were written back to a card in full.
std::set<std::string> RestoredFolders(const std::vector<nlohmann::json>& history) {
    std::set<std::string> folders;
    for (const nlohmann::json& entry : history) {
        const std::string kind = CommandWord(Text(entry, "command"));
        const bool writesBack = kind == "restore" || kind == "rescue" || kind == "upgrade";
        const std::string kept = Text(entry, "kept_backup");
        if (writesBack && Text(entry, "result") == "ok" && !kept.empty()) folders.insert(SameFolderKey(kept));
    }
    return folders;
}

std::vector<nlohmann::json> History() {
    const std::string state = StateFolder();
    return state.empty() ? std::vector<nlohmann::json>{} : ReadHistory(state + "/" + kHistoryFileName);
}

// A folder as given, else <ESN>/<time> below the kept backups.
std::string KeptFolderNamed(const std::string& which) {
    std::error_code error;
    if (fs::is_directory(which, error)) return AbsolutePath(which);
    const size_t slash = which.find('/');
    const std::string esn = which.substr(0, slash);
    const std::string time = slash == std::string::npos ? std::string() : which.substr(slash + 1);
    if (esn.size() != 8 || esn.find_first_not_of("0123456789ABCDEF") != std::string::npos || time.empty() ||
        !upgrade::IsPlainFileName(Wide(time)))
        return {};
    const std::string folder = Narrow(upgrade::KeptBackupsRoot()) + "/" + esn + "/" + time;
    return fs::is_directory(folder, error) ? folder : std::string();
}

std::string CardOption(const CardDataOptions& card) {
    if (!card.device.empty()) return "--device " + card.device;
    if (!card.usbPort.empty()) return "--usb-port " + card.usbPort;
    return "--port " + std::to_string(card.port);
}

}  // namespace

const char* KeptStateWords(KeptState state) {
    switch (state) {
        case KeptState::ReadWhilePending: return "read while a restore was pending";
        case KeptState::Restored: return "restored";
        case KeptState::Own: break;
    }
    return "own";
}

std::vector<KeptBackupRow> KeptBackupRows(const std::vector<nlohmann::json>& history) {
    const std::set<std::string> restored = RestoredFolders(history);
    std::vector<KeptBackupRow> rows;
    for (const upgrade::KeptBackup& kept : upgrade::ListAllKeptBackups()) {
        KeptBackupRow row{upgrade::EsnText(kept.record.esn), kept.record.time, kept.record.version, Narrow(kept.folder)};
        if (!kept.record.readWhilePending.empty()) row.state = KeptState::ReadWhilePending;
        else if (restored.count(SameFolderKey(row.folder)) != 0) row.state = KeptState::Restored;
        rows.push_back(std::move(row));
    }
    return rows;
}

int RunBackupsList(bool json) {
    const std::vector<KeptBackupRow> rows = KeptBackupRows(History());
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const KeptBackupRow& row : rows)
            list.push_back({{"esn", row.esn}, {"time", row.time}, {"version", row.version},
                            {"state", KeptStateWords(row.state)}, {"folder", row.folder}});
        std::cout << list.dump(2) << "\n";
        return kExitOk;
    }
    const std::string root = Narrow(upgrade::KeptBackupsRoot());
    if (rows.empty()) {
        std::cout << "No kept backups in " << root << ".\n";
        return kExitOk;
    }
    for (const KeptBackupRow& row : rows) {
        char line[160];
        std::snprintf(line, sizeof line, "%-8s  %-16s  %-20s  %-32s  ", row.esn.c_str(), row.time.c_str(),
                      row.version.empty() ? "unknown" : row.version.c_str(), KeptStateWords(row.state));
        std::cout << line << row.folder << "\n";
    }
    std::cout << rows.size() << (rows.size() == 1 ? " kept backup" : " kept backups") << " in " << root << ".\n";
    return kExitOk;
}

int RunBackupsExport(const std::string& which, const std::string& archive) {
    const std::string folder = KeptFolderNamed(which);
    if (folder.empty()) {
        std::cerr << "backups export: no kept backup " << which << " (give its folder, or ESN/time as `fwupgrade "
                  << "backups` lists them)\n";
        return kExitUsage;
    }
    std::string error;
    if (!upgrade::ExportKeptBackup(Wide(folder), Wide(AbsolutePath(archive)), error)) {
        std::cerr << "backups export: " << error << "\n";
        return kExitFailed;
    }
    std::cout << "Wrote the backup in " << folder << " to " << AbsolutePath(archive) << ".\n";
    return kExitOk;
}

int RunBackupsImport(const std::string& archive) {
    std::u16string folder;
    std::string error;
    switch (upgrade::ImportBackupArchive(Wide(AbsolutePath(archive)), folder, error)) {
        case upgrade::ImportResult::Added: std::cout << "Added the backup to " << Narrow(folder) << ".\n"; return kExitOk;
        case upgrade::ImportResult::AlreadyKept:
            std::cout << "The backup is already kept in " << Narrow(folder) << "; nothing was added.\n";
            return kExitOk;
        case upgrade::ImportResult::Refused: break;
    }
    std::cerr << "backups import: " << error << "\n";
    return kExitFailed;
}

bool TakeBackupSource(std::string& from, std::string& note, std::string& error) {
    std::error_code ignored;
    if (from.empty() || !fs::is_regular_file(from, ignored)) return true;
    std::u16string folder;
    switch (upgrade::ImportBackupArchive(Wide(AbsolutePath(from)), folder, error)) {
        case upgrade::ImportResult::Added: note = "The archive " + from + " is now kept in " + Narrow(folder) + "."; break;
        case upgrade::ImportResult::AlreadyKept: note = "The archive " + from + " is kept in " + Narrow(folder) + "."; break;
        case upgrade::ImportResult::Refused: return false;
    }
    from = Narrow(folder);
    return true;
}

bool ReadApartFromPending(const std::string& keptFolder, uint32_t esn, std::string& pendingTime,
                          std::string& pendingFolder) {
    if (keptFolder.empty()) return false;
    upgrade::BackupRecord record;
    std::string error;
    const std::u16string recordPath = upgrade::JoinPath(platform::Utf8ToWide(keptFolder), upgrade::kBackupRecordName);
    if (upgrade::ReadBackupRecord(recordPath, record, error) != upgrade::RecordRead::Read ||
        record.readWhilePending.empty())
        return false;
    pendingTime = record.readWhilePending;
    pendingFolder = Narrow(platform::RemoveFileSpec(upgrade::PendingRecordOf(esn)));
    return true;
}

std::string PendingRestoreWords(const CardDataOptions& card, const std::string& pendingTime,
                                const std::string& pendingFolder) {
    const bool known = pendingTime != "unknown";
    const std::string where =
        known ? "the backup of " + pendingTime + " in " + pendingFolder
              : "its newest own kept backup (the pending record noted in " +
                    (pendingFolder.empty() ? std::string("the data folder") : pendingFolder) + " can no longer be used)";
    return "  note:        a restore is pending: the card's own data is " + where +
           ", not what the card holds now; that was kept apart, marked as read while a restore was pending\n"
           "  finish it:   fwupgrade restore " +
           CardOption(card) + "\n";
}

}  // namespace fwupgrade
