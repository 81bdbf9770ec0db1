// The station's decisions without a card: which appearance starts a run,
// the queue, the ports served and the stop lines, the workers' reports.
#include <gtest/gtest.h>

#include <fstream>

#include "host/fwupgrade/station/output/Board.h"
#include "host/fwupgrade/station/bus/CardRegistry.h"
#include "host/fwupgrade/station/CardRun.h"
#include "host/fwupgrade/station/bus/FirmwarePin.h"
#include "host/fwupgrade/station/bus/PortPatterns.h"
#include "host/fwupgrade/station/RunQueue.h"
#include "tests/support/TempFolder.h"

namespace fwupgrade::station {
namespace {

constexpr packet::UsbIdentity kOtherProduct{packet::kCardVendor, 0x0099};
constexpr packet::UsbIdentity kOtherVendor{0x05c6, 0x9008};

TEST(CardRegistry, TheIdentityTellsWhatACardNeeds) {
    EXPECT_EQ(NeedOf(packet::kCardFirmwareIdentity), CardNeed::Upgrade);
    EXPECT_EQ(NeedOf(packet::kCardBootDownloaderIdentity), CardNeed::Rescue);
    EXPECT_EQ(NeedOf(packet::kCardProgrammerIdentity), CardNeed::Rescue);
    EXPECT_EQ(NeedOf(kOtherProduct), CardNeed::NotSupported);
    EXPECT_EQ(NeedOf(kOtherVendor), CardNeed::NotSupported);
}

TEST(CardRegistry, ARunsOwnRestartsBelongToItAndAFinishedCardIsNotTakenAgainUntilItLeaves) {
    CardRegistry registry;
    EXPECT_EQ(registry.Appeared("1-1.2", packet::kCardFirmwareIdentity), Arrival::NewCard);
    EXPECT_EQ(registry.Appeared("1-1.2", packet::kCardFirmwareIdentity), Arrival::SameRun) << "still queued";
    registry.Started("1-1.2");
    // Boot downloader, programmer, new firmware: each a leave and a return.
    for (auto identity : {packet::kCardBootDownloaderIdentity, packet::kCardProgrammerIdentity,
                          packet::kCardFirmwareIdentity}) {
        EXPECT_FALSE(registry.Left("1-1.2"));
        EXPECT_EQ(registry.Appeared("1-1.2", identity), Arrival::SameRun);
    }
    EXPECT_EQ(registry.NeedAt("1-1.2"), CardNeed::Upgrade);
    EXPECT_FALSE(registry.Finished("1-1.2")) << "the card is still plugged in";
    EXPECT_EQ(registry.Appeared("1-1.2", packet::kCardFirmwareIdentity), Arrival::AlreadyKnown);
    EXPECT_TRUE(registry.Left("1-1.2"));
    EXPECT_FALSE(registry.Has("1-1.2"));
    EXPECT_EQ(registry.Appeared("1-1.2", packet::kCardProgrammerIdentity), Arrival::NewCard);
    EXPECT_EQ(registry.NeedAt("1-1.2"), CardNeed::Rescue);
}

TEST(CardRegistry, ACardPulledDuringItsRunFreesItsPortWhenTheRunEnds) {
    CardRegistry registry;
    registry.Appeared("1-1.2", packet::kCardFirmwareIdentity);
    registry.Started("1-1.2");
    EXPECT_FALSE(registry.Left("1-1.2"));
    EXPECT_TRUE(registry.Finished("1-1.2"));
    EXPECT_EQ(registry.Appeared("1-1.2", packet::kCardFirmwareIdentity), Arrival::NewCard);
}

TEST(CardRegistry, OtherProductsAreIgnoredForAsLongAsTheyStay) {
    CardRegistry registry;
    EXPECT_EQ(registry.Appeared("1-3", kOtherVendor), Arrival::NotSupported);
    EXPECT_EQ(registry.StateOf("1-3"), PortState::Ignored);
    EXPECT_EQ(registry.Appeared("1-3", kOtherVendor), Arrival::AlreadyKnown);
    EXPECT_TRUE(registry.Left("1-3"));
    EXPECT_EQ(registry.Appeared("1-3", packet::kCardFirmwareIdentity), Arrival::NewCard);
}

TEST(RunQueue, CardsStartInTheOrderTheyCameAndNoMoreThanTheCapAtOnce) {
    RunQueue queue(2);
    for (const char* port : {"a", "b", "c", "d"}) queue.Add(port);
    queue.Add("a");
    EXPECT_EQ(queue.TakeReady(), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(queue.TakeReady().empty());
    EXPECT_EQ(queue.WaitingCount(), 2u);
    queue.Done("b");
    EXPECT_EQ(queue.TakeReady(), (std::vector<std::string>{"c"}));
    EXPECT_TRUE(queue.Remove("d"));
    EXPECT_FALSE(queue.Remove("d"));
    EXPECT_FALSE(queue.Remove("a")) << "running, not waiting";
    EXPECT_EQ(queue.RunningCount(), 2u);
}

TEST(RunQueue, AfterStopTakingTheWaitingCardsAreDroppedAndNoneStarts) {
    RunQueue queue(1);
    queue.Add("a");
    queue.Add("b");
    queue.TakeReady();
    EXPECT_EQ(queue.StopTaking(), (std::vector<std::string>{"b"}));
    queue.Add("c");
    queue.Done("a");
    EXPECT_TRUE(queue.TakeReady().empty());
    EXPECT_FALSE(queue.Taking());
    EXPECT_EQ(RunQueue(0).TakeReady().size(), 0u);
}

TEST(PortPatterns, PatternsTakeShellWildcardsAndNoneServesEveryPort) {
    EXPECT_TRUE(PortServed({}, "3-1"));
    EXPECT_TRUE(PortServed({"1-1.*"}, "1-1.4"));
    EXPECT_FALSE(PortServed({"1-1.*"}, "1-1"));
    EXPECT_FALSE(PortServed({"1-1.*"}, "2-1.4"));
    EXPECT_TRUE(PortServed({"1-1.*", "2-1"}, "2-1"));
}

TEST(PortPatterns, OnlyAStopWithOnePortIsTaken) {
    std::string error;
    EXPECT_EQ(PortToStop("stop 1-1.2", error), "1-1.2");
    EXPECT_EQ(PortToStop("  stop   1-1.2  ", error), "1-1.2");
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(PortToStop("", error), "");
    EXPECT_TRUE(error.empty()) << "an empty line is no mistake";
    for (const char* wrong : {"stop", "halt 1-1.2", "stop 1-1.2 1-1.3"}) {
        error.clear();
        EXPECT_EQ(PortToStop(wrong, error), "") << wrong;
        EXPECT_NE(error.find("stop <usb port>"), std::string::npos) << wrong;
    }
}

TEST(WorkerReports, StepsProgressAndResultsAreReadAndTheRestIsLeftOut) {
    auto step = ReportOfLine(R"({"event":"step","step":"images","words":"writing the images"})");
    ASSERT_TRUE(step);
    EXPECT_EQ(step->kind, WorkerReport::Kind::Step);
    EXPECT_EQ(step->step, "writing the images");
    auto progress = ReportOfLine(R"({"event":"progress","percent":45,"step":"writing system.img","left":12.5})");
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->percent, 45);
    EXPECT_EQ(progress->step, "writing system.img");
    EXPECT_DOUBLE_EQ(progress->secondsLeft, 12.5);
    auto card = ReportOfLine(R"({"event":"card","esn":"8A3F0021","version":"LUM_W326V1.0.0B05"})");
    ASSERT_TRUE(card);
    EXPECT_EQ(card->kind, WorkerReport::Kind::Card);
    EXPECT_EQ(card->esn, "8A3F0021");
    EXPECT_EQ(card->version, "LUM_W326V1.0.0B05");
    auto result = ReportOfLine(R"({"event":"result","exit":4,"headline":"The upgrade failed."})");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->kind, WorkerReport::Kind::Result);
    for (const char* other : {R"({"event":"notice","text":"x"})", R"({"event":"card","version":"x"})", "not json", "[1,2]", "COM1 is /dev/ttyUSB0"})
        EXPECT_FALSE(ReportOfLine(other)) << other;
}

TEST(FirmwarePin, AKeptPinIsReadBackForItsPortOnlyAndBadBytesAreRefusedWithTheReason) {
    test_support::TempFolder folder;
    const std::string path = folder.path() + "/firmware-pin";
    std::string problem;
    EXPECT_FALSE(KeptFirmwarePin(folder.path(), "1-1.2", problem));
    EXPECT_EQ(problem, "") << "none kept is no problem";
    std::string error;
    ASSERT_TRUE(KeepFirmwarePin(folder.path(), "1-1.2:1.1", error)) << error;
    EXPECT_EQ(KeptFirmwarePin(folder.path(), "1-1.2", problem), std::optional<std::string>("1-1.2:1.1")) << problem;
    EXPECT_FALSE(KeptFirmwarePin(folder.path(), "1-1.3", problem));
    EXPECT_NE(problem.find("not an interface of USB port 1-1.3"), std::string::npos) << problem;
    for (const std::string& bad : {std::string("1-1.2:1.1"), std::string("1-1.2\n"), std::string("\xff\x01junk\n"),
                                  std::string(100, '1') + "\n"}) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bad;
        EXPECT_FALSE(KeptFirmwarePin(folder.path(), "1-1.2", problem)) << bad;
        EXPECT_NE(problem.find(path), std::string::npos) << problem;
    }
}

