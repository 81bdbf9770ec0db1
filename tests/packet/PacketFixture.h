// A CPacket on an open scripted port under virtual time.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "packet/Packet.h"
#include "tests/support/ScriptedPort.h"
#include "tests/support/TestClocks.h"

namespace packet_test {
using namespace test_support;

class PacketFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClock(&clock);
        platform::SetComPortOpener(&opener);
        ASSERT_TRUE(packet.Open(3));
        peer->writes.clear();
        peer->purges = 0;
        clock.ClearPauses();
    }
    void TearDown() override {
        packet.Close();
        platform::SetComPortOpener(nullptr);
        platform::SetClock(nullptr);
    }

    // The one request written so far, as the wire carried it.
    const Bytes& LastWrite() const { return peer->writes.back(); }

    // Count of pauses of the given length asked for so far.
    size_t PausesOf(uint32_t ms) const {
        size_t n = 0;
        for (uint32_t p : clock.Pauses()) {
            n += p == ms ? 1 : 0;
        }
        return n;
    }

    platform::RecordingClock clock;
    std::shared_ptr<ScriptedPeer> peer = std::make_shared<ScriptedPeer>(clock);
    ScriptedOpener opener{peer};
    packet::CPacket packet;
};

}  // namespace packet_test
