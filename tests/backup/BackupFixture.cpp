#include "tests/backup/BackupFixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/Trace.h"
#include "upgrade/backup/NvBackupTable.h"

namespace backup_test {

namespace {

std::vector<TraceLine>& Trace() {
    static std::vector<TraceLine> lines;
    return lines;
}

void Capture(const char16_t*, int, const char16_t* function, const char16_t* message) {
    Trace().push_back({platform::WideToUtf8(function), platform::WideToUtf8(message)});
}

}  // namespace

const std::vector<TraceLine>& CapturedTrace() { return Trace(); }

void BackupTest::SetUp() {
    char pattern[] = "/tmp/backup_ops_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    char current[4096];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    previousFolder_ = current;
    ASSERT_EQ(chdir(folder_.c_str()), 0);
    // Kept backups and fallback files go below the scratch folder too.
    ASSERT_EQ(setenv("XDG_DATA_HOME", (folder_ + "/data").c_str(), 1), 0);
    Trace().clear();
    platform::SetTraceSink(&Capture);
    platform::SetClock(&clock_);
    // An empty card: each test fills in what it needs.
    sim::CardData empty;
    empty.wifi = {};
    card_ = sim::MakeCard(std::move(empty));
    opener_.Attach(1, card_);
    platform::SetComPortOpener(&opener_);
}

void BackupTest::TearDown() {
    packet_.Close();
    EXPECT_TRUE(card_->Violations().empty()) << card_->Violations().front().text;
    platform::SetComPortOpener(nullptr);
    platform::SetClock(nullptr);
    platform::SetTraceSink(nullptr);
    ASSERT_EQ(chdir(previousFolder_.c_str()), 0);
    const std::string command = "rm -rf '" + folder_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

std::array<uint8_t, 128> BackupTest::ItemBytes(uint16_t item) {
    std::array<uint8_t, 128> data{};
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(item * 7 + i * 3 + 1);
    }
    return data;
}

std::vector<uint8_t> BackupTest::Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
    }
    return bytes;
}

void BackupTest::FillCard() {
    for (uint16_t item : upgrade::nvtable::kItemList) {
        Held().nv[item].data = ItemBytes(item);
    }
    Held().wifi = {0x00, 0x1E, 0x10, 0x3A, 0x5C, 0x7F};
    Held().efsDirs = {"vek", "vek/sub", "vek/sub/deep"};
    Held().efsFiles["vek/a"] = Pattern(100, 1);
    Held().efsFiles["vek/sub/b"] = Pattern(3000, 2);
    Held().efsFiles["vek/sub/deep/empty"] = {};
}

void BackupTest::OpenPort() { ASSERT_TRUE(packet_.Open(1)); }

void BackupTest::Fault(const std::string& rule) { card_->AddFault(sim::ParseFaultOption(rule)); }

size_t BackupTest::Count(const std::string& prefix) const {
    return static_cast<size_t>(std::count_if(Requests().begin(), Requests().end(),
                                             [&](const std::string& r) { return r.rfind(prefix, 0) == 0; }));
}

std::vector<std::string> BackupTest::Messages(const std::string& function) const {
    std::vector<std::string> messages;
    for (const TraceLine& line : Trace()) {
        if (line.function == function) {
            messages.push_back(line.message);
        }
    }
    return messages;
}

bool BackupTest::Traced(const std::string& message) const {
    return std::any_of(Trace().begin(), Trace().end(), [&](const TraceLine& l) { return l.message == message; });
}

std::u16string BackupTest::ChannelPathW() const { return platform::Utf8ToWide(ChannelPath()); }

std::vector<uint8_t> BackupTest::Slurp(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void BackupTest::Put(const std::string& path, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool BackupTest::Exists(const std::string& path) const { return access(path.c_str(), F_OK) == 0; }

}  // namespace backup_test
