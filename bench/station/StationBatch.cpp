// The station with 1, 8 and 32 virtual cards plugged in at once, on
// umockdev's USB bus, each card cardsim on a pseudo-terminal: the batch's
// wall time against one card's, where a card's time goes (from its plug to
// the first byte it hears, then from there to its result), the peak memory
// of the station with its workers, and the station's own peak (VmHWM). With --terminal the station draws its live table on this
// terminal instead (for a capture), and nothing is measured.
//
//   station_batch [--terminal] [N ...]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/fwupgrade/demo/CardProcess.h"
#include "packet/CardIdentity.h"
#include "sim/frontends/PackageMaker.h"
#include "tests/station/StationProcess.h"
#include "tests/station/UsbTestbed.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace fwupgrade;
using namespace fwupgrade::station_tests;
using Clock = std::chrono::steady_clock;
constexpr int kClockScale = 8;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string PortName(size_t i) { return "1-" + std::to_string(1 + i / 8) + "." + std::to_string(1 + i % 8); }

bool HeardSomething(const std::string& transcript) {
    std::ifstream in(transcript);
    for (std::string line; std::getline(in, line);)
        if (line.find(" < ") != std::string::npos) return true;
    return false;
}

// A field of /proc/<pid>/status in kB ("VmRSS:", "VmHWM:"); 0 when gone.
long StatusKilobytes(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
    return 0;
}

long KilobytesOf(pid_t pid) { return StatusKilobytes(pid, "VmRSS:"); }

// The station and every process below it.
long TreeKilobytes(pid_t pid) {
    long total = KilobytesOf(pid);
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    for (pid_t child; children >> child;) total += TreeKilobytes(child);
    return total;
}

struct Batch {
    size_t cards = 0;
    double wallSeconds = 0;
    double lastPlug = 0;   // when the last card was plugged in: the hand's share of the wall time
    double firstByteWorst = 0;
    double firstByteMean = 0;
    double runMean = 0;           // from the first byte to the result
    long peakKilobytes = 0;
    long stationPeakKilobytes = 0;   // the station alone, without its workers
    size_t done = 0;
};

class Bench {
public:
    explicit Bench(size_t cards) : cards_(cards) {
        std::filesystem::create_directories(temp_ / "sys");
        std::filesystem::create_directories(temp_ / "dev");
        std::filesystem::create_directories(temp_ / "run");
        std::string error;
        sim::PackageOptions options;
        if (!sim::MakePackage(temp_ / "package", options, error)) std::fprintf(stderr, "%s\n", error.c_str());
    }

    void StartCards() {
        for (size_t i = 0; i < cards_; ++i) {
            const std::string port = PortName(i);
            auto card = std::make_unique<CardProcess>();
            std::string error;
            const std::vector<std::string> extra = {"--leave-delay", std::to_string(100 / kClockScale),
                                                    "--reenum-delay", std::to_string(1500 / kClockScale),
                                                    "--usb-sysfs", temp_ / "sys", "--usb-devfs", temp_ / "dev",
                                                    "--usb-port", port, "--transcript", temp_ / (port + ".transcript")};
            if (!card->Start(CARDSIM_EXE, temp_ / (port + ".link"), temp_ / (port + ".json"), extra,
                             temp_ / (port + ".log"), error))
                std::fprintf(stderr, "%s\n", error.c_str());
            cards.push_back(std::move(card));
        }
    }

