#include "host/fwupgrade/station/bus/CardPort.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "host/fwupgrade/card/CardScan.h"
#include "host/fwupgrade/card/DeviceAccess.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "platform/posix/UsbSerial.h"
#include "upgrade/backup/BackupRecord.h"

namespace fwupgrade::station {

namespace {

constexpr auto kPatience = std::chrono::seconds(5);
constexpr auto kRetryPause = std::chrono::milliseconds(100);

std::string NodeOf(const std::string& usbPin, const std::string& sysRoot, const std::string& devRoot) {
    for (const auto& device : ScanSerialDevices(sysRoot, devRoot))
        if (device.usbPort == usbPin) return device.path;
    return {};
}

bool WorthRetrying(int exitStatus) { return exitStatus == kExitDeviceDenied || exitStatus == kExitDeviceBusy; }

}  // namespace

PortReach ReachCardPort(const std::string& usbPort) {
    const platform::posix::UsbTree tree = platform::posix::UsbTreeFromEnvironment();
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    PortReach reach;
    for (;;) {
        reach.usbPin = UsbPortToUse(tree.sysRoot, tree.devRoot, usbPort);
        const std::string node = reach.usbPin.empty() ? "" : NodeOf(reach.usbPin, tree.sysRoot, tree.devRoot);
        if (!node.empty()) {
            const DeviceAccess access = CheckDeviceAccess(node);
            reach.problem = access.problem;
            if (access.exitStatus == kExitOk || !WorthRetrying(access.exitStatus)) return reach;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            if (node.empty()) reach.problem = "no serial port of the card showed up on USB port " + usbPort;
            return reach;
        }
        std::this_thread::sleep_for(kRetryPause);
    }
}

bool HasPendingRecord(const std::string& packageView) {
    std::ifstream in(packageView + "/backup-record.txt", std::ios::binary);
    if (!in) return false;
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    upgrade::BackupRecord record;
    std::string error;
    return upgrade::ParseBackupRecord(bytes, record, error) && record.RestorePending();
}

}  // namespace fwupgrade::station
