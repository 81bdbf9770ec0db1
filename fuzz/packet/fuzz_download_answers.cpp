// Any bytes as the boot downloader's answer to each download-mode request.
// A command only succeeds on an answer it can vouch for: the no-operation on
// an acknowledgement, the parameters only from the bytes carried and within
// their tables, and no refusal (NAK) ever passes as done.
#include <cstdint>
#include <cstring>

#include "fuzz/common/FuzzInput.h"
#include "fuzz/packet/AnswerCommands.h"
#include "fuzz/packet/AnswerPort.h"

using fuzz::Require;

namespace {

constexpr uint8_t kAck = 0x02;
constexpr uint8_t kNak = 0x03;
constexpr uint8_t kParams = 0x08;

bool Refused(const std::vector<uint8_t>& body) { return !body.empty() && body[0] == kNak; }

void Noop(packet::CPacket& p, const std::vector<uint8_t>& body) {
    if (p.DoNoop()) Require(!body.empty() && body[0] == kAck);
}

void Params(packet::CPacket& p, const std::vector<uint8_t>& body) {
    packet::ParamRecord record;
    if (!p.ParamRequest(record)) {
        Require(record.maximumWriteSize == 0 && record.flashSizeBytes == 0);
        return;
    }
    Require(!Refused(body));
    Require(record.flashSizeCode < 7 && record.deviceType < 35);
    Require(record.modelName[sizeof record.modelName - 1] == 0 && record.deviceName[sizeof record.deviceName - 1] == 0);
    if (!body.empty() && body[0] == kParams && body.size() >= 10) {
        Require(record.protocolVersion == body[1] && record.minimumVersion == body[2]);
        Require(record.maximumWriteSize == (static_cast<uint32_t>(body[3]) | static_cast<uint32_t>(body[4]) << 8 |
                                            static_cast<uint32_t>(body[5]) << 16 | static_cast<uint32_t>(body[6]) << 24));
    }
}

void Go(packet::CPacket& p, const std::vector<uint8_t>& body) {
    if (p.Go()) Require(!Refused(body));
}

void Write(packet::CPacket& p, const std::vector<uint8_t>& body) {
    uint8_t block[1017];
    std::memset(block, 0x5A, sizeof block);
    if (p.Write32(block, 0x00500000, sizeof block)) Require(!Refused(body));
}

// Any answer counts: only the transaction itself is under test.
void Probe(packet::CPacket& p, const std::vector<uint8_t>&) { (void)p.TouchPort(); }

using Command = void (*)(packet::CPacket&, const std::vector<uint8_t>&);
constexpr Command kCommands[] = {Noop, Params, Go, Write, Probe};
static_assert(std::size(kCommands) == std::size(fuzz::kDownloadRequests));

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const Command command = kCommands[in.U8() % std::size(kCommands)];
    const auto answer = in.Rest();
    if (answer.size() > 4096) return 0;
    fuzz::AnsweredPacket port(answer);
    command(port.packet, fuzz::DecodedBody(answer, true));
    port.packet.Response();
    return 0;
}
