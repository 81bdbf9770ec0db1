#include <cstring>

#include "host/kit/HostKit.h"

namespace hostkit {

namespace {

constexpr int32_t kLogMessage = 1026;
constexpr int32_t kProgressMessage = 1028;

void Answer(int32_t value, int32_t resultLength, void* resultBuffer) {
    if (resultBuffer != nullptr && resultLength >= 4) {
        std::memcpy(resultBuffer, &value, 4);
    }
}

}  // namespace

HostModule::HostModule(int32_t id, int32_t instance, std::u16string name)
    : id_(id), instance_(instance), name_(std::move(name)) {}

module::DualString HostModule::GetModuleName() { return module::DualString(name_); }

void* HostModule::DeleteThis(unsigned int flags) {
    if ((flags & 1u) != 0) {
        delete this;
    } else {
        this->~HostModule();
    }
    return this;
}

RecordingLogModule::RecordingLogModule() : HostModule(266, 1, u"Recording log module") {}

int32_t RecordingLogModule::HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t, void*,
                                          int32_t resultLength, void* resultBuffer) {
    if (message != kLogMessage) {
        return module::kUnknownMessage;
    }
    if (inBuffer == nullptr || inLength != static_cast<int32_t>(LogRecordSize())) {
        return module::kBadLength;
    }
    DecodedLogRecord record = DecodeLogRecord(static_cast<const uint8_t*>(inBuffer));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (observer_) observer_(record);
        if (keep_) records_.push_back(std::move(record));
    }
    Answer(0, resultLength, resultBuffer);
    return module::kMessageHandled;
}

std::vector<DecodedLogRecord> RecordingLogModule::Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

std::vector<std::u16string> RecordingLogModule::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::u16string> messages;
    for (const DecodedLogRecord& record : records_) {
        messages.push_back(record.message);
    }
    return messages;
}

bool RecordingLogModule::HasMessage(const std::u16string& message) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const DecodedLogRecord& record : records_) {
        if (record.message == message) {
            return true;
        }
    }
    return false;
}

void RecordingLogModule::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
}

RecordingDisplayModule::RecordingDisplayModule() : HostModule(260, 1, u"Recording display module") {}

int32_t RecordingDisplayModule::HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t, void*,
                                              int32_t resultLength, void* resultBuffer) {
    if (message != kProgressMessage) {
        return module::kUnknownMessage;
    }
    if (inBuffer == nullptr || inLength != 12) {
        return module::kBadLength;
    }
    ProgressReport report;
    const auto* bytes = static_cast<const uint8_t*>(inBuffer);
    std::memcpy(&report.first, bytes, 4);
    std::memcpy(&report.second, bytes + 4, 4);
    std::memcpy(&report.percent, bytes + 8, 4);
    int32_t answer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (observer_) observer_(report);
        reports_.push_back(report);
        answer = answer_;
    }
    Answer(answer, resultLength, resultBuffer);
    return module::kMessageHandled;
}

std::vector<ProgressReport> RecordingDisplayModule::Reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

std::vector<int32_t> RecordingDisplayModule::Percentages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int32_t> percentages;
    for (const ProgressReport& report : reports_) {
        percentages.push_back(report.percent);
    }
    return percentages;
}

void RecordingLogModule::SetObserver(std::function<void(const DecodedLogRecord&)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

void RecordingLogModule::KeepRecords(bool keep) {
    std::lock_guard<std::mutex> lock(mutex_);
    keep_ = keep;
}

void RecordingDisplayModule::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.clear();
}

void RecordingDisplayModule::SetAnswer(int32_t answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = answer;
}

void RecordingDisplayModule::SetObserver(std::function<void(const ProgressReport&)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

}  // namespace hostkit
