// The table of "channel.nvm": 6,000 records of 136 bytes, little-endian.
//
//   offset   0  u16  NV item number
//   offset   2  u16  reserved (written as zero, never read back)
//   offset   4  128  item data as read from the card (zero when the read failed)
//   offset 132  u16  NV status of the read (0 ok, the card's status, 0xFFFF no answer)
//   offset 134  u16  zero
//
// The first records hold the saved items in list order, the next one carries
// the end marker 6000 with zero data and status, and the rest are all zero.
// Pure encoding and decoding; the file itself is written elsewhere.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace upgrade::nvtable {

constexpr size_t kRecordSize = 136;
constexpr size_t kRecordCount = 6000;
constexpr size_t kTableSize = kRecordSize * kRecordCount;   // 816,000
constexpr size_t kItemDataSize = 128;
constexpr uint16_t kEndMarker = 6000;

constexpr size_t kItemOffset = 0;
constexpr size_t kDataOffset = 4;
constexpr size_t kStatusOffset = 132;

// The NV items the card keeps across a reflash, in the order they are saved.
// Number 89 is item 836 (not 4836); 453 is NV_FTM_MODE_I.
constexpr size_t kItemListSize = 90;
extern const std::array<uint16_t, kItemListSize> kItemList;

struct NvRecord {
    uint16_t item = 0;
    std::array<uint8_t, kItemDataSize> data{};
    uint16_t status = 0;
};

// The records of the item list with zero data and zero status.
std::vector<NvRecord> InitialRecords();

// The whole 816,000-byte table. Records beyond the room before the end
// marker (kRecordCount - 1) are not stored.
std::vector<uint8_t> EncodeTable(std::span<const NvRecord> records);
// The same into a table the caller owns (a loop encoding many tables need
// not ask for 816,000 fresh bytes each time).
void EncodeTableInto(std::span<const NvRecord> records, std::span<uint8_t, kTableSize> table);

// Reads the records of a table from the first one up to (not including) the
// first item number above 5,999. False when the table is not exactly
// kTableSize bytes long.
[[nodiscard]] bool DecodeTable(std::span<const uint8_t> table, std::vector<NvRecord>& records);

}  // namespace upgrade::nvtable
