#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "SimTestSupport.h"
#include "sim/frontends/PackageMaker.h"
#include "sim/frontends/ProgrammerStandIn.h"
#include "packet/ByteOrder.h"

using simtest::Ask;
using simtest::Bytes;
using simtest::Cat;
using simtest::Le32;

namespace {

constexpr uint32_t kBlock = 135168;

Bytes Hello() {
    return Cat({{0x01}, simtest::Text("QCOM fast download protocol host"), {0x02, 0x02, 0x03}});
}

Bytes Announce(uint32_t size) {
    return {0x1D, 0x00, 0x60, 0x00, 0x00, static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
            static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size), 0x02};
}

uint32_t Sum(const Bytes& data, size_t at, size_t n) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) sum += packet::bytes::ReadLe32(data, at + i);
    if (i < n) {
        int32_t tail = 0;
        const size_t r = n - i;
        for (size_t k = 0; k < r; ++k) tail |= data[at + i + k] << (8 * k);
        tail = static_cast<int32_t>(static_cast<uint32_t>(tail) << (32 - 8 * r)) >> (32 - 8 * r);
        sum += static_cast<uint32_t>(tail);
    }
    return sum;
}

Bytes HeaderBlock(uint8_t code, const Bytes& vendor) {
    Bytes block(135172, 0);
    block[0] = code;
    std::copy(vendor.begin(), vendor.begin() + std::min<size_t>(vendor.size(), 135167), block.begin() + 1);
    const Bytes sum = Le32(Sum(block, 0, kBlock));
    std::copy(sum.begin(), sum.end(), block.begin() + kBlock);
    return block;
}

Bytes DataBlock(const Bytes& image, uint32_t offset) {
    const size_t n = std::min<size_t>(kBlock, image.size() - offset);
    return Cat({Le32(offset), Bytes(image.begin() + offset, image.begin() + offset + n), Le32(Sum(image, offset, n))});
}

class CardProgrammer : public simtest::ClockedTest {
protected:
    void SetUp() override {
        ClockedTest::SetUp();
        Start(card_);
    }

    // Brings a card from its firmware to a greeted programmer.
    void Start(sim::Card& card) {
        simtest::Send(card, simtest::Frame({0x3A}, false));
        Reenumerate(card);
        const Bytes image = sim::ProgrammerStandIn();
        for (size_t offset = 0; offset < image.size(); offset += 1017) {
            const size_t n = std::min<size_t>(1017, image.size() - offset);
            const uint32_t a = static_cast<uint32_t>(0x00500000 + offset);
            const Bytes body = Cat({{0x0F, static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                                     static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a), static_cast<uint8_t>(n >> 8),
                                     static_cast<uint8_t>(n)},
                                    Bytes(image.begin() + offset, image.begin() + offset + n)});
            simtest::Send(card, simtest::Frame(body, true));
        }
        simtest::Send(card, simtest::Frame({0x05, 0x00, 0x50, 0x00, 0x00}, true));
        Reenumerate(card);
        ASSERT_EQ(card.Mode(), sim::CardMode::FlashProgrammer);
    }

    void Prepare(sim::Card& card) {
        ASSERT_EQ(Ask(card, Hello(), true).at(0), 0x02);
        ASSERT_EQ(Ask(card, {0x17, 0x01}, true), Bytes{0x18});
        ASSERT_EQ(Ask(card, Cat({{0x19, 0x00}, card.Data().partitionTable}), true), (Bytes{0x1A, 0x00}));
    }

    // Announces, sends the header block and the data blocks; returns every answer body.
    std::vector<Bytes> Stream(sim::Card& card, uint8_t code, const Bytes& image, const Bytes& vendor) {
        std::vector<Bytes> answers = simtest::Bodies(simtest::Send(card, simtest::Frame(Announce(static_cast<uint32_t>(image.size())), true)));
        for (auto& b : simtest::Bodies(simtest::Send(card, HeaderBlock(code, vendor)))) answers.push_back(b);
        for (uint32_t offset = 0; offset < image.size(); offset += kBlock) {
            for (auto& b : simtest::Bodies(simtest::Send(card, DataBlock(image, offset)))) answers.push_back(b);
        }
        return answers;
    }

    sim::Card card_;
};

}  // namespace

