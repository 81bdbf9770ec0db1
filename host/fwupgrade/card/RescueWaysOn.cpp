#include "host/fwupgrade/card/RescueWaysOn.h"

#include <algorithm>

#include "host/fwupgrade/report/History.h"
#include "host/fwupgrade/card/RescueCommand.h"
#include "platform/Platform.h"
#include "upgrade/backup/BackupStore.h"

namespace fwupgrade {

namespace {

constexpr size_t kEsnDigits = 8;

bool SameFolder(const std::string& a, const std::string& b) {
    auto trimmed = [](std::string path) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        return path;
    };
    return !a.empty() && trimmed(a) == trimmed(b);
}

std::optional<uint32_t> EsnFromText(const std::string& text) {
    if (text.size() != kEsnDigits || text.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
        return std::nullopt;
    const uint32_t esn = static_cast<uint32_t>(std::stoul(text, nullptr, 16));
    if (esn == 0) return std::nullopt;
    return esn;
}

}  // namespace

std::vector<std::string> WaysOn(const RefusedCommand& refused, const std::vector<std::string>& keptFolders) {
    std::vector<std::string> ways;
    for (const std::string& folder : keptFolders)
        if (!SameFolder(folder, refused.from)) ways.push_back(refused.command + " --from " + ShellWord(folder));
    if (refused.offerWithoutData) ways.push_back(refused.command + " --without-data");
    return ways;
}

std::optional<uint32_t> LastEsnOnDevice(const std::vector<nlohmann::json>& history, const std::string& device,
                                        const std::string& stableDevice) {
    for (auto entry = history.rbegin(); entry != history.rend(); ++entry) {
        const bool same = (!device.empty() && entry->value("device", "") == device) ||
                          (!stableDevice.empty() && entry->value("device_by_id", "") == stableDevice);
        if (!same) continue;
        if (const std::optional<uint32_t> esn = EsnFromText(entry->value("esn", ""))) return esn;
    }
    return std::nullopt;
}

std::vector<std::string> RescuableBackupsOf(uint32_t esn) {
    std::vector<std::string> folders;
    for (const upgrade::KeptBackup& kept : upgrade::ListKeptBackups(esn))
        if (kept.record.readWhilePending.empty()) folders.push_back(platform::WideToUtf8(kept.folder));
    std::reverse(folders.begin(), folders.end());
    return folders;
}

std::vector<std::string> WaysOnFor(const RefusedCommand& refused, std::optional<uint32_t> cardEsn,
                                   const std::string& device, const std::string& stableDevice) {
    if (!cardEsn) {
        const std::string state = StateFolder();
        if (!state.empty())
            cardEsn = LastEsnOnDevice(ReadHistory(state + "/" + kHistoryFileName), device, stableDevice);
    }
    return WaysOn(refused, cardEsn ? RescuableBackupsOf(*cardEsn) : std::vector<std::string>{});
}

std::string OtherCardWords(const std::string& from, uint32_t cardEsn) {
    upgrade::BackupRecord record;
    std::string error;
    const std::u16string path = upgrade::JoinPath(platform::Utf8ToWide(from), upgrade::kBackupRecordName);
    if (upgrade::ReadBackupRecord(path, record, error) != upgrade::RecordRead::Read) return "";
    return "The backup in " + from + " belongs to the card with ESN " + upgrade::EsnText(record.esn) +
           "; this card has ESN " + upgrade::EsnText(cardEsn) + ".";
}

}  // namespace fwupgrade
