// Whole upgrade runs through message 1025, with the host kit's recording log
// and display modules on one side and the virtual card on the other, on the
// recording clock; the card's flash is then checked against the package.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "packet/Codec.h"
#include "tests/support/WholeRunFixture.h"
#include "tests/support/TestClocks.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/PackageMaker.h"


namespace {

constexpr int32_t kPort = 7;

bool ContainsInOrder(const std::vector<uint32_t>& all, const std::vector<uint32_t>& wanted) {
    size_t next = 0;
    for (uint32_t v : all)
        if (next < wanted.size() && v == wanted[next]) ++next;
    return next == wanted.size();
}

class FullRun : public test_support::WholeRunFixture {
protected:
    void SetUp() override { Enter(clock_, opener_); }

    void Package(sim::PackageOptions options = {}) {
        std::string error;
        ASSERT_TRUE(sim::MakePackage(PackagePath(), options, error)) << error;
    }
    std::string PackagePath() const { return work_ / "package"; }
    std::shared_ptr<sim::Card> Plug(sim::CardData data = sim::DefaultCardData(), sim::FaultPlan faults = {}) {
        card_ = sim::MakeCard(std::move(data), sim::CardTiming{}, std::move(faults));
        opener_.Attach(kPort, card_);
        return card_;
    }
    static sim::CardData NotQ7k() {
        sim::CardData data = sim::DefaultCardData();
        data.version = "W326V1.0.0B02";
        return data;
    }
    static sim::FaultPlan Faults(std::initializer_list<const char*> rules) {
        sim::FaultPlan plan;
        for (const char* rule : rules) plan.rules.push_back(sim::ParseFaultOption(rule));
        return plan;
    }
    int32_t Run() { return session_->RunUpgrade(kPort, platform::Utf8ToWide(PackagePath())).result; }

    std::vector<int32_t> Progress() const { return session_->Display().Percentages(); }
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const std::u16string& m : session_->Log().Messages()) out.push_back(platform::WideToUtf8(m));
        return out;
    }
    // Messages of the module's own functions (the serial and packet layers' lines left out).
    std::vector<std::string> ModuleMessages() const {
        std::vector<std::string> out;
        for (const hostkit::DecodedLogRecord& r : session_->Log().Records())
            if (platform::WideToUtf8(r.function).rfind("CFWUpgradeDataCDMA7627Module::", 0) == 0)
                out.push_back(platform::WideToUtf8(r.message));
        return out;
    }
    bool InOrder(const std::vector<std::string>& wanted) const {
        const std::vector<std::string> all = ModuleMessages();
        size_t next = 0;
        for (const std::string& m : all)
            if (next < wanted.size() && m == wanted[next]) ++next;
        return next == wanted.size();
    }
    bool Logged(const std::string& message) const {
        const std::vector<std::string> all = Messages();
        return std::find(all.begin(), all.end(), message) != all.end();
    }
    std::string Dump() const {
        std::string out;
        for (const std::string& m : ModuleMessages()) out += m + "\n";
        return out;
    }
    // The flash holds the package and the card saw no protocol fault except
    // the probes a recovery pass sends on purpose.
    void ExpectFlashMatches(bool expectCefs, const std::vector<std::string>& expectedViolations = {}) {
        const sim::FlashCheck check = sim::CheckFlashAgainstPackage(card_->Data(), PackagePath(), expectCefs);
        EXPECT_TRUE(check.ok) << ::testing::PrintToString(check.problems);
        std::vector<std::string> violations;
        for (const sim::Violation& v : card_->Violations()) violations.push_back(v.mode + ": " + v.text);
        EXPECT_EQ(violations, expectedViolations);
    }
    static bool Increasing(const std::vector<int32_t>& values) {
        return std::is_sorted(values.begin(), values.end());
    }
    static bool AnyBetween(const std::vector<int32_t>& values, int low, int high) {
        return std::any_of(values.begin(), values.end(), [&](int32_t v) { return v > low && v < high; });
    }

    platform::RecordingClock clock_;
    sim::InProcessPortOpener opener_;
    std::shared_ptr<sim::Card> card_;
};

