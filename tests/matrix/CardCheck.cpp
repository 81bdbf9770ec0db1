#include "tests/matrix/CardCheck.h"

#include <fstream>
#include <iterator>

#include "platform/Platform.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/backup/NvBackupTable.h"

namespace matrix {
namespace {

constexpr uint16_t kQ7kItem = 96;

bool ItemIsOwn(uint16_t item, const std::array<uint8_t, 128>& data, const sim::CardData& before, bool q7k) {
    if (data == before.nv.at(item).data) return true;
    return q7k && item == kQ7kItem && data == std::array<uint8_t, 128>{};
}

std::vector<uint8_t> Slurp(const std::u16string& path) {
    std::ifstream in(platform::WideToUtf8(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Why the kept backup does not hold the card's data ("" when it does).
std::string KeptShortfall(const upgrade::KeptBackup& kept, const sim::CardData& before, bool q7k) {
    const upgrade::BackupRecord& record = kept.record;
    std::string error;
    if (!upgrade::BackupFilesMatch(record, error)) return error;
    if (!record.wifiSaved || record.wifi != before.wifi) return "Wi-Fi address";
    std::vector<upgrade::nvtable::NvRecord> items;
    if (!upgrade::nvtable::DecodeTable(Slurp(record.nvFile), items)) return "channel.nvm does not decode";
    for (const upgrade::nvtable::NvRecord& item : items) {
        const sim::NvItem& own = before.nv.at(item.item);
        if (!own.inactive && !ItemIsOwn(item.item, item.data, before, q7k)) return "NV item " + std::to_string(item.item);
    }
    if (!record.lockFilesSaved || record.lockFiles.size() != before.efsFiles.size()) return "lock file list";
    const std::vector<uint8_t> locks = Slurp(record.lockFile);
    size_t at = 0;
    for (const upgrade::RecordedLockFile& entry : record.lockFiles) {
        const auto own = before.efsFiles.find(sim::NormaliseEfsPath(platform::WideToUtf8(entry.path)));
        if (own == before.efsFiles.end() || at + own->second.size() > locks.size() ||
            !std::equal(own->second.begin(), own->second.end(), locks.begin() + static_cast<std::ptrdiff_t>(at)))
            return "lock file " + platform::WideToUtf8(entry.path);
        at += own->second.size();
    }
    return at == locks.size() ? "" : "lock backup file length";
}

}  // namespace

void CheckCardHolds(const sim::CardData& now, const sim::CardData& before, bool q7k, std::vector<std::string>& problems) {
    if (now.wifi != before.wifi) problems.push_back("the card lost its Wi-Fi address");
    if (now.efsFiles != before.efsFiles) problems.push_back("the card lost its lock files");
    for (const auto& [item, nv] : before.nv) {
        if (!nv.inactive && !ItemIsOwn(item, now.nv.at(item).data, before, q7k)) {
            problems.push_back("the card lost NV item " + std::to_string(item));
            break;
        }
    }
}

void CheckKeptBackupHolds(const sim::CardData& before, bool q7k, std::vector<std::string>& problems) {
    std::string last = "there is none";
    for (const upgrade::KeptBackup& kept : upgrade::ListKeptBackups(before.esn)) {
        if (!kept.record.readWhilePending.empty()) continue;
        last = KeptShortfall(kept, before, q7k);
        if (last.empty()) return;
    }
    problems.push_back("no kept backup holds the card's data (" + last + ")");
}

}  // namespace matrix
