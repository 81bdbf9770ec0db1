// The POSIX COM port and the transaction on a real pseudo-terminal, with a
// card thread on the master side and a clock that runs faster than real time.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "packet/Packet.h"
#include "tests/support/TestClocks.h"
#include "platform/posix/SerialPort.h"
#include "tests/support/ScriptedPort.h"

namespace packet_test {
using namespace test_support;
namespace {

// Twice as fast in general: timeouts stay long enough for a card thread on a
// busy machine. The silent card runs ten times faster.
constexpr uint32_t kSpeedUp = 2;
constexpr uint32_t kSilentSpeedUp = 10;

struct Reply {
    Bytes bytes;
    uint32_t delayRealMs = 0;
};

// The card on the master side: collects each request up to its closing
// flag and answers it through the script.
class PtyCard {
public:
    using Script = std::function<Reply(int index, const Bytes& request)>;

    PtyCard() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            slavePath = ::ptsname(master_);
        }
    }
    ~PtyCard() {
        running_ = false;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (master_ >= 0) {
            ::close(master_);
        }
    }
    void Start(Script script) {
        script_ = std::move(script);
        running_ = true;
        thread_ = std::thread([this] { Run(); });
    }
    void Write(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            }
        }
    }
    int Requests() const { return requests_; }
    // Termios calls on the master act on the slave: the line the port set.
    bool LineOfSlave(termios& out) const { return ::tcgetattr(master_, &out) == 0; }
    std::string slavePath;

private:
    void Run() {
        Bytes pending;
        while (running_) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, 5) <= 0 || (entry.revents & POLLIN) == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            uint8_t chunk[4096];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            for (ssize_t i = 0; i < n; ++i) {
                pending.push_back(chunk[i]);
                if (chunk[i] == 0x7E && pending.size() > 1) {
                    const Reply reply = script_(requests_++, pending);
                    pending.clear();
                    std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayRealMs));
                    if (!reply.bytes.empty()) {
                        Write(reply.bytes);
                    }
                }
            }
        }
    }

    int master_ = -1;
    Script script_;
    std::atomic<bool> running_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

class PtyTransport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(card.slavePath.empty());
        ::setenv("FWUPGRADE_PORT_PATTERN", card.slavePath.c_str(), 1);
        platform::SetClock(&clock);
        platform::SetComPortOpener(opener.get());
    }
    void TearDown() override {
        packet.Close();
        platform::SetComPortOpener(nullptr);
        platform::SetClock(nullptr);
        ::unsetenv("FWUPGRADE_PORT_PATTERN");
    }
    // Waits (real time, bounded) until the port holds count bytes.
    bool WaitQueued(uint32_t count) {
        for (int i = 0; i < 5000 && packet.QueuedInput() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return packet.QueuedInput() == count;
    }

    platform::ScaledClock clock{kSpeedUp};
    std::unique_ptr<platform::ComPortOpener> opener = platform::MakeDefaultComPortOpener();
    PtyCard card;
    packet::CPacket packet;
};

Bytes EsnAnswer(uint8_t low) { return Frame({0x01, low, 0x00, 0x00, 0x80}, false); }

TEST_F(PtyTransport, AnswersOnTimeLateAndAfterACorruptedFrame) {
    Bytes nv = {0x26, 0x16, 0x00};
    nv.insert(nv.end(), 128, 0x3C);
    nv.push_back(0);
    nv.push_back(0);
    Bytes corrupted = Frame(nv, false);
    corrupted[20] ^= 0x01;
    card.Start([&](int index, const Bytes& request) -> Reply {
        switch (index) {
            case 0: return {EsnAnswer(0x21)};
            case 1: return {Frame(nv, false), 1000 / kSpeedUp};   // well within the 5 s of an NV read
            case 2: return {corrupted};
            default: return {Frame(nv, false)};
        }
    });
    ASSERT_TRUE(packet.Open(5));
    uint32_t esn = 0;
    ASSERT_TRUE(packet.GetEsn(esn));
    EXPECT_EQ(esn, 0x80000021u);
    uint8_t data[128] = {};
    uint16_t status = 1;
    EXPECT_TRUE(packet.NvItemRead(22, data, status));
    EXPECT_EQ(data[0], 0x3C);
    EXPECT_TRUE(packet.NvItemRead(22, data, status));
    EXPECT_EQ(card.Requests(), 4) << "the corrupted answer cost one attempt";
    EXPECT_EQ(packet.ErrorText(), "the Received Data is Wrong with Wrong CRC Checksum");
}

