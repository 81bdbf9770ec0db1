// The station's one loop: the bus, its input, the stop signals and the
// workers' outputs, polled together, with a tick for the live table.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "host/fwupgrade/cli/Commands.h"
#include "host/fwupgrade/report/FailureReport.h"
#include "host/fwupgrade/run/SignalWatch.h"
#include "host/fwupgrade/run/Workers.h"
#include "host/fwupgrade/station/Station.h"

namespace fwupgrade::station {

namespace {

constexpr int kTickMs = 1000;

size_t TerminalWidth() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// The signal numbers the watcher thread hands over to the loop.
class SignalPipe {
public:
    SignalPipe() {
        if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
    }
    ~SignalPipe() {
        for (int fd : fds_)
            if (fd >= 0) ::close(fd);
    }
    void Put(int signal) {
        const unsigned char number = static_cast<unsigned char>(signal);
        (void)!::write(fds_[1], &number, 1);
    }
    int ReadEnd() const { return fds_[0]; }

private:
    int fds_[2] = {-1, -1};
};

// Complete lines of what came on `fd`; false once it is closed.
bool ReadLines(int fd, std::string& pending, std::vector<std::string>& lines) {
    char buffer[1024];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) return errno == EINTR || errno == EAGAIN;
    if (got == 0) return false;
    pending.append(buffer, static_cast<size_t>(got));
    size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
        lines.push_back(pending.substr(0, newline));
        pending.erase(0, newline + 1);
    }
    return true;
}

}  // namespace

int Station::Run() {
    std::string error;
    if (!bus_.Open(error)) {
        std::cerr << "station: " << error << "\n";
        return kExitOther;
    }
    SignalPipe signals;
    SignalWatch watch([&signals](int signal) { signals.Put(signal); });
    for (const auto& change : bus_.PluggedIn()) OnBusChange(change);
    bool inputOpen = true;
    std::string inputPending;
    while (!Over()) {
        if (Poll(signals.ReadEnd(), inputOpen, inputPending) < 0) break;
        output_->Tick(board_);
    }
    output_->Close(board_);
    return WorstExitStatus(results_);
}

int Station::Poll(int signalFd, bool& inputOpen, std::string& inputPending) {
    std::vector<pollfd> fds = {{bus_.Descriptor(), POLLIN, 0}, {signalFd, POLLIN, 0},
                               {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
    std::vector<std::string> ports;
    for (const auto& [port, run] : runs_) {
        fds.push_back({run->Descriptor(), POLLIN, 0});
        ports.push_back(port);
    }
    const int ready = ::poll(fds.data(), fds.size(), kTickMs);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (fds[0].revents != 0) DrainBus();
    if (fds[1].revents != 0) {
        unsigned char number = 0;
        while (::read(signalFd, &number, 1) == 1) OnSignal(number);
    }
    if (fds[2].revents != 0) {
        std::vector<std::string> lines;
        inputOpen = ReadLines(STDIN_FILENO, inputPending, lines);
        for (const auto& line : lines) OnInputLine(line);
    }
    for (size_t i = 0; i < ports.size(); ++i)
        if (fds[3 + i].revents != 0 && runs_.count(ports[i]) != 0) ReadWorker(ports[i]);
    return ready;
}

void Station::DrainBus() {
    // Every change waiting, so a batch of cards plugged in at once never
    // fills the socket.
    while (bus_.Pending())
        if (auto change = bus_.NextChange()) OnBusChange(*change);
}

int RunStation(const StationOptions& options) {
    std::unique_ptr<StationOutput> output;
    if (options.json)
        output = MakeJsonOutput(std::cout);
    else if (OutputIsTerminal())
        output = MakeTableOutput(std::cout, &TerminalWidth);
    else
        output = MakeLineOutput(std::cout);
    Station station(options, std::move(output));
    return station.Run();
}

}  // namespace fwupgrade::station
