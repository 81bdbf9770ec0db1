// The command helper every command of this folder runs through.
#include "packet/Command.h"

#include "platform/Platform.h"

namespace packet {

void CPacket::ComposeError(const std::string& prefix) {
    State& s = *state_;
    s.composedText = prefix + s.errorText;
    s.errorText = s.composedText;
}

bool CPacket::RefuseOversized(uint32_t length, const char* failurePrefix) {
    if (length <= kPayloadSize) {
        return false;
    }
    ResetCommand();
    state_->errorText = kTextRequestTooLarge;
    if (failurePrefix != nullptr) {
        ComposeError(failurePrefix);
    }
    return true;
}

void CPacket::BeginCommand(const CommandSpec& spec) {
    ResetCommand();
    State& s = *state_;
    s.mode = spec.mode;
    s.request.command = spec.code;
    if (spec.mode == PacketMode::Raw) {
        BodyWriter(s).U8(spec.code);
    }
}

bool CPacket::RunCommand(const CommandSpec& spec) {
    BeginCommand(spec);
    return FinishCommand(spec);
}

bool CPacket::FinishCommand(const CommandSpec& spec) {
    bool done = false;
    for (int round = 0; round < spec.rounds && !done; ++round) {
        if (!RunExchange(spec)) {
            break;
        }
        done = spec.accepted == nullptr || spec.accepted(*state_);
        if (!done && spec.refusedText != nullptr) {
            state_->errorText = spec.refusedText;
        }
    }
    if (!done && spec.failurePrefix != nullptr) {
        ComposeError(spec.failurePrefix);
    }
    return done;
}

bool CPacket::RunExchange(const CommandSpec& spec) {
    switch (spec.exchange) {
        case Exchange::Framed: return SendPacket(spec.attempts, spec.timeoutMs);
        case Exchange::Streaming: return SendStreamingPacket(spec.timeoutMs);
        case Exchange::Efs: return SendEfs(spec);
        case Exchange::SendOnly: return SendFrameOnly();
    }
    return false;
}

bool CPacket::SendFrameOnly() {
    State& s = *state_;
    if (BuildFrame() == 0) {
        return false;
    }
    Purge(platform::kPurgeAll);
    if (Write(s.frame, s.frameLength) < s.frameLength) {
        s.errorText = kTextCannotSend;
        return false;
    }
    return true;
}

}  // namespace packet
