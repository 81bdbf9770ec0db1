#include "host/fwupgrade/LinkedModule.h"

#include <ctime>
#include <mutex>

#include "platform/Trace.h"
#include "platform/VirtualCardClock.h"
#include "platform/posix/SerialPort.h"

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

double PauseScaleOf(const std::string& devicePath) {
    const uint32_t divisor = platform::ClockScaleFromEnvironment();
    if (divisor == 0 || !platform::IsPseudoTerminalPath(devicePath)) return 1.0;
    return 1.0 / static_cast<double>(divisor);
}

upgrade::CardState ProbeCard(int32_t port) {
    upgrade::UpgradeModule module;
    packet::CPacket packet;
    const upgrade::CardState state = module.ProbeCardState(packet, port);
    if (packet.IsOpen()) packet.Close();
    return state;
}

}  // namespace fwupgrade
