// The requests each answer target sends, by the first bytes of their body,
// in the order of the target's command table. The first byte of a target's
// input picks the entry; the seed maker uses the same table to file a
// recorded answer under the request it answered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace fuzz {

struct RequestKey {
    uint8_t prefix[4];
    uint8_t length;
};

inline constexpr RequestKey kDiagRequests[] = {
    {{0x01}, 1},                    // ESN
    {{0x38}, 1},                    // software version
    {{0x26}, 1},                    // NV item read
    {{0x27}, 1},                    // NV item write
    {{0x41}, 1},                    // service programming code
    {{0x29}, 1},                    // offline mode
    {{0x3A}, 1},                    // switch to the boot downloader
    {{0x4B, 0xD3, 0x00, 0x00}, 4},  // Wi-Fi address read
    {{0x4B, 0xD3, 0x01, 0x00}, 4},  // Wi-Fi address write
    {{0x59}, 1},                    // lock-file access
};

inline constexpr RequestKey kDownloadRequests[] = {
    {{0x06}, 1},   // no-operation
    {{0x07}, 1},   // parameter request
    {{0x05}, 1},   // go
    {{0x0F}, 1},   // write
    {{0x0C}, 1},   // status probe
};

inline constexpr RequestKey kStreamingRequests[] = {
    {{0x01}, 1},   // hello
    {{0x09}, 1},   // no-operation
    {{0x0B}, 1},   // reset
    {{0x17}, 1},   // security mode
    {{0x19}, 1},   // partition table
    {{0x1B}, 1},   // open multi-image
    {{0x07}, 1},   // stream write
    {{0x15}, 1},   // close image
    {{0x1D}, 1},   // image size announcement (answered by the next read)
};

inline constexpr RequestKey kEfsRequests[] = {
    {{0x4B, 0x13, 0x0B, 0x00}, 4},   // open directory
    {{0x4B, 0x13, 0x0C, 0x00}, 4},   // read directory
    {{0x4B, 0x13, 0x0D, 0x00}, 4},   // close directory
    {{0x4B, 0x13, 0x02, 0x00}, 4},   // open
    {{0x4B, 0x13, 0x11, 0x00}, 4},   // stat
    {{0x4B, 0x13, 0x04, 0x00}, 4},   // read
    {{0x4B, 0x13, 0x05, 0x00}, 4},   // write
    {{0x4B, 0x13, 0x03, 0x00}, 4},   // close
};

// Index of the entry whose prefix starts body, or -1.
template <size_t N>
int FindRequest(const RequestKey (&table)[N], std::span<const uint8_t> body) {
    for (size_t i = 0; i < N; ++i) {
        const RequestKey& key = table[i];
        bool match = body.size() >= key.length;
        for (size_t k = 0; match && k < key.length; ++k) {
            match = body[k] == key.prefix[k];
        }
        if (match) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace fuzz
