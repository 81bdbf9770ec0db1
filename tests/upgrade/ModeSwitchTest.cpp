// Port handling, identification and the way into the boot downloader and the
// flash programmer, against the virtual card.
#include "CardFixture.h"

using namespace upgrade_test;

namespace {

class ModeSwitchTest : public CardFixture {};

TEST_F(ModeSwitchTest, SwitchToDownloadPausesAsTheCardNeedsAndReachesTheBootDownloader) {
    StartCard();
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    clock_.ClearPauses();
    trace_.Clear();
    EXPECT_TRUE(module_.Switch().SwitchToDownload(*packet_));
    EXPECT_TRUE(ContainsInOrder(clock_.Pauses(), {50, 50, 2000, 50, 5000}));
    EXPECT_EQ(card_->Mode(), sim::CardMode::BootDownloader);
    EXPECT_TRUE(trace_.Contains("Function: ParamRequest"));
    EXPECT_FALSE(trace_.Contains("Function: ParamRequest fail"));
    EXPECT_EQ(trace_.lines().front().function, "CFWUpgradeDataCDMA7627Module::SwitchToDownload");
    EXPECT_EQ(trace_.lines().front().message, "Current Port is 7.......");
    EXPECT_TRUE(Violations().empty()) << ::testing::PrintToString(Violations());
}

TEST_F(ModeSwitchTest, ParamRequestFailingWhileDiagnosticsAnswerSendsTheSwitchAgain) {
    // The first switch request is lost: the card stays in its firmware.
    StartCard(sim::DefaultCardData(), Faults({"silence:command=0x3A,mode=diag"}));
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    clock_.ClearPauses();
    EXPECT_TRUE(module_.Switch().SwitchToDownload(*packet_));
    EXPECT_TRUE(trace_.Contains("Function: ParamRequest fail")) << trace_.Dump();
    EXPECT_TRUE(trace_.Contains("Function: CommunicateWithMobile"));
    EXPECT_TRUE(trace_.Contains("Function: DoNoop fail"));
    EXPECT_TRUE(ContainsInOrder(clock_.Pauses(), {50, 50, 2000, 50, 5000, 200, 5000}));
    EXPECT_EQ(card_->Mode(), sim::CardMode::BootDownloader);
}

TEST_F(ModeSwitchTest, CardAlreadyInTheBootDownloaderIsAccepted) {
    StartCard();
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    ASSERT_TRUE(module_.Switch().SwitchToDownload(*packet_));
    trace_.Clear();
    EXPECT_TRUE(module_.Switch().SwitchToDownload(*packet_));
    EXPECT_TRUE(trace_.Contains("Execute SendSpc function fail"));
    EXPECT_FALSE(trace_.Contains("Function: ParamRequest fail"));
}

TEST_F(ModeSwitchTest, ReOpenGivesUpAfterFivePassesOnASilentCard) {
    StartCard(sim::DefaultCardData(), Faults({"silence:count=0"}));
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    clock_.ClearPauses();
    EXPECT_FALSE(module_.Port().ReOpenCOMPort(*packet_));
    int initLines = 0;
    int touchLines = 0;
    for (const TraceLine& line : trace_.lines()) {
        initLines += line.message == "Execute InitPort function fail";
        touchLines += line.message == "Execute TouchPort function fail";
    }
    EXPECT_EQ(initLines, 5);
    EXPECT_EQ(touchLines, 5);
    EXPECT_TRUE(ContainsInOrder(clock_.Pauses(), {500, 500, 500, 500, 500}));
}

TEST_F(ModeSwitchTest, SelectPhoneTypeFindsTheQ7kMarker) {
    sim::CardData data = sim::DefaultCardData();
    data.version = "LUM_Q7KV1.0.0B05";
    StartCard(data);
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    EXPECT_TRUE(module_.Switch().SelectPhoneType(*packet_));
    EXPECT_TRUE(module_.Data().isQ7);
    int markerLines = 0;
    for (const TraceLine& line : trace_.lines()) markerLines += line.message == "Execute  bIsQ7 = true;";
    EXPECT_EQ(markerLines, 1);
    EXPECT_TRUE(trace_.Contains("LUM_Q7KV1.0.0B05"));
    EXPECT_TRUE(trace_.Contains("Execute  GetSoftwareVersion bResult = true"));
}

TEST_F(ModeSwitchTest, SelectPhoneTypeTracesDeviceTextAsAnArgument) {
    sim::CardData data = sim::DefaultCardData();
    data.version = "W326%s%n%dQ7kV1.0.0B04";
    StartCard(data);
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    EXPECT_TRUE(module_.Switch().SelectPhoneType(*packet_));
    EXPECT_FALSE(module_.Data().isQ7) << "Q7 family, but no listed build";
    EXPECT_TRUE(trace_.Contains("W326%s%n%dQ7kV1.0.0B04"));
}

TEST_F(ModeSwitchTest, SelectPhoneTypeGivesUpAfterThreeSilentAttempts) {
    StartCard(sim::DefaultCardData(), Faults({"silence:command=0x38,count=0"}));
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    clock_.ClearPauses();
    EXPECT_FALSE(module_.Switch().SelectPhoneType(*packet_));
    EXPECT_FALSE(module_.Data().isQ7);
    EXPECT_TRUE(ContainsInOrder(clock_.Pauses(), {500, 500, 500}));
}

TEST_F(ModeSwitchTest, ProgrammerIsLoadedWholeAndGreeted) {
    StartCard();
    MakePackage();
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    ASSERT_TRUE(module_.Switch().SwitchToDownload(*packet_));
    ASSERT_TRUE(module_.Programmer().DownloadArmPrg(*packet_));
    EXPECT_EQ(card_->ProgrammerBytesLoaded(), 177376u);
    clock_.ClearPauses();
    trace_.Clear();
    EXPECT_TRUE(module_.Programmer().GoToFlashPrg(*packet_));
    EXPECT_EQ(card_->Mode(), sim::CardMode::FlashProgrammer);
    EXPECT_TRUE(ContainsInOrder(clock_.Pauses(), {5000}));
    EXPECT_FALSE(ContainsInOrder(clock_.Pauses(), {2000})) << "no recovery pass";
    EXPECT_TRUE(trace_.Contains("Execute pPacket->Nop function"));
    EXPECT_FALSE(trace_.Contains("Execute pPacket->DoNoop function"));
    EXPECT_TRUE(Violations().empty()) << ::testing::PrintToString(Violations());
}

TEST_F(ModeSwitchTest, SilentFirstHelloIsRecovered) {
    StartCard(sim::DefaultCardData(), Faults({"silence:command=0x01,mode=programmer"}));
    MakePackage();
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    ASSERT_TRUE(module_.Switch().SwitchToDownload(*packet_));
    ASSERT_TRUE(module_.Programmer().DownloadArmPrg(*packet_));
    trace_.Clear();
    EXPECT_TRUE(module_.Programmer().GoToFlashPrg(*packet_));
    EXPECT_TRUE(trace_.Contains("Execute pPacket->DoNoop function"));
    EXPECT_EQ(card_->Mode(), sim::CardMode::FlashProgrammer);
}

TEST_F(ModeSwitchTest, LostStartCommandIsSentAgain) {
    StartCard(sim::DefaultCardData(), Faults({"silence:command=0x05,mode=download"}));
    MakePackage();
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    ASSERT_TRUE(module_.Switch().SwitchToDownload(*packet_));
    ASSERT_TRUE(module_.Programmer().DownloadArmPrg(*packet_));
    trace_.Clear();
    clock_.ClearPauses();
    EXPECT_TRUE(module_.Programmer().GoToFlashPrg(*packet_)) << trace_.Dump();
    EXPECT_TRUE(trace_.Contains("Execute pPacket->Go2 function"));
    EXPECT_TRUE(ContainsInOrder(clock_.Pauses(), {5000, 2000, 5000}));
    EXPECT_EQ(card_->Mode(), sim::CardMode::FlashProgrammer);
}

TEST_F(ModeSwitchTest, MissingProgrammerFileFailsAtOnce) {
    StartCard();
    module_.Images().SetArmprgPath(package_.WideFile("absent.bin"));
    EXPECT_FALSE(module_.Programmer().DownloadArmPrg(*packet_));
    EXPECT_TRUE(trace_.Contains("Execute hReadFile.Open function fail"));
}

TEST_F(ModeSwitchTest, ProgrammerWritesAreCutAt1017Bytes) {
    StartCard();
    package_.WritePattern("prg.bin", 1018);
    module_.Images().SetArmprgPath(package_.WideFile("prg.bin"));
    ASSERT_TRUE(module_.Port().InitPort(*packet_, kCardPort));
    ASSERT_TRUE(module_.Switch().SwitchToDownload(*packet_));
    EXPECT_TRUE(module_.Programmer().DownloadArmPrg(*packet_));
    EXPECT_EQ(card_->ProgrammerBytesLoaded(), 1018u);
}

}  // namespace
