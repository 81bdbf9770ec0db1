#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "tests/support/TempFolder.h"
#include "host/fwupgrade/report/History.h"
#include "host/fwupgrade/report/RunRecord.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;
namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(History, TheStateFolderFollowsXdgStateHomeElseTheHome) {
    TempFolder temp;
    {
        ScopedVariable state("XDG_STATE_HOME", (temp / "xdg").c_str());
        EXPECT_EQ(StateFolder(), temp / "xdg/fwupgrade");
        EXPECT_TRUE(fs::is_directory(temp / "xdg/fwupgrade"));
    }
    ScopedVariable home("HOME", temp.path().c_str());
    // A relative XDG_STATE_HOME is not valid and is passed over.
    ScopedVariable state("XDG_STATE_HOME", "relative/state");
    EXPECT_EQ(StateFolder(), temp / ".local/state/fwupgrade");
}

TEST(History, EntriesAreReadInTheOrderWrittenAndATornLineIsSkipped) {
    TempFolder temp;
    const std::string file = temp / "history.jsonl";
    std::string error;
    ASSERT_TRUE(AppendHistory(file, {{"time", "1"}, {"result", "ok"}}, error)) << error;
    // A crash in the middle of an entry leaves a line without its end.
    std::ofstream(file, std::ios::app) << "{\"time\":\"2\",\"res";
    std::ofstream(file, std::ios::app) << "\n";
    ASSERT_TRUE(AppendHistory(file, {{"time", "3"}, {"result", "failed"}}, error)) << error;
    const auto entries = ReadHistory(file);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0]["time"], "1");
    EXPECT_EQ(entries[1]["time"], "3");
    EXPECT_TRUE(ReadHistory(temp / "none.jsonl").empty());
    EXPECT_FALSE(AppendHistory(temp / "no/folder/history.jsonl", {}, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST(History, ARowShowsCommandResultStepVersionsCardBackupAndLog) {
    nlohmann::json entry = {{"time", "2026-01-06T21:05:31+0100"}, {"result", "failed"},
                            {"failed_step", "writing system.img"}, {"device", "/dev/ttyUSB0"},
                            {"version_before", "V1"}, {"version_after", ""},
                            {"package", "/p"}, {"log", "/l.log"}};
    EXPECT_EQ(HistoryRow(entry),
              "2026-01-06T21:05:31+0100  failed (writing system.img)  /dev/ttyUSB0  V1 -> ?  /p\n    log: /l.log");
    entry["command"] = "fwupgrade rescue --device /dev/ttyUSB0 --package /p";
    entry["esn"] = "8012A5C3";
    entry["kept_backup"] = "/k/8012A5C3/20260106T200531Z";
    EXPECT_EQ(HistoryRow(entry),
              "2026-01-06T21:05:31+0100  rescue failed (writing system.img)  /dev/ttyUSB0  V1 -> ?  /p\n"
              "    ESN 8012A5C3\n    backup: /k/8012A5C3/20260106T200531Z\n    log: /l.log");
}

TEST(RunRecord, TheStableDevicePathIsTheByIdLinkToTheSameDevice) {
    TempFolder temp;
    temp.Fill("ttyUSB3", 1);
    temp.Fill("ttyUSB4", 1);
    fs::create_directories(temp / "by-id");
    fs::create_symlink(temp / "ttyUSB4", temp / "by-id/usb-other-if00");
    fs::create_symlink(temp / "ttyUSB3", temp / "by-id/usb-vek_W326-if00");
    EXPECT_EQ(StableDevicePath(temp / "ttyUSB3", temp / "by-id"), temp / "by-id/usb-vek_W326-if00");
    EXPECT_EQ(StableDevicePath(temp / "by-id/usb-other-if00", temp / "by-id"), temp / "by-id/usb-other-if00");
    EXPECT_EQ(StableDevicePath(temp / "absent", temp / "by-id"), "");
}

TEST(RunRecord, TheEntryCarriesTheResultWordAndThePhasesInOrder) {
    RunRecord record;
    record.phases = {{"prepare", 0.5}, {"backup", 1.25}};
    record.card.versionBefore = "V1";
    RunResult result;
    result.exitStatus = 130;
    result.losses = {"lost"};
    const nlohmann::json entry = HistoryEntry(record, result);
    EXPECT_EQ(entry["result"], "interrupted");
    EXPECT_EQ(entry["version_before"], "V1");
    EXPECT_EQ(entry["losses"], nlohmann::json::array({"lost"}));
    EXPECT_EQ(entry["phases"][0]["phase"], "prepare");
    EXPECT_EQ(entry["phases"][1]["seconds"], 1.25);
    EXPECT_EQ(ResultWord(0), "ok");
    EXPECT_EQ(ResultWord(3), "rejected");
    EXPECT_EQ(ResultWord(4), "failed");
    EXPECT_EQ(ResultWord(2), "error");
}

}  // namespace
}  // namespace fwupgrade
