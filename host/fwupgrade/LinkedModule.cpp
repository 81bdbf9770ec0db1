#include "host/fwupgrade/LinkedModule.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <ctime>
#include <mutex>

#include "platform/Trace.h"
#include "platform/VirtualCardClock.h"

namespace fwupgrade {

namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const TraceEntry&)>& CurrentSink() {
    static std::function<void(const TraceEntry&)> sink;
    return sink;
}

std::string TimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%H:%M:%S %Y-%m-%d", &local);
    return text;
}

void Sink(const char16_t* file, int line, const char16_t* function, const char16_t* message) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (!CurrentSink()) return;
    TraceEntry entry;
    entry.time = TimeText();
    entry.thread = platform::CurrentThreadId();
    entry.file = platform::WideToUtf8(file);
    entry.line = line;
    entry.function = platform::WideToUtf8(function);
    entry.message = platform::WideToUtf8(message);
    CurrentSink()(entry);
}

// FWUPGRADE_CLOCK_SCALE as a divisor; 0 when unset or not one.
unsigned long ClockScaleDivisor() {
    const char* text = std::getenv("FWUPGRADE_CLOCK_SCALE");
    if (text == nullptr) return 0;
    char* end = nullptr;
    const unsigned long divisor = std::strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0' || divisor <= 1 || divisor > 1000000) return 0;
    return divisor;
}

}  // namespace

LinkedModule::LinkedModule(std::function<void(const TraceEntry&)> onTrace, std::function<void(int)> onProgress)
    : module_(std::move(onProgress)) {
    {
        std::lock_guard<std::mutex> lock(SinkMutex());
        CurrentSink() = std::move(onTrace);
    }
    platform::SetTraceSink(&Sink);
}

LinkedModule::~LinkedModule() {
    platform::SetTraceSink(nullptr);
    std::lock_guard<std::mutex> lock(SinkMutex());
    CurrentSink() = nullptr;
}

void InstallVirtualCardClock() {
    const unsigned long divisor = ClockScaleDivisor();
    if (divisor == 0) return;
    static platform::VirtualCardClock* const clock = new platform::VirtualCardClock(static_cast<uint32_t>(divisor));
    platform::SetClock(clock);
}

double PauseScaleOf(const std::string& devicePath) {
    const unsigned long divisor = ClockScaleDivisor();
    struct stat info {};
    if (divisor == 0 || ::stat(devicePath.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return 1.0;
    // Unix98 pseudo-terminal slaves are character devices of majors 136-143.
    const unsigned int deviceMajor = major(info.st_rdev);
    return deviceMajor >= 136 && deviceMajor <= 143 ? 1.0 / static_cast<double>(divisor) : 1.0;
}

upgrade::CardState ProbeCard(int32_t port) {
    upgrade::UpgradeModule module;
    packet::CPacket packet;
    const upgrade::CardState state = module.ProbeCardState(packet, port);
    if (packet.IsOpen()) packet.Close();
    return state;
}

}  // namespace fwupgrade
