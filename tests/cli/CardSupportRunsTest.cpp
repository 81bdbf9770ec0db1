// fwupgrade asks the plug-in (message 1026) about the USB identity of the
// device behind the card's tty before it sends the card anything. The device
// here is a stand-in sysfs entry whose tty is a pseudo-terminal the test
// holds both ends of, so every byte sent to it would show at the master.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <nlohmann/json.hpp>

#include "CliFixture.h"
#include "packet/CardIdentity.h"

namespace fwupgrade {
namespace {

constexpr packet::UsbIdentity kOtherProduct{packet::kCardVendor, 0x0099};

class CardSupportRuns : public FwupgradeCli {
protected:
    void TearDown() override {
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }

    std::string Tty() const { return temp_ / "dev/ttyUSB7"; }

    // A USB device of `identity` alone on the bus at port 1-1.4, with one
    // serial interface whose tty is a link to the test's pseudo-terminal.
    void PlugIn(packet::UsbIdentity identity) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        const std::string slavePath = ::ptsname(master_);
        slave_ = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave_, 0);
        char hex[8];
        const fs::path device = temp_ / "sys/bus/usb/devices/1-1.4";
        fs::create_directories(device);
        std::snprintf(hex, sizeof hex, "%04x", identity.vendor);
        std::ofstream(device / "idVendor") << hex << "\n";
        std::snprintf(hex, sizeof hex, "%04x", identity.product);
        std::ofstream(device / "idProduct") << hex << "\n";
        const fs::path interface = temp_ / "sys/bus/usb/devices/1-1.4:1.0";
        fs::create_directories(interface / "ttyUSB7");
        std::ofstream(interface / "bInterfaceNumber") << "00\n";
        fs::create_directories(temp_ / "dev");
        fs::create_symlink(slavePath, Tty());
    }

    // What was written to the device so far.
    std::string Received() const {
        std::string bytes;
        char buffer[4096];
        for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(n));
        return bytes;
    }

    int master_ = -1;
    int slave_ = -1;
};

TEST_F(CardSupportRuns, AnotherProductOfTheCardsVendorIsRefusedAndNothingIsSentToIt) {
    PlugIn(kOtherProduct);
    const std::vector<std::vector<std::string>> commands = {
        {"upgrade", "--device", Tty(), "--package", Package()},
        {"upgrade", "--usb-port", "1-1.4", "--package", Package()},
        {"upgrade", "--package", Package()},   // taken as the only device of the vendor
        {"backup", "--usb-port", "1-1.4"},
        {"restore", "--device", Tty()},
        {"rescue", "--usb-port", "1-1.4:1.0", "--package", Package()},
    };
    for (const auto& command : commands) {
        const ProcessOutcome run = Fwupgrade(command);
        const std::string said = run.out + run.err;
        EXPECT_EQ(run.exitStatus, 8) << command[0] << ": " << said;
        EXPECT_NE(said.find("The device is 2e1a:0099, a USB identity the upgrade module reports as not supported"),
                  std::string::npos)
            << command[0] << ": " << said;
        EXPECT_EQ(Received(), "") << command[0] << " sent bytes to the device";
    }
    const nlohmann::json entries = nlohmann::json::parse(Fwupgrade({"history", "--json"}).out);
    ASSERT_EQ(entries.size(), commands.size());
    EXPECT_EQ(entries[0]["result"], "unsupported");
    EXPECT_EQ(entries[0]["exit"], 8);
}

TEST_F(CardSupportRuns, TheCardInItsBootDownloaderIsLeftToTheRescueWhichDrivesIt) {
    PlugIn(packet::kCardBootDownloaderIdentity);
    ProcessOutcome run = Fwupgrade({"upgrade", "--usb-port", "1-1.4", "--package", Package()});
    EXPECT_EQ(run.exitStatus, 8) << run.out << run.err;
    EXPECT_NE(run.out.find("The device is 2e1a:0082, the card in its boot downloader, which is not supported"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  To rescue the card run: fwupgrade rescue --usb-port 1-1.4:1.0 --package " + Package()),
              std::string::npos)
        << run.out;
    run = Fwupgrade({"backup", "--usb-port", "1-1.4"});
    EXPECT_EQ(run.exitStatus, 8) << run.out << run.err;
    EXPECT_EQ(Received(), "");

    // The rescue takes it: its first request reaches the device.
    auto rescue = Start({"rescue", "--usb-port", "1-1.4", "--package", Package()});
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeout);
    while (received.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        received = Received();
    }
    EXPECT_FALSE(received.empty()) << "the rescue sent nothing to the card in its boot downloader";
}

}  // namespace
}  // namespace fwupgrade
