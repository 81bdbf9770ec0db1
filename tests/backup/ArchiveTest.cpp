// The backup archive: what the writer makes reads back whole, and the reader
// refuses every hostile or damaged archive with the line that says why.
// Pure functions over byte vectors.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "upgrade/backup/BackupArchive.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/backup/Sha256.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
    return bytes;
}

Bytes AsBytes(const std::string& text) { return {text.begin(), text.end()}; }

struct Sample {
    upgrade::BackupRecord record;
    Bytes nv = Pattern(upgrade::nvtable::kTableSize, 3);
    Bytes lock = Pattern(300, 9);

    Sample() {
        record.esn = 0x8012A5C3;
        record.version = "LUM_Q7KV1.0.0B05";
        record.time = "20261208T034000Z";
        record.nvFile = u"/somewhere/else/channel.nvm";   // the archive names it by its name alone
        record.nvSha256 = upgrade::Sha256Hex(nv);
        record.wifiSaved = true;
        record.wifi = {0x00, 0x1E, 0x10, 0x3A, 0x5C, 0x7F};
        record.lockFilesSaved = true;
        record.lockFile = u"/home/u/VEKLock_1";
        record.lockSha256 = upgrade::Sha256Hex(lock);
        record.lockFiles = {{u"vek/a", 100}, {u"vek/b", 200}};
        record.leftFirmware = true;   // how far a run got does not travel
        record.fullDownload = upgrade::FullDownloadReason::Q7k;
    }
    Bytes Archive() const { return upgrade::EncodeBackupArchive(record, nv, lock); }
    std::string RecordText() const { return upgrade::EncodeBackupRecord(upgrade::KeptDescription(record)); }
};

