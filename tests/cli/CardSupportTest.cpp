// Whether a card may be driven: the identity of the USB device behind the
// card's tty, and the refusal built from the module's answer to 1026.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host/fwupgrade/plugin/CardSupport.h"
#include "host/fwupgrade/plugin/LinkedModule.h"
#include "platform/VirtualCardClock.h"
#include "tests/support/TempFolder.h"

namespace fwupgrade {
namespace {

using packet::UsbIdentity;
using test_support::TempFolder;
namespace fs = std::filesystem;

constexpr UsbIdentity kOtherProduct{packet::kCardVendor, 0x0099};

// A module that supports the card in its firmware, and counts the questions.
struct ModuleAnswers {
    std::vector<UsbIdentity> asked;
    std::function<bool(UsbIdentity)> Supports() {
        return [this](UsbIdentity identity) {
            asked.push_back(identity);
            return identity == packet::kCardFirmwareIdentity;
        };
    }
};

TEST(CardSupport, TheModulesAnswerDecidesForEveryIdentityButTheCardsOwnModesInARescue) {
    ModuleAnswers module;
    EXPECT_EQ(RefusalOf(packet::kCardFirmwareIdentity, CardUse::Drive, module.Supports()), "");
    EXPECT_EQ(RefusalOf(packet::kCardFirmwareIdentity, CardUse::Rescue, module.Supports()), "");
    for (const CardUse use : {CardUse::Drive, CardUse::Rescue}) {
        const std::string refusal = RefusalOf(kOtherProduct, use, module.Supports());
        EXPECT_NE(refusal.find("2e1a:0099"), std::string::npos) << refusal;
        EXPECT_NE(refusal.find("not supported"), std::string::npos) << refusal;
        EXPECT_EQ(refusal.find('\n'), std::string::npos) << "one sentence: " << refusal;
    }
    const std::string boot = RefusalOf(packet::kCardBootDownloaderIdentity, CardUse::Drive, module.Supports());
    EXPECT_NE(boot.find("2e1a:0082, the card in its boot downloader"), std::string::npos) << boot;
    EXPECT_NE(boot.find("not supported"), std::string::npos) << boot;
    const std::string programmer = RefusalOf(packet::kCardProgrammerIdentity, CardUse::Drive, module.Supports());
    EXPECT_NE(programmer.find("2e1a:0083, the card in its flash programmer"), std::string::npos) << programmer;
    EXPECT_EQ(RefusalOf(packet::kCardBootDownloaderIdentity, CardUse::Rescue, module.Supports()), "");
    EXPECT_EQ(RefusalOf(packet::kCardProgrammerIdentity, CardUse::Rescue, module.Supports()), "");
    // The module was asked every time, with the identity as it was found.
    ASSERT_EQ(module.asked.size(), 8u);
    EXPECT_EQ(module.asked[2], kOtherProduct);

    // No USB identity (a virtual card's pseudo-terminal): nothing to ask.
    module.asked.clear();
    EXPECT_EQ(RefusalOf(std::nullopt, CardUse::Drive, module.Supports()), "");
    EXPECT_TRUE(module.asked.empty());
}

TEST(CardSupport, TheCardsModesAreNamedAndOtherIdentitiesAreNot) {
    EXPECT_EQ(CardModeOf(packet::kCardBootDownloaderIdentity), "boot downloader");
    EXPECT_EQ(CardModeOf(packet::kCardProgrammerIdentity), "flash programmer");
    EXPECT_EQ(CardModeOf(packet::kCardFirmwareIdentity), "");
    EXPECT_EQ(CardModeOf({0x1234, packet::kCardBootDownloaderIdentity.product}), "");
    EXPECT_EQ(IdentityText({0x2E1A, 0x0A0B}), "2e1a:0a0b");
}

void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text << "\n";
}

// A stand-in sysfs and /dev with one USB serial device at 1-1.4 (ttyUSB7).
class CardIdentityLookup : public ::testing::Test {
protected:
    void SetUp() override {
        WriteText(temp_ / "sys/bus/usb/devices/1-1.4/idVendor", "2e1a");
        WriteText(temp_ / "sys/bus/usb/devices/1-1.4/idProduct", "0099");
        WriteText(temp_ / "sys/bus/usb/devices/1-1.4:1.0/bInterfaceNumber", "00");
        fs::create_directories(temp_ / "sys/bus/usb/devices/1-1.4:1.0/ttyUSB7");
        WriteText(temp_ / "dev/ttyUSB7", "");
        WriteText(temp_ / "dev/pts-stand-in", "");
        ::setenv("FWUPGRADE_SYSFS_ROOT", (temp_ / "sys").c_str(), 1);
        ::setenv("FWUPGRADE_DEV_ROOT", (temp_ / "dev").c_str(), 1);
        ::unsetenv("FWUPGRADE_USB_PORT");
        ::unsetenv("FWUPGRADE_USB_INTERFACE");
    }
    void TearDown() override {
        for (const char* name : {"FWUPGRADE_SYSFS_ROOT", "FWUPGRADE_DEV_ROOT", "FWUPGRADE_USB_PORT",
                                 "FWUPGRADE_USB_INTERFACE", "FWUPGRADE_PORT_PATTERN"})
            ::unsetenv(name);
    }
    TempFolder temp_;
};

TEST_F(CardIdentityLookup, IsTheUsbDeviceOfThePinnedPortOrOfThePatternsTty) {
    ::setenv("FWUPGRADE_USB_PORT", "1-1.4", 1);
    EXPECT_EQ(CardIdentityNow(1), kOtherProduct);
    ::unsetenv("FWUPGRADE_USB_PORT");
    ::setenv("FWUPGRADE_PORT_PATTERN", (temp_ / "dev/ttyUSB%d").c_str(), 1);
    EXPECT_EQ(CardIdentityNow(7), kOtherProduct);
    EXPECT_EQ(CardIdentityNow(3), std::nullopt) << "no ttyUSB3 in the tree";
    // A path that is no USB serial port (a virtual card's) has no identity.
    ::setenv("FWUPGRADE_PORT_PATTERN", (temp_ / "dev/pts-stand-in").c_str(), 1);
    EXPECT_EQ(CardIdentityNow(1), std::nullopt);
}

// How much of the module's pauses passes in real time, as the progress
// estimate assumes it: shorter only on a pseudo-terminal, with the one parser.
TEST(PauseScale, IsShorterOnlyForAPseudoTerminalUnderAValidClockScale) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    TempFolder temp;
    WriteText(temp / "ttyUSB0", "");

    ::setenv(platform::kClockScaleVariable, "8", 1);
    EXPECT_EQ(PauseScaleOf(slave), 1.0 / 8);
    EXPECT_EQ(PauseScaleOf(temp / "ttyUSB0"), 1.0);
    EXPECT_EQ(PauseScaleOf("/dev/ptmx"), 1.0) << "the master side is no card's port";
    EXPECT_EQ(PauseScaleOf("/dev/null"), 1.0);
    for (const char* refused : {"8x", "-8", "1", "2000000"}) {
        ::setenv(platform::kClockScaleVariable, refused, 1);
        EXPECT_EQ(PauseScaleOf(slave), 1.0) << refused;
    }
    ::unsetenv(platform::kClockScaleVariable);
    ::close(master);
}

}  // namespace
}  // namespace fwupgrade
