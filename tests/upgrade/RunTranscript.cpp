#include "RunTranscript.h"

#include <cstdio>
#include <initializer_list>
#include <string_view>

namespace upgrade_test {

namespace {

// Short entries are written out; long ones (image blocks) by length and a
// 64-bit FNV-1a digest, which any change of a byte alters.
constexpr size_t kWrittenOutBytes = 40;

// Appends the parts in order. GCC 12 at -O3 warns falsely (restrict) about
// a string literal added to a temporary string; appending avoids that.
std::string Concat(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (std::string_view part : parts) text.append(part);
    return text;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

std::string Digest(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

class TranscriptPort : public platform::ComPort {
public:
    TranscriptPort(std::unique_ptr<platform::ComPort> inner, RunTranscript& transcript)
        : inner_(std::move(inner)), transcript_(transcript) {}
    ~TranscriptPort() override { transcript_.Event("close"); }

    bool SetLine(const platform::LineSettings& s) override {
        transcript_.Event(Concat({"line ", std::to_string(s.baudRate), " ", std::to_string(s.byteSize),
                                  std::string_view(&s.parity, 1), std::to_string(s.stopBits)}));
        return inner_->SetLine(s);
    }
    bool SetupComm(uint32_t inQueue, uint32_t outQueue) override { return inner_->SetupComm(inQueue, outQueue); }
    bool SetCommMask(uint32_t mask) override { return inner_->SetCommMask(mask); }
    bool SetCommTimeouts(const platform::PortTimeouts& t) override {
        transcript_.Event(Concat({"timeouts ", std::to_string(t.readIntervalTimeout), " ",
                                  std::to_string(t.readTotalTimeoutMultiplier), " ",
                                  std::to_string(t.readTotalTimeoutConstant), " ",
                                  std::to_string(t.writeTotalTimeoutMultiplier), " ",
                                  std::to_string(t.writeTotalTimeoutConstant)}));
        return inner_->SetCommTimeouts(t);
    }
    bool PurgeComm(uint32_t flags) override {
        transcript_.Event(Concat({"purge ", std::to_string(flags)}));
        return inner_->PurgeComm(flags);
    }
    uint32_t QueuedInput() override { return inner_->QueuedInput(); }
    bool IsVirtualCard() const override { return inner_->IsVirtualCard(); }
    uint32_t Read(uint8_t* buffer, uint32_t count) override {
        const uint32_t got = inner_->Read(buffer, count);
        transcript_.Bytes('<', buffer, got);
        return got;
    }
    uint32_t Write(const uint8_t* data, uint32_t count) override {
        const uint32_t sent = inner_->Write(data, count);
        transcript_.Bytes('>', data, sent);
        if (sent != count)
            transcript_.Event(Concat({"write cut short: ", std::to_string(sent), " of ", std::to_string(count)}));
        return sent;
    }

private:
    std::unique_ptr<platform::ComPort> inner_;
    RunTranscript& transcript_;
};

}  // namespace

void RunTranscript::Event(const std::string& line) {
    CloseOpenEntry();
    PullHostLines();
    lines_.push_back(line);
}

void RunTranscript::Bytes(char direction, const uint8_t* data, uint32_t count) {
    if (count == 0) return;
    if (direction != direction_) {
        CloseOpenEntry();
        PullHostLines();
        direction_ = direction;
    }
    pending_.insert(pending_.end(), data, data + count);
}

void RunTranscript::Pause(uint32_t milliseconds) {
    if (pauseCount_ > 0 && pause_ == milliseconds) {
        ++pauseCount_;
        return;
    }
    CloseOpenEntry();
    PullHostLines();
    pause_ = milliseconds;
    pauseCount_ = 1;
}

std::string RunTranscript::Text() {
    CloseOpenEntry();
    PullHostLines();
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
}

void RunTranscript::CloseOpenEntry() {
    if (direction_ != 0) {
        std::string line(1, direction_);
        line += Concat({" ", std::to_string(pending_.size()), " "});
        line += pending_.size() <= kWrittenOutBytes ? Hex(pending_) : Concat({"fnv ", Digest(pending_)});
        lines_.push_back(line);
        pending_.clear();
        direction_ = 0;
    }
    if (pauseCount_ > 0) {
        std::string line = Concat({"pause ", std::to_string(pause_)});
        if (pauseCount_ > 1) line += Concat({" x", std::to_string(pauseCount_)});
        lines_.push_back(line);
        pauseCount_ = 0;
    }
}

void RunTranscript::PullHostLines() {
    if (!hostLines_) return;
    for (std::string& line : hostLines_()) lines_.push_back(std::move(line));
}

void TranscriptClock::Sleep(uint32_t milliseconds) {
    transcript_.Pause(milliseconds);
    RecordingClock::Sleep(milliseconds);
}

std::unique_ptr<platform::ComPort> TranscriptOpener::Open(const std::u16string& deviceName, int32_t portNumber) {
    std::unique_ptr<platform::ComPort> port = inner_.Open(deviceName, portNumber);
    transcript_.Event(Concat({"open ", platform::WideToUtf8(deviceName), port ? "" : " failed"}));
    if (!port) return nullptr;
    return std::make_unique<TranscriptPort>(std::move(port), transcript_);
}

}  // namespace upgrade_test