// An archive put together member by member, with its digest made to match.
Bytes Build(const std::vector<std::pair<std::string, Bytes>>& entries, std::string magic = "fwupgrade-backup-archive 1") {
    Bytes out = AsBytes(magic + "\n");
    for (const auto& [header, bytes] : entries) {
        const Bytes line = AsBytes(header + "\n");
        out.insert(out.end(), line.begin(), line.end());
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    const Bytes end = AsBytes("end " + upgrade::Sha256Hex(out) + "\n");
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

std::pair<std::string, Bytes> Member(const std::string& name, const Bytes& bytes) {
    return {"file " + name + " " + std::to_string(bytes.size()), bytes};
}

bool Parse(const Bytes& bytes, upgrade::BackupArchive& out, std::string& error) {
    return upgrade::ParseBackupArchive(bytes, out, error);
}

TEST(BackupArchive, WhatTheWriterMakesReadsBackWhole) {
    const Sample sample;
    upgrade::BackupArchive read;
    std::string error;
    ASSERT_TRUE(Parse(sample.Archive(), read, error)) << error;
    EXPECT_TRUE(read.record.SameDataAs(sample.record));
    EXPECT_EQ(read.record.version, sample.record.version);
    EXPECT_EQ(read.record.time, sample.record.time);
    EXPECT_EQ(read.record.nvFile, u"channel.nvm");
    EXPECT_EQ(read.record.lockFile, u"VEKLock_1");
    EXPECT_FALSE(read.record.leftFirmware) << "a kept backup describes the data only";
    EXPECT_EQ(read.nvTable, sample.nv);
    EXPECT_EQ(read.lockBackup, sample.lock);

    Sample bare;   // no lock files: no VEKLock_1 member
    bare.record.lockFilesSaved = false;
    bare.record.lockFiles.clear();
    const Bytes archive = bare.Archive();
    EXPECT_EQ(std::string(archive.begin(), archive.end()).find("file VEKLock_1"), std::string::npos);
    ASSERT_TRUE(Parse(archive, read, error)) << error;
    EXPECT_TRUE(read.lockBackup.empty());
}

TEST(BackupArchive, EveryCutIsRefused) {
    const Bytes archive = Sample().Archive();
    std::vector<size_t> cuts;
    for (size_t n = 0; n < 1200; ++n) cuts.push_back(n);   // magic, record, the NV member's line
    for (size_t n = 1200; n < archive.size() - 400; n += 40009) cuts.push_back(n);
    for (size_t n = archive.size() - 400; n < archive.size(); ++n) cuts.push_back(n);   // lock member, end line
    for (size_t length : cuts) {
        upgrade::BackupArchive read;
        std::string error;
        EXPECT_FALSE(Parse(Bytes(archive.begin(), archive.begin() + long(length)), read, error)) << "cut at " << length;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(read.nvTable.empty()) << "a refused archive leaves nothing behind";
    }
}

TEST(BackupArchive, HostileArchivesAreRefusedWithTheirReason) {
    const Sample s;
    const Bytes record = AsBytes(s.RecordText());
    const auto good = [&](std::vector<std::pair<std::string, Bytes>> extra) {
        std::vector<std::pair<std::string, Bytes>> entries = {Member("backup-record.txt", record),
                                                              Member("channel.nvm", s.nv)};
        entries.insert(entries.end(), extra.begin(), extra.end());
        return Build(entries);
    };
    const Bytes lock = s.lock;
    struct Case {
        Bytes bytes;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {good({Member("../VEKLock_1", lock)}), "a member name with a folder separator '../VEKLock_1'"},
        {good({Member("sub\\VEKLock_1", lock)}), "a member name with a folder separator"},
        {good({Member("/etc/passwd", lock)}), "an absolute member name '/etc/passwd'"},
        {good({Member("C:VEKLock_1", lock)}), "an absolute member name"},
        {good({Member("..", lock)}), "a member name that names a folder"},
        {good({{"link VEKLock_1 /etc/passwd", {}}}), "a 'link' entry: an archive holds plain files only"},
        {good({{"symlink VEKLock_1 9", lock}}), "a 'symlink' entry"},
        {good({{"exec VEKLock_1 3", lock}}), "an unknown entry 'exec'"},
        {good({Member("notes.txt", lock)}), "an unknown member 'notes.txt'"},
        {good({Member("channel.nvm", s.nv)}), "the member 'channel.nvm' appears twice"},
        {good({{"file VEKLock_1 +300", lock}}), "the length of 'VEKLock_1' is not a number"},
        {good({{"file VEKLock_1 3x", lock}}), "the length of 'VEKLock_1' is not a number"},
        {good({{"file VEKLock_1", lock}}), "without a name and a length"},
        {good({{"file VEKLock_1 " + std::to_string(upgrade::kMaxArchiveLockBytes + 1), {}}}),
         "'VEKLock_1' is larger than a backup's VEKLock_1"},
        {good({{"file VEKLock_1 99999999999999999999999", {}}}), "is not a number"},
        {Build({Member("backup-record.txt", record), {"file channel.nvm 816001", s.nv}}), "'channel.nvm' is larger"},
        {Bytes(upgrade::kMaxArchiveBytes + 1, 'x'), "the archive is larger than any backup"},
        {Build({Member("backup-record.txt", record), Member("channel.nvm", s.nv)}, "fwupgrade-backup-archive 2"),
         "not a backup archive"},
        {good({}), "the record lists lock files but the archive holds no VEKLock_1"},
        {Build({Member("backup-record.txt", record), Member("VEKLock_1", lock)}), "the archive holds no channel.nvm"},
        {Build({Member("channel.nvm", s.nv)}), "the archive holds no backup-record.txt"},
        {good({Member("VEKLock_1", Pattern(300, 10))}), "VEKLock_1 does not match the length and digest of its record"},
        {Build({Member("backup-record.txt", record), Member("channel.nvm", Pattern(upgrade::nvtable::kTableSize, 4)),
                Member("VEKLock_1", lock)}),
         "channel.nvm does not match the length and digest of its record"},
        {Build({Member("backup-record.txt", AsBytes("hello\n")), Member("channel.nvm", s.nv)}),
         "backup-record.txt is refused: line 1: not a backup record"},
        {AsBytes("fwupgrade-backup-archive 1\n" + std::string(300, 'a') + "\n"), "a line longer than any line"},
    };
    for (const Case& c : cases) {
        upgrade::BackupArchive read;
        std::string error;
        EXPECT_FALSE(Parse(c.bytes, read, error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << "expected: " << c.reason << "\n     got: " << error;
        EXPECT_TRUE(read.nvTable.empty());
    }
}

// Bytes whose digest no longer matches, and records that would name a place
// outside the store or files outside the archive.
TEST(BackupArchive, ADamagedOrMisleadingArchiveIsRefused) {
    const Sample s;
    const Bytes archive = s.Archive();
    const auto refused = [](const Bytes& bytes, const std::string& reason) {
        upgrade::BackupArchive read;
        std::string error;
        EXPECT_FALSE(upgrade::ParseBackupArchive(bytes, read, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << "expected: " << reason << "\n     got: " << error;
    };
    Bytes flipped = archive;
    flipped[archive.size() / 2] ^= 0x01;   // inside channel.nvm
    refused(flipped, "the archive's digest does not match its content");
    flipped = archive;
    flipped[archive.size() - 2] = flipped[archive.size() - 2] == 'a' ? 'b' : 'a';   // inside the digest
    refused(flipped, "the archive's digest does not match its content");
    Bytes longer = archive;
    longer.push_back('\n');
    refused(longer, "bytes after the archive's 'end' line");

    Sample escaping = s;
    escaping.record.time = "../../../tmp/x";
    refused(escaping.Archive(), "its time is not a UTC time");

    // A record that names other files than the archive's own.
    upgrade::BackupRecord absolute = upgrade::KeptDescription(s.record);
    absolute.nvFile = u"/etc/channel.nvm";
    const std::string text = upgrade::EncodeBackupRecord(absolute);
    refused(Build({Member("backup-record.txt", AsBytes(text)), Member("channel.nvm", s.nv), Member("VEKLock_1", s.lock)}),
            "names files other than the archive's channel.nvm and VEKLock_1");

    Sample bare = s;
    bare.record.lockFilesSaved = false;
    bare.record.lockFiles.clear();
    refused(Build({Member("backup-record.txt", AsBytes(bare.RecordText())), Member("channel.nvm", s.nv),
                   Member("VEKLock_1", s.lock)}),
            "the archive holds VEKLock_1 but its record saved no lock files");
}

}  // namespace