TEST_F(CardProgrammer, HelloAnswersTheTargetMagicAndOrdersTheSession) {
    EXPECT_EQ(Ask(card_, {0x17, 0x01}, true).at(0), 0x0D);   // before hello
    EXPECT_EQ(card_.Violations().size(), 1u);
    const Bytes hello = Ask(card_, Hello(), true);
    ASSERT_GE(hello.size(), 35u);
    EXPECT_EQ(std::string(hello.begin() + 1, hello.begin() + 33), "QCOM fast download protocol targ");
    EXPECT_EQ(Ask(card_, {0x09, 0x11}, true), (Bytes{0x0A, 0x11}));
    // Partition table before security mode is out of sequence (reason 15).
    EXPECT_EQ(Ask(card_, {0x19, 0x00, 0x01}, true), Cat({{0x0D}, Le32(15), simtest::Text("Command out of sequence")}));
    EXPECT_EQ(card_.Violations().size(), 2u);
}

TEST_F(CardProgrammer, PartitionTableAsksForAnOverrideWhenItDiffers) {
    ASSERT_EQ(Ask(card_, Hello(), true).at(0), 0x02);
    ASSERT_EQ(Ask(card_, {0x17, 0x01}, true), Bytes{0x18});
    Bytes table = card_.Data().partitionTable;
    EXPECT_EQ(Ask(card_, Cat({{0x19, 0x00}, table}), true), (Bytes{0x1A, 0x00}));
    table.back() ^= 0x5A;
    EXPECT_EQ(Ask(card_, Cat({{0x19, 0x00}, table}), true), (Bytes{0x1A, 0x01}));
    EXPECT_NE(card_.Data().partitionTable, table);
    // Nothing may be opened before the table is settled.
    EXPECT_EQ(Ask(card_, {0x1B, 0x02}, true).at(0), 0x0D);
    EXPECT_EQ(Ask(card_, Cat({{0x19, 0x01}, table}), true), (Bytes{0x1A, 0x00}));
    EXPECT_EQ(card_.Data().partitionTable, table);
    EXPECT_EQ(card_.Violations().size(), 1u);
}

TEST_F(CardProgrammer, FramedImageIsWrittenAndCommittedOnClose) {
    Prepare(card_);
    EXPECT_EQ(Ask(card_, {0x1B, 0x03}, true), (Bytes{0x1C, 0x00}));
    Bytes image(2500);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
    for (uint32_t offset = 0; offset < image.size(); offset += 1024) {
        const size_t n = std::min<size_t>(1024, image.size() - offset);
        const Bytes answer = Ask(card_, Cat({{0x07}, Le32(offset), Bytes(image.begin() + offset, image.begin() + offset + n)}), true);
        EXPECT_EQ(answer, Cat({{0x08}, Le32(offset)}));
    }
    EXPECT_NE(card_.Data().partitions.at("qcsbl.mbn").content, image);
    EXPECT_EQ(Ask(card_, {0x15}, true), Bytes{0x16});
    EXPECT_EQ(card_.Data().partitions.at("qcsbl.mbn").content, image);
    // A header payload is kept with its image.
    EXPECT_EQ(Ask(card_, {0x1B, 0x04, 0xAA, 0xBB}, true), (Bytes{0x1C, 0x00}));
    EXPECT_EQ(card_.Data().partitions.at("oemsblhd.mbn").content, (Bytes{0xAA, 0xBB}));
    EXPECT_TRUE(card_.Violations().empty());
}

