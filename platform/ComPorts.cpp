#include <atomic>
#include <mutex>

#include "platform/Platform.h"

namespace platform {

namespace {

std::atomic<ComPortOpener*> g_installedOpener{nullptr};
std::atomic<bool> g_portIsVirtual{false};

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

bool PortIsVirtual() { return g_portIsVirtual.load(std::memory_order_acquire); }

void SetPortIsVirtual(bool isVirtual) { g_portIsVirtual.store(isVirtual, std::memory_order_release); }

}  // namespace platform
