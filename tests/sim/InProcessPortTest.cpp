#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "sim/frontends/InProcessPort.h"
#include "sim/frontends/ProgrammerStandIn.h"

using simtest::Bytes;

namespace {

class InProcessPortTest : public simtest::ClockedTest {
protected:
    void SetUp() override {
        ClockedTest::SetUp();
        card_ = sim::MakeCard();
        opener_.Attach(5, card_);
    }
    Bytes Transact(platform::ComPort& port, const Bytes& wire) {
        EXPECT_EQ(port.Write(wire.data(), static_cast<uint32_t>(wire.size())), wire.size());
        Bytes out(port.QueuedInput());
        out.resize(port.Read(out.data(), static_cast<uint32_t>(out.size())));
        return out;
    }
    std::shared_ptr<sim::Card> card_;
    sim::InProcessPortOpener opener_;
};

}  // namespace

TEST_F(InProcessPortTest, PortReachesTheCardAndIsExclusive) {
    EXPECT_EQ(opener_.Open(u"COM4", 4), nullptr);
    auto port = opener_.Open(u"COM5", 5);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(opener_.Open(u"COM5", 5), nullptr);   // already open
    EXPECT_EQ(Transact(*port, Bytes{0x01, 0xF1, 0xE1, 0x7E}).at(0), 0x01);
    // A purge of the receive side throws away what the card sent.
    const Bytes esn = simtest::Frame({0x01}, false);
    EXPECT_EQ(port->Write(esn.data(), static_cast<uint32_t>(esn.size())), esn.size());
    EXPECT_GT(port->QueuedInput(), 0u);
    EXPECT_TRUE(port->PurgeComm(platform::kPurgeAll));
    EXPECT_EQ(port->QueuedInput(), 0u);
    port.reset();
    EXPECT_NE(opener_.Open(u"COM5", 5), nullptr);
}

TEST_F(InProcessPortTest, ReenumerationKillsTheOldPortAndDelaysTheNewOne) {
    auto port = opener_.Open(u"COM5", 5);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(Transact(*port, simtest::Frame({0x3A}, false)), (Bytes{0x3A, 0xA1, 0x6E, 0x7E}));
    clock_.Advance(100);
    // The old port is dead: nothing to read, writes fail.
    const Bytes noop = simtest::Frame({0x06}, true);
    EXPECT_EQ(port->Write(noop.data(), static_cast<uint32_t>(noop.size())), 0u);
    EXPECT_EQ(port->QueuedInput(), 0u);
    EXPECT_EQ(opener_.Open(u"COM5", 5), nullptr);   // off the bus
    clock_.Advance(1500);
    // The stale handle does not keep the new device from opening.
    auto fresh = opener_.Open(u"COM5", 5);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(Transact(*fresh, noop), (Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
    EXPECT_EQ(port->Write(noop.data(), static_cast<uint32_t>(noop.size())), 0u);
}

TEST_F(InProcessPortTest, MissingReenumerationNeverComesBack) {
    sim::FaultPlan plan;
    plan.rules.push_back(sim::ParseFaultOption("reenum_missing"));
    auto card = sim::MakeCard(sim::DefaultCardData(), {}, plan);
    opener_.Attach(6, card);
    auto port = opener_.Open(u"COM6", 6);
    Transact(*port, simtest::Frame({0x3A}, false));
    clock_.Advance(600000);
    EXPECT_EQ(opener_.Open(u"COM6", 6), nullptr);
}

TEST_F(InProcessPortTest, SlowReenumerationOfTheSecondModeChange) {
    sim::FaultPlan plan;
    plan.rules.push_back(sim::ParseFaultOption("reenum_slow:occurrence=2,value=9000"));
    auto card = sim::MakeCard(sim::DefaultCardData(), {}, plan);
    opener_.Attach(8, card);
    auto port = opener_.Open(u"COM8", 8);
    Transact(*port, simtest::Frame({0x3A}, false));
    clock_.Advance(100 + 1500);
    port = opener_.Open(u"COM8", 8);   // the first change takes the usual time
    ASSERT_NE(port, nullptr);
    const Bytes image = sim::ProgrammerStandIn();
    for (size_t offset = 0; offset < image.size(); offset += 1017) {
        const size_t n = std::min<size_t>(1017, image.size() - offset);
        const uint32_t a = static_cast<uint32_t>(0x00500000 + offset);
        Transact(*port, simtest::Frame(simtest::Cat({{0x0F, static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                                                      static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a),
                                                      static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)},
                                                     Bytes(image.begin() + offset, image.begin() + offset + n)}),
                                       true));
    }
    Transact(*port, simtest::Frame({0x05, 0x00, 0x50, 0x00, 0x00}, true));
    clock_.Advance(100 + 1500);
    EXPECT_EQ(opener_.Open(u"COM8", 8), nullptr);   // the second takes 9 s
    clock_.Advance(7499);
    EXPECT_EQ(opener_.Open(u"COM8", 8), nullptr);
    clock_.Advance(1);
    EXPECT_NE(opener_.Open(u"COM8", 8), nullptr);
    EXPECT_EQ(card->Mode(), sim::CardMode::FlashProgrammer);
    EXPECT_TRUE(card->Violations().empty());
}
