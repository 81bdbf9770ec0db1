// Byte-level framing of the card's serial link: the CRC-16/X-25 frame check
// sequence, 0x7D escaping, and a deframer that splits a byte stream at flags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint16_t kGoodFcsResidue = 0xF0B8;

// Runs the FCS register (preset 0xFFFF, reversed polynomial 0x8408) over the
// bytes without the final complement.
uint16_t FcsRegister(std::span<const uint8_t> bytes, uint16_t start = 0xFFFF);
// The FCS as it is appended to a frame: the complemented register.
uint16_t Fcs(std::span<const uint8_t> bytes);
// True when the bytes end with a valid FCS (at least three bytes: body and FCS).
bool FcsIsGood(std::span<const uint8_t> bodyAndFcs);

// Body + FCS (low byte first), escaped, with an optional leading flag and the
// closing flag.
std::vector<uint8_t> BuildFrame(std::span<const uint8_t> body, bool leadingFlag);
std::vector<uint8_t> Unescape(std::span<const uint8_t> escaped);

// One frame as the deframer delimited it.
struct RawFrame {
    std::vector<uint8_t> escaped;   // bytes between the flags, still escaped
    bool leadingFlag = false;       // an opening flag preceded the bytes
};

// Splits a byte stream into frames. A flag with nothing collected before it
// is taken as an opening flag; the next flag closes the frame.
class Deframer {
public:
    // Feeds one byte; returns true when it closed a frame (then Take it).
    bool Push(uint8_t byte);
    RawFrame Take();
    void Reset();
    bool Empty() const { return current_.escaped.empty() && !current_.leadingFlag; }
    const std::vector<uint8_t>& Pending() const { return current_.escaped; }

private:
    RawFrame current_;
    RawFrame done_;
};

}  // namespace sim
