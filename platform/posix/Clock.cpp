#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "platform/Platform.h"

namespace platform {

namespace {

class SystemClock final : public Clock {
public:
    uint32_t TickCount() override {
        const auto since = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    }

    void Sleep(uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    bool Now(LocalTime& out) override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) {
            return false;
        }
        out.year = local.tm_year + 1900;
        out.month = local.tm_mon + 1;
        out.day = local.tm_mday;
        out.hour = local.tm_hour;
        out.minute = local.tm_min;
        out.second = local.tm_sec;
        return true;
    }
};

}  // namespace

Clock& RealClock() {
    static SystemClock* const clock = new SystemClock();
    return *clock;
}

bool UtcNow(LocalTime& out) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (now == static_cast<std::time_t>(-1) || gmtime_r(&now, &utc) == nullptr) {
        return false;
    }
    out = LocalTime{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
    return true;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

}  // namespace platform
