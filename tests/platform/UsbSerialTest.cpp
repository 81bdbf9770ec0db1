// Finding a card's tty under its USB port in a tree laid out as the kernel
// lays out /sys and /dev, made of plain folders.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/TempFolder.h"
#include "platform/Platform.h"
#include "platform/posix/UsbSerial.h"

using test_support::TempFolder;

namespace {

namespace fs = std::filesystem;
using platform::posix::UsbPin;
using platform::posix::UsbTree;

class UsbTreeTest : public ::testing::Test {
protected:
    UsbTree Tree() const { return {temp_.path() + "/sys", temp_.path() + "/dev"}; }
    fs::path Devices() const { return fs::path(Tree().sysRoot) / "bus/usb/devices"; }

    void Write(const fs::path& path, const std::string& text) const {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text << "\n";
    }

    // A USB device at `port` with the given product.
    void Device(const std::string& port, const std::string& product) const {
        Write(Devices() / port / "idVendor", "2e1a");
        Write(Devices() / port / "idProduct", product);
    }

    // A usb-serial interface ("ttyUSB3") or a cdc-acm one ("ttyACM0") with its node.
    void Interface(const std::string& port, int number, const std::string& tty, const std::string& nodeTarget = "") const {
        const fs::path folder = Devices() / (port + ":1." + std::to_string(number));
        char text[4];
        std::snprintf(text, sizeof text, "%02x", number);
        Write(folder / "bInterfaceNumber", text);
        fs::create_directories(tty.rfind("ttyACM", 0) == 0 ? folder / "tty" / tty : folder / tty);
        fs::create_directories(Tree().devRoot);
        const fs::path node = fs::path(Tree().devRoot) / tty;
        if (nodeTarget.empty()) std::ofstream(node) << "";
        else fs::create_symlink(nodeTarget, node);
    }

    void Unplug(const std::string& port) const {
        for (const auto& entry : fs::directory_iterator(Devices()))
            if (entry.path().filename().string().rfind(port, 0) == 0) fs::remove_all(entry.path());
    }

    std::string Node(const std::string& tty) const { return Tree().devRoot + "/" + tty; }

    TempFolder temp_;
};

TEST_F(UsbTreeTest, FollowsACardWhoseTtyAndProductChangeBetweenOpens) {
    Device("1-1.2", "0081");
    Interface("1-1.2", 0, "ttyACM0");
    Interface("1-1.2", 1, "ttyUSB0");
    const auto pin = platform::posix::PinOfDevice(Tree(), Node("ttyUSB0"));
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->usbPort, "1-1.2");
    EXPECT_EQ(pin->interfaceNumber, 1);
    EXPECT_EQ(platform::posix::ResolvePinnedTty(Tree(), *pin), Node("ttyUSB0"));
    EXPECT_EQ(platform::posix::UsbIdentityOf(Tree(), "1-1.2"), std::make_pair(uint16_t{0x2E1A}, uint16_t{0x0081}));

    // Into its boot downloader: another product, one interface, another number.
    Unplug("1-1.2");
    Device("1-1.2", "0082");
    Interface("1-1.2", 0, "ttyUSB4");
    EXPECT_EQ(platform::posix::ResolvePinnedTty(Tree(), *pin), Node("ttyUSB4"));
    EXPECT_EQ(platform::posix::UsbIdentityOf(Tree(), "1-1.2"), std::make_pair(uint16_t{0x2E1A}, uint16_t{0x0082}));

    // Back in its firmware with both interfaces: the pinned one, not the modem.
    Unplug("1-1.2");
    Device("1-1.2", "0081");
    Interface("1-1.2", 0, "ttyACM1");
    Interface("1-1.2", 1, "ttyUSB7");
    EXPECT_EQ(platform::posix::ResolvePinnedTty(Tree(), *pin), Node("ttyUSB7"));
}

