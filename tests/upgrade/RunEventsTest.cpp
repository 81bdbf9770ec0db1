// The card operations export against the virtual card: the events of a
// whole run (one step per progress anchor, in order), and the outcome of
// each kind of failure: its step, its reason, the card's last state and how
// the card is brought back.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "module/CardOperationsApi.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"
#include "tests/support/PassThroughFileSystem.h"
#include "tests/support/TestClocks.h"
#include "tests/support/WholeRunFixture.h"
#include "upgrade/run/ProgressAnchors.h"

namespace {

constexpr int32_t kPort = 7;

struct Recorded {
    std::vector<int32_t> steps;
    std::vector<std::pair<int32_t, int32_t>> stepOfPercent;   // each progress value and the step it came in
    std::vector<int32_t> percents;
    std::vector<FwupLoss> losses;
    std::vector<std::string> lossPaths;
    int outcomes = 0;
    FwupOutcome outcome{};
    std::string keptBackup, recoveryPackage, recoveryFrom;
    std::vector<uint32_t> cardEsns;
    std::string cardVersion;
    std::vector<int32_t> stepsBeforeCard;   // the steps entered when the card was named
};

void Record(const FwupEvent* event, void* context) {
    Recorded& r = *static_cast<Recorded*>(context);
    switch (event->kind) {
        case FWUP_EVENT_STEP:
            r.steps.push_back(event->step);
            break;
        case FWUP_EVENT_PROGRESS:
            r.percents.push_back(event->percent);
            r.stepOfPercent.push_back({r.steps.empty() ? -1 : r.steps.back(), event->percent});
            break;
        case FWUP_EVENT_LOSS:
            r.losses.push_back(event->loss);
            r.lossPaths.push_back(event->loss.lockFile);
            break;
        case FWUP_EVENT_CARD:
            r.cardEsns.push_back(event->card.esn);
            r.cardVersion = event->card.softwareVersion;
            r.stepsBeforeCard = r.steps;
            break;
        case FWUP_EVENT_OUTCOME:
            ++r.outcomes;
            r.outcome = event->outcome;
            r.keptBackup = event->outcome.keptBackup;
            r.recoveryPackage = event->outcome.recoveryPackage;
            r.recoveryFrom = event->outcome.recoveryFrom;
            break;
    }
}

class RunEvents : public test_support::WholeRunFixture {
protected:
    void SetUp() override {
        Enter(clock_, opener_);
        operations_ = FwupCardOperations(FWUP_CARD_OPERATIONS_VERSION);
        ASSERT_NE(operations_, nullptr);
        options_.port = kPort;
        options_.onEvent = &Record;
        options_.context = &recorded_;
    }

    void Package() {
        std::string error;
        ASSERT_TRUE(sim::MakePackage(PackagePath(), {}, error)) << error;
    }
    std::string PackagePath() const { return work_ / "package"; }
    void Plug(std::initializer_list<const char*> rules = {}, sim::CardData data = sim::DefaultCardData()) {
        sim::FaultPlan plan;
        for (const char* rule : rules) plan.rules.push_back(sim::ParseFaultOption(rule));
        card_ = sim::MakeCard(std::move(data), sim::CardTiming{}, std::move(plan));
        opener_.Attach(kPort, card_);
    }
    int32_t Upgrade() { return operations_->upgrade(&options_, PackagePath().c_str()); }

    // Stops the run when it enters `step`.
    void CancelAt(int32_t step) {
        cancelStep_ = step;
        options_.cancelRequested = [](void* context) {
            const auto* self = static_cast<RunEvents*>(context);
            return self->recorded_.steps.empty() || self->recorded_.steps.back() != self->cancelStep_ ? 0 : 1;
        };
        options_.context = this;
        options_.onEvent = [](const FwupEvent* event, void* context) {
            Record(event, &static_cast<RunEvents*>(context)->recorded_);
        };
    }

    platform::RecordingClock clock_;
    sim::InProcessPortOpener opener_;
    std::shared_ptr<sim::Card> card_;
    const FwupCardOperationTable* operations_ = nullptr;
    FwupOptions options_{};
    Recorded recorded_;
    int32_t cancelStep_ = -1;
};

TEST(CardOperationsExport, AnswersItsOwnVersionAndTheEarlierOneOnly) {
    const FwupCardOperationTable* table = FwupCardOperations(FWUP_CARD_OPERATIONS_VERSION);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->version, FWUP_CARD_OPERATIONS_VERSION);
    EXPECT_NE(table->rescueWithoutData, nullptr);
    EXPECT_EQ(FwupCardOperations(0), nullptr);
    EXPECT_EQ(FwupCardOperations(FWUP_CARD_OPERATIONS_VERSION + 1), nullptr);
    EXPECT_EQ(table->upgrade(nullptr, "."), -1);
    // A version 1 front-end gets the operations it knows, in their places.
    const FwupCardOperationTable* first = FwupCardOperations(1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->version, 1u);
    EXPECT_EQ(first->rescue, table->rescue);
    EXPECT_EQ(first->rescueWithoutData, nullptr);
}

