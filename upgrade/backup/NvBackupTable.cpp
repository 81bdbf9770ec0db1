#include "upgrade/backup/NvBackupTable.h"

#include <algorithm>

#include "packet/ByteOrder.h"

namespace upgrade::nvtable {

const std::array<uint16_t, kItemListSize> kItemList = {
    77,   0,    22,   88,   96,   141,  447,  453,  1631, 1632, 1633, 1634, 1635, 1642, 1643,
    1644, 1648, 1649, 1650, 1651, 1652, 1653, 1654, 1655, 1666, 1667, 1668, 1669, 1670, 1671,
    1672, 1687, 1689, 1690, 1691, 1692, 1693, 1694, 1695, 1698, 1699, 1720, 1721, 1722, 1723,
    1724, 1731, 1732, 1733, 1736, 1737, 1738, 1739, 1740, 1741, 1742, 1743, 1744, 1745, 1746,
    1747, 1748, 1749, 1750, 1751, 1766, 1767, 1768, 1769, 1770, 1771, 1772, 1773, 1776, 1777,
    1943, 3265, 3266, 4795, 4796, 4797, 4799, 4800, 4801, 4831, 4832, 4833, 4835, 836,  4837,
};

namespace {

using packet::bytes::LoadLe16;
using packet::bytes::StoreLe16;

}  // namespace

std::vector<NvRecord> InitialRecords() {
    std::vector<NvRecord> records(kItemList.size());
    for (size_t i = 0; i < kItemList.size(); ++i) {
        records[i].item = kItemList[i];
    }
    return records;
}

std::vector<uint8_t> EncodeTable(std::span<const NvRecord> records) {
    std::vector<uint8_t> table(kTableSize);
    EncodeTableInto(records, std::span<uint8_t, kTableSize>(table.data(), kTableSize));
    return table;
}

void EncodeTableInto(std::span<const NvRecord> records, std::span<uint8_t, kTableSize> table) {
    std::fill(table.begin(), table.end(), uint8_t{0});
    const size_t stored = std::min(records.size(), kRecordCount - 1);
    for (size_t i = 0; i < stored; ++i) {
        uint8_t* record = table.data() + i * kRecordSize;
        StoreLe16(record + kItemOffset, records[i].item);
        std::copy(records[i].data.begin(), records[i].data.end(), record + kDataOffset);
        StoreLe16(record + kStatusOffset, records[i].status);
    }
    StoreLe16(table.data() + stored * kRecordSize + kItemOffset, kEndMarker);
}

bool DecodeTable(std::span<const uint8_t> table, std::vector<NvRecord>& records) {
    records.clear();
    if (table.size() != kTableSize) {
        return false;
    }
    for (size_t i = 0; i < kRecordCount; ++i) {
        const uint8_t* record = table.data() + i * kRecordSize;
        NvRecord decoded;
        decoded.item = LoadLe16(record + kItemOffset);
        if (decoded.item > kEndMarker - 1) {
            break;
        }
        std::copy(record + kDataOffset, record + kDataOffset + kItemDataSize, decoded.data.begin());
        decoded.status = LoadLe16(record + kStatusOffset);
        records.push_back(decoded);
    }
    return true;
}

}  // namespace upgrade::nvtable
