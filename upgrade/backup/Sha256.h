// SHA-256 of byte spans and files: the digests that tie a backup record to
// the backup files it describes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace upgrade {

class Sha256 {
public:
    Sha256();
    void Update(std::span<const uint8_t> bytes);
    // The digest of everything given; the object is spent afterwards.
    std::array<uint8_t, 32> Final();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> pending_{};
    size_t pendingLength_ = 0;
    uint64_t totalLength_ = 0;
};

// Lower-case hex of a digest.
std::string DigestHex(const std::array<uint8_t, 32>& digest);
// Lower-case hex of the digest of the bytes.
std::string Sha256Hex(std::span<const uint8_t> bytes);
// Lower-case hex of the digest of a whole file; false when it cannot be read.
bool Sha256OfFile(const std::u16string& path, std::string& hex);

}  // namespace upgrade
