#include <gtest/gtest.h>

#include "SimTestSupport.h"
#include "packet/ByteOrder.h"

using simtest::Bytes;
using simtest::Cat;
using simtest::Le32;

namespace {

Bytes Header(uint16_t command) { return {0x4B, 0x13, static_cast<uint8_t>(command), static_cast<uint8_t>(command >> 8)}; }
Bytes Path(const std::string& path) {
    Bytes out(path.size() + 1, 0);
    std::copy(path.begin(), path.end(), out.begin());
    return out;
}

class CardEfs : public simtest::ClockedTest {
protected:
    Bytes Efs(const Bytes& body) { return simtest::Ask(card_, body, false); }
    uint32_t Field(const Bytes& answer, size_t at) { return packet::bytes::ReadLe32(answer, at); }

    // Lists a directory the way the lock-file walk does.
    std::vector<std::pair<std::string, uint32_t>> List(const std::string& dir) {
        const Bytes open = Efs(Cat({Header(0x0B), Path(dir)}));
        EXPECT_EQ(open.size(), 12u);
        const uint32_t handle = Field(open, 4);
        EXPECT_NE(handle, 0u);
        std::vector<std::pair<std::string, uint32_t>> entries;
        // Bounded: a listing that never ends fails the test instead of hanging it.
        for (uint32_t seq = 1; seq <= 64; ++seq) {
            const Bytes entry = Efs(Cat({Header(0x0C), Le32(handle), Le32(seq)}));
            EXPECT_GE(entry.size(), 41u);
            if (entry.size() < 41) break;
            EXPECT_EQ(Field(entry, 12), 0u);
            const std::string name(reinterpret_cast<const char*>(entry.data() + 40));
            if (name.empty()) break;
            entries.emplace_back(name, Field(entry, 16));
        }
        EXPECT_EQ(Efs(Cat({Header(0x0D), Le32(handle)})), Cat({Header(0x0D), Le32(0)}));
        return entries;
    }

    sim::Card card_;
};

}  // namespace

TEST_F(CardEfs, WalksTheVekTreeAndReadsALockFile) {
    using Entries = std::vector<std::pair<std::string, uint32_t>>;
    EXPECT_EQ(List("vek"), (Entries{{"lock", 1}, {"state", 1}}));
    EXPECT_EQ(List("vek/lock"), (Entries{{"lock_a", 0}, {"sub", 1}}));
    EXPECT_EQ(List("/vek/lock/sub"), (Entries{{"lock_b", 0}}));

    // Lock files need the access switch.
    const Bytes openRequest = Cat({Header(0x02), Le32(0), Le32(0x124), Path("vek/lock/sub/lock_b")});
    Bytes denied = Efs(openRequest);
    EXPECT_EQ(Field(denied, 8), 13u);
    EXPECT_EQ(simtest::Ask(card_, {0x59, 0x0E, 0x01}, false), (Bytes{0x59, 0x0E, 0x00}));
    const Bytes opened = Efs(openRequest);
    ASSERT_EQ(opened.size(), 12u);
    EXPECT_EQ(Field(opened, 8), 0u);
    const uint32_t fd = Field(opened, 4);
    const Bytes stat = Efs(Cat({Header(0x11), Le32(fd)}));
    EXPECT_EQ(Field(stat, 4), 0u);
    EXPECT_EQ(Field(stat, 12), 3000u);
    const Bytes& expected = card_.Data().efsFiles.at("vek/lock/sub/lock_b");
    Bytes content;
    for (uint32_t offset = 0; offset < 3000; offset += 1024) {
        const Bytes read = Efs(Cat({Header(0x04), Le32(fd), Le32(1024), Le32(offset)}));
        ASSERT_GE(read.size(), 20u);
        EXPECT_EQ(Field(read, 16), 0u);
        EXPECT_EQ(Field(read, 12), std::min<uint32_t>(1024, 3000 - offset));
        content = Cat({content, Bytes(read.begin() + 20, read.end())});
    }
    EXPECT_EQ(content, expected);
    EXPECT_EQ(Efs(Cat({Header(0x03), Le32(fd)})), Cat({Header(0x03), Le32(0)}));
    EXPECT_TRUE(card_.Violations().empty());
}

TEST_F(CardEfs, WriteCreatesAndTruncatesOnlyInExistingFolders) {
    simtest::Ask(card_, {0x59, 0x0E, 0x01}, false);
    const Bytes opened = Efs(Cat({Header(0x02), Le32(0x241), Le32(0x1B6), Path("vek/lock/lock_a")}));
    ASSERT_EQ(Field(opened, 8), 0u);
    EXPECT_TRUE(card_.Data().efsFiles.at("vek/lock/lock_a").empty());
    const uint32_t fd = Field(opened, 4);
    const Bytes written = Efs(Cat({Header(0x05), Le32(fd), Le32(0), {1, 2, 3}}));
    EXPECT_EQ(Field(written, 16), 0u);
    EXPECT_EQ(Field(written, 12), 3u);
    Efs(Cat({Header(0x03), Le32(fd)}));
    EXPECT_EQ(card_.Data().efsFiles.at("vek/lock/lock_a"), (Bytes{1, 2, 3}));

    // A write far beyond any file the card can hold is refused (EFBIG).
    const Bytes again = Efs(Cat({Header(0x02), Le32(0x241), Le32(0x1B6), Path("vek/lock/big")}));
    const Bytes huge = Efs(Cat({Header(0x05), Le32(Field(again, 4)), Le32(0xFFFFFF00), {1}}));
    EXPECT_EQ(Field(huge, 16), 27u);
    EXPECT_TRUE(card_.Data().efsFiles.at("vek/lock/big").empty());

    const Bytes orphan = Efs(Cat({Header(0x02), Le32(0x241), Le32(0x1B6), Path("vek/nowhere/x")}));
    EXPECT_EQ(Field(orphan, 8), 2u);
    EXPECT_EQ(Field(orphan, 4), 0xFFFFFFFFu);
    const Bytes missingDir = Efs(Cat({Header(0x0B), Path("nothing")}));
    EXPECT_EQ(Field(missingDir, 4), 0u);
    EXPECT_TRUE(card_.Violations().empty());
}