TEST_F(RunEvents, AWholeRunEntersEachStepOnceAtItsAnchor) {
    Package();
    Plug();
    ASSERT_EQ(Upgrade(), 0);
    EXPECT_EQ(recorded_.steps, (std::vector<int32_t>{FWUP_STEP_PREPARE, FWUP_STEP_BACKUP, FWUP_STEP_SWITCH,
                                                     FWUP_STEP_IMAGES, FWUP_STEP_RESET, FWUP_STEP_RESTORE}));
    // A step's progress stays between its anchor and the next one; the value
    // of an anchor itself may come on either side of the boundary.
    const int anchors[] = {0, upgrade::kProgressBackup, upgrade::kProgressSwitch, upgrade::kProgressImages,
                           upgrade::kProgressReset, upgrade::kProgressRestore, 100};
    for (const auto& [step, percent] : recorded_.stepOfPercent) {
        ASSERT_GE(step, 0) << "progress " << percent << " before the first step";
        EXPECT_GE(percent, anchors[step]) << "step " << step;
        EXPECT_LE(percent, anchors[step + 1]) << "step " << step;
    }
    EXPECT_EQ(recorded_.percents.back(), 100);
    // The default card keeps some items inactive or read-only: skipped by design, nothing else.
    for (const FwupLoss& loss : recorded_.losses) {
        EXPECT_EQ(loss.kind, FWUP_LOSS_NV_ITEM);
        EXPECT_EQ(loss.reason, FWUP_LOSS_KEPT_BY_CARD) << loss.nvItem;
        EXPECT_TRUE(loss.nvStatus >= 5 && loss.nvStatus <= 7) << loss.nvItem << ": " << loss.nvStatus;
    }
    ASSERT_EQ(recorded_.outcomes, 1);
    EXPECT_EQ(recorded_.outcome.result, 0);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_NONE);
    EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_FIRMWARE);
    EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_NONE);
    EXPECT_EQ(recorded_.outcome.esnKnown, 1);
    EXPECT_TRUE(std::filesystem::is_directory(recorded_.keptBackup)) << recorded_.keptBackup;
}

TEST_F(RunEvents, TheCardIsNamedOnceAsSoonAsItsEsnIsReadLongBeforeTheOutcome) {
    Package();
    sim::CardData data = sim::DefaultCardData();
    data.esn = 0x5A17C0DE;
    data.version = sim::kOtherVersion;
    Plug({}, data);
    ASSERT_EQ(Upgrade(), 0);
    EXPECT_EQ(recorded_.cardEsns, std::vector<uint32_t>{0x5A17C0DE});
    EXPECT_EQ(recorded_.cardVersion, sim::kOtherVersion);
    // In the backup, before the card leaves its firmware.
    EXPECT_EQ(recorded_.stepsBeforeCard, (std::vector<int32_t>{FWUP_STEP_PREPARE, FWUP_STEP_BACKUP}));
}

TEST_F(RunEvents, ARejectedPackageIsAPackageFailureBeforeTheCard) {
    EXPECT_EQ(Upgrade(), -13313);
    EXPECT_EQ(recorded_.outcome.result, -13313);
    EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_PREPARE);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_PACKAGE);
    EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_UNKNOWN);
    EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_NONE);
}

TEST_F(RunEvents, NoCardIsNoAnswer) {
    Package();
    EXPECT_EQ(Upgrade(), -13314);
    EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_PREPARE);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_NO_ANSWER);
    EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_UNKNOWN);
    EXPECT_TRUE(recorded_.cardEsns.empty());
}

TEST_F(RunEvents, AnItemTheCardRefusesToReadStopsTheRunWithTheCardUnchanged) {
    Package();
    Plug({"nv_refuse:item=453,command=0x26,count=0"});
    EXPECT_EQ(Upgrade(), -13314);
    EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_PREPARE);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_REFUSED);
    EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_FIRMWARE);
    EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_NONE);
}

TEST_F(RunEvents, AStopBeforeTheSwitchLeavesTheCardInItsFirmware) {
    Package();
    Plug();
    CancelAt(FWUP_STEP_SWITCH);
    EXPECT_EQ(Upgrade(), -13314);
    EXPECT_EQ(recorded_.steps.back(), FWUP_STEP_SWITCH);
    EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_SWITCH);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_INTERRUPTED);
    EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_FIRMWARE);
    EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_NONE);
    EXPECT_EQ(card_->ModeChanges(), 0u);
}

