// Little- and big-endian field access for every wire and file format of the
// card: loads and stores at a pointer the caller has checked, reads from a
// span at an offset where bytes past its end count as 0, and appends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace packet::bytes {

inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint16_t LoadBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline uint32_t LoadBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           static_cast<uint32_t>(p[3]);
}

inline void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}

// Byte at of b, 0 past its end.
inline uint8_t ReadU8(std::span<const uint8_t> b, size_t at) { return at < b.size() ? b[at] : 0; }

inline uint16_t ReadLe16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(ReadU8(b, at) | ReadU8(b, at + 1) << 8);
}
inline uint16_t ReadBe16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(ReadU8(b, at) << 8 | ReadU8(b, at + 1));
}
inline uint32_t ReadLe32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(ReadLe16(b, at)) | static_cast<uint32_t>(ReadLe16(b, at + 2)) << 16;
}
inline uint32_t ReadBe32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(ReadBe16(b, at)) << 16 | static_cast<uint32_t>(ReadBe16(b, at + 2));
}

inline void AppendLe16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendBe16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
inline void AppendLe32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void AppendBe32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace packet::bytes