TEST_F(CardProgrammer, RawBlocksAreCheckedAcknowledgedAndCommitted) {
    Prepare(card_);
    Bytes image(2 * kBlock + 1);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + 5);
    image.back() = 0xF3;   // a last lone byte counts sign-extended in the checksum
    const Bytes vendor(600, 0x5C);
    const auto answers = Stream(card_, 0x14, image, vendor);
    const std::vector<Bytes> expected = {
        {0x1E, 0x01, 0x00, 0x00, 0x00},   // ready after the announcement
        {0x1E, 0x00, 0x01, 0x00, 0x00},   // header block check passed
        {0x1E, 0x01, 0x00, 0x00, 0x00},   // ready
        Cat({{0x08}, Le32(0)}),
        Cat({{0x08}, Le32(kBlock)}),
        Cat({{0x08}, Le32(2 * kBlock)}),
    };
    EXPECT_EQ(answers, expected);
    EXPECT_EQ(card_.Data().partitions.at("system.img").content, image);
    Bytes stored = vendor;
    stored.resize(135167, 0);
    EXPECT_EQ(card_.Data().partitions.at("partition_vek.mbn").content, stored);
    EXPECT_TRUE(card_.Violations().empty());
}

TEST_F(CardProgrammer, BadChecksumsAreAnsweredWithACheckFailedReport) {
    Prepare(card_);
    const Bytes image(1000, 0x42);
    simtest::Send(card_, simtest::Frame(Announce(1000), true));
    Bytes header = HeaderBlock(0x13, Bytes(10, 1));
    header[135168] ^= 1;
    EXPECT_EQ(simtest::Bodies(simtest::Send(card_, header)), (std::vector<Bytes>{{0x1E, 0x00, 0x00, 0x00, 0x00}}));
    header[135168] ^= 1;
    EXPECT_EQ(simtest::Bodies(simtest::Send(card_, header)).size(), 2u);
    Bytes block = DataBlock(image, 0);
    block.back() ^= 0x80;
    EXPECT_EQ(simtest::Bodies(simtest::Send(card_, block)), (std::vector<Bytes>{{0x1E, 0x00, 0x00, 0x00, 0x00}}));
    EXPECT_EQ(simtest::Bodies(simtest::Send(card_, DataBlock(image, 0))), (std::vector<Bytes>{Cat({{0x08}, Le32(0)})}));
    EXPECT_EQ(card_.Data().partitions.at("boot.img").content, image);
    EXPECT_EQ(card_.RawBlocksRejected(), 2u);
    EXPECT_EQ(card_.Violations().size(), 2u);
}

