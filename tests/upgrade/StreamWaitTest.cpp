// The waits and the raw-block loop of image streaming, on a scripted port:
// how status reports and block-written answers are classified, and that a
// block the card never takes fails the image instead of being skipped.
#include <gtest/gtest.h>

#include <algorithm>

#include "TraceCapture.h"
#include "packet/Packet.h"
#include "tests/support/ScriptedPort.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestClocks.h"
#include "upgrade/run/UpgradeModule.h"
#include "upgrade/flashing/StreamFormat.h"
#include "upgrade/run/UpgradeInternal.h"

using namespace upgrade;
using namespace upgrade_test;
using namespace test_support;

namespace {

inline Bytes StatusReport(uint8_t a, uint8_t b) { return Frame({0x1E, a, b, 0, 0}, true); }
inline Bytes BlockWritten(uint32_t address) {
    return Frame({0x08, uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24)}, true);
}

class StreamWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClock(&clock_);
        platform::SetComPortOpener(&opener_);
        ASSERT_TRUE(packet_.Open(3));
        folder_.WritePattern("partition_vek.mbn", 300, 9);
        module_.Images().SetVendorPartitionPath(folder_.WideFile("partition_vek.mbn"));
        peer_->writes.clear();
        clock_.ClearPauses();
    }
    void TearDown() override {
        packet_.Close();
        platform::SetComPortOpener(nullptr);
        platform::SetClock(nullptr);
    }
    void Inbound(const Bytes& bytes) { peer_->Send(bytes); }
    // Answers for the announcement and the partition header block.
    void ScriptImageStart() {
        peer_->Answer(StatusReport(1, 0));
        peer_->Answer(Concat(StatusReport(0, 1), StatusReport(1, 0)));
    }
    size_t CountPauses(uint32_t ms) {
        const auto pauses = clock_.Pauses();
        return size_t(std::count(pauses.begin(), pauses.end(), ms));
    }

    platform::RecordingClock clock_;
    std::shared_ptr<ScriptedPeer> peer_ = std::make_shared<ScriptedPeer>(clock_);
    ScriptedOpener opener_{peer_};
    TempFolder folder_;
    TraceCapture trace_;
    std::vector<int> progress_;
    UpgradeModule module_{[this](int percent) { progress_.push_back(percent); }};
    packet::CPacket packet_;
};

TEST_F(StreamWaitTest, StatusReportsAreClassified) {
    Inbound(StatusReport(1, 7));
    EXPECT_EQ(WaitStatusReport(packet_), StatusWait::Ready);
    EXPECT_FALSE(packet_.PendingStatusReport()) << "a ready report is taken";

    Inbound(StatusReport(0, 5));
    EXPECT_EQ(WaitStatusReport(packet_), StatusWait::CheckPassed);
    EXPECT_FALSE(packet_.PendingStatusReport());
    Inbound(StatusReport(0, 0));
    EXPECT_EQ(WaitStatusReport(packet_), StatusWait::CheckFailed);

    Inbound(StatusReport(2, 0));
    EXPECT_EQ(WaitStatusReport(packet_), StatusWait::None);
    ASSERT_TRUE(packet_.PendingStatusReport()) << "an unknown report stays in place";
    EXPECT_EQ(packet_.PendingStatusReport()->stage, 2);
    EXPECT_EQ(WaitStatusReport(packet_), StatusWait::None);
    EXPECT_TRUE(clock_.Pauses().empty());
}

TEST_F(StreamWaitTest, SilentCardEndsTheWaitsAfterTheirPolls) {
    EXPECT_EQ(WaitStatusReport(packet_), StatusWait::None);
    EXPECT_EQ(CountPauses(10), 2000u);
    clock_.ClearPauses();
    EXPECT_EQ(WaitBlockAck(module_.Reporter(), packet_, 40), AckWait::TimedOut);
    EXPECT_EQ(CountPauses(10), 1000u);
    EXPECT_TRUE(progress_.empty());
}

TEST_F(StreamWaitTest, BlockAcknowledgementReportsTheProgressAboveLow) {
    Inbound(Concat(StatusReport(0, 1), BlockWritten(0x21000)));
    EXPECT_EQ(WaitBlockAck(module_.Reporter(), packet_, 40), AckWait::Acknowledged);
    EXPECT_EQ(progress_, (std::vector<int>{41}));

    Inbound(StatusReport(0, 0));
    EXPECT_EQ(WaitBlockAck(module_.Reporter(), packet_, 40), AckWait::Resend);
}

TEST_F(StreamWaitTest, ReadyReportDuringABlockWaitStaysForTheNextWaits) {
    Inbound(StatusReport(1, 0));
    EXPECT_EQ(WaitBlockAck(module_.Reporter(), packet_, 40), AckWait::EndedByReport);
    EXPECT_TRUE(packet_.PendingStatusReport());
    clock_.ClearPauses();
    EXPECT_EQ(WaitStatusReport(packet_), StatusWait::Ready);
    EXPECT_TRUE(clock_.Pauses().empty()) << "the kept report answers the first poll";
}