TEST(Board, AResultSetsTheRowAndTheTotals) {
    Board board;
    board.At("a").state = RowState::Running;
    board.At("b").state = RowState::Waiting;
    RunResult failed;
    failed.exitStatus = 4;
    failed.headline = "The upgrade failed.";
    failed.reasonLine = "the card did not answer";
    failed.rescueCommand = "fwupgrade rescue --usb-port c:1.1 --package /p";
    failed.keptBackup = "/home/u/.local/share/fwupgrade/backups/8A3F0021/20261209T061500Z";
    board.Record("c", failed);
    RunResult done;
    board.Record("d", done);
    const Row& row = *board.Find("c");
    EXPECT_EQ(row.state, RowState::Failed);
    EXPECT_EQ(row.reason, "the card did not answer");
    EXPECT_EQ(row.command, failed.rescueCommand);
    EXPECT_EQ(row.esn, "8A3F0021");
    EXPECT_EQ(board.Find("d")->state, RowState::Done);
    const Totals totals = board.Count();
    EXPECT_EQ(totals.flashed, 1u);
    EXPECT_EQ(totals.failed, 1u);
    EXPECT_EQ(totals.running, 1u);
    EXPECT_EQ(totals.waiting, 1u);
    EXPECT_EQ(board.Order(), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST(Board, OnlyAKeptBackupFolderNamesAnEsn) {
    EXPECT_EQ(EsnOfKeptBackup("/d/fwupgrade/backups/8A3F0021/20261209T061500Z"), "8A3F0021");
    EXPECT_EQ(EsnOfKeptBackup("/d/fwupgrade/elsewhere/8A3F0021/20261209T061500Z"), "");
    EXPECT_EQ(EsnOfKeptBackup(""), "");
    EXPECT_EQ(EsnOfKeptBackup("/x"), "");
}

}  // namespace
}  // namespace fwupgrade::station
