// A COM port whose card answers every request with the same bytes, the
// fuzzer's. CPacket opens it through the replaceable opener on any number,
// so each command runs its real transaction (write, poll, read, decode)
// against whatever the input holds.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "fuzz/common/VirtualTime.h"
#include "packet/Codec.h"
#include "packet/Packet.h"
#include "platform/Platform.h"

namespace fuzz {

struct AnswerPeer {
    std::vector<uint8_t> answer;    // sent after every write
    std::vector<uint8_t> pending;   // arrived, not read yet
    uint32_t writes = 0;
};

class AnswerComPort : public platform::ComPort {
public:
    explicit AnswerComPort(AnswerPeer& peer) : peer_(peer) {}
    bool SetLine(const platform::LineSettings&) override { return true; }
    bool SetupComm(uint32_t, uint32_t) override { return true; }
    bool SetCommMask(uint32_t) override { return true; }
    bool SetCommTimeouts(const platform::PortTimeouts&) override { return true; }
    bool PurgeComm(uint32_t) override {
        peer_.pending.clear();
        return true;
    }
    uint32_t QueuedInput() override { return static_cast<uint32_t>(peer_.pending.size()); }
    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        const uint32_t n = count < peer_.pending.size() ? count : static_cast<uint32_t>(peer_.pending.size());
        std::copy(peer_.pending.begin(), peer_.pending.begin() + n, buffer);
        peer_.pending.erase(peer_.pending.begin(), peer_.pending.begin() + n);
        return n;
    }
    uint32_t Write(const uint8_t*, uint32_t count) override {
        ++peer_.writes;
        peer_.pending.insert(peer_.pending.end(), peer_.answer.begin(), peer_.answer.end());
        return count;
    }

private:
    AnswerPeer& peer_;
};

class AnswerOpener : public platform::ComPortOpener {
public:
    explicit AnswerOpener(AnswerPeer& peer) : peer_(peer) {}
    std::unique_ptr<platform::ComPort> Open(const std::u16string&, int32_t) override {
        return std::make_unique<AnswerComPort>(peer_);
    }

private:
    AnswerPeer& peer_;
};

// One CPacket, open on a port that answers `answer` to every request.
class AnsweredPacket {
public:
    explicit AnsweredPacket(std::span<const uint8_t> answer) {
        InstallVirtualTime();
        static AnswerPeer* const peer = new AnswerPeer();
        static AnswerOpener* const opener = new AnswerOpener(*peer);
        platform::SetComPortOpener(opener);
        peer_ = peer;
        peer_->answer.assign(answer.begin(), answer.end());
        peer_->pending.clear();
        peer_->writes = 0;
        if (!packet.Open(1)) {
            std::abort();
        }
    }
    ~AnsweredPacket() { packet.Close(); }
    uint32_t Writes() const { return peer_->writes; }

    packet::CPacket packet;

private:
    AnswerPeer* peer_ = nullptr;
};

// The answer body as an independent decode sees it (no FCS), or nothing
// when the answer does not decode.
inline std::vector<uint8_t> DecodedBody(std::span<const uint8_t> answer, bool flagExpected) {
    std::vector<uint8_t> out(answer.size());
    const auto result = packet::codec::DecodeAnswer(answer, flagExpected, out);
    if (result.status != packet::codec::DecodeStatus::Ok || result.length < 2) {
        return {};
    }
    out.resize(result.length - 2);
    return out;
}

[[noreturn]] inline void Fail() { std::abort(); }
inline void Require(bool property) {
    if (!property) Fail();
}

}  // namespace fuzz