    // When each card was plugged in, against `start`.
    std::vector<double> PlugAll(Clock::time_point start) {
        std::vector<double> plugged;
        // A hand plugs cards one after another; umockdev's uevent sender
        // gives up on a socket whose queue is full.
        for (size_t i = 0; i < cards_; ++i) {
            plugged.push_back(Since(start));
            bus_.Plug(PortName(i), packet::kCardVendor, packet::kCardFirmwareIdentity.product);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return plugged;
    }

    std::vector<std::string> StationArgs() const {
        return {FWUPGRADE_EXE, "station", "--package", temp_ / "package", "--work-dir", temp_ / "work",
                "--max-parallel", std::to_string(cards_)};
    }

    Environment Env() const {
        return {{"FWUPGRADE_REGISTRY_ROOT", temp_ / "registry"}, {"FWUPGRADE_CLOCK_SCALE", std::to_string(kClockScale)},
                {"XDG_STATE_HOME", temp_ / "state"},           {"XDG_DATA_HOME", temp_ / "data"},
                {"FWUPGRADE_SYSFS_ROOT", temp_ / "sys"},        {"FWUPGRADE_DEV_ROOT", temp_ / "dev"},
                {"FWUPGRADE_DBUS_ADDRESS", "unix:path=" + temp_ / "no-bus"}};
    }

    Batch Measure() {
        StartCards();
        auto args = StationArgs();
        args.insert(args.begin() + 2, "--json");
        StationProcess station(args, temp_ / "run", Env(), temp_ / "station.err");
        bus_.WaitForListener();
        Batch batch;
        batch.cards = cards_;
        const auto start = Clock::now();
        const std::vector<double> plugged = PlugAll(start);
        std::vector<double> firstByte(cards_, -1), resultAt(cards_, -1);
        std::map<std::string, size_t> indexOfPort;
        for (size_t i = 0; i < cards_; ++i) indexOfPort[PortName(i)] = i;
        size_t results = 0, seen = 0;
        while (results < cards_ && Since(start) < 1800) {
            station.Drain();
            // Only the events that came since the last look: the bench must
            // not eat the cores the batch runs on.
            for (; seen < station.Events().size(); ++seen) {
                const auto& event = station.Events()[seen];
                if (!Event("result")(event)) continue;
                const auto port = indexOfPort.find(event.value("port", ""));
                if (port == indexOfPort.end() || resultAt[port->second] >= 0) continue;
                resultAt[port->second] = Since(start) - plugged[port->second];
                ++results;
            }
            for (size_t i = 0; i < cards_; ++i)
                if (firstByte[i] < 0 && HeardSomething(temp_ / (PortName(i) + ".transcript")))
                    firstByte[i] = Since(start) - plugged[i];
            batch.peakKilobytes = std::max(batch.peakKilobytes, TreeKilobytes(StationPid(station)));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        batch.wallSeconds = Since(start);
        batch.lastPlug = plugged.back();
        batch.stationPeakKilobytes = StatusKilobytes(StationPid(station), "VmHWM:");
        for (const auto& event : station.Events())
            if (Event("result")(event) && event.value("result", "") == "done") ++batch.done;
        double sum = 0, runSum = 0;
        for (size_t i = 0; i < cards_; ++i) {
            batch.firstByteWorst = std::max(batch.firstByteWorst, firstByte[i]);
            sum += firstByte[i];
            runSum += resultAt[i] - firstByte[i];
        }
        batch.firstByteMean = sum / static_cast<double>(cards_);
        batch.runMean = runSum / static_cast<double>(cards_);
        station.Signal(SIGINT);
        station.Wait(60);
        return batch;
    }

    // The live table on this terminal, until the cards are done.
    void Show() {
        StartCards();
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (const auto& [name, value] : Env()) ::setenv(name.c_str(), value.c_str(), 1);
            if (::chdir((temp_ / "run").c_str()) != 0) ::_exit(126);
            auto args = StationArgs();
            std::vector<char*> argv;
            for (auto& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        bus_.WaitForListener();
        PlugAll(Clock::now());
        std::this_thread::sleep_for(std::chrono::seconds(5 + 2 * cards_));
        ::kill(pid, SIGINT);
        ::waitpid(pid, nullptr, 0);
    }

    std::vector<std::unique_ptr<CardProcess>> cards;

private:
    static pid_t StationPid(const StationProcess& station) { return station.Pid(); }

    size_t cards_;
    test_support::TempFolder temp_;
    UsbTestbed bus_;
};

}  // namespace

int main(int argc, char** argv) {
    if (!UnderUmockdev()) {
        std::vector<char*> args = {const_cast<char*>(UMOCKDEV_WRAPPER)};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execv(UMOCKDEV_WRAPPER, args.data());
        std::fprintf(stderr, "station_batch: needs umockdev-wrapper (Debian umockdev)\n");
        return 77;
    }
    bool terminal = false;
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--terminal") == 0)
            terminal = true;
        else
            sizes.push_back(std::stoul(argv[i]));
    }
    if (sizes.empty()) sizes = {1, 8, 32};
    if (terminal) {
        Bench(sizes.front()).Show();
        return 0;
    }
    // "after last plug": the wall time less the hand's plugging, against one card's.
    std::printf("cards  done  wall s  / one card  after last plug  first byte mean s  worst s  run mean s"
                "  peak RSS MiB (station+workers)  station peak MiB\n");
    double one = 0;
    for (size_t cards : sizes) {
        const Batch batch = Bench(cards).Measure();
        if (one == 0) one = batch.wallSeconds / 1.0;
        std::printf("%5zu  %4zu  %6.1f  %10.2f  %15.2f  %17.2f  %7.2f  %10.2f  %31.1f  %16.1f\n", batch.cards,
                    batch.done, batch.wallSeconds, batch.wallSeconds / one, (batch.wallSeconds - batch.lastPlug) / one,
                    batch.firstByteMean, batch.firstByteWorst, batch.runMean, batch.peakKilobytes / 1024.0,
                    batch.stationPeakKilobytes / 1024.0);
        std::fflush(stdout);
    }
    return 0;
}
