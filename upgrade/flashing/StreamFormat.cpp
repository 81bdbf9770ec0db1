#include "upgrade/flashing/StreamFormat.h"

#include <algorithm>
#include <cstring>

#include "packet/ByteOrder.h"

namespace upgrade {
namespace {

using packet::bytes::LoadLe32;
using packet::bytes::StoreLe32;

}  // namespace

uint32_t BlockChecksum(std::span<const uint8_t> data) {
    uint32_t sum = 0;
    const size_t words = data.size() / 4;
    for (size_t i = 0; i < words; ++i) sum += LoadLe32(data.data() + i * 4);
    const size_t tail = data.size() % 4;
    if (tail != 0) {
        const uint8_t* p = data.data() + words * 4;
        uint32_t value = 0;
        for (size_t i = 0; i < tail; ++i) value |= uint32_t(p[i]) << (8 * i);
        // Sign-extend from the top bit of the last byte.
        if (p[tail - 1] & 0x80) value |= ~uint32_t(0) << (8 * tail);
        sum += value;
    }
    return sum;
}

size_t BuildDataBlock(uint32_t offset, std::span<const uint8_t> data, uint32_t checksum, std::span<uint8_t> out) {
    const size_t length = data.size() + 8;
    if (out.size() < length) return 0;
    StoreLe32(out.data(), offset);
    // The image streamer reads each block straight into its place in the
    // frame; only data from elsewhere is copied (and never onto itself).
    if (!data.empty() && data.data() != out.data() + 4) std::memmove(out.data() + 4, data.data(), data.size());
    StoreLe32(out.data() + 4 + data.size(), checksum);
    return length;
}

void BuildPartitionHeaderBlock(uint8_t partitionCode, std::span<const uint8_t> vendorPartition,
                               std::span<uint8_t> out) {
    if (out.size() < kPartitionHeaderBlockSize) return;
    std::fill(out.begin(), out.begin() + kPartitionHeaderBlockSize, uint8_t(0));
    out[0] = partitionCode;
    const size_t copied = std::min<size_t>(vendorPartition.size(), kPartitionHeaderFileBytes);
    if (copied != 0) std::memcpy(out.data() + 1, vendorPartition.data(), copied);
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kRawBlockSize; i += 4) sum += LoadLe32(out.data() + i);
    StoreLe32(out.data() + kRawBlockSize, sum);
}

uint8_t PartitionCode(std::string_view imageName) {
    struct Entry {
        std::string_view name;
        uint8_t code;
    };
    static constexpr Entry kCodes[] = {
        {"oemsbl.mbn", 0x03},   {"amss.mbn", 0x04},   {"appsboot.mbn", 0x05},     {"cefs.mbn", 0x08},
        {"boot.img", 0x13},     {"system.img", 0x14}, {"recovery.img", 0x15},     {"userdata.img", 0x16},
        {"misc.img", 0x17},     {"cache.img", 0x18},  {"splash.img", 0x19},
    };
    for (const Entry& e : kCodes)
        if (e.name == imageName) return e.code;
    return 0x00;
}

std::string_view ImageNameOfType(uint8_t imageType) {
    switch (imageType) {
        case 0x04: return "oemsbl.mbn";
        case 0x05: return "amss.mbn";
        case 0x0A: return "appsboot.mbn";
        case 0x09: return "cefs.mbn";
        case 0x14: return "boot.img";
        case 0x15: return "system.img";
        case 0x16: return "userdata.img";
        case 0x17: return "recovery.img";
        case 0x18: return "splash.img";
        default: return {};
    }
}

bool IsCloselessName(std::string_view imageName) {
    return imageName == "boot.img" || imageName == "system.img" || imageName == "recovery.img" ||
           imageName == "userdata.img" || imageName == "misc.img" || imageName == "splash.img";
}

uint32_t RawBlockCount(uint32_t imageSize) { return (imageSize + kRawBlockSize - 1) / kRawBlockSize; }

}  // namespace upgrade
