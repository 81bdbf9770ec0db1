#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "SimTestSupport.h"

using simtest::Bytes;
using simtest::Frame;

namespace {

class Faults : public simtest::ClockedTest {
protected:
    sim::Card CardWith(const std::string& fault) {
        sim::FaultPlan plan;
        plan.rules.push_back(sim::ParseFaultOption(fault));
        return sim::Card(sim::DefaultCardData(), {}, plan);
    }
};

}  // namespace

TEST(FaultParsing, OptionsAndScenarios) {
    const sim::FaultRule rule = sim::ParseFaultOption("nv_refuse:command=0x26,item=22,value=4,occurrence=2,count=3");
    EXPECT_EQ(rule.kind, sim::FaultKind::NvRefuse);
    EXPECT_EQ(rule.command, 0x26);
    EXPECT_EQ(rule.item, 22);
    EXPECT_EQ(rule.value, 4);
    EXPECT_EQ(rule.occurrence, 2u);
    EXPECT_EQ(rule.count, 3u);
    EXPECT_THROW(sim::ParseFaultOption("explode"), std::runtime_error);
    EXPECT_THROW(sim::ParseFaultOption("late:value"), std::runtime_error);
    EXPECT_THROW(sim::ParseFaultOption("late:speed=3"), std::runtime_error);
    EXPECT_THROW(sim::ParseFaultOption("late:occurrence=0"), std::runtime_error);
    const auto plan = sim::FaultPlanFromJson(nlohmann::json::parse(
        R"({"faults": [{"kind": "late", "command": 56, "value": 2000}, {"kind": "bad_block", "image": "system.img", "value": 1}]})"));
    ASSERT_EQ(plan.rules.size(), 2u);
    EXPECT_EQ(plan.rules[0].command, 0x38);
    EXPECT_EQ(plan.rules[1].image, "system.img");
    EXPECT_EQ(sim::ParseFaultOption("efs_short_read:path=vek/a,value=100").path, "vek/a");
}

TEST_F(Faults, SilenceAndLateAnswers) {
    sim::Card silent = CardWith("silence:command=1,count=2");
    EXPECT_TRUE(simtest::Send(silent, Frame({0x01}, false)).empty());
    EXPECT_TRUE(simtest::Send(silent, Frame({0x01}, false)).empty());
    EXPECT_FALSE(simtest::Send(silent, Frame({0x01}, false)).empty());

    sim::Card late = CardWith("late:command=0x38,value=2000");
    EXPECT_TRUE(simtest::Send(late, Frame({0x38}, false)).empty());
    EXPECT_EQ(late.NextChangeIn(), 2000u);
    clock_.Advance(1999);
    EXPECT_EQ(late.Available(), 0u);
    EXPECT_EQ(late.NextChangeIn(), 1u);
    clock_.Advance(1);
    EXPECT_EQ(simtest::Bodies(simtest::Drain(late)).at(0).at(0), 0x38);
}

TEST_F(Faults, DamagedAnswerFrames) {
    sim::Card corrupt = CardWith("corrupt:command=1");
    EXPECT_EQ(simtest::Bodies(simtest::Send(corrupt, Frame({0x01}, false))).at(0), (Bytes{0xFF, 0xFF, 0xFF}));

    sim::Card noEnd = CardWith("no_end_flag");
    const Bytes wire = simtest::Send(noEnd, Frame({0x01}, false));
    ASSERT_FALSE(wire.empty());
    EXPECT_NE(wire.back(), 0x7E);

    sim::Card flags = CardWith("extra_flags:value=2");
    const Bytes flagged = simtest::Send(flags, Frame({0x01}, false));
    EXPECT_EQ(Bytes(flagged.begin(), flagged.begin() + 2), (Bytes{0x7E, 0x7E}));
    EXPECT_EQ(Bytes(flagged.end() - 3, flagged.end()), (Bytes{0x7E, 0x7E, 0x7E}));

    sim::Card split = CardWith("split:value=30");
    const Bytes first = simtest::Send(split, Frame({0x38}, false));
    EXPECT_FALSE(first.empty());
    EXPECT_NE(first.back(), 0x7E);
    clock_.Advance(30);
    const Bytes rest = simtest::Drain(split);
    EXPECT_EQ(rest.back(), 0x7E);
    EXPECT_EQ(simtest::Bodies(simtest::Cat({first, rest})).at(0).size(), 52u);
}

TEST_F(Faults, NakAndRefusedNvItem) {
    sim::Card nak = CardWith("nak:command=0x26,value=0x42");
    Bytes nv{0x26, 22, 0};
    nv.resize(133, 0);
    EXPECT_EQ(simtest::Ask(nak, nv, false).at(0), 0x42);

    sim::Card refuse = CardWith("nv_refuse:item=22,count=2");
    EXPECT_EQ(simtest::Ask(refuse, nv, false).at(131), 4);
    EXPECT_EQ(simtest::Ask(refuse, nv, false).at(131), 4);
    EXPECT_EQ(simtest::Ask(refuse, nv, false).at(131), 0);
}

TEST_F(Faults, SilenceOfOneNvItemLeavesTheOthersAnswered) {
    sim::Card card = CardWith("silence:command=0x26,item=447,count=2");
    Bytes other{0x26, 22, 0};
    other.resize(133, 0);
    Bytes silenced{0x26, 0xBF, 0x01};
    silenced.resize(133, 0);
    EXPECT_FALSE(simtest::Ask(card, other, false).empty());
    EXPECT_TRUE(simtest::Send(card, Frame(silenced, false)).empty());
    EXPECT_FALSE(simtest::Ask(card, other, false).empty());
    EXPECT_TRUE(simtest::Send(card, Frame(silenced, false)).empty());
    EXPECT_FALSE(simtest::Ask(card, silenced, false).empty());
}

TEST_F(Faults, RefusedServiceCodeAndLockSwitch) {
    sim::Card card = CardWith("spc_refused");
    card.AddFault(sim::ParseFaultOption("lock_switch_refused:count=2,value=3"));
    const Bytes code = simtest::Cat({{0x41}, simtest::Text("000000")});
    EXPECT_EQ(simtest::Ask(card, code, false), (Bytes{0x41, 0x00}));
    EXPECT_EQ(simtest::Ask(card, code, false), (Bytes{0x41, 0x01}));

    EXPECT_EQ(simtest::Ask(card, {0x59, 0x0E, 0x01}, false), (Bytes{0x59, 0x0E, 0x03}));
    EXPECT_EQ(simtest::Ask(card, {0x59, 0x0E, 0x01}, false), (Bytes{0x59, 0x0E, 0x03}));
    EXPECT_FALSE(card.LockAccessEnabled());
    EXPECT_EQ(simtest::Ask(card, {0x59, 0x0E, 0x01}, false), (Bytes{0x59, 0x0E, 0x00}));
    EXPECT_TRUE(card.LockAccessEnabled());
    EXPECT_TRUE(card.Violations().empty());
}
