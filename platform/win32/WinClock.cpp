// The Windows clock: GetTickCount, Sleep and the local calendar.
#include "platform/win32/WinApi.h"

namespace platform {

namespace {

class WindowsClock final : public Clock {
public:
    uint32_t TickCount() override { return ::GetTickCount(); }
    void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
    bool Now(LocalTime& out) override {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        out.year = now.wYear;
        out.month = now.wMonth;
        out.day = now.wDay;
        out.hour = now.wHour;
        out.minute = now.wMinute;
        out.second = now.wSecond;
        return true;
    }
};

}  // namespace

Clock& RealClock() {
    // Never destroyed: trace calls may still read the time while the process ends.
    static WindowsClock* const clock = new WindowsClock();
    return *clock;
}

bool UtcNow(LocalTime& out) {
    SYSTEMTIME now{};
    ::GetSystemTime(&now);
    out = LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    return true;
}

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

}  // namespace platform
