// Collects the trace lines of a test: function name and message, in order.
#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Trace.h"

namespace upgrade_test {

struct TraceLine {
    std::string function;
    std::string message;
};

class TraceCapture {
public:
    TraceCapture() {
        Lines().clear();
        platform::SetTraceSink(&Sink);
    }
    ~TraceCapture() { platform::SetTraceSink(nullptr); }

    const std::vector<TraceLine>& lines() const { return Lines(); }
    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const TraceLine& l : Lines()) out.push_back(l.message);
        return out;
    }
    bool Contains(const std::string& message) const {
        for (const TraceLine& l : Lines())
            if (l.message == message) return true;
        return false;
    }
    bool ContainsPart(const std::string& part) const {
        for (const TraceLine& l : Lines())
            if (l.message.find(part) != std::string::npos) return true;
        return false;
    }
    void Clear() { Lines().clear(); }
    // Every line, for a failure message.
    std::string Dump() const {
        std::string out;
        for (const TraceLine& l : Lines()) out += l.function + " | " + l.message + "\n";
        return out;
    }

private:
    static std::vector<TraceLine>& Lines() {
        static std::vector<TraceLine> lines;
        return lines;
    }
    static void Sink(const char16_t*, int, const char16_t* function, const char16_t* message) {
        Lines().push_back({platform::WideToUtf8(function), platform::WideToUtf8(message)});
    }
};

}  // namespace upgrade_test
