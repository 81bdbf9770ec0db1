#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/fwupgrade/card/SerialScan.h"
#include "tests/support/TempFolder.h"

namespace fwupgrade {
namespace {

using test_support::TempFolder;
namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text << "\n";
}

// A sysfs tree: one USB modem interface (ttyUSB0), one platform UART (ttyS0).
void MakeTree(const TempFolder& root) {
    const std::string usb = root / "sys/devices/pci0000:00/usb1/1-2";
    WriteText(usb + "/idVendor", "2e1a");
    WriteText(usb + "/idProduct", "0081");
    WriteText(usb + "/1-2:1.0/bInterfaceNumber", "00");
    fs::create_directories(usb + "/1-2:1.0/ttyUSB0");
    fs::create_directories(root / "sys/devices/platform/serial8250/tty/ttyS0");
    fs::create_directories(root / "sys/class/tty/ttyUSB0");
    fs::create_directories(root / "sys/class/tty/ttyS0");
    fs::create_symlink(usb + "/1-2:1.0", root / "sys/class/tty/ttyUSB0/device");
    fs::create_symlink(root / "sys/devices/platform/serial8250", root / "sys/class/tty/ttyS0/device");
    // The bus's view: links to the device and its interface, as in /sys.
    fs::create_directories(root / "sys/bus/usb/devices");
    fs::create_symlink("../../../devices/pci0000:00/usb1/1-2", root / "sys/bus/usb/devices/1-2");
    fs::create_symlink("../../../devices/pci0000:00/usb1/1-2/1-2:1.0", root / "sys/bus/usb/devices/1-2:1.0");
    fs::create_symlink("../../../devices/pci0000:00/usb1", root / "sys/bus/usb/devices/usb1");
    fs::create_directories(root / "dev/serial/by-id");
    WriteText(root / "dev/ttyUSB0", "");
    fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-vek_W326-if00");
}

TEST(SerialScan, FindsUsbSerialDevicesWithTheirIdentity) {
    TempFolder root;
    MakeTree(root);
    const auto devices = ScanSerialDevices(root / "sys", root / "dev");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "ttyUSB0");
    EXPECT_EQ(devices[0].path, root / "dev/ttyUSB0");
    EXPECT_EQ(devices[0].vendor, 0x2E1A);
    EXPECT_EQ(devices[0].product, 0x0081);
    EXPECT_EQ(devices[0].interfaceNumber, "00");
    EXPECT_EQ(devices[0].usbPort, "1-2:1.0");
    ASSERT_EQ(devices[0].stableLinks.size(), 1u);
    EXPECT_EQ(devices[0].stableLinks[0], root / "dev/serial/by-id/usb-vek_W326-if00");
}

TEST(SerialScan, IdentityBytesAreVendorThenProductMostSignificantFirst) {
    const uint32_t identity = IdentityForMessage(0x2E1A, 0x0081);
    const uint8_t bytes[4] = {static_cast<uint8_t>(identity), static_cast<uint8_t>(identity >> 8),
                              static_cast<uint8_t>(identity >> 16), static_cast<uint8_t>(identity >> 24)};
    EXPECT_EQ(bytes[0], 0x2E);
    EXPECT_EQ(bytes[1], 0x1A);
    EXPECT_EQ(bytes[2], 0x00);
    EXPECT_EQ(bytes[3], 0x81);
}

TEST(SerialScan, AMissingTreeGivesNoDevices) {
    EXPECT_TRUE(ScanSerialDevices("/nonexistent/sys", "/nonexistent/dev").empty());
}

}  // namespace
}  // namespace fwupgrade
