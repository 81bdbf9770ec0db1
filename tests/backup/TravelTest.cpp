// Kept backups that travel: a kept folder names its files relatively and
// still restores from anywhere; one written before that, moved, finds its
// files beside its record; an archive carries a backup to another store
// and is taken there only when it is whole and new.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/support/TempFolder.h"
#include "upgrade/backup/BackupArchive.h"
#include "upgrade/backup/BackupStore.h"
#include "upgrade/backup/BackupTransfer.h"
#include "upgrade/backup/NvBackupTable.h"
#include "upgrade/backup/Sha256.h"

namespace {

namespace fs = std::filesystem;
using upgrade::BackupRecord;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> Tree(const std::string& root) {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root)) paths.insert(entry.path().string());
    return paths;
}

class Travel : public ::testing::Test {
protected:
    void SetUp() override { UseStore("data"); }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    // The per-user data folder of this "machine".
    void UseStore(const std::string& name) { ASSERT_EQ(::setenv("XDG_DATA_HOME", (work_ / name).c_str(), 1), 0); }

    // A backup as a run leaves it beside channel.nvm: absolute paths.
    BackupRecord RunBackup(uint8_t seed = 1, const std::string& time = "20261208T034000Z") {
        fs::create_directories(work_ / "pkg");
        work_.WritePattern("pkg/channel.nvm", upgrade::nvtable::kTableSize, seed);
        work_.WritePattern("VEKLock_1", 300, seed);
        BackupRecord r;
        r.esn = 0x8012A5C3;
        r.version = "LUM_Q7KV1.0.0B05";
        r.time = time;
        r.nvFile = work_.WideFile("pkg/channel.nvm");
        r.wifiSaved = true;
        r.wifi = {0, 0x1E, 0x10, 0x3A, 0x5C, seed};
        r.lockFilesSaved = true;
        r.lockFile = work_.WideFile("VEKLock_1");
        r.lockFiles = {{u"vek/a", 100}, {u"vek/b", 200}};
        EXPECT_TRUE(upgrade::Sha256OfFile(r.nvFile, r.nvSha256));
        EXPECT_TRUE(upgrade::Sha256OfFile(r.lockFile, r.lockSha256));
        return r;
    }
    std::string Keep(const BackupRecord& record) {
        std::u16string folder;
        std::string error;
        EXPECT_TRUE(upgrade::KeepBackup(record, folder, error)) << error;
        return platform::WideToUtf8(folder);
    }
    static bool Matches(const std::string& folder, std::string& error) {
        BackupRecord read;
        if (upgrade::ReadBackupRecord(platform::Utf8ToWide(folder + "/backup-record.txt"), read, error) !=
            upgrade::RecordRead::Read)
            return false;
        return upgrade::BackupFilesMatch(read, error);
    }

    test_support::TempFolder work_;
};

TEST_F(Travel, AKeptFolderNamesItsFilesByNameAndRestoresFromWhereverItIsCopied) {
    const std::string kept = Keep(RunBackup());
    const std::string text = Slurp(kept + "/backup-record.txt");
    EXPECT_NE(text.find("\nnv-file channel.nvm\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nlock-file VEKLock_1\n"), std::string::npos) << text;
    const std::vector<upgrade::KeptBackup> listed = upgrade::ListKeptBackups(0x8012A5C3);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].record.nvFile, platform::Utf8ToWide(kept + "/channel.nvm")) << "read with its folder";

    fs::create_directories(work_ / "usb-stick");
    fs::rename(kept, work_ / "usb-stick/copy");
    std::string error;
    EXPECT_TRUE(Matches(work_ / "usb-stick/copy", error)) << error;
}

