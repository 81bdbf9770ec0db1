// ModemManager kept off a card for the length of a run. The test runs a bus
// of its own (dbus-daemon) and a stand-in ModemManager on it that records
// every call together with how far the card's transcript had got, so each
// call is placed before or after what the card saw of the run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "CliFixture.h"
#include "host/fwupgrade/card/ModemManager.h"

namespace fwupgrade {
namespace {

constexpr const char* kPort = "1-1.2";

struct BusEvent {
    std::string kind;       // objects, inhibit, release, refused, gone
    std::string argument;   // the device, or "-"
    std::string caller;     // the caller's unique bus name
    size_t transcriptLines = 0;
};

std::vector<BusEvent> ReadEvents(const std::string& record) {
    std::ifstream in(record);
    std::vector<BusEvent> events;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        BusEvent event;
        std::string count;
        std::getline(fields, event.kind, '\t');
        std::getline(fields, event.argument, '\t');
        std::getline(fields, event.caller, '\t');
        std::getline(fields, count);
        event.transcriptLines = std::stoul(count);
        events.push_back(event);
    }
    return events;
}

std::vector<std::string> EventKinds(const std::vector<BusEvent>& events) {
    std::vector<std::string> kinds;
    for (const BusEvent& event : events) kinds.push_back(event.kind);
    return kinds;
}

// Line numbers (from 0) of the transcript lines the host sent, from line `from` on.
std::vector<size_t> HostLines(const std::string& transcript, size_t from) {
    std::ifstream in(transcript);
    std::vector<size_t> numbers;
    size_t number = 0;
    for (std::string line; std::getline(in, line); ++number) {
        std::istringstream words(line);
        std::string tick, mode, direction;
        words >> tick >> mode >> direction;
        if (direction == "<" && number >= from) numbers.push_back(number);
    }
    return numbers;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t LinesWith(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (const std::string& line : testing::Lines(text)) count += line.find(part) != std::string::npos;
    return count;
}

// The kernel's bus/usb/devices entries are links into the device tree, and
// ModemManager names a device by where the link leads.
TEST(UsbDevicePath, IsWhereThePortsEntryLeadsAndEmptyWhenNothingIsPluggedIn) {
    TempFolder sys;
    const std::string device = sys / "devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2";
    fs::create_directories(device);
    fs::create_directories(sys / "bus/usb/devices");
    fs::create_directory_symlink("../../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2",
                                 sys / "bus/usb/devices/1-1.2");
    const platform::posix::UsbTree tree{sys.path(), sys / "dev"};
    EXPECT_EQ(UsbDevicePath(tree, "1-1.2"), fs::canonical(device).string());
    EXPECT_EQ(UsbDevicePath(tree, "1-1.3"), "");
}

class ModemManagerRuns : public FwupgradeCli {
protected:
    void SetUp() override {
        FwupgradeCli::SetUp();
        ::setenv("FWUPGRADE_SYSFS_ROOT", (temp_ / "sys").c_str(), 1);
        ::setenv("FWUPGRADE_DEV_ROOT", (temp_ / "dev").c_str(), 1);
        ::setenv("FWUPGRADE_DBUS_ADDRESS", Address().c_str(), 1);
        ASSERT_TRUE(fs::exists(DBUS_DAEMON_EXE)) << "dbus-daemon is missing (apt-get install dbus-daemon)";
        std::ofstream(temp_ / "bus.conf")
            << "<busconfig><type>session</type><listen>unix:path=" << temp_ / "bus"
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/>"
               "</policy></busconfig>\n";
        bus_ = std::make_unique<testing::RunningProcess>(
            std::vector<std::string>{DBUS_DAEMON_EXE, "--config-file=" + temp_ / "bus.conf", "--nofork", "--nopidfile",
                                     "--print-address"},
            temp_.path(), testing::Environment{});
        ASSERT_TRUE(bus_->WaitForLine(Contains("unix:"), 20)) << "dbus-daemon did not start: " << bus_->Out();
    }
    void TearDown() override {
        ::unsetenv("FWUPGRADE_SYSFS_ROOT");
        ::unsetenv("FWUPGRADE_DEV_ROOT");
        ::unsetenv("FWUPGRADE_DBUS_ADDRESS");
    }

    std::string Address() const { return "unix:path=" + temp_ / "bus"; }
    std::string Record() const { return temp_ / "modemmanager.record"; }
    std::string Transcript() const { return temp_ / "card.transcript"; }
    std::string CardDevice() const { return fs::canonical(temp_ / "sys/bus/usb/devices/" + kPort).string(); }

    // The stand-in, knowing modems by these Device paths.
    void StartModemManager(const std::vector<std::string>& modems, bool refuse = false) {
        std::vector<std::string> args = {PYTHON3_EXE, MODEMMANAGER_STANDIN, "--address", Address(),
                                         "--record",  Record(),             "--watch",   Transcript()};
        for (const std::string& modem : modems) args.insert(args.end(), {"--modem", modem});
        if (refuse) args.push_back("--refuse");
        modemManager_ = std::make_unique<testing::RunningProcess>(args, temp_.path(), testing::Environment{});
        ASSERT_TRUE(modemManager_->WaitForLine(Contains("ready"), 20))
            << "the stand-in ModemManager did not start (apt-get install python3-dbus python3-gi): "
            << modemManager_->Out();
    }

    void StartUsbCard(CardProcess& card, std::vector<std::string> extra = {}) {
        extra.insert(extra.end(), {"--usb-sysfs", temp_ / "sys", "--usb-devfs", temp_ / "dev", "--usb-port", kPort,
                                   "--transcript", Transcript()});
        StartCard(card, "card0", extra);
    }

    ProcessOutcome Run(std::vector<std::string> args, const std::string& address) const {
        return Fwupgrade(std::move(args), {{"FWUPGRADE_DBUS_ADDRESS", address}});
    }

    // The stand-in's events so far, until the caller's connection is gone.
    std::vector<BusEvent> EventsOnceClosed() const {
        for (int tries = 0; tries < 100; ++tries) {
            const auto events = ReadEvents(Record());
            if (!events.empty() && events.back().kind == "gone") return events;
            ::usleep(50'000);
        }
        return ReadEvents(Record());
    }

    // One caller listed the modems, inhibited the card before the host's
    // first byte of the run, gave it back after its last, then closed. The
    // run began at line `from` of the transcript.
    void ExpectHeldAroundTheRun(const std::string& what, size_t from) const {
        const std::vector<BusEvent> events = EventsOnceClosed();
        ASSERT_EQ(EventKinds(events), (std::vector<std::string>{"objects", "inhibit", "release", "gone"})) << what;
        for (const BusEvent& event : events) EXPECT_EQ(event.caller, events.front().caller) << what;
        EXPECT_EQ(events[1].argument, CardDevice()) << what;
        EXPECT_EQ(events[2].argument, CardDevice()) << what;
        EXPECT_EQ(events[3].argument, "-") << what << ": the card was still held when the connection closed";
        const std::vector<size_t> host = HostLines(Transcript(), from);
        ASSERT_FALSE(host.empty()) << what;
        EXPECT_LE(events[1].transcriptLines, host.front()) << what << ": inhibited after the card was first spoken to";
        EXPECT_GT(events[2].transcriptLines, host.back()) << what << ": given back before the card was last spoken to";
    }

    std::unique_ptr<testing::RunningProcess> bus_;
    std::unique_ptr<testing::RunningProcess> modemManager_;
};

TEST_F(ModemManagerRuns, TheCardIsHeldFromBeforeItsFirstRequestToAfterItsLastInRunsThatSucceedAndFail) {
    CardProcess card;
    StartUsbCard(card);
    StartModemManager({"/sys/devices/elsewhere/1-4", CardDevice()});
    const std::vector<std::string> upgrade = {"upgrade", "--usb-port", "1-1.2:1.1", "--package", Package()};
    const auto expectHeld = [&](const std::vector<std::string>& args, int exitStatus, const std::string& what) {
        fs::remove(Record());
        const size_t from = testing::Lines(ReadFile(Transcript())).size();
        const ProcessOutcome run = Run(args, Address());
        EXPECT_EQ(run.exitStatus, exitStatus) << what << "\n" << run.out << run.err;
        EXPECT_EQ(LinesWith(run.out, "ModemManager"), 1u) << what << "\n" << run.out;
        EXPECT_EQ(LinesWith(run.out, "ModemManager leaves the card on USB port 1-1.2 alone until the run ends."), 1u)
            << what << "\n" << run.out;
        ExpectHeldAroundTheRun(what, from);
    };
    expectHeld(upgrade, 0, "upgrade");
    expectHeld({"backup", "--usb-port", "1-1.2:1.1"}, 0, "backup");
    ExpectFlashed(card, "card0");
    // The failed upgrade ends with a probe of the silent programmer.
    StartUsbCard(card, {"--fault", "silence:mode=programmer,occurrence=3,count=0"});
    expectHeld(upgrade, 4, "failed upgrade");
}

TEST_F(ModemManagerRuns, WithoutModemManagerOrWithoutABusTheRunSaysSoOnceAndGoesOn) {
    CardProcess card;
    StartUsbCard(card);
    const struct {
        std::string address;
        std::string line;
    } cases[] = {
        {Address(), "ModemManager is not running: nothing to inhibit."},
        {"unix:path=" + temp_ / "no-bus", "ModemManager: the system bus is not reachable ("},
    };
    for (const auto& c : cases) {
        const ProcessOutcome run = Run({"backup", "--usb-port", "1-1.2:1.1"}, c.address);
        EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
        EXPECT_EQ(LinesWith(run.out, "ModemManager"), 1u) << run.out;
        EXPECT_EQ(LinesWith(run.out, c.line), 1u) << run.out;
    }
}

TEST_F(ModemManagerRuns, ACardModemManagerDoesNotKnowOrWillNotLetGoIsLeftAsItIsAndTheRunGoesOn) {
    CardProcess card;
    StartUsbCard(card);
    const struct {
        std::vector<std::string> modems;
        bool refuse;
        std::string line;
        std::vector<std::string> events;
    } cases[] = {
        {{"/sys/devices/elsewhere/1-4"}, false,
         "ModemManager does not know the card on USB port 1-1.2 (" + CardDevice() + "): nothing to inhibit.",
         {"objects", "gone"}},
        {{CardDevice()}, true,
         "ModemManager did not agree to leave the card on USB port 1-1.2 alone (Not authorized to control the "
         "device); the run goes on.",
         {"objects", "refused", "gone"}},
    };
    for (const auto& c : cases) {
        modemManager_.reset();
        fs::remove(Record());
        StartModemManager(c.modems, c.refuse);
        const ProcessOutcome run = Run({"backup", "--usb-port", "1-1.2:1.1"}, Address());
        EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
        EXPECT_EQ(LinesWith(run.out, "ModemManager"), 1u) << run.out;
        EXPECT_EQ(LinesWith(run.out, c.line), 1u) << run.out;
        EXPECT_EQ(EventKinds(EventsOnceClosed()), c.events) << c.line;
    }
}

TEST_F(ModemManagerRuns, AVirtualCardOnItsPseudoTerminalCostsNoBusCall) {
    CardProcess card;
    const std::string link = StartCard(card, "card0");
    StartModemManager({"/sys/devices/elsewhere/1-4"});
    const ProcessOutcome run = Run({"backup", "--device", link}, Address());
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(LinesWith(run.out, "ModemManager"), 0u) << run.out;
    EXPECT_FALSE(fs::exists(Record()));
}

TEST_F(ModemManagerRuns, ARunStoppedByASignalGivesTheCardBackWithItsConnection) {
    CardProcess card;
    StartUsbCard(card);
    StartModemManager({CardDevice()});
    auto run = Start({"upgrade", "--usb-port", "1-1.2:1.1", "--package", Package()});
    ASSERT_TRUE(run->WaitForLine(Contains("ModemManager leaves the card"), kTimeout)) << run->Out();
    run->Signal(SIGTERM);
    const ProcessOutcome stopped = run->Wait(kTimeout);
    EXPECT_EQ(stopped.exitStatus, 130) << stopped.out << stopped.err;
    const std::vector<BusEvent> events = EventsOnceClosed();
    ASSERT_EQ(EventKinds(events), (std::vector<std::string>{"objects", "inhibit", "gone"}));
    EXPECT_EQ(events.back().argument, CardDevice()) << "the closed connection held the card";
}

}  // namespace
}  // namespace fwupgrade
