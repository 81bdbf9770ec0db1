// The program's own host modules: the log module (266) that receives the
// module's trace records and the display module (260) that receives its
// progress. The module manager routes the plug-in's messages to them; they
// pass what arrives on at once, so the bar moves while the run goes on.
#pragma once

#include <functional>

#include "host/fwupgrade/report/TraceLine.h"
#include "host/kit/HostKit.h"

namespace fwupgrade {

class LogModule final : public hostkit::HostModule {
public:
    explicit LogModule(std::function<void(const TraceEntry&)> sink);
    // Message 1026 with one trace record.
    int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                          int32_t resultLength, void* resultBuffer) override;

private:
    std::function<void(const TraceEntry&)> sink_;
};

class DisplayModule final : public hostkit::HostModule {
public:
    explicit DisplayModule(std::function<void(int)> sink);
    // Message 1028 with three 32-bit values: 3, 4 and the percentage.
    int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t outLength, void* outBuffer,
                          int32_t resultLength, void* resultBuffer) override;

private:
    std::function<void(int)> sink_;
};

// A decoded record as the program shows it (texts in UTF-8).
TraceEntry ToTraceEntry(const hostkit::DecodedLogRecord& record);

}  // namespace fwupgrade
