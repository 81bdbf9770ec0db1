// The raw wire formats of image streaming and the names and codes that select
// them. Pure functions over bytes: no port, no file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "packet/RawBlocks.h"

namespace upgrade {

using packet::kPartitionHeaderBlockSize;
using packet::kRawBlockFrameSize;
using packet::kRawBlockSize;
constexpr uint32_t kPartitionHeaderFileBytes = kRawBlockSize - 1;
// Mode byte of every image-size announcement.
constexpr uint8_t kAnnounceMode = 2;
// Data of one framed boot-loader write.
constexpr uint32_t kBootLoaderChunk = 1024;
// Largest payload of a framed command (header files, partition table).
constexpr uint32_t kCommandPayloadCapacity = 1024;
// Image sizes and offsets travel as 32-bit signed values.
constexpr uint64_t kLargestImageSize = 0x7FFFFFFFull;

// Wrapping sum of the little-endian u32 words of data; a tail of 1-3 bytes is
// added as a little-endian signed integer of that width, sign-extended.
uint32_t BlockChecksum(std::span<const uint8_t> data);

// Writes offset, data and checksum into out (at least data.size() + 8 bytes)
// and returns the count written. The data may already lie at out[4].
size_t BuildDataBlock(uint32_t offset, std::span<const uint8_t> data, uint32_t checksum, std::span<uint8_t> out);

// Fills out (exactly kPartitionHeaderBlockSize bytes): the partition code,
// the first 135,167 bytes of the vendor partition file (zero where it is
// shorter) and the wrapping sum of the 33,792 LE words before the checksum.
void BuildPartitionHeaderBlock(uint8_t partitionCode, std::span<const uint8_t> vendorPartition,
                               std::span<uint8_t> out);

// Partition code of an image name (exact, case-sensitive); 0 for others.
uint8_t PartitionCode(std::string_view imageName);
// Name given to an image of this image-type code; empty for unknown codes.
std::string_view ImageNameOfType(uint8_t imageType);
// Images after which the programmer expects no close command.
bool IsCloselessName(std::string_view imageName);

// Number of raw blocks of an image of the given size.
uint32_t RawBlockCount(uint32_t imageSize);

}  // namespace upgrade