TEST_F(StreamWaitTest, BlocksGoOutWithOffsetDataAndChecksum) {
    // One full block and one of a single 0xFF byte.
    std::vector<uint8_t> image(kRawBlockSize + 1, 0x11);
    image.back() = 0xFF;
    folder_.WriteBytes("system.img", image);
    ScriptImageStart();
    peer_->Answer(BlockWritten(0));
    peer_->Answer(BlockWritten(kRawBlockSize));
    ASSERT_TRUE(module_.Writer().WindowsDownloadHS(packet_, folder_.WideFile("system.img"), 0x15, 28, 90));

    const std::vector<Bytes>& writes = peer_->writes;
    ASSERT_EQ(writes.size(), 4u) << "announcement, header block, two data blocks and no close";
    ASSERT_EQ(writes[1].size(), kPartitionHeaderBlockSize);
    EXPECT_EQ(writes[1][0], 0x14);
    EXPECT_EQ(writes[2].size(), kRawBlockSize + 8);
    EXPECT_EQ(writes[3], (Bytes{0x00, 0x10, 0x02, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(progress_, (std::vector<int>{28 + 9 + 1, 28 + 31 + 9 + 1}));
}

TEST_F(StreamWaitTest, BlockNeitherAcknowledgedNorReportedFailsTheImage) {
    folder_.WritePattern("boot.img", 2 * kRawBlockSize);
    ScriptImageStart();
    EXPECT_FALSE(module_.Writer().WindowsDownloadHS(packet_, folder_.WideFile("boot.img"), 0x14, 26, 28));
    EXPECT_EQ(peer_->writes.size(), 3u) << "the second block is never sent";
    EXPECT_TRUE(trace_.ContainsPart("boot.img: the block at offset 0 was neither acknowledged nor reported"));
}

TEST_F(StreamWaitTest, ReportThatEndsABlockWaitMovesOn) {
    folder_.WritePattern("boot.img", 2 * kRawBlockSize);
    ScriptImageStart();
    peer_->Answer(StatusReport(1, 0));
    peer_->Answer(BlockWritten(kRawBlockSize));
    EXPECT_TRUE(module_.Writer().WindowsDownloadHS(packet_, folder_.WideFile("boot.img"), 0x14, 26, 28));
    EXPECT_EQ(peer_->writes.size(), 4u);
}

TEST_F(StreamWaitTest, BlockRefusedAgainAndAgainIsBounded) {
    folder_.WritePattern("recovery.img", 1000);
    ScriptImageStart();
    for (int i = 0; i < 30; ++i) peer_->Answer(StatusReport(0, 0));
    EXPECT_FALSE(module_.Writer().WindowsDownloadHS(packet_, folder_.WideFile("recovery.img"), 0x17, 95, 96));
    EXPECT_EQ(peer_->writes.size(), 2u + 1u + size_t(kMaxBlockResends));
    EXPECT_TRUE(trace_.ContainsPart("recovery.img: the block at offset 0 was refused 11 times"));
    // Every resend carries the same bytes.
    for (size_t i = 3; i < peer_->writes.size(); ++i) EXPECT_EQ(peer_->writes[i], peer_->writes[2]);
}

TEST_F(StreamWaitTest, ResentBlockIsThenFlashed) {
    folder_.WritePattern("oemsbl.mbn", 500);
    folder_.WritePattern("oemsblhd.mbn", 40);
    peer_->Answer(Frame({0x1C}, true));   // open acknowledged
    ScriptImageStart();
    peer_->Answer(StatusReport(0, 0));
    peer_->Answer(BlockWritten(0));
    peer_->Answer(Frame({0x16}, true));   // close acknowledged
    EXPECT_TRUE(module_.Writer().WindowsDownloadwithHeaderHS(packet_, folder_.WideFile("oemsblhd.mbn"),
                                                    folder_.WideFile("oemsbl.mbn"), 0x04, 13, 14));
    ASSERT_EQ(peer_->writes.size(), 6u);
    EXPECT_EQ(peer_->writes[3], peer_->writes[4]);
    EXPECT_EQ(progress_, (std::vector<int>{14}));
}

TEST_F(StreamWaitTest, OversizeHeaderIsRefusedBeforeAnythingIsSent) {
    folder_.WritePattern("amsshd.mbn", kCommandPayloadCapacity + 1);
    folder_.WritePattern("amss.mbn", 500);
    EXPECT_FALSE(module_.Writer().WindowsDownloadwithHeaderHS(packet_, folder_.WideFile("amsshd.mbn"),
                                                     folder_.WideFile("amss.mbn"), 0x05, 14, 25));
    EXPECT_TRUE(peer_->writes.empty());
    EXPECT_TRUE(trace_.ContainsPart("1025 bytes, more than the 1024-byte command payload"));
}

TEST_F(StreamWaitTest, EraseSendsOnlyTheEmptyAnnouncementAndTheHeaderBlock) {
    ScriptImageStart();
    EXPECT_TRUE(module_.Writer().EraseSector(packet_, "misc.img"));
    ASSERT_EQ(peer_->writes.size(), 2u);
    EXPECT_EQ(peer_->writes[1][0], 0x17);
}

}  // namespace