TEST_F(PtyTransport, SilentCardExhaustsEveryAttempt) {
    platform::ScaledClock fast(kSilentSpeedUp);
    platform::SetClock(&fast);
    card.Start([](int, const Bytes&) { return Reply{}; });
    ASSERT_TRUE(packet.Open(5));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(packet.TouchPort());
    EXPECT_EQ(packet.ErrorText(), "Port Cannot Receive Desired Data from the Phone");
    for (int i = 0; i < 1000 && card.Requests() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));   // the card may lag behind
    }
    EXPECT_EQ(card.Requests(), 3);
    const auto pauses = fast.Pauses();
    EXPECT_FALSE(pauses.empty());
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 10u), static_cast<std::ptrdiff_t>(pauses.size()));
    platform::SetClock(&clock);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(PtyTransport, TheWholeBufferIsReadButNotOneByteMore) {
    auto ofSize = [](size_t size) {
        for (uint8_t last = 0;; ++last) {
            Bytes body = {0x01, 0x07, 0x00, 0x00, 0x00};
            body.resize(size - 3, 0x00);
            body.back() = last;
            const Bytes frame = Frame(body, false);
            if (frame.size() == size) {
                return frame;
            }
        }
    };
    card.Start([&](int index, const Bytes&) { return Reply{ofSize(index == 0 ? 2048 : 2049)}; });
    ASSERT_TRUE(packet.Open(5));
    uint32_t esn = 0;
    EXPECT_TRUE(packet.GetEsn(esn));
    EXPECT_EQ(esn, 7u);
    EXPECT_FALSE(packet.GetEsn(esn));
    EXPECT_EQ(packet.ErrorText(),
              "Cannot Get the ESN Number of the Phone, Since The Received Data from the Phone is Too Large");
}

TEST_F(PtyTransport, ReceiveStepsOverRealReads) {
    card.Start([](int, const Bytes&) { return Reply{}; });
    ASSERT_TRUE(packet.Open(5));
    const Bytes first = Frame({0x08, 0x00, 0x10, 0x00, 0x00}, true);
    const Bytes second = Frame({0x08, 0x00, 0x20, 0x00, 0x00}, true);
    card.Write(Concat(first, second));
    ASSERT_TRUE(WaitQueued(static_cast<uint32_t>(first.size() + second.size())));
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenAddress(0), 0x1000u);
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenAddress(0), 0x2000u);

    card.Write(Bytes(first.begin(), first.begin() + 3));
    ASSERT_TRUE(WaitQueued(3));
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenCount(), 0);
    card.Write(Bytes(first.begin() + 3, first.end()));
    ASSERT_TRUE(WaitQueued(static_cast<uint32_t>(first.size() - 3)));
    EXPECT_FALSE(packet.ReceiveStreamingStep()) << "a frame split across two reads is lost";

    card.Write(Concat(first, {0x7E}));
    ASSERT_TRUE(WaitQueued(static_cast<uint32_t>(first.size() + 1)));
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenCount(), 0) << "a lone opening flag";
    card.Write(Bytes(second.begin() + 1, second.end()));
    ASSERT_TRUE(WaitQueued(static_cast<uint32_t>(second.size() - 1)));
    EXPECT_TRUE(packet.ReceiveStreamingStep());
    EXPECT_EQ(packet.BlockWrittenAddress(0), 0x2000u);
}

TEST_F(PtyTransport, PortIsRawAndPassesEveryByteValue) {
    card.Start([](int, const Bytes&) { return Reply{}; });
    ASSERT_TRUE(packet.Open(5));
    termios line{};
    ASSERT_TRUE(card.LineOfSlave(line));
    EXPECT_EQ(::cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);

    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<uint8_t>(i);
    }
    card.Write(all);
    ASSERT_TRUE(WaitQueued(256));
    Bytes got(300);
    got.resize(packet.Read(got.data(), 300));   // returns after the read timeout with what came
    EXPECT_EQ(got, all);

    card.Write(all);
    ASSERT_TRUE(WaitQueued(256));
    EXPECT_TRUE(packet.Purge());
    EXPECT_EQ(packet.QueuedInput(), 0u);
}

TEST(PosixPortNames, APatternNamesTheDeviceOfEachNumber) {
    EXPECT_EQ(platform::ComPortDevicePath("/dev/ttyUSB%d", 4), "/dev/ttyUSB4");
    EXPECT_EQ(platform::ComPortDevicePath("/tmp/card-%d.tty", 12), "/tmp/card-12.tty");
    EXPECT_EQ(platform::ComPortDevicePath("/dev/pts/5", 3), "/dev/pts/5");
}

TEST(PosixPortLine, TheSettingsReachTheTerminalAndOnlyKnownOnesAreTaken) {
    PtyCard card;
    ASSERT_FALSE(card.slavePath.empty());
    const auto port = platform::OpenPosixComPort(card.slavePath);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetLine({115200, 8, 'n', 1}));
    const int fd = ::open(card.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);

    // A pseudo-terminal keeps eight bits without parity whatever it is told;
    // speed and stop bits show that the settings are applied.
    ASSERT_TRUE(port->SetLine({9600, 7, 'e', 2}));
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    ::close(fd);

    EXPECT_FALSE(port->SetLine({12345, 8, 'n', 1})) << "a speed termios does not have";
    EXPECT_FALSE(port->SetLine({115200, 9, 'n', 1}));
    EXPECT_FALSE(port->SetLine({115200, 8, 'x', 1}));
}

}  // namespace
}  // namespace packet_test

namespace packet_test {
namespace {

TEST(PosixPortKinds, APseudoTerminalIsAVirtualCardsPortAndARealDeviceIsNot) {
    PtyCard card;
    ASSERT_FALSE(card.slavePath.empty());
    const auto port = platform::OpenPosixComPort(card.slavePath);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->IsVirtualCard());
    // /dev/null is a character device but no pseudo-terminal (nor a terminal:
    // it never opens as a port at all).
    const int fd = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(platform::IsPseudoTerminal(fd));
    ::close(fd);
    EXPECT_EQ(platform::OpenPosixComPort("/dev/null"), nullptr);
}

}  // namespace
}  // namespace packet_test