TEST_F(FullRun, Q7kCardIsFlashedResetAndRestored) {
    Package();
    Plug();
    ASSERT_EQ(Run(), 0) << Dump();
    EXPECT_TRUE(card_->RunningNewFirmware());
    ExpectFlashMatches(true);

    const std::vector<int32_t> progress = Progress();
    EXPECT_TRUE(Increasing(progress)) << ::testing::PrintToString(progress);
    ASSERT_GE(progress.size(), 10u);
    EXPECT_EQ(std::vector<int32_t>(progress.begin(), progress.begin() + 7), (std::vector<int32_t>{0, 1, 3, 6, 7, 8, 10}));
    EXPECT_EQ(std::vector<int32_t>(progress.end() - 3, progress.end()), (std::vector<int32_t>{98, 99, 100}));
    EXPECT_TRUE(std::find(progress.begin(), progress.end(), 14) != progress.end()) << "oemsbl's one block reports 14";

    EXPECT_TRUE(InOrder({
        "*****************FWUpgrade_DataCard_CDMA_W326.dll by qrix V1.00.01 20120112********************",
        "Function: ShowRatio 0", "Current Port is 7.......", "Function: ShowRatio 1", "Function: Initialize",
        "Function: InitPort", "Function: TouchPort", "Function: ShowRatio 3", "Function: SelectArmprgAccordingToPidVid",
        "Execute SelectPhoneType function", "Execute  bIsQ7 = true;", "Execute DealQ7K function",
        "Function: pPacket->NvItemRead(NV_FTM_MODE_I,item_ftm, sta)",
        "Function: pPacket->NvItemRead(22, item_data, status)", "Function: SwitchToDownload",
        "Function: DownloadArmPrg", "Function: ShowRatio 8", "Function: GoToFlashPrg", "Function: ShowRatio 10",
        "Function: DownloadPartitionTable", "Function: DownloadSecondbootloaderheader(pPacket)",
        "Function: DownloadSecondbootloader(pPacket)", "Function: DownloadAppsbootloader(pPacket)",
        "Function: EraseSector misc.img", "Function: EraseSector cache.img",
        "Function: WindowsDownloadHS(pPacket, m_DownloadFileList.strCefs_appsFilePath, 0x09, DLRECOVERY, DLCEFS)",
        "Function: ShowRatio 98", "Function: ResetMobileSDP", "Function: ShowRatio 99",
        "Function: NvItemWrite(22, item_data, status)", "Function: ShowRatio 100", "Function: DealError",
        "HOLFunctonSuccess--------W326-----------------------------------",
    })) << Dump();

    // Pauses the run asked for: after the NV reads, through the switch, before the programmer starts.
    EXPECT_TRUE(ContainsInOrder(clock_.Pauses(), {1000, 50, 50, 2000, 50, 5000, 2000, 5000, 2000}));
}

// The first NV item 22 write the new firmware receives (unescaped body), from
// the card's transcript lines "<tick> <mode> <direction> <hex>".
std::vector<uint8_t> FirstNv22WriteAfterReset(const std::vector<std::string>& transcript) {
    bool reset = false;
    for (const std::string& line : transcript) {
        if (line.find(" programmer < ") != std::string::npos) reset = true;
        const size_t at = line.find(" diag < ");
        if (!reset || at == std::string::npos) continue;
        const std::optional<sim::Bytes> raw = sim::FromHex(line.substr(at + 8));
        if (!raw) continue;
        std::vector<uint8_t> body(raw->size());
        const auto result = packet::codec::Unescape(*raw, body);
        body.resize(result.length);
        if (body.size() >= 131 && body[0] == 0x27 && body[1] == 22 && body[2] == 0) return body;
    }
    return {};
}

TEST_F(FullRun, Nv22IsWrittenBackWithItsMiddleBytesCleared) {
    Package();
    sim::CardData card = sim::DefaultCardData();
    for (size_t i = 0; i < 128; ++i) card.nv[22].data[i] = uint8_t(0x80 + i);
    Plug(card);
    const std::array<uint8_t, 128> before = card_->Data().nv.at(22).data;
    std::vector<std::string> transcript;
    card_->SetTranscript([&](const std::string& line) { transcript.push_back(line); });
    ASSERT_EQ(Run(), 0) << Dump();
    const std::vector<uint8_t> body = FirstNv22WriteAfterReset(transcript);
    ASSERT_FALSE(body.empty());
    const uint8_t* data = body.data() + 3;
    for (size_t i = 0; i < 128; ++i) {
        const uint8_t expected = (i >= 22 && i < 50) ? 0 : before[i];
        EXPECT_EQ(data[i], expected) << "byte " << i;
    }
}

TEST_F(FullRun, ReplacedPartitionLayoutOnAnOrdinaryCardGetsTheFullTail) {
    sim::PackageOptions options;
    options.newPartitionLayout = true;
    Package(options);
    Plug(NotQ7k());
    ASSERT_EQ(Run(), 0) << Dump();
    EXPECT_FALSE(Logged("Execute  bIsQ7 = true;"));
    EXPECT_TRUE(card_->RunningNewFirmware()) << "the card was reset into its new firmware";
    ExpectFlashMatches(true);
    const std::vector<int32_t> progress = Progress();
    EXPECT_EQ(std::vector<int32_t>(progress.end() - 3, progress.end()), (std::vector<int32_t>{98, 99, 100}));
}

TEST_F(FullRun, OverrideThatGetsThroughOnlyOnTheSecondCallStillReplacesTheLayout) {
    sim::PackageOptions options;
    options.newPartitionLayout = true;
    Package(options);
    // The first sending takes three attempts, all answered with the override request; the
    // table's own second sending (three attempts more) is lost; the run sends it once more.
    Plug(NotQ7k(), Faults({"silence:command=0x19,mode=programmer,occurrence=4,count=3"}));
    ASSERT_EQ(Run(), 0) << Dump();
    int tableLines = 0;
    for (const std::string& m : ModuleMessages()) tableLines += m == "Function: DownloadPartitionTable";
    EXPECT_EQ(tableLines, 2);
    EXPECT_TRUE(card_->RunningNewFirmware());
    ExpectFlashMatches(true);
}