TEST_F(Travel, ARecordWithAbsolutePathsMovedWithItsFilesFindsThemBesideIt) {
    BackupRecord old = RunBackup();
    fs::create_directories(work_ / "old");
    fs::copy_file(work_ / "pkg/channel.nvm", work_ / "old/channel.nvm");
    fs::copy_file(work_ / "VEKLock_1", work_ / "old/VEKLock_1");
    old.nvFile = work_.WideFile("old/channel.nvm");
    old.lockFile = work_.WideFile("old/VEKLock_1");
    std::string error;
    ASSERT_TRUE(upgrade::WriteBackupRecord(work_.WideFile("old/backup-record.txt"), old, error)) << error;
    fs::rename(work_ / "old", work_ / "moved");

    BackupRecord read;
    ASSERT_EQ(upgrade::ReadBackupRecord(work_.WideFile("moved/backup-record.txt"), read, error),
              upgrade::RecordRead::Read);
    EXPECT_EQ(read.nvFile, work_.WideFile("moved/channel.nvm"));
    EXPECT_EQ(read.lockFile, work_.WideFile("moved/VEKLock_1"));
    EXPECT_TRUE(upgrade::BackupFilesMatch(read, error)) << error;

    // An absolute path that still exists is taken as it is (a record beside a package's channel.nvm).
    const BackupRecord beside = RunBackup();
    ASSERT_TRUE(upgrade::WriteBackupRecord(work_.WideFile("pkg/backup-record.txt"), beside, error)) << error;
    ASSERT_EQ(upgrade::ReadBackupRecord(work_.WideFile("pkg/backup-record.txt"), read, error), upgrade::RecordRead::Read);
    EXPECT_EQ(read.lockFile, work_.WideFile("VEKLock_1"));
}

TEST_F(Travel, ARelativePathThatLeavesTheRecordsFolderIsRefused) {
    BackupRecord record = RunBackup();
    for (const char16_t* path : {u"../pkg/channel.nvm", u"sub/channel.nvm", u".."}) {
        record.nvFile = path;
        std::string error;
        ASSERT_TRUE(upgrade::WriteBackupRecord(work_.WideFile("pkg/backup-record.txt"), record, error)) << error;
        BackupRecord read;
        EXPECT_EQ(upgrade::ReadBackupRecord(work_.WideFile("pkg/backup-record.txt"), read, error),
                  upgrade::RecordRead::Refused);
        EXPECT_NE(error.find("is neither an absolute path nor the name of a file beside the record"), std::string::npos)
            << error;
    }
    // Nor does a time from such a record name a folder outside the card's.
    record = RunBackup();
    record.time = "../../../escaped";
    const std::string kept = Keep(record);
    EXPECT_EQ(kept, work_ / "data/fwupgrade/backups/8012A5C3/unknown-time");
}

TEST_F(Travel, AnArchiveCarriesABackupToAnotherStoreOnceAndNeverOverAnotherOne) {
    const std::string kept = Keep(RunBackup());
    const std::u16string archive = work_.WideFile("stick/card.fwbackup");
    std::string error;
    ASSERT_TRUE(upgrade::ExportKeptBackup(platform::Utf8ToWide(kept), archive, error)) << error;
    EXPECT_FALSE(upgrade::ExportKeptBackup(platform::Utf8ToWide(kept), archive, error));
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;

    UseStore("bench2");
    std::u16string folder;
    ASSERT_EQ(upgrade::ImportBackupArchive(archive, folder, error), upgrade::ImportResult::Added) << error;
    EXPECT_EQ(platform::WideToUtf8(folder), work_ / "bench2/fwupgrade/backups/8012A5C3/20261208T034000Z");
    EXPECT_TRUE(Matches(platform::WideToUtf8(folder), error)) << error;
    EXPECT_EQ(Slurp(platform::WideToUtf8(folder) + "/channel.nvm"), Slurp(kept + "/channel.nvm"));
    const std::set<std::string> after = Tree(work_ / "bench2");

    std::u16string again;
    EXPECT_EQ(upgrade::ImportBackupArchive(archive, again, error), upgrade::ImportResult::AlreadyKept) << error;
    EXPECT_EQ(again, folder);
    EXPECT_EQ(Tree(work_ / "bench2"), after) << "the same backup again adds nothing";

    // Another backup of the same card at the same time is not taken.
    UseStore("data3");
    const std::string other = Keep(RunBackup(2));
    ASSERT_TRUE(upgrade::ExportKeptBackup(platform::Utf8ToWide(other), work_.WideFile("other.fwbackup"), error)) << error;
    UseStore("bench2");
    EXPECT_EQ(upgrade::ImportBackupArchive(work_.WideFile("other.fwbackup"), again, error), upgrade::ImportResult::Refused);
    EXPECT_NE(error.find("a different backup of the card with ESN 8012A5C3 from 20261208T034000Z is already kept"),
              std::string::npos)
        << error;
    EXPECT_EQ(Tree(work_ / "bench2"), after);
}

