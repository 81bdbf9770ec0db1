#include <gtest/gtest.h>

#include "SimTestSupport.h"

using simtest::Ask;
using simtest::Bytes;
using simtest::Frame;

namespace {

Bytes NvRequest(uint8_t code, uint16_t item, uint8_t fill = 0) {
    Bytes body(133, fill);
    body[0] = code;
    body[1] = static_cast<uint8_t>(item);
    body[2] = static_cast<uint8_t>(item >> 8);
    body[131] = 0;
    body[132] = 0;
    return body;
}

class CardDiag : public simtest::ClockedTest {};

}  // namespace

TEST_F(CardDiag, AnswersEsnWithoutLeadingFlagAndRecordsNothing) {
    sim::Card card;
    const Bytes wire = simtest::Send(card, Bytes{0x01, 0xF1, 0xE1, 0x7E});
    ASSERT_FALSE(wire.empty());
    EXPECT_NE(wire.front(), 0x7E);
    EXPECT_EQ(wire.back(), 0x7E);
    EXPECT_EQ(simtest::Bodies(wire), std::vector<Bytes>{simtest::Cat({{0x01}, simtest::Le32(0x8012A5C3)})});
    EXPECT_TRUE(card.Violations().empty());
}

TEST_F(CardDiag, VersionAnswerLengthFollowsTheLayout) {
    sim::Card card;
    const Bytes longWire = simtest::Send(card, Frame({0x38}, false));
    EXPECT_GT(longWire.size(), 50u);
    const Bytes body = simtest::Bodies(longWire).at(0);
    ASSERT_EQ(body.size(), 1u + 30 + 12 + 9);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.data() + 1)), "LUM_Q7KV1.0.0B05");

    sim::CardData data = sim::DefaultCardData();
    data.longVersionAnswer = false;
    data.version = "LUM_W326V1.0.0B05_ABCDEFGHIJ";
    sim::Card shortCard(data);
    const Bytes shortWire = simtest::Send(shortCard, Frame({0x38}, false));
    EXPECT_LE(shortWire.size(), 50u);
    const Bytes shortBody = simtest::Bodies(shortWire).at(0);
    ASSERT_EQ(shortBody.size(), 1u + 22 + 12 + 9);
    EXPECT_EQ(std::string(shortBody.begin() + 1, shortBody.begin() + 23), "LUM_W326V1.0.0B05_ABCD");
}

TEST_F(CardDiag, NvItemsAnswerTheirDataOrTheirStatus) {
    sim::Card card;
    const Bytes read = Ask(card, NvRequest(0x26, 22), false);
    ASSERT_EQ(read.size(), 133u);
    EXPECT_EQ(Bytes(read.begin() + 3, read.begin() + 131),
              Bytes(card.Data().nv.at(22).data.begin(), card.Data().nv.at(22).data.end()));
    EXPECT_EQ(read[131], 0);

    // Inactive item: status 5 on read and write.
    EXPECT_EQ(Ask(card, NvRequest(0x26, 1720), false).at(131), 5);
    EXPECT_EQ(Ask(card, NvRequest(0x27, 1720, 0xAB), false).at(131), 5);
    // Read-only item: readable, status 7 on write, data unchanged.
    EXPECT_EQ(Ask(card, NvRequest(0x26, 836), false).at(131), 0);
    const auto before = card.Data().nv.at(836).data;
    EXPECT_EQ(Ask(card, NvRequest(0x27, 836, 0xAB), false).at(131), 7);
    EXPECT_EQ(card.Data().nv.at(836).data, before);
    // Writable item: stored.
    EXPECT_EQ(Ask(card, NvRequest(0x27, 453, 0x01), false).at(131), 0);
    EXPECT_EQ(card.Data().nv.at(453).data[127], 0x01);
    EXPECT_TRUE(card.Violations().empty());
}

TEST_F(CardDiag, ShortNvRequestGetsBadLengthAndIsAViolation) {
    sim::Card card;
    Bytes body = NvRequest(0x26, 22);
    body.pop_back();
    const Bytes answer = Ask(card, body, false);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(answer[0], 0x15);
    EXPECT_EQ(Bytes(answer.begin() + 1, answer.end()), body);
    ASSERT_EQ(card.Violations().size(), 1u);
}

TEST_F(CardDiag, SpcOfferedDigitsAreCompared) {
    sim::Card card;
    EXPECT_EQ(Ask(card, simtest::Cat({{0x41}, simtest::Text("000000")}), false), (Bytes{0x41, 0x01}));
    EXPECT_EQ(Ask(card, simtest::Cat({{0x41}, simtest::Text("123456")}), false), (Bytes{0x41, 0x00}));
    EXPECT_TRUE(card.Violations().empty());
    EXPECT_EQ(Ask(card, simtest::Cat({{0x41}, simtest::Text("12345X")}), false).at(0), 0x14);
    EXPECT_EQ(card.Violations().size(), 1u);
}

TEST_F(CardDiag, WifiAddressReadWriteAndRefusals) {
    sim::Card card;
    const Bytes read = Ask(card, {0x4B, 0xD3, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0x00}, false);
    EXPECT_EQ(read, (Bytes{0x4B, 0xD3, 0x00, 0x00, 0x00, 0x1E, 0x10, 0x3A, 0x5C, 0x7F, 0x00}));
    const Bytes write = Ask(card, {0x4B, 0xD3, 0x01, 0x00, 1, 2, 3, 4, 5, 6, 0x00}, false);
    EXPECT_EQ(write[10], 0);
    EXPECT_EQ(card.Data().wifi, (std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}));

    sim::FaultPlan plan;
    plan.rules.push_back(sim::ParseFaultOption("wifi_refused"));
    plan.rules.push_back(sim::ParseFaultOption("wifi_unsupported:occurrence=2"));
    sim::Card faulty(sim::DefaultCardData(), {}, plan);
    const Bytes refused = Ask(faulty, {0x4B, 0xD3, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0x00}, false);
    EXPECT_NE(refused.at(10), 0);
    const Bytes unknown = Ask(faulty, {0x4B, 0xD3, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0x00}, false);
    EXPECT_EQ(unknown.at(0), 0x13);
}

