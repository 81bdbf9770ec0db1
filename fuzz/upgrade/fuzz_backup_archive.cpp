// Any bytes as a backup archive, and a whole archive with any bytes changed,
// cut off or lengthened (its digest made to match again or not). A refusal
// says why and leaves nothing; an archive that is taken holds a record whose
// time names no other folder, the files that record describes, and writing
// it again gives an archive that reads back to the same backup.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/common/FuzzInput.h"
#include "upgrade/backup/BackupArchive.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/backup/Sha256.h"

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

// A whole archive as `backups export` writes it, made once.
const std::vector<uint8_t>& Template() {
    static const std::vector<uint8_t> archive = [] {
        std::vector<uint8_t> nv(upgrade::nvtable::kTableSize);
        for (size_t i = 0; i < nv.size(); ++i) nv[i] = static_cast<uint8_t>(i * 7 + (i >> 10));
        const std::vector<uint8_t> lock(300, 0x5A);
        upgrade::BackupRecord record;
        record.esn = 0x8012A5C3;
        record.version = "LUM_Q7KV1.0.0B05";
        record.time = "20261208T034000Z";
        record.nvSha256 = upgrade::Sha256Hex(nv);
        record.wifiSaved = true;
        record.wifi = {0x00, 0x1E, 0x10, 0x3A, 0x5C, 0x7F};
        record.lockFilesSaved = true;
        record.lockSha256 = upgrade::Sha256Hex(lock);
        record.lockFiles = {{u"vek/a", 100}, {u"vek/b", 200}};
        return upgrade::EncodeBackupArchive(record, nv, lock);
    }();
    return archive;
}

// The template with the input's edits: bytes set at offsets, then a cut or
// added bytes, then, when asked, the closing digest made to match.
std::vector<uint8_t> Edited(fuzz::FuzzInput& in) {
    std::vector<uint8_t> bytes = Template();
    const uint8_t flags = in.U8();
    const size_t end = bytes.size() - 69;   // where "end <digest>\n" starts
    bytes.resize(end);
    for (int edits = in.U8() % 16; edits > 0 && !in.Empty(); --edits) {
        const size_t at = in.Le32() % bytes.size();
        bytes[at] = in.U8();
    }
    if (flags & 2) bytes.resize(in.Le32() % (bytes.size() + 1));
    const auto extra = in.Sized();
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    const std::string trailer = (flags & 1) ? "end " + upgrade::Sha256Hex(bytes) + "\n" : in.Text(80);
    bytes.insert(bytes.end(), trailer.begin(), trailer.end());
    return bytes;
}

void Check(const std::vector<uint8_t>& bytes) {
    upgrade::BackupArchive read;
    std::string error;
    if (!upgrade::ParseBackupArchive(bytes, read, error)) {
        Require(!error.empty() && read.nvTable.empty() && read.lockBackup.empty() && read.record.time.empty());
        return;
    }
    Require(upgrade::IsRecordTime(read.record.time));
    Require(read.record.nvFile == u"channel.nvm" && read.nvTable.size() == upgrade::nvtable::kTableSize);
    Require(upgrade::Sha256Hex(read.nvTable) == read.record.nvSha256);
    Require(read.record.lockFilesSaved ? upgrade::Sha256Hex(read.lockBackup) == read.record.lockSha256
                                       : read.lockBackup.empty());
    const std::vector<uint8_t> again = upgrade::EncodeBackupArchive(read.record, read.nvTable, read.lockBackup);
    upgrade::BackupArchive second;
    Require(upgrade::ParseBackupArchive(again, second, error));
    Require(second.record.SameDataAs(read.record) && second.nvTable == read.nvTable &&
            second.lockBackup == read.lockBackup);
    Require(upgrade::EncodeBackupArchive(second.record, second.nvTable, second.lockBackup) == again);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    if ((in.U8() & 1) == 0) {
        const auto raw = in.Rest();
        Check({raw.begin(), raw.end()});
    } else {
        Check(Edited(in));
    }
    return 0;
}
