// SHA-256, for the digest of a package's files in the run history.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fwupgrade {

class Sha256 {
public:
    Sha256();
    void Add(const void* data, size_t size);
    void Add(const std::string& text) { Add(text.data(), text.size()); }
    // The digest as 64 lowercase hex digits; the object is used up.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> buffer_{};
    size_t buffered_ = 0;
    uint64_t totalBytes_ = 0;
};

}  // namespace fwupgrade