TEST_F(CardDiag, UnknownCommandAndBadFcsAreViolations) {
    sim::Card card;
    EXPECT_EQ(Ask(card, {0x77, 0x01}, false), (Bytes{0x13, 0x77, 0x01}));
    EXPECT_EQ(card.Violations().size(), 1u);
    // A corrupted ESN request is dropped without an answer.
    EXPECT_TRUE(simtest::Send(card, Bytes{0x01, 0xF1, 0xE2, 0x7E}).empty());
    EXPECT_EQ(card.Violations().size(), 2u);
    // A leading flag on a diagnostic request is answered but recorded.
    EXPECT_EQ(Ask(card, {0x01}, true).at(0), 0x01);
    EXPECT_EQ(card.Violations().size(), 3u);
}

TEST_F(CardDiag, StatusProbeAndOfflineAndLockSwitch) {
    sim::Card card;
    EXPECT_EQ(simtest::Send(card, Bytes{0x0C, 0x14, 0x3A, 0x7E}).at(0), 0x0C);
    EXPECT_EQ(Ask(card, {0x29, 0x01, 0x00}, false), (Bytes{0x29, 0x01, 0x00}));
    EXPECT_EQ(Ask(card, {0x59, 0x0E, 0x01}, false), (Bytes{0x59, 0x0E, 0x00}));
    EXPECT_TRUE(card.LockAccessEnabled());
    EXPECT_EQ(Ask(card, {0x59, 0x0E, 0x00}, false), (Bytes{0x59, 0x0E, 0x00}));
    EXPECT_FALSE(card.LockAccessEnabled());
    EXPECT_TRUE(card.Violations().empty());
}

TEST_F(CardDiag, AtPortSwitchesToDiagnosticWithTheExactReply) {
    sim::CardData data = sim::DefaultCardData();
    data.startInAtMode = true;
    sim::Card card(data);
    EXPECT_EQ(card.Mode(), sim::CardMode::AtCommand);
    // A diagnostic frame on the AT port goes unanswered.
    EXPECT_TRUE(simtest::Send(card, Frame({0x01}, false)).empty());
    const Bytes reply = simtest::Send(card, simtest::Text("AT$QCDMG\r"));
    EXPECT_EQ(reply, simtest::Text("AT$QCDMG\r\r\nOK\r\n"));
    EXPECT_EQ(card.Mode(), sim::CardMode::Diagnostic);
    EXPECT_EQ(Ask(card, {0x01}, false).at(0), 0x01);
    EXPECT_TRUE(card.Violations().empty());
}

TEST_F(CardDiag, SwitchToDownloaderReenumeratesIntoTheBootDownloader) {
    sim::Card card;
    const uint32_t generation = card.Generation();
    EXPECT_EQ(simtest::Send(card, Bytes{0x3A, 0xA1, 0x6E, 0x7E}), (Bytes{0x3A, 0xA1, 0x6E, 0x7E}));
    // Still on the bus right after the answer, gone after the leave delay.
    EXPECT_TRUE(card.Present());
    clock_.Advance(100);
    EXPECT_FALSE(card.Present());
    EXPECT_NE(card.Generation(), generation);
    // Requests to a card off the bus vanish.
    EXPECT_TRUE(simtest::Send(card, Frame({0x06}, true)).empty());
    clock_.Advance(1499);
    EXPECT_FALSE(card.Present());
    clock_.Advance(1);
    EXPECT_TRUE(card.Present());
    EXPECT_EQ(card.Mode(), sim::CardMode::BootDownloader);
    EXPECT_EQ(simtest::Send(card, Bytes{0x7E, 0x06, 0x4E, 0x95, 0x7E}), (Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
    EXPECT_EQ(card.ModeChanges(), 1u);
}

// A front end sleeps until the card's next timed change; each step of a mode
// change must be on that schedule or the card would wait for a poll.
TEST_F(CardDiag, NextChangeFollowsTheModeSwitchSchedule) {
    sim::Card card;
    EXPECT_EQ(card.NextChangeIn(), std::nullopt);
    card.Receive(Frame({0x3A}, false));
    EXPECT_EQ(card.NextChangeIn(), 0u);   // the answer is due at once
    simtest::Drain(card);
    EXPECT_EQ(card.NextChangeIn(), 100u);   // leaving the bus
    clock_.Advance(40);
    EXPECT_EQ(card.NextChangeIn(), 60u);
    clock_.Advance(60);
    EXPECT_EQ(card.NextChangeIn(), 1500u);   // coming back
    clock_.Advance(1500);
    EXPECT_TRUE(card.Present());
    EXPECT_EQ(card.NextChangeIn(), std::nullopt);
}

TEST_F(CardDiag, ReenumerationRunsOnItsOwnTimeWhileNobodyAsks) {
    sim::Card card;
    simtest::Send(card, Frame({0x3A}, false));
    // The host sleeps through leave and re-enumeration without a call.
    clock_.Advance(100 + 1500);
    EXPECT_TRUE(card.Present());
    EXPECT_EQ(card.Mode(), sim::CardMode::BootDownloader);
    EXPECT_EQ(Ask(card, {0x06}, true), Bytes{0x02});
}
