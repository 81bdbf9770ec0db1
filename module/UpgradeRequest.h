// The input of message 1025 as the host lays it out (read by offset):
//    0  int32   not read
//    4  int32   not read
//    8  int32   COM port number
//   12  int32   not read
//   16  DualString  package folder (wide text; null counts as empty)
//   28  int32   not read
//   32  DualString  not read
//   44  int32   not read
// 48 bytes on a 32-bit build. On a 64-bit build the strings are 24 bytes
// and pointer-aligned: folder at 16, then 40, second string at 48, last
// field at 72, 80 bytes in all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/DualString.h"

namespace module {

constexpr int32_t kUpgradeMessage = 1025;   // 0x401

#if UINTPTR_MAX == 0xFFFFFFFF
constexpr size_t kUpgradeRequestSize = 48;
constexpr size_t kRequestOffsets[8] = {0, 4, 8, 12, 16, 28, 32, 44};
#else
constexpr size_t kUpgradeRequestSize = 80;
constexpr size_t kRequestOffsets[8] = {0, 4, 8, 12, 16, 40, 48, 72};
#endif
constexpr size_t kRequestPortOffset = kRequestOffsets[2];
constexpr size_t kRequestFolderOffset = kRequestOffsets[4];

// The module's own deep copy of a request.
struct UpgradeRequest {
    int32_t field0 = 0;
    int32_t field1 = 0;
    int32_t port = 0;
    int32_t field3 = 0;
    DualString packageFolder;
    int32_t field5 = 0;
    DualString text6;
    int32_t field7 = 0;
};

static_assert(sizeof(UpgradeRequest) == kUpgradeRequestSize);
static_assert(offsetof(UpgradeRequest, port) == kRequestPortOffset);
static_assert(offsetof(UpgradeRequest, packageFolder) == kRequestFolderOffset);
static_assert(offsetof(UpgradeRequest, field5) == kRequestOffsets[5]);
static_assert(offsetof(UpgradeRequest, text6) == kRequestOffsets[6]);
static_assert(offsetof(UpgradeRequest, field7) == kRequestOffsets[7]);

// Copies a host's request (kUpgradeRequestSize bytes) field by field,
// including deep copies of both strings.
UpgradeRequest CopyUpgradeRequest(const uint8_t* bytes);

// Reads a string a host placed in a record: narrow pointer, wide pointer,
// length. The copy holds length units of the wide text; a null wide pointer
// or a length not above zero gives the empty string.
DualString CopyHostString(const uint8_t* bytes);

}  // namespace module
