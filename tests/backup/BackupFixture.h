// Shared set-up of the backup operation tests: the virtual card behind
// COM1, the recording clock, a captured trace and a scratch folder that is
// also the current folder (the lock backup file lands there).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "packet/Packet.h"
#include "sim/frontends/InProcessPort.h"
#include "tests/support/TestClocks.h"
#include "upgrade/run/UpgradeModule.h"

namespace backup_test {

struct TraceLine {
    std::string function;
    std::string message;
};

class BackupTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A card with every saved NV item holding its own bytes, a Wi-Fi address
    // and lock files: vek/a (100 bytes), vek/sub/b (3,000), vek/sub/deep/empty (0).
    void FillCard();
    void OpenPort();

    // What the card holds, to set up or to check.
    sim::CardData& Held() { return card_->MutableData(); }
    // One more misbehaviour, in the card's fault rule words ("silence:command=1,count=0").
    void Fault(const std::string& rule);
    // The card's request log ("nvread 77", "lock on", ...) and how many of its entries start with `prefix`.
    const std::vector<std::string>& Requests() const { return card_->Requests(); }
    size_t Count(const std::string& prefix) const;

    std::vector<std::string> Messages(const std::string& function) const;
    bool Traced(const std::string& message) const;
    std::string ChannelPath() const { return folder_ + "/channel.nvm"; }
    std::u16string ChannelPathW() const;
    std::vector<uint8_t> Slurp(const std::string& path) const;
    void Put(const std::string& path, const std::vector<uint8_t>& bytes) const;
    bool Exists(const std::string& path) const;

    static std::array<uint8_t, 128> ItemBytes(uint16_t item);
    static std::vector<uint8_t> Pattern(size_t size, uint8_t seed);

    sim::InProcessPortOpener opener_;
    std::shared_ptr<sim::Card> card_;
    platform::RecordingClock clock_;
    packet::CPacket packet_;
    upgrade::UpgradeModule module_;
    std::string folder_;
    std::string previousFolder_;
};

const std::vector<TraceLine>& CapturedTrace();

}  // namespace backup_test
