// The card operations' events as fwupgrade takes them from a plug-in: the
// card named before the outcome, and a kind of a later plug-in skipped
// whatever its fields hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/fwupgrade/plugin/PluginOperations.h"

namespace fwupgrade {
namespace {

constexpr int32_t kLaterKind = 99;

void Send(const FwupOptions* options, const FwupEvent& event) { options->onEvent(&event, options->context); }

// A plug-in whose upgrade names the card, sends a kind this program does
// not know (its fields filled with what would hurt if read), and ends.
int32_t UpgradeWithLaterKinds(const FwupOptions* options, const char*) {
    FwupEvent step{};
    step.kind = FWUP_EVENT_STEP;
    step.step = FWUP_STEP_BACKUP;
    Send(options, step);
    FwupEvent card{};
    card.kind = FWUP_EVENT_CARD;
    card.card.esn = 0x8012A5C3;
    card.card.softwareVersion = "LUM_W326V1.0.0B05";
    Send(options, card);
    FwupEvent later{};
    later.kind = kLaterKind;
    later.step = -7;
    later.loss.lockFile = reinterpret_cast<const char*>(1);
    Send(options, later);
    FwupEvent outcome{};
    outcome.kind = FWUP_EVENT_OUTCOME;
    outcome.outcome.esnKnown = 1;
    outcome.outcome.esn = 0x8012A5C3;
    Send(options, outcome);
    return 0;
}

TEST(PluginEvents, TheCardIsPassedOnOnceAndAKindOfALaterPluginIsSkipped) {
    FwupCardOperationTable table{};
    table.version = FWUP_CARD_OPERATIONS_VERSION;
    table.upgrade = &UpgradeWithLaterKinds;
    PluginOperations operations(table, CardTarget{});
    std::vector<std::pair<uint32_t, std::string>> cards;
    operations.OnCard([&cards](uint32_t esn, const std::string& version) { cards.emplace_back(esn, version); });
    ASSERT_EQ(operations.Upgrade("/package"), 0);
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0].first, 0x8012A5C3u);
    EXPECT_EQ(cards[0].second, "LUM_W326V1.0.0B05");
    EXPECT_EQ(operations.Steps(), std::vector<int32_t>{FWUP_STEP_BACKUP});
    EXPECT_TRUE(operations.Losses().empty());
    EXPECT_TRUE(operations.Outcome().reported);
    EXPECT_EQ(operations.Outcome().esn, 0x8012A5C3u);
}

}  // namespace
}  // namespace fwupgrade