TEST_F(UsbTreeTest, ACardPinnedByItsPortAloneIsFoundOnTheInterfaceItIsDrivenThrough) {
    // In its flash programmer: interface 0 alone.
    Device("1-1.2", "0083");
    Interface("1-1.2", 0, "ttyUSB2");
    const UsbPin byPort{"1-1.2", -1};
    EXPECT_EQ(platform::posix::ResolvePinnedTty(Tree(), byPort), Node("ttyUSB2"));
    // In its firmware interface 0 is the modem (cdc-acm): the usb-serial
    // interface is taken, then the lower number among several.
    Unplug("1-1.2");
    Device("1-1.2", "0081");
    Interface("1-1.2", 0, "ttyACM0");
    Interface("1-1.2", 3, "ttyUSB5");
    Interface("1-1.2", 2, "ttyUSB4");
    EXPECT_EQ(platform::posix::ResolvePinnedTty(Tree(), byPort), Node("ttyUSB4"));
    // A pin on interface 0 keeps to it, modem or not.
    EXPECT_EQ(platform::posix::ResolvePinnedTty(Tree(), UsbPin{"1-1.2", 0}), Node("ttyACM0"));
    EXPECT_TRUE(platform::posix::DrivenBefore("ttyUSB9", 7, "ttyACM0", 0));
    EXPECT_FALSE(platform::posix::InterfaceToDrive({}));
}

TEST_F(UsbTreeTest, TwoCardsOnTwoPortsNeverMixUp) {
    Device("1-1.2", "0081");
    Interface("1-1.2", 0, "ttyUSB0");
    Device("1-1.3", "0081");
    Interface("1-1.3", 0, "ttyUSB1");
    const auto first = platform::posix::PinOfDevice(Tree(), Node("ttyUSB0"));
    const auto second = platform::posix::PinOfDevice(Tree(), Node("ttyUSB1"));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->usbPort, "1-1.2");
    EXPECT_EQ(second->usbPort, "1-1.3");
    // Both restart and come back with their numbers swapped.
    Unplug("1-1.2");
    Unplug("1-1.3");
    fs::remove_all(Tree().devRoot);
    Device("1-1.3", "0082");
    Interface("1-1.3", 0, "ttyUSB0");
    Device("1-1.2", "0082");
    Interface("1-1.2", 0, "ttyUSB1");
    EXPECT_EQ(platform::posix::ResolvePinnedTty(Tree(), *first), Node("ttyUSB1"));
    EXPECT_EQ(platform::posix::ResolvePinnedTty(Tree(), *second), Node("ttyUSB0"));
}

TEST_F(UsbTreeTest, NothingUnderThePortOrNoFittingInterfaceResolvesToNothing) {
    const UsbPin pin{"1-1.2", 1};
    EXPECT_FALSE(platform::posix::ResolvePinnedTty(Tree(), pin));   // no tree at all
    Device("1-1.2", "0081");
    EXPECT_FALSE(platform::posix::ResolvePinnedTty(Tree(), pin));   // the device, no interface yet
    // An interface whose tty has not shown yet is not taken.
    Write(Devices() / "1-1.2:1.1" / "bInterfaceNumber", "01");
    EXPECT_FALSE(platform::posix::ResolvePinnedTty(Tree(), pin));
    // Two serial interfaces, neither the pinned one: no guess.
    Interface("1-1.2", 2, "ttyUSB2");
    Interface("1-1.2", 3, "ttyUSB3");
    EXPECT_FALSE(platform::posix::ResolvePinnedTty(Tree(), pin));
    // A port whose name only begins like the pinned one is another port.
    Device("1-1.20", "0081");
    Interface("1-1.20", 1, "ttyUSB9");
    EXPECT_FALSE(platform::posix::ResolvePinnedTty(Tree(), pin));
    EXPECT_EQ(platform::posix::SerialInterfacesOf(Tree(), "1-1.2").size(), 2u);
}

TEST_F(UsbTreeTest, DevicePathsAreFollowedThroughLinksToTheirPort) {
    Device("2-3", "0081");
    Interface("2-3", 0, "ttyACM5");
    // A by-id name links to the node.
    fs::create_directories(Tree().devRoot + "/serial/by-id");
    fs::create_symlink("../../ttyACM5", Tree().devRoot + "/serial/by-id/usb-card-if00");
    const auto pin = platform::posix::PinOfDevice(Tree(), Tree().devRoot + "/serial/by-id/usb-card-if00");
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->usbPort, "2-3");
    EXPECT_EQ(pin->interfaceNumber, 0);
    EXPECT_EQ(platform::posix::ResolvePinnedTty(Tree(), *pin), Node("ttyACM5"));
    // Not a USB serial port: a pseudo-terminal, a missing path, a tty no port owns.
    EXPECT_FALSE(platform::posix::PinOfDevice(Tree(), "/dev/ptmx"));
    EXPECT_FALSE(platform::posix::PinOfDevice(Tree(), Tree().devRoot + "/missing"));
    EXPECT_FALSE(platform::posix::PinOfDevice(Tree(), Node("ttyUSB8")));
}

