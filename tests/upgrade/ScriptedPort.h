// A COM port whose answers a test scripts: each write the module makes takes
// the next scripted answer (possibly nothing) into the receive queue. For the
// card behaviours the virtual card cannot show, such as a block that is
// neither acknowledged nor reported.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "packet/Codec.h"
#include "platform/Platform.h"

namespace upgrade_test {

using Bytes = std::vector<uint8_t>;

// A streaming answer frame: leading flag, body, FCS, closing flag.
inline Bytes StreamingFrame(const Bytes& body) {
    Bytes out(packet::codec::FrameSize(body, true));
    out.resize(packet::codec::BuildFrame(body, true, out));
    return out;
}
inline Bytes StatusReport(uint8_t a, uint8_t b) { return StreamingFrame({0x1E, a, b, 0, 0}); }
inline Bytes BlockWritten(uint32_t address) {
    return StreamingFrame({0x08, uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24)});
}
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct PortScript {
    std::deque<Bytes> answers;      // one per write, in order; missing = silence
    std::deque<uint8_t> inbound;
    std::vector<Bytes> writes;      // everything the module wrote
    uint32_t purges = 0;
};

class ScriptedPort : public platform::ComPort {
public:
    explicit ScriptedPort(std::shared_ptr<PortScript> script) : script_(std::move(script)) {}
    bool SetLine(const platform::LineSettings&) override { return true; }
    bool SetupComm(uint32_t, uint32_t) override { return true; }
    bool SetCommMask(uint32_t) override { return true; }
    bool SetCommTimeouts(const platform::PortTimeouts&) override { return true; }
    bool PurgeComm(uint32_t flags) override {
        ++script_->purges;
        if (flags & platform::kPurgeRxClear) script_->inbound.clear();
        return true;
    }
    uint32_t QueuedInput() override { return uint32_t(script_->inbound.size()); }
    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        uint32_t n = 0;
        while (n < count && !script_->inbound.empty()) {
            buffer[n++] = script_->inbound.front();
            script_->inbound.pop_front();
        }
        return n;
    }
    uint32_t Write(const uint8_t* data, uint32_t count) override {
        script_->writes.emplace_back(data, data + count);
        if (!script_->answers.empty()) {
            const Bytes answer = script_->answers.front();
            script_->answers.pop_front();
            script_->inbound.insert(script_->inbound.end(), answer.begin(), answer.end());
        }
        return count;
    }

private:
    std::shared_ptr<PortScript> script_;
};

class ScriptedOpener : public platform::ComPortOpener {
public:
    std::shared_ptr<PortScript> script = std::make_shared<PortScript>();
    std::unique_ptr<platform::ComPort> Open(const std::u16string&, int32_t) override {
        return std::make_unique<ScriptedPort>(script);
    }
};

}  // namespace upgrade_test
