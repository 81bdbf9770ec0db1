// Any bytes as a backup record: the parser must never read outside them, and
// whatever it accepts must encode to a record it accepts again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "upgrade/backup/BackupRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    upgrade::BackupRecord record;
    std::string error;
    if (!upgrade::ParseBackupRecord({data, size}, record, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    const std::string encoded = upgrade::EncodeBackupRecord(record);
    upgrade::BackupRecord again;
    if (!upgrade::ParseBackupRecord({reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size()}, again, error))
        std::abort();
    if (upgrade::EncodeBackupRecord(again) != encoded || !again.SameDataAs(record)) std::abort();
    return 0;
}
