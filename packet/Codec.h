// The byte-level codec of the card's serial protocols: the 16-bit frame check
// sequence (CRC-16/X-25 with the RFC 1662 table), escaping of flag and escape
// bytes, frame building, answer decoding and the splitting of a byte stream
// into flag-delimited frames. Pure functions over byte spans; no port, no
// clock, no state beyond what the caller passes in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace packet::codec {

inline constexpr uint8_t kFlag = 0x7E;
inline constexpr uint8_t kEscape = 0x7D;
inline constexpr uint8_t kEscapeXor = 0x20;
inline constexpr uint16_t kFcsInitial = 0xFFFF;
inline constexpr uint16_t kFcsGoodResidue = 0xF0B8;

// Folds bytes into an FCS register (no final complement).
uint16_t FcsUpdate(uint16_t reg, std::span<const uint8_t> bytes);
// The FCS to transmit for bytes: register preset 0xFFFF, complemented at the end.
uint16_t ComputeFcs(std::span<const uint8_t> bytes);
// True when bytes is not empty and, read as body followed by its received FCS,
// leaves the register at the good residue.
bool CheckFcs(std::span<const uint8_t> bytes);
// Stores the FCS of the first n bytes of buffer right behind them, low byte
// first, and returns n + 2; returns 0 (nothing written) when it does not fit.
size_t AppendFcs(std::span<uint8_t> buffer, size_t n);

// Number of bytes the escaped form of bytes takes.
size_t EscapedSize(std::span<const uint8_t> bytes);
// Writes the escaped form of bytes to out; returns its length, or 0 when out
// is too small (nothing useful is left in out then).
size_t Escape(std::span<const uint8_t> bytes, std::span<uint8_t> out);

struct UnescapeResult {
    size_t length = 0;          // bytes written to out
    // The last byte written is 0x7E. An escaped 0x7E at the very end counts
    // too: the answer is then taken as closed there and its FCS decides.
    bool endsWithFlag = false;
};
// Drops every escape byte and XORs the byte after it with 0x20; copies every
// other byte. An escape byte at the very end is dropped. Stops when out is full.
UnescapeResult Unescape(std::span<const uint8_t> bytes, std::span<uint8_t> out);

// Builds a whole frame: optional leading flag, escaped body and FCS, closing
// flag. Returns the frame length, or 0 when it would not fit in out.
size_t BuildFrame(std::span<const uint8_t> body, bool leadingFlag, std::span<uint8_t> out);
// Length of the frame BuildFrame would produce.
size_t FrameSize(std::span<const uint8_t> body, bool leadingFlag);

enum class DecodeStatus { Ok, NoEndFlag, BadFcs };

struct DecodeResult {
    DecodeStatus status = DecodeStatus::NoEndFlag;
    size_t length = 0;   // decoded body and its two FCS bytes, written to out
};

// Decodes one answer as the transaction received it. With flagExpected the
// answer must begin with a flag; one that does not is taken as if it had it.
// Surplus bytes behind the first closing flag of a run of flags (or one stray
// byte behind it) are cut away before decoding. out must hold received.size()
// bytes.
DecodeResult DecodeAnswer(std::span<const uint8_t> received, bool flagExpected, std::span<uint8_t> out);

// Calls onFrame(span) with the bytes between each opening and closing flag of
// a streaming answer, in order. A stream that does not begin with a flag is
// taken as if it did. A closing flag does not open the next frame; bytes after
// an opening flag that is never closed are ignored. Returns the number of
// frames found.
template <typename OnFrame>
size_t ForEachStreamingFrame(std::span<const uint8_t> bytes, OnFrame&& onFrame) {
    size_t frames = 0;
    bool open = bytes.empty() || bytes[0] != kFlag;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != kFlag) {
            continue;
        }
        if (!open) {
            open = true;
            start = i + 1;
        } else {
            onFrame(bytes.subspan(start, i - start));
            ++frames;
            open = false;
        }
    }
    return frames;
}

// The read-ahead buffer of the streaming receive path: one read from the
// port fills it, and each step hands on at most one frame of it.
class ReadAhead {
public:
    static constexpr size_t kCapacity = 1024;

    bool Empty() const { return fill_ == 0; }
    // Where the next read goes and how much it may bring.
    uint8_t* FillTarget() { return bytes_; }
    // Records a read of count bytes into FillTarget (only when Empty()).
    void Filled(uint32_t count);
    // Moves bytes into out up to and including the flag that closes a frame
    // (a flag as the first byte moved is an opening flag), or until the
    // buffer runs empty or out is full. Returns the count moved.
    size_t Step(std::span<uint8_t> out);

    uint32_t FillCount() const { return fill_; }
    uint32_t ReadPosition() const { return position_; }
    uint32_t LastReadCount() const { return lastRead_; }

private:
    uint8_t bytes_[kCapacity] = {};
    uint32_t fill_ = 0;
    uint32_t position_ = 0;
    uint32_t lastRead_ = 0;
};

}  // namespace packet::codec
