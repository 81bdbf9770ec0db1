#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "SimTestSupport.h"
#include "sim/card/CardData.h"

TEST(CardData, DefaultCardHoldsEverythingTheUpgradeSaves) {
    const sim::CardData data = sim::DefaultCardData();
    EXPECT_EQ(sim::BackedUpNvItems().size(), 90u);
    EXPECT_EQ(sim::BackedUpNvItems()[88], 836);
    for (uint16_t item : sim::BackedUpNvItems()) EXPECT_EQ(data.nv.count(item), 1u) << item;
    EXPECT_EQ(data.nv.at(453).data[0], 0);   // FTM mode off
    EXPECT_EQ(data.spc, "000000");
    EXPECT_NE(data.version.find("Q7"), std::string::npos);
    EXPECT_EQ(std::string(sim::kOtherVersion).find("Q7"), std::string::npos);
    // Lock files in subfolders of "vek".
    size_t nested = 0;
    for (const auto& [path, content] : data.efsFiles) {
        EXPECT_EQ(path.rfind("vek/", 0), 0u);
        if (std::count(path.begin(), path.end(), '/') >= 2) ++nested;
    }
    EXPECT_GE(nested, 2u);
}

TEST(CardData, StateRoundTripsThroughAProfile) {
    sim::CardData data = sim::DefaultCardData();
    data.partitions["system.img"].content = {1, 2, 3};
    data.partitions["misc.img"].erased = true;
    data.wifi = {9, 8, 7, 6, 5, 4};
    data.efsFiles["vek/new/deep/file"] = {0xAA};
    const nlohmann::json state = sim::CardDataToJson(data);
    EXPECT_EQ(state["partition_digests"]["system.img"]["size"], 3);
    EXPECT_EQ(state["partition_digests"]["system.img"]["digest"], sim::Digest({1, 2, 3}));
    EXPECT_NE(sim::Digest({1, 2, 3}), sim::Digest({1, 2, 4}));
    const sim::CardData back = sim::CardDataFromJson(state);
    EXPECT_EQ(back.partitions.at("system.img").content, (sim::Bytes{1, 2, 3}));
    EXPECT_TRUE(back.partitions.at("misc.img").erased);
    EXPECT_EQ(back.wifi, data.wifi);
    EXPECT_EQ(back.efsFiles, data.efsFiles);
    EXPECT_EQ(back.efsDirs.count("vek/new/deep"), 1u);   // parents of listed files exist
    EXPECT_EQ(back.nv.at(836).readOnly, true);
    EXPECT_EQ(back.nv.at(1720).inactive, true);
    EXPECT_EQ(back.nv.at(22).data, data.nv.at(22).data);
    EXPECT_EQ(back.partitionTable, data.partitionTable);
    EXPECT_EQ(back.esn, data.esn);
}

TEST(CardData, ProfileFieldsAreCheckedAndMissingOnesKeepDefaults) {
    const auto profile = nlohmann::json::parse(
        R"({"version": "LUM_W326V1.0.0B05", "version_layout": "short", "spc": "123456", "esn": "0x11223344",
            "nv_items": [{"item": 5, "data": "0102", "read_only": true}]})");
    const sim::CardData data = sim::CardDataFromJson(profile);
    EXPECT_EQ(data.version, "LUM_W326V1.0.0B05");
    EXPECT_FALSE(data.longVersionAnswer);
    EXPECT_EQ(data.spc, "123456");
    EXPECT_EQ(data.esn, 0x11223344u);
    ASSERT_EQ(data.nv.size(), 1u);
    EXPECT_EQ(data.nv.at(5).data[1], 2);
    EXPECT_EQ(data.nv.at(5).data[2], 0);
    EXPECT_EQ(data.efsFiles, sim::DefaultCardData().efsFiles);
    for (const char* bad : {R"({"spc": "12345"})", R"({"wifi": "0011"})", R"({"version_layout": "medium"})",
                            R"({"partition_table": "xyz"})", R"({"nv_items": [{"item": 70000}]})", R"([1])"}) {
        EXPECT_THROW(sim::CardDataFromJson(nlohmann::json::parse(bad)), std::exception) << bad;
    }
}
