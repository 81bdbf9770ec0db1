// A module manager for the Windows tests: a DLL with GetModule whose module
// takes the routing record of message 1025 and records what is addressed to
// the log module (266) and the display module (260), as the host's manager
// would pass it on.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "module/LogRecord.h"
#include "module/ModuleInterface.h"
#include "module/ModuleRoute.h"
#include "platform/win32/WinApi.h"
#include "tests/windows/RecordingManager.h"

namespace {

struct TraceEntry {
    std::u16string message;
    std::u16string function;
    int32_t kind = 0;
    int32_t line = 0;
};

struct Progress {
    int32_t first = 0;
    int32_t second = 0;
    int32_t percent = 0;
};

std::mutex g_mutex;
std::vector<TraceEntry> g_traces;
std::vector<Progress> g_progress;

std::u16string TextAt(const uint8_t* bytes, size_t units) {
    std::u16string text;
    for (size_t i = 0; i < units; ++i) {
        char16_t unit = 0;
        std::memcpy(&unit, bytes + 2 * i, 2);
        if (unit == 0) break;
        text += unit;
    }
    return text;
}

void RecordTrace(const uint8_t* record) {
    TraceEntry entry;
    uint16_t kind = 0;
    std::memcpy(&kind, record + module::kLogKindOffset, 2);
    entry.kind = kind;
    std::memcpy(&entry.line, record + module::kLogLineOffset, 4);
    entry.function = TextAt(record + module::kLogFunctionOffset, module::kLogNameUnits);
    // The message is a string object in place: narrow pointer, wide pointer, length.
    const char16_t* wide = nullptr;
    int32_t length = 0;
    std::memcpy(&wide, record + module::kLogMessageOffset + sizeof(void*), sizeof(void*));
    std::memcpy(&length, record + module::kLogMessageOffset + 2 * sizeof(void*), 4);
    if (wide != nullptr && length > 0) entry.message.assign(wide, static_cast<size_t>(length));
    std::lock_guard<std::mutex> lock(g_mutex);
    g_traces.push_back(std::move(entry));
}

class RecordingManager final : public module::CHolModuleInterface {
public:
    int32_t GetModuleId() override { return 256; }
    int32_t GetModuleInstance() override { return 1; }
    module::DualString GetModuleName() override { return module::DualString(u"Recording module manager"); }
    const module::ModuleVersion* GetModuleVersion() override { return &version_; }
    int32_t RegisterModule() override { return 0; }
    int32_t UnregisterModule() override { return 0; }
    int32_t HandleMessage(int32_t message, int32_t inLength, void* inBuffer, int32_t, void*, int32_t, void*) override {
        if (message != 1025 || inLength != static_cast<int32_t>(module::kModuleRouteSize) || inBuffer == nullptr) {
            return -2;
        }
        const module::ModuleRoute route = module::DecodeModuleRoute(static_cast<const uint8_t*>(inBuffer));
        int32_t answer = 0;
        if (route.targetId == module::kLogModuleId && route.message == module::kLogMessage &&
            route.inLength == static_cast<int32_t>(module::kLogRecordSize) && route.inBuffer != nullptr) {
            RecordTrace(static_cast<const uint8_t*>(route.inBuffer));
        } else if (route.targetId == 260 && route.message == 1028 && route.inLength == 12 && route.inBuffer != nullptr) {
            Progress report;
            const auto* values = static_cast<const uint8_t*>(route.inBuffer);
            std::memcpy(&report.first, values, 4);
            std::memcpy(&report.second, values + 4, 4);
            std::memcpy(&report.percent, values + 8, 4);
            std::lock_guard<std::mutex> lock(g_mutex);
            g_progress.push_back(report);
        } else {
            answer = -2;
        }
        if (route.resultLength >= 4 && route.resultBuffer != nullptr) std::memcpy(route.resultBuffer, &answer, 4);
        return 0;
    }
    FW_MODULE_DELETE_THIS(RecordingManager)
    int32_t OnMessage1() override { return module::kNotProvided; }
    int32_t OnMessage2(int32_t*) override { return module::kNotProvided; }
    int32_t OnMessage3() override { return module::kNotProvided; }

private:
    module::ModuleVersion version_{1, 0, 0, 0};
};

void CopyOut(const std::u16string& text, wchar_t* out, int32_t capacity) {
    if (out == nullptr || capacity <= 0) return;
    const size_t units = text.size() < static_cast<size_t>(capacity - 1) ? text.size() : static_cast<size_t>(capacity - 1);
    std::memcpy(out, text.data(), units * 2);
    out[units] = L'\0';
}

}  // namespace

extern "C" {

__declspec(dllexport) module::CHolModuleInterface* GetModule() {
    static RecordingManager* const manager = new RecordingManager();
    return manager;
}

__declspec(dllexport) void RecordingManagerReset() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_traces.clear();
    g_progress.clear();
}

__declspec(dllexport) int32_t RecordingManagerLogCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int32_t>(g_traces.size());
}

__declspec(dllexport) bool RecordingManagerLog(int32_t index, wchar_t* message, int32_t messageCapacity,
                                               wchar_t* function, int32_t functionCapacity, int32_t* kind,
                                               int32_t* line) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (index < 0 || static_cast<size_t>(index) >= g_traces.size()) return false;
    const TraceEntry& entry = g_traces[static_cast<size_t>(index)];
    CopyOut(entry.message, message, messageCapacity);
    CopyOut(entry.function, function, functionCapacity);
    if (kind != nullptr) *kind = entry.kind;
    if (line != nullptr) *line = entry.line;
    return true;
}

__declspec(dllexport) int32_t RecordingManagerProgressCount() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int32_t>(g_progress.size());
}

__declspec(dllexport) bool RecordingManagerProgress(int32_t index, int32_t* first, int32_t* second, int32_t* percent) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (index < 0 || static_cast<size_t>(index) >= g_progress.size()) return false;
    const Progress& report = g_progress[static_cast<size_t>(index)];
    if (first != nullptr) *first = report.first;
    if (second != nullptr) *second = report.second;
    if (percent != nullptr) *percent = report.percent;
    return true;
}

}  // extern "C"
