// Any bytes as channel.nvm, the NV backup table. A table of the wrong size is
// refused; any other decodes to records the encoder writes back to the same
// item, data and status bytes, and decoding that again gives the same records.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/common/FuzzInput.h"
#include "upgrade/backup/NvBackupTable.h"

namespace nv = upgrade::nvtable;

namespace {

void Require(bool property) {
    if (!property) std::abort();
}

bool SameRecords(const std::vector<nv::NvRecord>& a, const std::vector<nv::NvRecord>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const nv::NvRecord& x, const nv::NvRecord& y) {
        return x.item == y.item && x.data == y.data && x.status == y.status;
    });
}

uint16_t U16At(const std::vector<uint8_t>& t, size_t at) { return static_cast<uint16_t>(t[at] | t[at + 1] << 8); }

// One full-size table for the whole run: a fresh one per input would cost
// more than everything else the target does. Only the bytes an input wrote
// are set back to zero afterwards.
class SharedTable {
public:
    SharedTable() = default;
    ~SharedTable() { std::fill_n(table_.begin(), written_, uint8_t{0}); }
    SharedTable(const SharedTable&) = delete;
    SharedTable& operator=(const SharedTable&) = delete;

    // The first records of a full-size table, then the end marker and zeros,
    // as the encoder leaves a table.
    const std::vector<uint8_t>& Fill(std::span<const uint8_t> records) {
        written_ = std::min(records.size(), table_.size());
        std::copy_n(records.begin(), written_, table_.begin());
        const size_t marker = (records.size() + nv::kRecordSize - 1) / nv::kRecordSize;
        if (marker < nv::kRecordCount) {
            table_[marker * nv::kRecordSize] = static_cast<uint8_t>(nv::kEndMarker & 0xFF);
            table_[marker * nv::kRecordSize + 1] = static_cast<uint8_t>(nv::kEndMarker >> 8);
            written_ = std::max(written_, marker * nv::kRecordSize + 2);
        }
        return table_;
    }

private:
    static std::vector<uint8_t>& Storage() {
        static std::vector<uint8_t>* const storage = new std::vector<uint8_t>(nv::kTableSize, 0);
        return *storage;
    }
    std::vector<uint8_t>& table_ = Storage();
    size_t written_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const bool asIs = in.Bit();
    const auto rest = in.Rest();
    std::vector<nv::NvRecord> records;
    if (asIs) {
        // The file exactly as read: only the full size is a table.
        Require(nv::DecodeTable(rest, records) == (rest.size() == nv::kTableSize));
        return 0;
    }
    SharedTable shared;
    const std::vector<uint8_t>& table = shared.Fill(rest);
    Require(nv::DecodeTable(table, records));
    Require(records.size() <= nv::kRecordCount);
    for (size_t i = 0; i < records.size(); ++i) {
        const size_t at = i * nv::kRecordSize;
        Require(records[i].item < nv::kEndMarker && records[i].item == U16At(table, at + nv::kItemOffset));
        Require(std::equal(records[i].data.begin(), records[i].data.end(), table.begin() + at + nv::kDataOffset));
        Require(records[i].status == U16At(table, at + nv::kStatusOffset));
    }
    if (records.size() < nv::kRecordCount) {
        Require(U16At(table, records.size() * nv::kRecordSize) >= nv::kEndMarker);
    }
    static std::vector<uint8_t>* const encoded = new std::vector<uint8_t>(nv::kTableSize);
    nv::EncodeTableInto(records, std::span<uint8_t, nv::kTableSize>(encoded->data(), nv::kTableSize));
    std::vector<nv::NvRecord> again;
    Require(nv::DecodeTable(*encoded, again));
    // The encoder keeps room for its end marker: a table filled to the last
    // record loses that one.
    const size_t kept = std::min(records.size(), nv::kRecordCount - 1);
    records.resize(kept);
    Require(SameRecords(records, again));
    return 0;
}