TEST_F(RunEvents, AStopAmongTheImagesNeedsARescueFromTheKeptBackup) {
    Package();
    Plug();
    CancelAt(FWUP_STEP_IMAGES);
    EXPECT_EQ(Upgrade(), -13314);
    EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_IMAGES);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_INTERRUPTED);
    EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_FLASH_PROGRAMMER);
    EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_RESCUE);
    EXPECT_EQ(recorded_.recoveryPackage, PackagePath());
    EXPECT_FALSE(recorded_.keptBackup.empty());
    EXPECT_EQ(recorded_.recoveryFrom, recorded_.keptBackup);
}

TEST_F(RunEvents, AProgrammerThatNeverAnswersIsNoAnswerInTheSwitch) {
    Package();
    Plug({"silence:mode=programmer,count=0"});
    EXPECT_EQ(Upgrade(), -13314);
    EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_SWITCH);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_NO_ANSWER);
    EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_BOOT_DOWNLOADER);
    EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_RESCUE);
}

TEST_F(RunEvents, AnNvItemRefusedOnTheWayBackIsALossAndTheRestIsNotTried) {
    Package();
    Plug({"nv_refuse:item=453,command=0x27,count=0"});
    EXPECT_EQ(Upgrade(), -13314);
    EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_RESTORE);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_REFUSED);
    EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_FIRMWARE);
    EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_RESTORE);
    EXPECT_EQ(recorded_.recoveryFrom, recorded_.keptBackup);
    ASSERT_GT(recorded_.losses.size(), 1u);
    EXPECT_EQ(recorded_.losses[0].kind, FWUP_LOSS_NV_ITEM);
    EXPECT_EQ(recorded_.losses[0].nvItem, 453u);
    EXPECT_EQ(recorded_.losses[0].reason, FWUP_LOSS_REFUSED_BY_CARD);
    size_t notTried = 0, wifi = 0, lockFiles = 0;
    for (size_t i = 1; i < recorded_.losses.size(); ++i) {
        const FwupLoss& loss = recorded_.losses[i];
        notTried += loss.reason == FWUP_LOSS_NOT_TRIED;
        wifi += loss.kind == FWUP_LOSS_WIFI_ADDRESS;
        if (loss.kind == FWUP_LOSS_LOCK_FILE) {
            ++lockFiles;
            EXPECT_NE(recorded_.lossPaths[i].find("vek"), std::string::npos) << recorded_.lossPaths[i];
        }
    }
    EXPECT_EQ(notTried, recorded_.losses.size() - 1);
    EXPECT_EQ(wifi, 1u);
    EXPECT_GE(lockFiles, 1u);
}

// The real file system, except that a backup file (or its temporary name)
// cannot be created, as in a folder this computer cannot write.
class NoBackupFile : public test_support::PassThroughFileSystem {
public:
    explicit NoBackupFile(std::u16string name) : name_(std::move(name)) {
        platform::SetFileSystem(this);
    }
    ~NoBackupFile() override { platform::SetFileSystem(nullptr); }
    int refused = 0;

    std::unique_ptr<platform::FileHandle> CreateWrite(const std::u16string& path) override {
        if (path.find(name_) == std::u16string::npos) return Real().CreateWrite(path);
        ++refused;
        return nullptr;
    }

private:
    std::u16string name_;
};

TEST_F(RunEvents, ABackupFileThisComputerCannotWriteIsAFileSystemFailureNotTheCards) {
    Package();
    for (const char16_t* name : {u"channel.nvm", u"VEKLock"}) {
        SCOPED_TRACE(platform::WideToUtf8(name));
        Plug();
        recorded_ = Recorded{};
        const NoBackupFile disk(name);
        EXPECT_EQ(Upgrade(), -13314);
        EXPECT_GE(disk.refused, 1);
        EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_BACKUP);
        EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_FILE_SYSTEM);
        EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_FIRMWARE);
        EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_NONE);
        EXPECT_EQ(card_->ModeChanges(), 0u);
    }
}

TEST_F(RunEvents, AWifiAddressTheCardCannotReportIsLostAtTheBackupAndTheRunGoesOn) {
    Package();
    Plug({"wifi_unsupported:count=0"});
    EXPECT_EQ(Upgrade(), 0);
    std::vector<int32_t> wifiReasons;
    for (const FwupLoss& loss : recorded_.losses)
        if (loss.kind == FWUP_LOSS_WIFI_ADDRESS) wifiReasons.push_back(loss.reason);
    EXPECT_EQ(wifiReasons, (std::vector<int32_t>{FWUP_LOSS_UNSUPPORTED}));
}