TEST_F(CardEfs, MalformedPathsAndInjectedFailures) {
    // A path without its NUL.
    Bytes noNul = Cat({Header(0x0B), simtest::Text("vek")});
    EXPECT_NE(Field(Efs(noNul), 8), 0u);
    EXPECT_EQ(card_.Violations().size(), 1u);

    sim::FaultPlan plan;
    plan.rules.push_back(sim::ParseFaultOption("efs_fail:command=0x0C,occurrence=2,value=5"));
    sim::Card card(sim::DefaultCardData(), {}, plan);
    const Bytes open = simtest::Ask(card, Cat({Header(0x0B), Path("vek")}), false);
    const uint32_t handle = Field(open, 4);
    EXPECT_EQ(Field(simtest::Ask(card, Cat({Header(0x0C), Le32(handle), Le32(1)}), false), 12), 0u);
    EXPECT_EQ(Field(simtest::Ask(card, Cat({Header(0x0C), Le32(handle), Le32(2)}), false), 12), 5u);
    EXPECT_EQ(Field(simtest::Ask(card, Cat({Header(0x0C), Le32(handle), Le32(2)}), false), 12), 0u);
}

TEST_F(CardEfs, FaultsOnOnePathLeaveTheOthersAlone) {
    card_.AddFault(sim::ParseFaultOption("efs_fail:command=0x11,path=vek/lock/lock_a,count=0"));
    card_.AddFault(sim::ParseFaultOption("efs_short_read:path=vek/lock/sub/lock_b,value=1000,count=0"));
    simtest::Ask(card_, {0x59, 0x0E, 0x01}, false);
    auto open = [&](const std::string& path) {
        return Field(Efs(Cat({Header(0x02), Le32(0), Le32(0x124), Path(path)})), 4);
    };
    const uint32_t a = open("vek/lock/lock_a");
    const uint32_t b = open("vek/lock/sub/lock_b");
    EXPECT_EQ(Field(Efs(Cat({Header(0x11), Le32(a)})), 4), 5u);
    EXPECT_EQ(Field(Efs(Cat({Header(0x11), Le32(b)})), 4), 0u);
    EXPECT_EQ(Field(Efs(Cat({Header(0x04), Le32(b), Le32(1024), Le32(0)})), 12), 1000u);
    EXPECT_EQ(Field(Efs(Cat({Header(0x04), Le32(a), Le32(1024), Le32(0)})), 12),
              card_.Data().efsFiles.at("vek/lock/lock_a").size());
    EXPECT_TRUE(card_.Violations().empty());
}

TEST_F(CardEfs, ListingsWithDotEntriesOrWithoutEnd) {
    card_.AddFault(sim::ParseFaultOption("efs_dot_entries:path=vek/lock"));
    using Entries = std::vector<std::pair<std::string, uint32_t>>;
    EXPECT_EQ(List("vek/lock"), (Entries{{".", 1}, {"..", 1}, {"lock_a", 0}, {"sub", 1}}));
    EXPECT_EQ(List("vek/lock"), (Entries{{"lock_a", 0}, {"sub", 1}}));

    card_.AddFault(sim::ParseFaultOption("efs_endless_listing:path=vek/lock/sub,count=0"));
    const uint32_t handle = Field(Efs(Cat({Header(0x0B), Path("vek/lock/sub")})), 4);
    for (uint32_t seq = 2; seq < 50; ++seq) {
        const Bytes entry = Efs(Cat({Header(0x0C), Le32(handle), Le32(seq)}));
        ASSERT_GE(entry.size(), 41u);
        std::string expected = "f";   // appended: GCC 12 -O3 warns falsely on "f" + std::to_string
        expected += std::to_string(seq);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry.data() + 40)), expected);
    }
    EXPECT_EQ(List("vek"), (Entries{{"lock", 1}, {"state", 1}}));
}

TEST_F(CardEfs, EveryRequestIsLoggedWithThePathItConcerns) {
    card_.AddFault(sim::ParseFaultOption("silence:command=0x4B"));
    simtest::Send(card_, simtest::Frame(Cat({Header(0x0B), Path("vek")}), false));
    Bytes nv(133, 0);
    nv[0] = 0x27;
    nv[1] = 77;
    simtest::Ask(card_, nv, false);
    simtest::Ask(card_, {0x59, 0x0E, 0x01}, false);
    simtest::Ask(card_, simtest::Cat({{0x41}, simtest::Text("000000")}), false);
    const uint32_t fd = Field(Efs(Cat({Header(0x02), Le32(0x241), Le32(0x1B6), Path("/vek/lock/lock_a")})), 4);
    Efs(Cat({Header(0x05), Le32(fd), Le32(8), {1, 2, 3}}));
    Efs(Cat({Header(0x04), Le32(fd), Le32(1024), Le32(0)}));
    Efs(Cat({Header(0x03), Le32(fd)}));
    const std::vector<std::string> expected{"efsopendir vek",      "nvwrite 77",          "lock on",
                                            "spc",                 "efsopen vek/lock/lock_a w",
                                            "efswrite vek/lock/lock_a 8 3", "efsread vek/lock/lock_a 0 1024",
                                            "efsclose vek/lock/lock_a"};
    EXPECT_EQ(card_.Requests(), expected);
    card_.ClearRequests();
    EXPECT_TRUE(card_.Requests().empty());
}
