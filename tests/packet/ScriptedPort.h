// An in-memory card on the other end of the COM port, driven by the test's
// clock: bytes it sends become readable at a given tick, a purge drops only
// what has already arrived, and every write is recorded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tests/clocks/TestClocks.h"

namespace packet_test {

using Bytes = std::vector<uint8_t>;

// Bit-wise CRC-16/X-25, independent of the table-driven codec under test.
inline uint16_t ReferenceFcs(const Bytes& data) {
    uint16_t reg = 0xFFFF;
    for (uint8_t b : data) {
        reg ^= b;
        for (int i = 0; i < 8; ++i) {
            reg = (reg & 1) != 0 ? static_cast<uint16_t>((reg >> 1) ^ 0x8408) : static_cast<uint16_t>(reg >> 1);
        }
    }
    return static_cast<uint16_t>(~reg);
}

// A frame as the card or the host puts it on the wire.
inline Bytes Frame(const Bytes& body, bool leadingFlag) {
    Bytes plain = body;
    const uint16_t fcs = ReferenceFcs(body);
    plain.push_back(static_cast<uint8_t>(fcs & 0xFF));
    plain.push_back(static_cast<uint8_t>(fcs >> 8));
    Bytes out;
    if (leadingFlag) {
        out.push_back(0x7E);
    }
    for (uint8_t b : plain) {
        if (b == 0x7E || b == 0x7D) {
            out.push_back(0x7D);
            out.push_back(static_cast<uint8_t>(b ^ 0x20));
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0x7E);
    return out;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ScriptedPeer {
public:
    explicit ScriptedPeer(platform::RecordingClock& clock) : clock_(clock) {}

    // The card sends bytes that arrive delayMs from now.
    void Send(const Bytes& bytes, uint32_t delayMs = 0) {
        // Kept in order of arrival: a later send may arrive first.
        const uint32_t at = clock_.TickCount() + delayMs;
        auto where = std::upper_bound(incoming_.begin(), incoming_.end(), at,
                                      [](uint32_t t, const Incoming& in) { return t < in.at; });
        for (uint8_t b : bytes) {
            where = incoming_.insert(where, {at, b}) + 1;
        }
    }
    // Answers for the next writes, one per write, in order; an empty answer
    // is silence.
    void Answer(const Bytes& bytes, uint32_t delayMs = 0) { answers_.push_back({bytes, delayMs}); }
    void AnswerAlways(const Bytes& bytes) { always_ = bytes; }

    uint32_t Available() const {
        uint32_t n = 0;
        for (const auto& in : incoming_) {
            n += in.at <= clock_.TickCount() ? 1 : 0;
        }
        return n;
    }
    uint32_t Take(uint8_t* buffer, uint32_t count) {
        uint32_t n = 0;
        while (n < count && !incoming_.empty() && incoming_.front().at <= clock_.TickCount()) {
            buffer[n++] = incoming_.front().byte;
            incoming_.pop_front();
        }
        reads.push_back(n);
        return n;
    }
    void Purge() {
        while (!incoming_.empty() && incoming_.front().at <= clock_.TickCount()) {
            incoming_.pop_front();
        }
        ++purges;
    }
    uint32_t Written(const uint8_t* data, uint32_t count) {
        const uint32_t n = count < writeLimit ? count : writeLimit;
        writes.emplace_back(data, data + count);
        if (!answers_.empty()) {
            Send(answers_.front().bytes, answers_.front().delayMs);
            answers_.pop_front();
        } else if (!always_.empty()) {
            Send(always_);
        }
        return n;
    }

    std::vector<Bytes> writes;
    std::vector<uint32_t> reads;
    int purges = 0;
    uint32_t writeLimit = UINT32_MAX;
    platform::LineSettings lineSettings;
    platform::PortTimeouts timeouts;
    bool failSetLine = false;

private:
    struct Incoming {
        uint32_t at;
        uint8_t byte;
    };
    struct Scripted {
        Bytes bytes;
        uint32_t delayMs;
    };
    platform::RecordingClock& clock_;
    std::deque<Incoming> incoming_;
    std::deque<Scripted> answers_;
    Bytes always_;
};

class ScriptedComPort : public platform::ComPort {
public:
    explicit ScriptedComPort(std::shared_ptr<ScriptedPeer> peer) : peer_(std::move(peer)) {}
    bool SetLine(const platform::LineSettings& s) override {
        peer_->lineSettings = s;
        return !peer_->failSetLine;
    }
    bool SetupComm(uint32_t, uint32_t) override { return true; }
    bool SetCommMask(uint32_t) override { return true; }
    bool SetCommTimeouts(const platform::PortTimeouts& t) override {
        peer_->timeouts = t;
        return true;
    }
    bool PurgeComm(uint32_t) override {
        peer_->Purge();
        return true;
    }
    uint32_t QueuedInput() override { return peer_->Available(); }
    uint32_t Read(uint8_t* buffer, uint32_t count) override { return peer_->Take(buffer, count); }
    uint32_t Write(const uint8_t* data, uint32_t count) override { return peer_->Written(data, count); }

private:
    std::shared_ptr<ScriptedPeer> peer_;
};

class ScriptedOpener : public platform::ComPortOpener {
public:
    explicit ScriptedOpener(std::shared_ptr<ScriptedPeer> peer) : peer_(std::move(peer)) {}
    std::unique_ptr<platform::ComPort> Open(const std::u16string& deviceName, int32_t) override {
        names.push_back(deviceName);
        if (failuresLeft > 0) {
            --failuresLeft;
            return nullptr;
        }
        return std::make_unique<ScriptedComPort>(peer_);
    }
    int failuresLeft = 0;
    std::vector<std::u16string> names;

private:
    std::shared_ptr<ScriptedPeer> peer_;
};

}  // namespace packet_test