TEST_F(RunEvents, ARescueWithoutABackupSaysSo) {
    Package();
    Plug({"silence:mode=programmer,count=0"});
    ASSERT_EQ(Upgrade(), -13314);
    std::filesystem::remove(std::filesystem::path(PackagePath()) / "backup-record.txt");
    recorded_ = Recorded{};
    card_->ClearFaults();
    EXPECT_EQ(operations_->rescue(&options_, PackagePath().c_str(), nullptr), -13314);
    EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_PREPARE);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_NO_BACKUP);
    EXPECT_EQ(recorded_.outcome.cardState, FWUP_CARD_FLASH_PROGRAMMER);
}

TEST_F(RunEvents, ARescueWithoutDataFlashesTheCardAndReportsNothingRestored) {
    Package();
    Plug({"silence:mode=programmer,count=0"});
    ASSERT_EQ(Upgrade(), -13314);
    recorded_ = Recorded{};
    card_->ClearFaults();
    ASSERT_NE(operations_->rescueWithoutData, nullptr);
    EXPECT_EQ(operations_->rescueWithoutData(&options_, PackagePath().c_str()), 0);
    EXPECT_EQ(recorded_.outcome.result, 0);
    EXPECT_EQ(recorded_.outcome.nvItemsRestored, 0u);
    EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_NONE);
    EXPECT_EQ(recorded_.steps.back(), FWUP_STEP_RESTORE) << "the card restarted into its new firmware";
    EXPECT_NE(card_->Data().wifi, sim::DefaultCardData().wifi) << "nothing put the wiped address back";
}

TEST_F(RunEvents, ARescueFromAnotherCardsBackupIsRefusedForThatReasonUnderTheCardsEsn) {
    Package();
    sim::CardData other = sim::DefaultCardData();
    other.esn = 0x11223344;
    Plug({}, other);
    std::filesystem::create_directories(work_ / "other");
    ASSERT_EQ(operations_->backup(&options_, (work_ / "other").c_str()), 0);
    const std::string otherKept = recorded_.keptBackup;
    Plug();
    recorded_ = Recorded{};
    EXPECT_EQ(operations_->rescue(&options_, PackagePath().c_str(), otherKept.c_str()), -13314);
    EXPECT_EQ(recorded_.outcome.reason, FWUP_REASON_OTHER_CARD);
    EXPECT_EQ(recorded_.outcome.failedStep, FWUP_STEP_PREPARE);
    EXPECT_EQ(recorded_.outcome.esn, card_->Data().esn);
    EXPECT_EQ(recorded_.outcome.recovery, FWUP_RECOVERY_NONE);
    EXPECT_EQ(card_->ModeChanges(), 0u);
    EXPECT_EQ(card_->Data().wifi, sim::DefaultCardData().wifi);
    EXPECT_EQ(card_->Data().efsFiles, sim::DefaultCardData().efsFiles);
    EXPECT_EQ(card_->Data().nv.at(96).data, sim::DefaultCardData().nv.at(96).data) << "not even the Q7k item";
}

TEST_F(RunEvents, ABackupIsKeptBelowTheDataFolderTheCallerChose) {
    Plug();
    const std::filesystem::path chosen = work_ / "chosen-data";
    std::filesystem::create_directories(chosen);
    const std::string folder = chosen.string();
    options_.dataFolder = folder.c_str();
    std::filesystem::create_directories(work_ / "to");
    ASSERT_EQ(operations_->backup(&options_, (work_ / "to").c_str()), 0);
    EXPECT_EQ(recorded_.steps, (std::vector<int32_t>{FWUP_STEP_PREPARE, FWUP_STEP_BACKUP}));
    EXPECT_EQ(recorded_.keptBackup.rfind((chosen / "backups").string() + "/", 0), 0u) << recorded_.keptBackup;
    EXPECT_TRUE(std::filesystem::is_directory(recorded_.keptBackup));
    EXPECT_EQ(recorded_.outcome.esn, card_->Data().esn);
    EXPECT_EQ(platform::UserDataFolder().find(u"chosen-data"), std::u16string::npos) << "only for the call";
}

TEST_F(RunEvents, TheProbeSaysWhereTheCardIs) {
    Plug();
    int32_t state = -1;
    uint32_t esn = 0;
    ASSERT_EQ(operations_->probe(&options_, &state, &esn), 0);
    EXPECT_EQ(state, FWUP_CARD_FIRMWARE);
    EXPECT_EQ(esn, card_->Data().esn);
}

}  // namespace
