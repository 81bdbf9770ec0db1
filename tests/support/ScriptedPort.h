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
#include "tests/support/ReferenceFcs.h"
#include "tests/support/TestClocks.h"

namespace test_support {

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

}  // namespace test_support