TEST_F(Travel, ABackupWhoseFilesNoLongerMatchIsNotExported) {
    const std::string kept = Keep(RunBackup());
    {
        std::fstream nv(kept + "/channel.nvm", std::ios::in | std::ios::out | std::ios::binary);
        nv.seekp(100);
        nv.put('\x5A');
    }
    std::string error;
    EXPECT_FALSE(upgrade::ExportKeptBackup(platform::Utf8ToWide(kept), work_.WideFile("x.fwbackup"), error));
    EXPECT_NE(error.find("does not match its digest"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(work_ / "x.fwbackup"));
}

TEST_F(Travel, AHostileArchiveWritesNothingAnywhere) {
    const BackupRecord record = RunBackup();
    const std::string nv = Slurp(work_ / "pkg/channel.nvm");
    std::vector<uint8_t> bytes = upgrade::EncodeBackupArchive(record, std::vector<uint8_t>(nv.begin(), nv.end()),
                                                              std::vector<uint8_t>(300, 1));
    // Rename a member to climb out of the store; the digest is made to match again.
    std::string text(bytes.begin(), bytes.end());
    text.replace(text.find("file VEKLock_1 300\n"), 14, "file ../../../../VEKLock_1");
    text.erase(text.rfind("end "));
    text += "end " + upgrade::Sha256Hex(std::vector<uint8_t>(text.begin(), text.end())) + "\n";
    work_.WriteBytes("hostile.fwbackup", {text.begin(), text.end()});
    UseStore("clean");
    fs::create_directories(work_ / "clean");
    const std::set<std::string> before = Tree(work_.path());

    std::u16string folder;
    std::string error;
    EXPECT_EQ(upgrade::ImportBackupArchive(work_.WideFile("hostile.fwbackup"), folder, error),
              upgrade::ImportResult::Refused);
    EXPECT_NE(error.find("a member name with a folder separator"), std::string::npos) << error;
    EXPECT_EQ(Tree(work_.path()), before);
}

TEST_F(Travel, AnImportThatWasCutOffIsLeftAloneAndTheNextOneGoesBesideIt) {
    const std::string kept = Keep(RunBackup());
    std::string error;
    ASSERT_TRUE(upgrade::ExportKeptBackup(platform::Utf8ToWide(kept), work_.WideFile("a.fwbackup"), error)) << error;
    UseStore("bench2");
    const std::string leftover = work_ / "bench2/fwupgrade/backups/8012A5C3/20261208T034000Z";
    fs::create_directories(leftover);
    work_.Fill("bench2/fwupgrade/backups/8012A5C3/20261208T034000Z/channel.nvm", 10);
    std::u16string folder;
    ASSERT_EQ(upgrade::ImportBackupArchive(work_.WideFile("a.fwbackup"), folder, error), upgrade::ImportResult::Added)
        << error;
    EXPECT_EQ(platform::WideToUtf8(folder), leftover + "-2");
    EXPECT_EQ(fs::file_size(leftover + "/channel.nvm"), 10u);
}

}  // namespace
