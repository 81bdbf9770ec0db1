#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "upgrade/flashing/StreamFormat.h"

using namespace upgrade;

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

}  // namespace

TEST(BlockChecksum, SumsLittleEndianWordsWithWrapAround) {
    EXPECT_EQ(BlockChecksum({}), 0u);
    const std::vector<uint8_t> words = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00};
    // 0x04030201 + 0xFFFFFFFF + 2 wraps to 0x04030202.
    EXPECT_EQ(BlockChecksum(words), 0x04030202u);
}

TEST(BlockChecksum, TailIsASignExtendedLittleEndianInteger) {
    EXPECT_EQ(BlockChecksum(std::vector<uint8_t>{0xFF}), 0xFFFFFFFFu);
    EXPECT_EQ(BlockChecksum(std::vector<uint8_t>{0x7F}), 0x7Fu);
    EXPECT_EQ(BlockChecksum(std::vector<uint8_t>{0x34, 0x82}), 0xFFFF8234u);
    EXPECT_EQ(BlockChecksum(std::vector<uint8_t>{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}), 0xFF800001u);
    EXPECT_EQ(BlockChecksum(std::vector<uint8_t>{0x11, 0x22, 0x33}), 0x00332211u);
}

TEST(DataBlock, CarriesOffsetDataAndChecksumLittleEndian) {
    const std::vector<uint8_t> data = {9, 8, 7, 6, 5};
    std::vector<uint8_t> out(data.size() + 8, 0xEE);
    ASSERT_EQ(BuildDataBlock(0x00021000, data, 0xA1B2C3D4, out), 13u);
    EXPECT_EQ(Le32(out, 0), 0x00021000u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 4, out.begin() + 9), data);
    EXPECT_EQ(Le32(out, 9), 0xA1B2C3D4u);
    std::vector<uint8_t> small(12);
    EXPECT_EQ(BuildDataBlock(0, data, 0, small), 0u) << "a buffer too small is refused, not overrun";
}

TEST(DataBlock, DataAlreadyInPlaceStaysIntact) {
    std::vector<uint8_t> frame = {0xEE, 0xEE, 0xEE, 0xEE, 1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE};
    const std::span<const uint8_t> inPlace(frame.data() + 4, 3);
    ASSERT_EQ(BuildDataBlock(7, inPlace, 0x01020304, frame), 11u);
    EXPECT_EQ(frame, (std::vector<uint8_t>{7, 0, 0, 0, 1, 2, 3, 4, 3, 2, 1}));
}

TEST(PartitionHeaderBlock, ShortFileIsZeroPaddedAndChecksummed) {
    std::vector<uint8_t> out(kPartitionHeaderBlockSize, 0xAA);
    const std::vector<uint8_t> table = {0x10, 0x20, 0x30, 0x40, 0x50};
    BuildPartitionHeaderBlock(0x17, table, out);
    EXPECT_EQ(out[0], 0x17);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1, out.begin() + 6), table);
    EXPECT_TRUE(std::all_of(out.begin() + 6, out.begin() + kRawBlockSize, [](uint8_t b) { return b == 0; }));
    // Words: 0x30201017, 0x00005040.
    EXPECT_EQ(Le32(out, kRawBlockSize), 0x30201017u + 0x00005040u);
}

TEST(PartitionHeaderBlock, LongFileIsCutAtTheBlockAndTheChecksumCoversCodeAndFileBytes) {
    std::vector<uint8_t> table(kRawBlockSize + 100);
    for (size_t i = 0; i < table.size(); ++i) table[i] = uint8_t(i * 13 + 1);
    std::vector<uint8_t> out(kPartitionHeaderBlockSize);
    BuildPartitionHeaderBlock(0x14, table, out);
    EXPECT_EQ(out[0], 0x14);
    EXPECT_EQ(out[kRawBlockSize - 1], table[kPartitionHeaderFileBytes - 1]);
    std::vector<uint8_t> covered(out.begin(), out.begin() + kRawBlockSize);
    EXPECT_EQ(Le32(out, kRawBlockSize), BlockChecksum(covered));
    // File bytes from 135,167 on never reach the block.
    std::vector<uint8_t> shorter(table.begin(), table.begin() + kPartitionHeaderFileBytes);
    std::vector<uint8_t> again(kPartitionHeaderBlockSize);
    BuildPartitionHeaderBlock(0x14, shorter, again);
    EXPECT_EQ(out, again);
}

TEST(ImageNames, PartitionCodesImageTypesAndCloselessNames) {
    EXPECT_EQ(PartitionCode("oemsbl.mbn"), 0x03);
    EXPECT_EQ(PartitionCode("cefs.mbn"), 0x08);
    EXPECT_EQ(PartitionCode("misc.img"), 0x17);
    EXPECT_EQ(PartitionCode("splash.img"), 0x19);
    EXPECT_EQ(PartitionCode("System.img"), 0x00) << "names compare case-sensitively";
    EXPECT_EQ(PartitionCode(""), 0x00);

    EXPECT_EQ(ImageNameOfType(0x04), "oemsbl.mbn");
    EXPECT_EQ(ImageNameOfType(0x09), "cefs.mbn");
    EXPECT_EQ(ImageNameOfType(0x17), "recovery.img");
    EXPECT_EQ(ImageNameOfType(0x18), "splash.img");
    EXPECT_EQ(ImageNameOfType(0x02), "");
    // Image-type and partition numbering differ: recovery is type 0x17 but partition 0x15.
    EXPECT_EQ(PartitionCode(ImageNameOfType(0x17)), 0x15);

    for (const char* closeless : {"boot.img", "system.img", "recovery.img", "userdata.img", "misc.img", "splash.img"})
        EXPECT_TRUE(IsCloselessName(closeless)) << closeless;
    for (const char* closed : {"oemsbl.mbn", "amss.mbn", "appsboot.mbn", "cefs.mbn", "cache.img", ""})
        EXPECT_FALSE(IsCloselessName(closed)) << closed;
}

TEST(ImageNames, BlockCountRoundsUp) {
    EXPECT_EQ(RawBlockCount(0), 0u);
    EXPECT_EQ(RawBlockCount(1), 1u);
    EXPECT_EQ(RawBlockCount(kRawBlockSize), 1u);
    EXPECT_EQ(RawBlockCount(3 * kRawBlockSize), 3u);
    EXPECT_EQ(RawBlockCount(3 * kRawBlockSize + 1), 4u);
    EXPECT_EQ(RawBlockCount(uint32_t(kLargestImageSize)), 15888u);
}
