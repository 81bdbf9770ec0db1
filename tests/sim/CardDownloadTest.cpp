#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/frontends/ProgrammerStandIn.h"

using simtest::Ask;
using simtest::Bytes;

namespace {

Bytes Write32(uint32_t address, const Bytes& data) {
    return simtest::Cat({{0x0F, static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                          static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                          static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())},
                         data});
}

class CardDownload : public simtest::ClockedTest {
protected:
    void SetUp() override {
        ClockedTest::SetUp();
        simtest::Send(card_, simtest::Frame({0x3A}, false));
        Reenumerate(card_);
        ASSERT_EQ(card_.Mode(), sim::CardMode::BootDownloader);
    }
    sim::Card card_;
};

}  // namespace

TEST_F(CardDownload, ProbeNoopAndParameters) {
    // The raw status probe has no leading flag; any answer will do, here a NAK.
    const Bytes probe = simtest::Send(card_, Bytes{0x0C, 0x14, 0x3A, 0x7E});
    EXPECT_EQ(probe.front(), 0x7E);
    EXPECT_EQ(simtest::Bodies(probe).at(0), (Bytes{0x03, 0x00, 0x06}));
    EXPECT_EQ(Ask(card_, {0x06}, true), Bytes{0x02});
    const Bytes params = Ask(card_, {0x07}, true);
    ASSERT_EQ(params.size(), 10u);
    EXPECT_EQ(params[0], 0x08);
    EXPECT_EQ(Bytes(params.begin() + 3, params.begin() + 7), (Bytes{0x00, 0x04, 0x00, 0x00}));
    EXPECT_TRUE(card_.Violations().empty());
}

TEST_F(CardDownload, WritesOutsideRamOrWithWrongLengthAreRefused) {
    EXPECT_EQ(Ask(card_, Write32(0x00400000, Bytes(16, 1)), true), (Bytes{0x03, 0x00, 0x02}));
    Bytes shortBody = Write32(0x00500000, Bytes(16, 1));
    shortBody.pop_back();
    EXPECT_EQ(Ask(card_, shortBody, true), (Bytes{0x03, 0x00, 0x04}));
    EXPECT_EQ(Ask(card_, Write32(0x00500000, Bytes(1025, 1)), true), (Bytes{0x03, 0x00, 0x03}));
    EXPECT_EQ(card_.Violations().size(), 3u);
    // A request without its leading flag is answered and recorded.
    EXPECT_EQ(Ask(card_, {0x06}, false), Bytes{0x02});
    EXPECT_EQ(card_.Violations().size(), 4u);
}

TEST_F(CardDownload, GoNeedsTheProgrammerInRam) {
    const Bytes go{0x05, 0x00, 0x50, 0x00, 0x00};
    EXPECT_EQ(Ask(card_, go, true), (Bytes{0x03, 0x00, 0x07}));
    EXPECT_EQ(card_.Mode(), sim::CardMode::BootDownloader);

    const Bytes image = sim::ProgrammerStandIn();
    size_t writes = 0;
    for (size_t offset = 0; offset < image.size(); offset += 1017) {
        const size_t n = std::min<size_t>(1017, image.size() - offset);
        ASSERT_EQ(Ask(card_, Write32(static_cast<uint32_t>(0x00500000 + offset),
                                     Bytes(image.begin() + offset, image.begin() + offset + n)),
                      true),
                  Bytes{0x02});
        ++writes;
    }
    EXPECT_EQ(writes, 175u);
    EXPECT_EQ(card_.ProgrammerBytesLoaded(), 177376u);
    EXPECT_EQ(simtest::Send(card_, simtest::Frame(go, true)), (Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
    Reenumerate(card_);
    EXPECT_EQ(card_.Mode(), sim::CardMode::FlashProgrammer);
    EXPECT_EQ(card_.Violations().size(), 1u);   // the first, premature Go
}

TEST_F(CardDownload, GoRefusesAProgrammerWithAMissingBlock) {
    const Bytes image = sim::ProgrammerStandIn();
    for (size_t offset = 0; offset < image.size(); offset += 1017) {
        if (offset == 1017 * 50) continue;
        const size_t n = std::min<size_t>(1017, image.size() - offset);
        Ask(card_, Write32(static_cast<uint32_t>(0x00500000 + offset), Bytes(image.begin() + offset, image.begin() + offset + n)),
            true);
    }
    EXPECT_EQ(Ask(card_, {0x05, 0x00, 0x50, 0x00, 0x00}, true), (Bytes{0x03, 0x00, 0x07}));
    ASSERT_EQ(card_.Violations().size(), 1u);
    EXPECT_NE(card_.Violations()[0].text.find("missing"), std::string::npos);
    clock_.Advance(5000);
    EXPECT_EQ(card_.Mode(), sim::CardMode::BootDownloader);
}

TEST_F(CardDownload, TranscriptHasOneLinePerFrameWithTimeAndMode) {
    std::vector<std::string> lines;
    card_.SetTranscript([&lines](const std::string& line) { lines.push_back(line); });
    clock_.Advance(1);
    const uint32_t now = clock_.TickCount();
    Ask(card_, {0x06}, true);
    Ask(card_, {0x42}, true);
    const std::string t = std::to_string(now);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], t + " download < 7e064e957e");
    EXPECT_EQ(lines[1], t + " download > 7e026ad37e");
    EXPECT_EQ(lines[3], t + " download ! unknown download command 0x42");
    EXPECT_EQ(lines[4].rfind(t + " download > 7e030006", 0), 0u);
}
