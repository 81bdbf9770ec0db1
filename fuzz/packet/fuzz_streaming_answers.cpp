// Any bytes as the flash programmer's answer to each streaming request, and
// as what the receive path reads while raw blocks go out. An error answer
// never passes as done, the block-written list never outgrows its 64 places
// and holds only addresses the answer carried, and a receive step never
// moves more than the read-ahead buffer holds.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/packet/AnswerCommands.h"
#include "fuzz/packet/AnswerPort.h"
#include "packet/Codec.h"

using fuzz::Require;

namespace {

constexpr uint8_t kBlockWritten = 0x08;
constexpr uint8_t kError = 0x0D;

// Whether any frame of the answer is a good error report.
bool CarriesError(std::span<const uint8_t> answer) {
    bool error = false;
    packet::codec::ForEachStreamingFrame(answer, [&](std::span<const uint8_t> frame) {
        std::vector<uint8_t> plain(frame.size());
        const size_t n = packet::codec::Unescape(frame, plain).length;
        if (n >= 1 && packet::codec::CheckFcs(std::span<const uint8_t>(plain.data(), n)) && plain[0] == kError) {
            error = true;
        }
    });
    return error;
}

// The block-written addresses of every run of bytes between flags (or an end
// of bytes) that checks as a frame: whichever way a receive path cuts the
// answer into frames, an address it reports must be one of these.
void AddAddresses(std::span<const uint8_t> bytes, std::set<uint32_t>& out) {
    std::vector<uint8_t> plain(bytes.size());
    size_t start = 0;
    for (size_t i = 0; i <= bytes.size(); ++i) {
        if (i < bytes.size() && bytes[i] != packet::codec::kFlag) continue;
        const auto run = bytes.subspan(start, i - start);
        start = i + 1;
        const size_t n = packet::codec::Unescape(run, plain).length;
        if (n >= 1 && packet::codec::CheckFcs(std::span<const uint8_t>(plain.data(), n)) && plain[0] == kBlockWritten) {
            uint32_t address = 0;
            for (size_t k = 0; k < 4; ++k) {
                address |= static_cast<uint32_t>(1 + k < n ? plain[1 + k] : 0) << (8 * k);
            }
            out.insert(address);
        }
    }
}

// Addresses of the answer as one read sees it and as reads of the read-ahead
// buffer's size cut it.
std::set<uint32_t> CarriedAddresses(std::span<const uint8_t> answer) {
    std::set<uint32_t> out;
    AddAddresses(answer, out);
    for (size_t at = 0; at < answer.size(); at += packet::codec::ReadAhead::kCapacity) {
        AddAddresses(answer.subspan(at, std::min(packet::codec::ReadAhead::kCapacity, answer.size() - at)), out);
    }
    return out;
}

struct Run {
    packet::CPacket& p;
    std::span<const uint8_t> answer;
    const std::vector<uint8_t>& body;   // the answer as one framed transaction decodes it
    // The answer's block-written addresses, found on first need.
    mutable std::optional<std::set<uint32_t>> carried = std::nullopt;
};

void CheckBlockList(const Run& r) {
    Require(r.p.BlockWrittenCount() <= packet::CPacket::kBlockWrittenCapacity);
    if (r.p.BlockWrittenCount() == 0) return;
    if (!r.carried) r.carried = CarriedAddresses(r.answer);
    for (uint8_t i = 0; i < r.p.BlockWrittenCount(); ++i) {
        Require(r.carried->count(r.p.BlockWrittenAddress(i)) == 1);
    }
}

void NotAnError(const Run& r) { Require(r.body.empty() || r.body[0] != kError); }

void Hello(const Run& r) { if (r.p.Hello()) NotAnError(r); }
void Nop(const Run& r) { if (r.p.Nop()) NotAnError(r); }
void Reset(const Run& r) { if (r.p.Reset()) NotAnError(r); }
void Security(const Run& r) {
    if (r.p.SecurityMode()) Require(!CarriesError(r.answer));
    CheckBlockList(r);
}
// A table that is not confirmed counts as sent, but never one the card
// asked to override (and is asked again, since every answer is the same).
void Table(const Run& r) {
    const uint8_t table[16] = {0xAA, 0x73, 0xEE, 0x55};
    r.p.SetPartitionOverride(false);
    const bool sent = r.p.PartitionTable(table, sizeof table);
    if (r.body.size() >= 2 && r.body[0] == 0x1A && r.body[1] == 0x01) {
        Require(!sent && r.p.PartitionOverride());
    }
}
void Open(const Run& r) {
    const uint8_t header[40] = {7};
    if (r.p.OpenMultiImage(5, header, sizeof header)) NotAnError(r);
}
void StreamWrite(const Run& r) {
    uint8_t data[1024];
    std::memset(data, 0x7E, sizeof data);
    if (r.p.StreamWrite(data, 0x2000, sizeof data)) Require(!CarriesError(r.answer));
    CheckBlockList(r);
}
void Close(const Run& r) {
    if (r.p.CloseImage()) Require(!CarriesError(r.answer));
    CheckBlockList(r);
}
// The announcement is not answered itself: its answers come with the
// receive steps that follow while raw blocks go out.
void AnnounceAndReceive(const Run& r) {
    (void)r.p.AnnounceImageSize(135168 * 3, 2);   // only sent: the steps below take the answers
    for (int step = 0; step < 8; ++step) {
        (void)r.p.ReceiveStreamingStep();   // the checks below hold whatever the step found
        Require(r.p.LastStepLength() <= packet::codec::ReadAhead::kCapacity);
        CheckBlockList(r);
    }
}

using Command = void (*)(const Run&);
constexpr Command kCommands[] = {Hello, Nop, Reset, Security, Table, Open, StreamWrite, Close, AnnounceAndReceive};
static_assert(std::size(kCommands) == std::size(fuzz::kStreamingRequests));

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const Command command = kCommands[in.U8() % std::size(kCommands)];
    const auto answer = in.Rest();
    if (answer.size() > 4096) return 0;
    fuzz::AnsweredPacket port(answer);
    const std::vector<uint8_t> body = fuzz::DecodedBody(answer, true);
    command(Run{port.packet, answer, body});
    return 0;
}