TEST_F(FullRun, MatchingTableOnAnOrdinaryCardEndsAfterRecovery) {
    Package();
    Plug(NotQ7k());
    ASSERT_EQ(Run(), 0) << Dump();
    EXPECT_FALSE(card_->RunningNewFirmware());
    ExpectFlashMatches(false);
    const std::vector<int32_t> progress = Progress();
    EXPECT_TRUE(Increasing(progress));
    EXPECT_EQ(progress.back(), 100);
    EXPECT_LE(progress[progress.size() - 2], 96) << "straight from the recovery image to 100";
    EXPECT_FALSE(Logged("Function: ResetMobileSDP"));
    EXPECT_FALSE(Logged("Function: ShowRatio 98"));
}

TEST_F(FullRun, PackageWithoutUserdataAndSplash) {
    sim::PackageOptions options;
    options.userdata = false;
    options.splash = false;
    Package(options);
    Plug(NotQ7k());
    ASSERT_EQ(Run(), 0) << Dump();
    ExpectFlashMatches(false);
    EXPECT_TRUE(card_->Data().partitions.at("userdata.img").erased);
    EXPECT_TRUE(Logged("Function: EraseSector userdata.img"));
    const std::vector<int32_t> progress = Progress();
    EXPECT_FALSE(AnyBetween(progress, 90, 94)) << ::testing::PrintToString(progress);
    EXPECT_FALSE(AnyBetween(progress, 94, 95));
}

TEST_F(FullRun, MissingOrOneByteFileRejectsThePackageWithoutOpeningThePort) {
    Package();
    Plug();
    std::filesystem::remove(std::filesystem::path(PackagePath()) / "amss.mbn");
    EXPECT_EQ(Run(), -13313);
    EXPECT_EQ(Progress(), (std::vector<int32_t>{0, 1}));
    EXPECT_TRUE(Logged("amss.mbn file is not Exist !!"));

    Package();
    std::filesystem::resize_file(std::filesystem::path(PackagePath()) / "recovery.img", 1);
    session_->Display().Clear();
    EXPECT_EQ(Run(), -13313);
    EXPECT_EQ(Progress(), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(opener_.OpenAttempts(), 0u);
    EXPECT_FALSE(Logged("Function: DealError"));
}

TEST_F(FullRun, PortThatNeverOpens) {
    Package();
    EXPECT_EQ(Run(), -13314);
    EXPECT_EQ(Progress(), (std::vector<int32_t>{0, 1}));
    EXPECT_TRUE(InOrder({"Function: InitPort", "Function: InitPort2", "Function: DealError"})) << Dump();
    EXPECT_FALSE(Logged("Function: TouchPort"));
}

TEST_F(FullRun, SwitchRequestLostWhileTheCardStillAnswersDiagnostics) {
    Package();
    Plug(NotQ7k(), Faults({"silence:command=0x3A,mode=diag"}));
    ASSERT_EQ(Run(), 0) << Dump();
    EXPECT_TRUE(Logged("Function: ParamRequest fail"));
    EXPECT_TRUE(Logged("Function: CommunicateWithMobile"));
    // The parameter request reached the card while it was still in its firmware.
    ExpectFlashMatches(false, {"diag: diagnostic request with a leading flag", "diag: unknown diagnostic command 0x07"});
}

TEST_F(FullRun, SilentFirstHello) {
    Package();
    Plug(NotQ7k(), Faults({"silence:command=0x01,mode=programmer"}));
    ASSERT_EQ(Run(), 0) << Dump();
    EXPECT_TRUE(Logged("Execute pPacket->DoNoop function"));
    // The recovery probe asks the programmer for the downloader's no-operation.
    ExpectFlashMatches(false, {"programmer: streaming command 0x06 out of sequence: no hello yet"});
}

TEST_F(FullRun, BlockWithABadChecksumIsResentAndFlashedRight) {
    Package();
    Plug(NotQ7k(), Faults({"bad_block:image=system.img,value=1"}));
    ASSERT_EQ(Run(), 0) << Dump();
    EXPECT_EQ(card_->RawBlocksRejected(), 1u);
    ExpectFlashMatches(false);
}

TEST_F(FullRun, NvItem453UnreadableFiveTimesEndsTheRunBeforeTheBackup) {
    Package();
    Plug(sim::DefaultCardData(), Faults({"nv_refuse:item=453,command=0x26,count=0"}));
    EXPECT_EQ(Run(), -13314);
    int reads = 0;
    for (const std::string& m : ModuleMessages()) reads += m == "Function: pPacket->NvItemRead(NV_FTM_MODE_I,item_ftm, sta)";
    EXPECT_EQ(reads, 5);
    EXPECT_EQ(ModuleMessages().back(), "Function: DealError");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(PackagePath()) / "channel.nvm"));
    EXPECT_EQ(card_->Mode(), sim::CardMode::Diagnostic);
    EXPECT_EQ(Progress(), (std::vector<int32_t>{0, 1, 3}));
}

}  // namespace
