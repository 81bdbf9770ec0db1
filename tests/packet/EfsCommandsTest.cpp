// EFS2 file commands: raw bodies, checked answers and the bounds kept.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/packet/PacketFixture.h"

namespace packet_test {
namespace {

using Efs = PacketFixture;

Bytes Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

// An EFS2 answer: header, then the given fields.
Bytes Answer(uint16_t command, const Bytes& fields) {
    return Frame(Concat({0x4B, 0x13, static_cast<uint8_t>(command), static_cast<uint8_t>(command >> 8)}, fields), false);
}

TEST_F(Efs, RequestBodiesAreByteExact) {
    uint32_t handle = 0;
    EXPECT_FALSE(packet.EfsOpenDir(u"/", handle));
    EXPECT_EQ(LastWrite(), Frame({0x4B, 0x13, 0x0B, 0x00, 0x2F, 0x00}, false));
    uint32_t fd = 0;
    EXPECT_FALSE(packet.EfsOpen(u"/vek/lock1", true, fd));
    const std::string path = "/vek/lock1";
    Bytes open = {0x4B, 0x13, 0x02, 0x00, 0, 0, 0, 0, 0x24, 0x01, 0, 0};
    open.insert(open.end(), path.begin(), path.end());
    open.push_back(0);
    EXPECT_EQ(open.size(), 23u);
    EXPECT_EQ(LastWrite(), Frame(open, false));
    EXPECT_FALSE(packet.EfsOpen(u"/\u00e9", false, fd));
    EXPECT_EQ(LastWrite(), Frame({0x4B, 0x13, 0x02, 0x00, 0x41, 0x02, 0, 0, 0xB6, 0x01, 0, 0, '/', 0xC3, 0xA9, 0}, false));
    uint8_t buffer[1024];
    uint32_t got = 0;
    EXPECT_FALSE(packet.EfsRead(0, 1024, 2048, buffer, sizeof buffer, got));
    EXPECT_EQ(LastWrite(), Frame({0x4B, 0x13, 0x04, 0x00, 0, 0, 0, 0, 0x00, 0x04, 0, 0, 0x00, 0x08, 0, 0}, false));
    EXPECT_FALSE(packet.EfsWrite(3, 1024, buffer, 2));
    EXPECT_EQ(LastWrite(), Frame(Concat({0x4B, 0x13, 0x05, 0x00, 3, 0, 0, 0, 0x00, 0x04, 0, 0}, {buffer[0], buffer[1]}), false));
    std::u16string name;
    EXPECT_FALSE(packet.EfsReadDir(7, 1, fd, name));
    EXPECT_EQ(LastWrite(), Frame({0x4B, 0x13, 0x0C, 0x00, 7, 0, 0, 0, 1, 0, 0, 0}, false));
}

TEST_F(Efs, AnswersAreCheckedAndTheirFieldsRead) {
    uint32_t handle = 0;
    peer->Answer(Answer(0x0B, Le32(0)));
    EXPECT_FALSE(packet.EfsOpenDir(u"/vek", handle)) << "handle 0 is a failure";
    peer->Answer(Answer(0x0B, Le32(5)));
    EXPECT_TRUE(packet.EfsOpenDir(u"/vek", handle));
    EXPECT_EQ(handle, 5u);

    uint32_t type = 99;
    std::u16string name = u"old";
    Bytes entry = Concat(Concat(Le32(5), Le32(1)), Concat(Le32(0), Le32(2)));
    entry.resize(36, 0);
    const std::string lock = "lock_a";
    entry.insert(entry.end(), lock.begin(), lock.end());
    entry.push_back(0);
    peer->Answer(Answer(0x0C, entry));
    EXPECT_TRUE(packet.EfsReadDir(5, 1, type, name));
    EXPECT_EQ(type, 2u);
    EXPECT_EQ(name, u"lock_a");
    entry[8] = 28;   // error number
    peer->Answer(Answer(0x0C, entry));
    type = 99;
    EXPECT_FALSE(packet.EfsReadDir(5, 2, type, name));
    EXPECT_EQ(type, 99u);
    EXPECT_EQ(name, u"lock_a");

    uint32_t fd = 0;
    peer->Answer(Answer(0x02, Concat(Le32(4), Le32(2))));
    EXPECT_FALSE(packet.EfsOpen(u"/x", true, fd));
    EXPECT_EQ(fd, 4u) << "the descriptor comes back with an error number too";
    uint32_t size = 0;
    peer->Answer(Answer(0x11, Concat(Concat(Le32(0), Le32(0)), Le32(1500))));
    EXPECT_TRUE(packet.EfsFstat(4, size));
    EXPECT_EQ(size, 1500u);

    Bytes corrupted = Answer(0x03, Le32(0));
    corrupted[5] ^= 0x10;
    peer->Answer(corrupted);
    EXPECT_FALSE(packet.EfsClose(4));
    EXPECT_EQ(packet.ErrorText(), "") << "a bad FCS leaves the text";
}

bool FcsNeedsEscape(const Bytes& body) {
    const uint16_t fcs = ReferenceFcs(body);
    for (uint8_t b : {static_cast<uint8_t>(fcs), static_cast<uint8_t>(fcs >> 8)}) {
        if (b == 0x7E || b == 0x7D) {
            return true;
        }
    }
    return false;
}

TEST_F(Efs, AnAnswerWithAnEscapedFcsIsAccepted) {
    int found = 0;
    for (uint32_t v = 1; v < 4096 && found < 2; ++v) {
        const Bytes openDir = Concat({0x4B, 0x13, 0x0B, 0x00}, Le32(v));
        if (found == 0 && FcsNeedsEscape(openDir)) {
            peer->Answer(Frame(openDir, false));
            uint32_t handle = 0;
            EXPECT_TRUE(packet.EfsOpenDir(u"/", handle));
            EXPECT_EQ(handle, v);
            ++found;
        }
        const Bytes close = Concat(Concat({0x4B, 0x13, 0x03, 0x00}, Le32(0)), Le32(v));
        if (found == 1 && FcsNeedsEscape(close)) {
            peer->Answer(Frame(close, false));
            EXPECT_TRUE(packet.EfsClose(2));
            ++found;
        }
    }
    EXPECT_EQ(found, 2);
}

TEST_F(Efs, ReadNeverCopiesMoreThanTheCallerHas) {
    Bytes fields = Concat(Concat(Le32(1), Le32(0)), Concat(Le32(1000), Le32(0)));   // fd, offset, count 1000, errno 0
    fields.resize(8 + 8 + 1000, 0x5C);
    // the answer's fields start at offset 4: descriptor, offset, bytes read, error number, data
    peer->Answer(Answer(0x04, fields));
    uint8_t buffer[20];
    std::memset(buffer, 0, sizeof buffer);
    uint32_t got = 0;
    EXPECT_TRUE(packet.EfsRead(1, 16, 0, buffer, 16, got));
    EXPECT_EQ(got, 1000u);
    EXPECT_EQ(buffer[15], 0x5C);
    EXPECT_EQ(buffer[16], 0x00) << "nothing past the caller's size";

    EXPECT_FALSE(packet.EfsRead(1, 1025, 0, buffer, 16, got));
    const Bytes flags(1024, 0x7E);
    EXPECT_FALSE(packet.EfsWrite(1, 0, flags.data(), 1024));
    EXPECT_EQ(packet.ErrorText(), "The Request Data to the Phone is Too Large");
    EXPECT_EQ(peer->writes.size(), 1u) << "refused requests are never written";
}

// Found by fuzzing: fields past the end of an answer read as zero, so a
// short answer passed for success with a zero handle or length, a listing
// whose name was cut off ended it early, and a read counted bytes it did not
// bring.
TEST_F(Efs, AnswersThatEndBeforeTheirFieldsAreRefused) {
    uint32_t value = 7;
    peer->Answer(Answer(0x02, Le32(3)));   // descriptor, no error number
    EXPECT_FALSE(packet.EfsOpen(u"/vek/a", true, value));
    EXPECT_EQ(packet.ErrorText(), "The Received Data from the Phone is Too Short");
    peer->Answer(Answer(0x11, Le32(0)));   // error number, no length
    EXPECT_FALSE(packet.EfsFstat(3, value));
    peer->Answer(Answer(0x03, {}));
    EXPECT_FALSE(packet.EfsClose(3));
    peer->Answer(Answer(0x05, Concat(Le32(3), Le32(0))));
    const uint8_t byte = 1;
    EXPECT_FALSE(packet.EfsWrite(3, 0, &byte, 1));

    uint32_t type = 0;
    std::u16string name = u"kept";
    Bytes entry(36, 0);
    entry[0] = 5;
    const std::string cut = "lock_";
    entry.insert(entry.end(), cut.begin(), cut.end());   // no NUL
    peer->Answer(Answer(0x0C, entry));
    EXPECT_FALSE(packet.EfsReadDir(5, 1, type, name));
    EXPECT_EQ(name, u"kept");
    peer->Answer(Answer(0x0C, Bytes(20, 0)));
    EXPECT_FALSE(packet.EfsReadDir(5, 1, type, name)) << "no name at all is not the end of the listing";

    Bytes read = Concat(Concat(Le32(3), Le32(0)), Concat(Le32(8), Le32(0)));
    read.insert(read.end(), {1, 2, 3, 4});   // four of the eight bytes counted
    peer->Answer(Answer(0x04, read));
    uint8_t buffer[16] = {};
    uint32_t got = 0;
    EXPECT_FALSE(packet.EfsRead(3, 8, 0, buffer, sizeof buffer, got));
    read.insert(read.end(), {5, 6, 7, 8});
    peer->Answer(Answer(0x04, read));
    EXPECT_TRUE(packet.EfsRead(3, 8, 0, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(buffer[7], 8);
}

TEST_F(Efs, TransportFailureTexts) {
    uint32_t value = 0;
    EXPECT_FALSE(packet.EfsFstat(1, value));
    EXPECT_EQ(packet.ErrorText(), "Port Cannot Receive Desired Data from the Phone");
    EXPECT_FALSE(packet.EfsOpenDir(u"/", value));
    EXPECT_EQ(packet.ErrorText(), "") << "directory commands leave no transport text";
    EXPECT_EQ(peer->writes.size(), 2u) << "one attempt each";
}

}  // namespace
}  // namespace packet_test
