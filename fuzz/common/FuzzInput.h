// Reads typed fields off the front of a fuzzer's input. Past its end every
// field reads as zero and every byte run as empty, so a short input is just
// another input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : bytes_(data, size) {}

    bool Empty() const { return at_ >= bytes_.size(); }
    size_t Left() const { return bytes_.size() - at_; }

    uint8_t U8() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
    uint16_t Le16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t Le32() {
        const uint32_t low = Le16();
        return low | static_cast<uint32_t>(Le16()) << 16;
    }
    bool Bit() { return (U8() & 1) != 0; }

    // Up to n bytes, fewer when the input ends first.
    std::span<const uint8_t> Bytes(size_t n) {
        const size_t count = n < Left() ? n : Left();
        const auto out = bytes_.subspan(at_, count);
        at_ += count;
        return out;
    }
    // A run whose length byte comes first.
    std::span<const uint8_t> Sized() { return Bytes(U8()); }
    std::string Text(size_t n) {
        const auto b = Bytes(n);
        return std::string(b.begin(), b.end());
    }
    std::span<const uint8_t> Rest() { return Bytes(Left()); }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

}  // namespace fuzz
