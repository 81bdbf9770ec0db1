// The cardsim program on a real pseudo-terminal: help, serving, the hang-up
// and the returning link at a mode change, and the state file on SIGTERM.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "SimTestSupport.h"

using simtest::Bytes;

namespace {

namespace fs = std::filesystem;

bool WaitFor(const std::function<bool()>& condition, int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

bool LinkExists(const fs::path& link) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(link, ec));
}

int OpenRaw(const fs::path& link) {
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return fd;
    termios settings{};
    ::tcgetattr(fd, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

// Reads until a closing flag arrives or the time is up.
Bytes ReadFrame(int fd, int milliseconds) {
    Bytes out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        uint8_t buffer[512];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        out.insert(out.end(), buffer, buffer + got);
        if (out.size() > 1 && out.back() == 0x7E) break;
    }
    return out;
}

class CardsimProgram : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("cardsim_prog_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }
    void Start(std::vector<std::string> args) {
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            std::vector<char*> argv;
            std::string program = CARDSIM_PATH;
            argv.push_back(program.data());
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
    }
    int Stop() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir_;
    pid_t pid_ = -1;
};

}  // namespace

TEST_F(CardsimProgram, HelpDescribesTheOptions) {
    const std::string command = std::string(CARDSIM_PATH) + " --help";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0);
    for (const char* option : {"--link", "--state-out", "--transcript", "--profile", "--scenario", "--fault",
                               "--wine-dosdevice", "--reenum-delay", "make-package"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
}

TEST_F(CardsimProgram, ServesReenumeratesAndWritesItsStateOnSigterm) {
    const fs::path link = dir_ / "x" / "card0";
    const fs::path wine = dir_ / "dosdevices" / "com5";
    const fs::path state = dir_ / "s.json";
    const fs::path transcript = dir_ / "t.txt";
    Start({"--link", link.string(), "--state-out", state.string(), "--transcript", transcript.string(),
           "--wine-dosdevice", wine.string(), "--reenum-delay", "400", "--leave-delay", "50"});
    ASSERT_TRUE(WaitFor([&] { return LinkExists(link); }, 5000));
    EXPECT_EQ(fs::read_symlink(wine), fs::read_symlink(link));
    const int fd = OpenRaw(link);
    ASSERT_GE(fd, 0);

    const Bytes esn{0x01, 0xF1, 0xE1, 0x7E};
    ASSERT_EQ(::write(fd, esn.data(), esn.size()), static_cast<ssize_t>(esn.size()));
    const Bytes answer = ReadFrame(fd, 3000);
    EXPECT_EQ(simtest::Bodies(answer), (std::vector<Bytes>{{0x01, 0xC3, 0xA5, 0x12, 0x80}}));

    const Bytes toDownload{0x3A, 0xA1, 0x6E, 0x7E};
    ASSERT_EQ(::write(fd, toDownload.data(), toDownload.size()), 4);
    EXPECT_EQ(ReadFrame(fd, 3000), toDownload);

    // The old terminal hangs up and the link goes away ...
    EXPECT_TRUE(WaitFor([&] {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
    }, 3000));
    EXPECT_TRUE(WaitFor([&] { return !LinkExists(link); }, 3000));
    ::close(fd);
    // ... and comes back with the boot downloader behind it.
    ASSERT_TRUE(WaitFor([&] { return LinkExists(link); }, 5000));
    const int fresh = OpenRaw(link);
    ASSERT_GE(fresh, 0);
    const Bytes noop{0x7E, 0x06, 0x4E, 0x95, 0x7E};
    ASSERT_EQ(::write(fresh, noop.data(), noop.size()), 5);
    EXPECT_EQ(ReadFrame(fresh, 3000), (Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
    ::close(fresh);

    // State on request, then on SIGTERM.
    ::kill(pid_, SIGUSR1);
    EXPECT_TRUE(WaitFor([&] { return fs::exists(state); }, 3000));
    EXPECT_EQ(Stop(), 0);
    std::ifstream in(state);
    const auto json = nlohmann::json::parse(in);
    EXPECT_EQ(json["mode"], "download");
    EXPECT_EQ(json["mode_changes"], 1);
    EXPECT_TRUE(json["violations"].empty());
    EXPECT_EQ(json["esn"], "0x8012A5C3");
    EXPECT_TRUE(json["partition_digests"].contains("system.img"));
    EXPECT_FALSE(LinkExists(link));
    std::ifstream log(transcript);
    std::string line;
    int lines = 0;
    bool sawEsn = false;
    while (std::getline(log, line)) {
        ++lines;
        if (line.find(" diag < 01f1e17e") != std::string::npos) sawEsn = true;
    }
    EXPECT_TRUE(sawEsn);
    EXPECT_GE(lines, 6);
}

TEST_F(CardsimProgram, MakesAPackageAndRefusesBadArguments) {
    const fs::path out = dir_ / "pkg";
    const std::string make = std::string(CARDSIM_PATH) + " make-package --out " + out.string() +
                             " --seed 3 --system-size 1000 --no-splash > /dev/null 2>&1";
    EXPECT_EQ(std::system(make.c_str()), 0);
    EXPECT_EQ(fs::file_size(out / "system.img"), 1000u);
    EXPECT_FALSE(fs::exists(out / "splash.img"));
    EXPECT_TRUE(fs::exists(out / "userdata.img"));
    const std::string noLink = std::string(CARDSIM_PATH) + " > /dev/null 2>&1";
    EXPECT_NE(std::system(noLink.c_str()), 0);
    const std::string badFault = std::string(CARDSIM_PATH) + " --link " + (dir_ / "l").string() +
                                 " --fault explode > /dev/null 2>&1";
    EXPECT_NE(std::system(badFault.c_str()), 0);
}

TEST_F(CardsimProgram, ProfileAndScenarioShapeTheCard) {
    const fs::path profile = dir_ / "profile.json";
    const fs::path scenario = dir_ / "scenario.json";
    const fs::path state = dir_ / "s.json";
    const fs::path link = dir_ / "card1";
    std::ofstream(profile) << R"({"version": "LUM_W326V1.0.0B05", "spc": "314159", "wifi": "a0a1a2a3a4a5"})";
    std::ofstream(scenario) << R"([{"kind": "silence", "command": 1}])";
    Start({"--link", link.string(), "--profile", profile.string(), "--scenario", scenario.string(), "--state-out",
           state.string(), "--short-version"});
    ASSERT_TRUE(WaitFor([&] { return LinkExists(link); }, 5000));
    const int fd = OpenRaw(link);
    ASSERT_GE(fd, 0);
    // The scenario silences the first ESN request; the second is answered.
    const Bytes esn{0x01, 0xF1, 0xE1, 0x7E};
    ASSERT_EQ(::write(fd, esn.data(), esn.size()), 4);
    EXPECT_TRUE(ReadFrame(fd, 300).empty());
    ASSERT_EQ(::write(fd, esn.data(), esn.size()), 4);
    EXPECT_EQ(ReadFrame(fd, 3000).at(0), 0x01);
    const Bytes version = simtest::Frame({0x38}, false);
    ASSERT_EQ(::write(fd, version.data(), version.size()), static_cast<ssize_t>(version.size()));
    const auto bodies = simtest::Bodies(ReadFrame(fd, 3000));
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0].size(), 1u + 22 + 12 + 9);
    ::close(fd);
    EXPECT_EQ(Stop(), 0);
    std::ifstream in(state);
    const auto json = nlohmann::json::parse(in);
    EXPECT_EQ(json["version"], "LUM_W326V1.0.0B05");
    EXPECT_EQ(json["version_layout"], "short");
    EXPECT_EQ(json["spc"], "314159");
    EXPECT_EQ(json["wifi"], "a0a1a2a3a4a5");

    std::ofstream(scenario) << R"([{"kind": "silence", "colour": 1}])";
    const std::string bad = std::string(CARDSIM_PATH) + " --link " + link.string() + " --scenario " + scenario.string() +
                            " > /dev/null 2>&1";
    EXPECT_NE(std::system(bad.c_str()), 0);
}

TEST_F(CardsimProgram, ShowsTheCardOnAUsbPortWithTheNextFreeTtyAtEachAppearance) {
    const fs::path sys = dir_ / "sys";
    const fs::path dev = dir_ / "dev";
    const fs::path devices = sys / "bus/usb/devices";
    fs::create_directories(dev);
    std::ofstream(dev / "ttyUSB2") << "";   // held by something else
    auto firstLine = [](const fs::path& path) {
        std::string line;
        std::ifstream in(path);
        std::getline(in, line);
        return line;
    };
    Start({"--usb-sysfs", sys.string(), "--usb-devfs", dev.string(), "--usb-port", "2-1", "--usb-tty-numbers", "2",
           "--reenum-delay", "400", "--leave-delay", "50"});
    // The card's own tty folder is the last thing an appearance makes.
    ASSERT_TRUE(WaitFor([&] { return fs::is_directory(devices / "2-1:1.1/ttyUSB3"); }, 5000));
    // In its firmware: the card's port on interface 1, a modem port beside it.
    EXPECT_EQ(firstLine(devices / "2-1/idVendor"), "2e1a");
    EXPECT_EQ(firstLine(devices / "2-1/idProduct"), "0081");
    EXPECT_EQ(firstLine(devices / "2-1:1.1/bInterfaceNumber"), "01");
    EXPECT_TRUE(LinkExists(dev / "ttyUSB3"));
    EXPECT_TRUE(fs::is_directory(devices / "2-1:1.0/tty/ttyACM0"));
    EXPECT_TRUE(LinkExists(dev / "ttyACM0"));

    const int fd = OpenRaw(dev / "ttyUSB3");
    ASSERT_GE(fd, 0);
    const Bytes toDownload{0x3A, 0xA1, 0x6E, 0x7E};
    ASSERT_EQ(::write(fd, toDownload.data(), toDownload.size()), 4);
    EXPECT_EQ(ReadFrame(fd, 3000), toDownload);
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(devices / "2-1"); }, 3000));
    ::close(fd);
    // Back in its boot downloader: another product, one interface.
    ASSERT_TRUE(WaitFor([&] { return fs::exists(devices / "2-1:1.0/ttyUSB3"); }, 5000));
    EXPECT_EQ(firstLine(devices / "2-1/idProduct"), "0082");
    EXPECT_FALSE(fs::exists(devices / "2-1:1.1"));
    EXPECT_FALSE(LinkExists(dev / "ttyACM0"));

    EXPECT_EQ(Stop(), 0);
    EXPECT_FALSE(fs::exists(devices / "2-1"));
    EXPECT_FALSE(LinkExists(dev / "ttyUSB3"));
    EXPECT_TRUE(fs::exists(dev / "ttyUSB2"));
}