TEST_F(CardProgrammer, InjectedBadBlockIsRejectedOnceWithoutAViolation) {
    sim::FaultPlan plan;
    plan.rules.push_back(sim::ParseFaultOption("bad_block:image=amss.mbn,value=1"));
    sim::Card card(sim::DefaultCardData(), {}, plan);
    Start(card);
    Prepare(card);
    Bytes image(kBlock + 10, 0x33);
    simtest::Send(card, simtest::Frame(Announce(static_cast<uint32_t>(image.size())), true));
    simtest::Send(card, HeaderBlock(0x04, {}));
    EXPECT_EQ(simtest::Bodies(simtest::Send(card, DataBlock(image, 0))).at(0).at(0), 0x08);
    EXPECT_EQ(simtest::Bodies(simtest::Send(card, DataBlock(image, kBlock))).at(0), (Bytes{0x1E, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(simtest::Bodies(simtest::Send(card, DataBlock(image, kBlock))).at(0), Cat({{0x08}, Le32(kBlock)}));
    EXPECT_EQ(card.Data().partitions.at("amss.mbn").content, image);
    EXPECT_TRUE(card.Violations().empty());
}

// An unanswered block is dropped; once the faults are cleared the same
// block is answered, and a card resumed in the programmer takes commands.
TEST_F(CardProgrammer, AnUnansweredBlockIsDroppedUntilTheFaultsAreCleared) {
    sim::FaultPlan plan;
    plan.rules.push_back(sim::ParseFaultOption("block_unanswered:image=amss.mbn,value=0,count=0"));
    sim::Card card(sim::DefaultCardData(), {}, plan);
    Start(card);
    Prepare(card);
    Bytes image(kBlock + 10, 0x44);
    simtest::Send(card, simtest::Frame(Announce(static_cast<uint32_t>(image.size())), true));
    simtest::Send(card, HeaderBlock(0x04, {}));
    EXPECT_TRUE(simtest::Send(card, DataBlock(image, 0)).empty());
    EXPECT_TRUE(simtest::Send(card, DataBlock(image, 0)).empty());
    card.ClearFaults();
    EXPECT_EQ(simtest::Bodies(simtest::Send(card, DataBlock(image, 0))).at(0).at(0), 0x08);

    sim::Card resumed(card.Data());
    resumed.ResumeIn(sim::CardMode::FlashProgrammer, false);
    EXPECT_EQ(resumed.Mode(), sim::CardMode::FlashProgrammer);
    EXPECT_TRUE(resumed.Present());
}

TEST_F(CardProgrammer, EmptyAnnouncementErasesThePartition) {
    Prepare(card_);
    const auto answers = Stream(card_, 0x17, {}, Bytes(5, 9));
    EXPECT_EQ(answers.size(), 3u);
    EXPECT_TRUE(card_.Data().partitions.at("misc.img").erased);
    EXPECT_TRUE(card_.Data().partitions.at("misc.img").content.empty());
    // Back to framed commands right away.
    EXPECT_EQ(Ask(card_, {0x09, 0x11}, true), (Bytes{0x0A, 0x11}));
    EXPECT_TRUE(card_.Violations().empty());
}

TEST_F(CardProgrammer, CefsWipesUserDataAndResetStartsTheNewFirmware) {
    Prepare(card_);
    ASSERT_EQ(Ask(card_, {0x1B, 0x09}, true), (Bytes{0x1C, 0x00}));
    const Bytes cefs(3000, 0xCE);
    Stream(card_, 0x08, cefs, {});
    EXPECT_EQ(Ask(card_, {0x15}, true), Bytes{0x16});
    EXPECT_EQ(card_.Data().partitions.at("cefs.mbn").content, cefs);
    EXPECT_TRUE(card_.Data().efsFiles.empty());
    EXPECT_EQ(card_.Data().wifi, (std::array<uint8_t, 6>{}));
    EXPECT_EQ(card_.Data().nv.at(22).data, (std::array<uint8_t, 128>{}));
    EXPECT_NE(card_.Data().nv.at(836).data, (std::array<uint8_t, 128>{}));   // read-only survives

    EXPECT_EQ(Ask(card_, {0x0B}, true), Bytes{0x0C});
    Reenumerate(card_);
    EXPECT_TRUE(card_.RunningNewFirmware());
    EXPECT_EQ(card_.Mode(), sim::CardMode::AtCommand);
    EXPECT_EQ(simtest::Send(card_, simtest::Text("at$qcdmg\r")), simtest::Text("at$qcdmg\r\r\nOK\r\n"));
    EXPECT_EQ(Ask(card_, {0x01}, false).at(0), 0x01);
    EXPECT_TRUE(card_.Violations().empty());
}

TEST_F(CardProgrammer, AFrameInsteadOfTheHeaderBlockAbandonsTheTransfer) {
    Prepare(card_);
    simtest::Send(card_, simtest::Frame(Announce(500), true));
    EXPECT_EQ(Ask(card_, {0x09, 0x11}, true), (Bytes{0x0A, 0x11}));
    EXPECT_EQ(card_.Violations().size(), 1u);
}

TEST_F(CardProgrammer, CardThatAnswersOnlyOnceAfterReset) {
    sim::FaultPlan plan;
    plan.rules.push_back(sim::ParseFaultOption("answer_once_after_reset"));
    sim::CardData data = sim::DefaultCardData();
    data.atModeAfterReset = false;
    sim::Card card(data, {}, plan);
    // Before the reset the firmware answers as often as asked.
    EXPECT_EQ(Ask(card, {0x38}, false).at(0), 0x38);
    EXPECT_EQ(Ask(card, {0x38}, false).at(0), 0x38);
    Start(card);
    Prepare(card);
    EXPECT_EQ(Ask(card, {0x0B}, true), Bytes{0x0C});
    Reenumerate(card);
    EXPECT_EQ(card.Mode(), sim::CardMode::Diagnostic);
    // One identification (ESN ... version), then silence.
    EXPECT_EQ(Ask(card, {0x01}, false).at(0), 0x01);
    EXPECT_EQ(Ask(card, {0x38}, false).at(0), 0x38);
    EXPECT_TRUE(simtest::Send(card, simtest::Frame({0x01}, false)).empty());
}

TEST_F(CardProgrammer, ResetWithAHalfWrittenImageBricksTheCard) {
    Prepare(card_);
    Bytes image(2 * kBlock, 0x11);
    simtest::Send(card_, simtest::Frame(Announce(static_cast<uint32_t>(image.size())), true));
    simtest::Send(card_, HeaderBlock(0x14, {}));
    simtest::Send(card_, DataBlock(image, 0));
    EXPECT_TRUE(card_.Data().partitions.at("system.img").incomplete);
    EXPECT_TRUE(card_.Data().partitions.at("system.img").content.empty());
    // The host gives up and resets: the framed request abandons the transfer.
    EXPECT_EQ(Ask(card_, {0x0B}, true), Bytes{0x0C});
    EXPECT_TRUE(card_.Bricked());
    clock_.Advance(600000);
    EXPECT_FALSE(card_.Present());
    ASSERT_EQ(card_.Violations().size(), 2u);
    EXPECT_NE(card_.Violations()[1].text.find("system.img"), std::string::npos);
}

TEST_F(CardProgrammer, NewFirmwareReportsTheVersionItsImageCarries) {
    Prepare(card_);
    Bytes amss(500, 0x20);
    const std::string tag = "SWVER=LUM_Q7KV2.0.0B01";
    std::copy(tag.begin(), tag.end(), amss.begin() + 64);
    amss[64 + tag.size()] = 0;
    ASSERT_EQ(Ask(card_, {0x1B, 0x05, 0x01}, true), (Bytes{0x1C, 0x00}));
    Stream(card_, 0x04, amss, {});
    EXPECT_FALSE(card_.Data().partitions.at("amss.mbn").incomplete);
    EXPECT_EQ(Ask(card_, {0x15}, true), Bytes{0x16});
    EXPECT_EQ(Ask(card_, {0x0B}, true), Bytes{0x0C});
    Reenumerate(card_);
    simtest::Send(card_, simtest::Text("AT$QCDMG\r"));
    const Bytes version = Ask(card_, {0x38}, false);
    ASSERT_GT(version.size(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(version.data() + 1)), "LUM_Q7KV2.0.0B01");
    EXPECT_FALSE(card_.Bricked());
    EXPECT_TRUE(card_.Violations().empty());
}

TEST_F(CardProgrammer, WritesBeyondTheFlashAreRefusedWithoutAllocatingThem) {
    Prepare(card_);
    EXPECT_EQ(Ask(card_, Announce(0xFFFFFF00), true), Cat({{0x0D}, Le32(18), simtest::Text("Out of space")}));
    ASSERT_EQ(Ask(card_, {0x1B, 0x03}, true), (Bytes{0x1C, 0x00}));
    EXPECT_EQ(Ask(card_, Cat({{0x07}, Le32(0xFFFFFFF0), {1, 2, 3}}), true).at(0), 0x0D);
    EXPECT_EQ(card_.Violations().size(), 2u);
    EXPECT_EQ(Ask(card_, {0x09, 0x11}, true), (Bytes{0x0A, 0x11}));
}

namespace {

sim::Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return sim::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// A whole upgrade typed by hand, from firmware to new firmware, against a
// package: the flash then matches the package and nothing was a violation.
TEST_F(CardProgrammer, HandTypedUpgradeLeavesThePackageInFlash) {
    const auto dir = std::filesystem::temp_directory_path() / ("cardsim_hand_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    sim::PackageOptions options;
    options.newPartitionLayout = true;
    options.splash = false;
    options.userdata = false;
    std::string error;
    ASSERT_TRUE(sim::MakePackage(dir.string(), options, error)) << error;
    auto file = [&](const char* name) { return ReadFileBytes(dir / name); };
    const Bytes vendor = file("partition_vek.mbn");

    ASSERT_EQ(Ask(card_, Hello(), true).at(0), 0x02);
    ASSERT_EQ(Ask(card_, {0x17, 0x01}, true), Bytes{0x18});
    ASSERT_EQ(Ask(card_, Cat({{0x19, 0x00}, file("partition.mbn")}), true), (Bytes{0x1A, 0x01}));
    ASSERT_EQ(Ask(card_, Cat({{0x19, 0x01}, file("partition.mbn")}), true), (Bytes{0x1A, 0x00}));

    auto framed = [&](std::initializer_list<uint8_t> open, const Bytes& image) {
        ASSERT_EQ(Ask(card_, open, true), (Bytes{0x1C, 0x00}));
        for (uint32_t sent = 0; sent < image.size(); sent += 1024) {
            const size_t n = std::min<size_t>(1024, image.size() - sent);
            ASSERT_EQ(Ask(card_, Cat({{0x07}, Le32(sent), Bytes(image.begin() + sent, image.begin() + sent + n)}), true).at(0), 0x08);
        }
        ASSERT_EQ(Ask(card_, {0x15}, true), Bytes{0x16});
    };
    auto raw = [&](uint8_t code, const Bytes& image) {
        const auto answers = Stream(card_, code, image, vendor);
        ASSERT_EQ(answers.size(), 3 + (image.size() + kBlock - 1) / kBlock);
    };
    framed({0x1B, 0x02}, file("qcsblhd_cfgdata.mbn"));
    framed({0x1B, 0x03}, file("qcsbl.mbn"));
    ASSERT_EQ(Ask(card_, Cat({{0x1B, 0x04}, file("oemsblhd.mbn")}), true), (Bytes{0x1C, 0x00}));
    raw(0x03, file("oemsbl.mbn"));
    ASSERT_EQ(Ask(card_, {0x15}, true), Bytes{0x16});
    ASSERT_EQ(Ask(card_, Cat({{0x1B, 0x05}, file("amsshd.mbn")}), true), (Bytes{0x1C, 0x00}));
    raw(0x04, file("amss.mbn"));
    ASSERT_EQ(Ask(card_, {0x15}, true), Bytes{0x16});
    ASSERT_EQ(Ask(card_, Cat({{0x1B, 0x0A}, file("appsboothd.mbn")}), true), (Bytes{0x1C, 0x00}));
    for (uint32_t sent = 0; sent < file("appsboot.mbn").size(); sent += 1024) {
        const Bytes image = file("appsboot.mbn");
        const size_t n = std::min<size_t>(1024, image.size() - sent);
        ASSERT_EQ(Ask(card_, Cat({{0x07}, Le32(sent), Bytes(image.begin() + sent, image.begin() + sent + n)}), true).at(0), 0x08);
    }
    ASSERT_EQ(Ask(card_, {0x15}, true), Bytes{0x16});
    raw(0x13, file("boot.img"));
    raw(0x14, file("system.img"));
    raw(0x16, {});   // userdata erased
    raw(0x17, {});
    raw(0x18, {});
    raw(0x15, file("recovery.img"));
    EXPECT_FALSE(sim::CheckFlashAgainstPackage(card_.Data(), dir.string(), true).ok);   // cefs still old
    EXPECT_TRUE(sim::CheckFlashAgainstPackage(card_.Data(), dir.string(), false).ok);
    ASSERT_EQ(Ask(card_, {0x1B, 0x09}, true), (Bytes{0x1C, 0x00}));
    raw(0x08, file("cefs.mbn"));
    ASSERT_EQ(Ask(card_, {0x15}, true), Bytes{0x16});
    ASSERT_EQ(Ask(card_, {0x0B}, true), Bytes{0x0C});
    Reenumerate(card_);

    const auto check = sim::CheckFlashAgainstPackage(card_.Data(), dir.string(), true);
    EXPECT_TRUE(check.ok) << (check.problems.empty() ? "" : check.problems[0]);
    EXPECT_TRUE(card_.Violations().empty()) << (card_.Violations().empty() ? "" : card_.Violations()[0].text);
    EXPECT_EQ(simtest::Send(card_, simtest::Text("AT$QCDMG\r")), simtest::Text("AT$QCDMG\r\r\nOK\r\n"));
    const Bytes version = Ask(card_, {0x38}, false);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(version.data() + 1)), options.version);
    std::filesystem::remove_all(dir);
}
