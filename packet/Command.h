// The one way a command of this folder goes out: reset the command, fill its
// request, run its exchange with its attempts and timeout, check the answer
// and put the command's own words before the error text when it fails.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packet/Packet.h"
#include "packet/PacketState.h"

namespace packet {

enum class Exchange : uint8_t {
    Framed,      // attempts of one framed request, each awaiting one decoded answer
    Streaming,   // one framed request; every frame of one read is taken
    Efs,         // a raw EFS2 body whose answer is unescaped and must carry answerSize bytes
    SendOnly,    // the frame goes out; no answer is awaited
};

struct CommandSpec {
    PacketMode mode = PacketMode::Diag;
    // The command code; a raw body starts with it.
    uint8_t code = 0;
    Exchange exchange = Exchange::Framed;
    uint8_t attempts = 1;
    uint32_t timeoutMs = 0;
    // Put before the error text when the command fails; null leaves the text as it is.
    const char* failurePrefix = nullptr;
    // A check of the answer once the exchange succeeded. A refused answer
    // fails the command after the given rounds of exchanges, with refusedText
    // as the error text when there is one.
    bool (*accepted)(const PacketState&) = nullptr;
    int rounds = 1;
    const char* refusedText = nullptr;
    // Efs: the body bytes the answer must carry, and whether a transport
    // failure leaves the error text empty.
    size_t answerSize = 0;
    bool emptyTextOnTransportFailure = false;
};

template <class Fill>
bool CPacket::RunCommand(const CommandSpec& spec, Fill&& fill) {
    BeginCommand(spec);
    fill(*state_);
    return FinishCommand(spec);
}

}  // namespace packet
