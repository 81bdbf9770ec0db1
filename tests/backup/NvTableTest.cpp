#include <gtest/gtest.h>

#include <algorithm>

#include "upgrade/backup/NvBackupTable.h"

namespace nv = upgrade::nvtable;

namespace {

uint16_t U16At(const std::vector<uint8_t>& table, size_t offset) {
    return static_cast<uint16_t>(table[offset] | (table[offset + 1] << 8));
}

bool AllZero(const std::vector<uint8_t>& table, size_t from, size_t to) {
    return std::all_of(table.begin() + static_cast<long>(from), table.begin() + static_cast<long>(to),
                       [](uint8_t b) { return b == 0; });
}

}  // namespace

TEST(NvTable, FreshTableHoldsTheItemListTheEndMarkerAndZeros) {
    const std::vector<uint8_t> table = nv::EncodeTable(nv::InitialRecords());
    ASSERT_EQ(table.size(), 816000u);
    ASSERT_EQ(nv::kItemList.size(), 90u);
    EXPECT_EQ(nv::kItemList[88], 836);   // not 4836
    EXPECT_EQ(nv::kItemList[7], 453);
    EXPECT_EQ(nv::kItemList[89], 4837);

    for (size_t i = 0; i < 90; ++i) {
        const size_t at = i * 136;
        EXPECT_EQ(U16At(table, at), nv::kItemList[i]) << "record " << i;
        EXPECT_TRUE(AllZero(table, at + 2, at + 136)) << "record " << i;
    }
    EXPECT_EQ(U16At(table, 90 * 136), 6000);
    EXPECT_TRUE(AllZero(table, 90 * 136 + 2, table.size()));
}

TEST(NvTable, RecordFieldsAreLittleEndianAtTheirOffsets) {
    std::vector<nv::NvRecord> records(2);
    records[0].item = 0x1234;
    records[0].status = 0xBEEF;
    for (size_t i = 0; i < 128; ++i) {
        records[0].data[i] = static_cast<uint8_t>(i + 1);
    }
    records[1].item = 836;
    records[1].status = 5;

    const std::vector<uint8_t> table = nv::EncodeTable(records);
    EXPECT_EQ(table[0], 0x34);
    EXPECT_EQ(table[1], 0x12);
    EXPECT_EQ(table[2], 0);   // reserved
    EXPECT_EQ(table[3], 0);
    EXPECT_EQ(table[4], 1);
    EXPECT_EQ(table[131], 128);
    EXPECT_EQ(table[132], 0xEF);
    EXPECT_EQ(table[133], 0xBE);
    EXPECT_EQ(table[134], 0);
    EXPECT_EQ(table[135], 0);
    EXPECT_EQ(U16At(table, 136), 836);
    EXPECT_EQ(U16At(table, 136 + 132), 5);
    EXPECT_EQ(U16At(table, 2 * 136), 6000);   // the end marker follows the last record
}

// A table reused for another encoding keeps nothing of what it held.
TEST(NvTable, EncodingIntoAUsedTableLeavesNothingOfItsOldBytes) {
    std::vector<uint8_t> used(nv::kTableSize, 0xA5);
    const std::vector<nv::NvRecord> records = nv::InitialRecords();
    nv::EncodeTableInto(records, std::span<uint8_t, nv::kTableSize>(used.data(), nv::kTableSize));
    EXPECT_EQ(used, nv::EncodeTable(records));
}

TEST(NvTable, DecodeGivesBackEveryRecordWithItsStatus) {
    std::vector<nv::NvRecord> records = nv::InitialRecords();
    records[3].status = 5;   // not active: zero data, status kept
    records[7].data.fill(0xA5);
    records[88].data[127] = 0x42;
    records[89].status = 0xFFFF;

    std::vector<nv::NvRecord> decoded;
    ASSERT_TRUE(nv::DecodeTable(nv::EncodeTable(records), decoded));
    ASSERT_EQ(decoded.size(), 90u);
    for (size_t i = 0; i < 90; ++i) {
        EXPECT_EQ(decoded[i].item, records[i].item);
        EXPECT_EQ(decoded[i].status, records[i].status);
        EXPECT_EQ(decoded[i].data, records[i].data);
    }
}

TEST(NvTable, DecodeRejectsAnyOtherLengthAndStopsAboveItem5999) {
    std::vector<uint8_t> table = nv::EncodeTable(nv::InitialRecords());
    std::vector<nv::NvRecord> decoded;

    std::vector<uint8_t> shorter(table.begin(), table.end() - 1);
    EXPECT_FALSE(nv::DecodeTable(shorter, decoded));
    std::vector<uint8_t> longer = table;
    longer.push_back(0);
    EXPECT_FALSE(nv::DecodeTable(longer, decoded));

    table[3 * 136] = 0x71;   // item 6001 in record 3
    table[3 * 136 + 1] = 0x17;
    ASSERT_TRUE(nv::DecodeTable(table, decoded));
    EXPECT_EQ(decoded.size(), 3u);

    table[3 * 136] = 0x6F;   // item 5999 is still an item
    ASSERT_TRUE(nv::DecodeTable(table, decoded));
    EXPECT_EQ(decoded.size(), 90u);
    EXPECT_EQ(decoded[3].item, 5999);
}

TEST(NvTable, ATableWithoutEndMarkerDecodesAllRecordsAndEncodeKeepsRoomForIt) {
    std::vector<nv::NvRecord> many(7000);
    for (size_t i = 0; i < many.size(); ++i) {
        many[i].item = static_cast<uint16_t>(i % 5000);
    }
    const std::vector<uint8_t> table = nv::EncodeTable(many);
    ASSERT_EQ(table.size(), 816000u);
    EXPECT_EQ(U16At(table, 5999 * 136), 6000);

    std::vector<nv::NvRecord> decoded;
    ASSERT_TRUE(nv::DecodeTable(table, decoded));
    EXPECT_EQ(decoded.size(), 5999u);

    std::vector<uint8_t> noMarker(816000, 0);   // all item 0: six thousand records
    ASSERT_TRUE(nv::DecodeTable(noMarker, decoded));
    EXPECT_EQ(decoded.size(), 6000u);
}
