#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "upgrade/backup/BackupSafeFile.h"
#include "upgrade/backup/NvBackupTable.h"

namespace {

class SafeFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/backup_file_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        target_ = folder_ + "/channel.nvm";
    }
    void TearDown() override {
        std::string command = "rm -rf '" + folder_ + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    static std::vector<uint8_t> Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void Put(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

    std::u16string Target() const { return platform::Utf8ToWide(target_); }
    std::string Temporary() const { return platform::WideToUtf8(upgrade::ReplacementFileName(Target())); }

    // An older backup with recognisable content.
    std::vector<uint8_t> OlderTable() const {
        std::vector<upgrade::nvtable::NvRecord> records = upgrade::nvtable::InitialRecords();
        for (auto& record : records) {
            record.data.fill(0x5A);
        }
        return upgrade::nvtable::EncodeTable(records);
    }

    std::string folder_;
    std::string target_;
};

TEST_F(SafeFile, WritesTheContentAndLeavesNoTemporaryFile) {
    const std::vector<uint8_t> table = upgrade::nvtable::EncodeTable(upgrade::nvtable::InitialRecords());
    Put(target_, {1, 2, 3});
    std::string error;
    ASSERT_TRUE(upgrade::WriteFileReplacing(Target(), table, error)) << error;
    EXPECT_EQ(Slurp(target_), table);
    EXPECT_FALSE(Exists(Temporary()));
}

TEST_F(SafeFile, AFileThatCannotBeCreatedLeavesTheOlderBackup) {
    const std::vector<uint8_t> older = OlderTable();
    Put(target_, older);
    ASSERT_EQ(mkdir(Temporary().c_str(), 0755), 0);   // the temporary name is taken by a folder

    std::string error;
    EXPECT_FALSE(upgrade::WriteFileReplacing(Target(), std::vector<uint8_t>(816000, 0), error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Slurp(target_), older);
}

TEST_F(SafeFile, AWriterDroppedBeforeCommitLeavesTheTargetAlone) {
    const std::vector<uint8_t> older = OlderTable();
    Put(target_, older);
    {
        upgrade::ReplacingFileWriter writer(Target());
        ASSERT_TRUE(writer.Open());
        ASSERT_TRUE(writer.WriteAll(std::vector<uint8_t>(1000, 1)));
        EXPECT_TRUE(Exists(Temporary()));
    }
    EXPECT_FALSE(Exists(Temporary()));
    EXPECT_EQ(Slurp(target_), older);
}

// A child writes a new table under a file-size limit of half the table. With
// the default action the limit kills it half way through the write; with the
// signal ignored the write comes back short and the writer reports it.
class SafeFileKilled : public SafeFile, public ::testing::WithParamInterface<bool> {};

TEST_P(SafeFileKilled, AWriteStoppedHalfWayLeavesTheOlderBackupWhole) {
    const bool ignoreSignal = GetParam();
    const std::vector<uint8_t> older = OlderTable();
    Put(target_, older);
    const std::vector<uint8_t> newer = upgrade::nvtable::EncodeTable(upgrade::nvtable::InitialRecords());

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = 400000;
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        const bool written = upgrade::WriteFileReplacing(Target(), newer, error);
        _exit(written ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (ignoreSignal) {
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 3);
        EXPECT_FALSE(Exists(Temporary()));
    } else {
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
    }
    EXPECT_EQ(Slurp(target_), older);

    // The next run writes over whatever the killed one left behind.
    std::string error;
    ASSERT_TRUE(upgrade::WriteFileReplacing(Target(), newer, error)) << error;
    EXPECT_EQ(Slurp(target_), newer);
}

INSTANTIATE_TEST_SUITE_P(KilledOrShort, SafeFileKilled, ::testing::Values(false, true));

}  // namespace
