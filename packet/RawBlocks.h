// Sizes of the raw blocks that carry an image to the flash programmer outside
// any frame, shared by the host that sends them and the card that takes them.
#pragma once

#include <cstdint>

namespace packet {

// Payload of one raw data block.
inline constexpr uint32_t kRawBlockSize = 135168;   // 0x21000
// A raw data block on the wire: offset, data, checksum.
inline constexpr uint32_t kRawBlockFrameSize = 4 + kRawBlockSize + 4;
// Partition header block: code byte, 135,167 file bytes, checksum.
inline constexpr uint32_t kPartitionHeaderBlockSize = 135172;   // 0x21004

}  // namespace packet
