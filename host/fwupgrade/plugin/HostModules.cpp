#include "host/fwupgrade/plugin/HostModules.h"

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"

namespace fwupgrade {

namespace {

constexpr int32_t kLogMessage = 1026;
constexpr int32_t kProgressMessage = 1028;
constexpr int32_t kProgressLength = 12;

// The accepted answer: zero in as many bytes of the result as the caller gave.
void AnswerZero(int32_t resultLength, void* resultBuffer) {
    if (resultBuffer == nullptr || resultLength <= 0) return;
    std::memset(resultBuffer, 0, static_cast<size_t>(std::min(resultLength, 4)));
}

}  // namespace

TraceEntry ToTraceEntry(const hostkit::DecodedLogRecord& record) {
    TraceEntry entry;
    entry.time = platform::WideToUtf8(record.time);
    entry.thread = record.threadId;
    entry.file = platform::WideToUtf8(record.file);
    entry.line = record.line;
    entry.function = platform::WideToUtf8(record.function);
    entry.message = platform::WideToUtf8(record.message);
    return entry;
}

LogModule::LogModule(std::function<void(const TraceEntry&)> sink)
    : hostkit::HostModule(266, 1, u"fwupgrade log"), sink_(std::move(sink)) {}

int32_t LogModule::HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t, void*,
                                 int32_t resultLength, void* resultBuffer) {
    if (message != kLogMessage) return module::kUnknownMessage;
    if (inBuffer == nullptr || inLength < 0 || static_cast<size_t>(inLength) != hostkit::LogRecordSize())
        return module::kBadLength;
    if (sink_) sink_(ToTraceEntry(hostkit::DecodeLogRecord(static_cast<const uint8_t*>(inBuffer))));
    AnswerZero(resultLength, resultBuffer);
    return module::kMessageHandled;
}

DisplayModule::DisplayModule(std::function<void(int)> sink)
    : hostkit::HostModule(260, 1, u"fwupgrade display"), sink_(std::move(sink)) {}

int32_t DisplayModule::HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t, void*,
                                     int32_t resultLength, void* resultBuffer) {
    if (message != kProgressMessage) return module::kUnknownMessage;
    if (inLength != kProgressLength || inBuffer == nullptr) return module::kBadLength;
    int32_t percent = 0;
    std::memcpy(&percent, static_cast<const uint8_t*>(inBuffer) + 8, 4);
    if (sink_) sink_(percent);
    AnswerZero(resultLength, resultBuffer);
    return module::kMessageHandled;
}

}  // namespace fwupgrade
