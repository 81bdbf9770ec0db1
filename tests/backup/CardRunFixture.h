// Whole runs through message 1025 against the virtual card on the recording
// clock: the ground for the tests of runs that fail, their retries and
// rescues.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/TestClocks.h"
#include "tests/support/WholeRunFixture.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"
#include "upgrade/backup/BackupStore.h"

namespace backup_test {

namespace fs = std::filesystem;
constexpr int32_t kPort = 7;
constexpr uint32_t kOtherEsn = 0x11223344;

enum class CardKind { Q7k, NeedsOverride };

inline std::string KindName(const ::testing::TestParamInfo<CardKind>& info) {
    return info.param == CardKind::Q7k ? "Q7k" : "NotQ7kWithOverride";
}

inline sim::FaultPlan Faults(std::initializer_list<const char*> rules) {
    sim::FaultPlan plan;
    for (const char* rule : rules) plan.rules.push_back(sim::ParseFaultOption(rule));
    return plan;
}

class CardRunFixture : public test_support::WholeRunFixture {
protected:
    void SetUp() override { Enter(clock_, opener_); }

    // A Q7k card on a package of its own layout, or an ordinary card on a
    // package whose partition table the card must be told to override.
    void Prepare(CardKind kind) {
        sim::PackageOptions options;
        original_ = sim::DefaultCardData();
        if (kind == CardKind::NeedsOverride) {
            options.newPartitionLayout = true;
            options.version = "LUM_W326V1.0.0B06";
            original_.version = "LUM_W326V1.0.0B05";
        }
        std::string error;
        ASSERT_TRUE(sim::MakePackage(Package(), options, error)) << error;
        expected_ = original_;
        // A Q7k card gets item 96 cleared before its backup: that is its data from then on.
        if (kind == CardKind::Q7k) expected_.nv.at(96).data.fill(0);
    }

    std::string Package() const { return work_ / "package"; }
    std::u16string RecordPath() const { return platform::Utf8ToWide(Package() + "/backup-record.txt"); }

    std::shared_ptr<sim::Card> Plug(sim::CardData data, sim::FaultPlan faults = {}) {
        card_ = sim::MakeCard(std::move(data), sim::CardTiming{}, std::move(faults));
        opener_.Attach(kPort, card_);
        return card_;
    }
    // The same card taken out and plugged in again: what it holds stays.
    void Replug() { Plug(card_->Data()); }

    int32_t Run() {
        session_->Log().Clear();
        return session_->RunUpgrade(kPort, platform::Utf8ToWide(Package())).result;
    }
    bool Logged(const std::string& part) const {
        for (const std::u16string& m : session_->Log().Messages())
            if (platform::WideToUtf8(m).find(part) != std::string::npos) return true;
        return false;
    }

    upgrade::BackupRecord Record() const {
        upgrade::BackupRecord record;
        std::string error;
        EXPECT_EQ(upgrade::ReadBackupRecord(RecordPath(), record, error), upgrade::RecordRead::Read) << error;
        return record;
    }

    // The card holds the NV items, Wi-Fi address and lock files it had
    // before the first run.
    void ExpectOriginalData() const {
        const sim::CardData& now = card_->Data();
        EXPECT_EQ(now.wifi, expected_.wifi);
        EXPECT_EQ(now.efsFiles, expected_.efsFiles);
        for (const auto& [item, nv] : expected_.nv) {
            if (!nv.inactive) {
                EXPECT_EQ(now.nv.at(item).data, nv.data) << "NV item " << item;
            }
        }
        EXPECT_FALSE(card_->LockAccessEnabled());
    }

    // The retry ends with 0, names the backup it restores from, gives the
    // card its data back and leaves nothing pending.
    void RetryRestoresTheOriginalData() {
        ASSERT_EQ(Run(), 0);
        EXPECT_TRUE(Logged("that an earlier run left pending")) << "the retry names the backup it restores from";
        EXPECT_TRUE(card_->RunningNewFirmware()) << "the retry wrote cefs and reset the card";
        const sim::FlashCheck check = sim::CheckFlashAgainstPackage(card_->Data(), Package(), true);
        EXPECT_TRUE(check.ok) << ::testing::PrintToString(check.problems);
        ExpectOriginalData();
        const upgrade::BackupRecord record = Record();
        EXPECT_FALSE(record.RestorePending());
        EXPECT_TRUE(record.restored);
        EXPECT_EQ(record.nvRestore, upgrade::RestoreResult::Done);
        EXPECT_EQ(record.wifiRestore, upgrade::RestoreResult::Done);
        for (const upgrade::RecordedLockFile& entry : record.lockFiles)
            EXPECT_EQ(entry.restore, upgrade::RestoreResult::Done) << platform::WideToUtf8(entry.path);
        ExpectKeptReadWhilePending(record.time);
    }

    // What the retry read from the wiped card is kept apart, marked.
    void ExpectKeptReadWhilePending(const std::string& pendingTime) const {
        int marked = 0;
        for (const upgrade::KeptBackup& kept : upgrade::ListKeptBackups(original_.esn))
            marked += kept.record.readWhilePending == pendingTime;
        EXPECT_EQ(marked, 1);
    }

    platform::RecordingClock clock_;
    sim::InProcessPortOpener opener_;
    std::shared_ptr<sim::Card> card_;
    sim::CardData original_;
    sim::CardData expected_;
};


}  // namespace backup_test
