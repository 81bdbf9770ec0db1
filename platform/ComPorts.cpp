#include <atomic>

#include "platform/Platform.h"

namespace platform {

namespace {

std::atomic<ComPortOpener*> g_installedOpener{nullptr};

ComPortOpener& DefaultOpener() {
    // Created on first use and kept for the life of the process.
    static ComPortOpener* const opener = MakeDefaultComPortOpener().release();
    return *opener;
}

}  // namespace

ComPortOpener& GetComPortOpener() {
    ComPortOpener* installed = g_installedOpener.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : DefaultOpener();
}

void SetComPortOpener(ComPortOpener* opener) { g_installedOpener.store(opener, std::memory_order_release); }

std::unique_ptr<ComPort> OpenComPort(const std::u16string& deviceName, int32_t portNumber) {
    std::unique_ptr<ComPort> port = GetComPortOpener().Open(deviceName, portNumber);
    if (port != nullptr) GetClock().PortOpened(*port);
    return port;
}

}  // namespace platform