TEST(UsbPortName, ParsesPortsAndInterfacesAndRefusesTheRest) {
    const auto port = platform::posix::ParseUsbPortName("1-1.2");
    ASSERT_TRUE(port);
    EXPECT_EQ(port->usbPort, "1-1.2");
    EXPECT_EQ(port->interfaceNumber, -1);
    const auto interface = platform::posix::ParseUsbPortName("3-10.4.1:1.2");
    ASSERT_TRUE(interface);
    EXPECT_EQ(interface->usbPort, "3-10.4.1");
    EXPECT_EQ(interface->interfaceNumber, 2);
    for (const char* bad : {"", "1", "1-", "-1", "1-1.", "1-a", "usb1", "1-1:1", "1-1:1.", "1-1:x.0", "../1-1", "1-1/..",
                            "1-1:1.0:1.0", "1-1:1.1234"})
        EXPECT_FALSE(platform::posix::ParseUsbPortName(bad)) << bad;
}

TEST_F(UsbTreeTest, TheDefaultOpenerOpensWhatIsUnderThePinnedPortAtEachOpen) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    ::setenv("FWUPGRADE_SYSFS_ROOT", Tree().sysRoot.c_str(), 1);
    ::setenv("FWUPGRADE_DEV_ROOT", Tree().devRoot.c_str(), 1);
    platform::posix::SetPinInEnvironment({"1-4", 0});
    auto opener = platform::MakeDefaultComPortOpener();
    EXPECT_EQ(opener->Open(u"//./COM1", 1), nullptr);   // nothing plugged in yet
    Device("1-4", "0082");
    Interface("1-4", 0, "ttyUSB6", terminal);
    EXPECT_NE(opener->Open(u"//./COM1", 1), nullptr);
    // The node under the port is not a terminal: not opened.
    Unplug("1-4");
    fs::remove_all(Tree().devRoot);
    Device("1-4", "0081");
    Interface("1-4", 0, "ttyUSB2");
    EXPECT_EQ(opener->Open(u"//./COM1", 1), nullptr);
    ::unsetenv("FWUPGRADE_USB_PORT");
    ::unsetenv("FWUPGRADE_USB_INTERFACE");
    ::unsetenv("FWUPGRADE_SYSFS_ROOT");
    ::unsetenv("FWUPGRADE_DEV_ROOT");
    ::close(master);
}

TEST_F(UsbTreeTest, APinGivenByTheCallerIsFollowedBeforeTheEnvironmentsAndOnlyWhileSet) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    ::setenv("FWUPGRADE_SYSFS_ROOT", Tree().sysRoot.c_str(), 1);
    ::setenv("FWUPGRADE_DEV_ROOT", Tree().devRoot.c_str(), 1);
    platform::posix::SetPinInEnvironment({"1-5", 0});   // nothing is under this port
    Device("1-4", "0081");
    Interface("1-4", 0, "ttyUSB6", ::ptsname(master));
    auto opener = platform::MakeDefaultComPortOpener();
    EXPECT_EQ(opener->Open(u"//./COM1", 1), nullptr);
    platform::posix::SetPinOverride(platform::posix::UsbPin{"1-4", 0});
    EXPECT_EQ(platform::posix::ActivePin()->usbPort, "1-4");
    EXPECT_NE(opener->Open(u"//./COM1", 1), nullptr);
    platform::posix::SetPinOverride(std::nullopt);
    EXPECT_EQ(platform::posix::ActivePin()->usbPort, "1-5");
    EXPECT_EQ(opener->Open(u"//./COM1", 1), nullptr);
    ::unsetenv("FWUPGRADE_USB_PORT");
    ::unsetenv("FWUPGRADE_USB_INTERFACE");
    ::unsetenv("FWUPGRADE_SYSFS_ROOT");
    ::unsetenv("FWUPGRADE_DEV_ROOT");
    ::close(master);
}

}  // namespace
