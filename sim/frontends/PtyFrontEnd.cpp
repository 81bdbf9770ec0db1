#include "sim/frontends/PtyFrontEnd.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

namespace sim {

bool ReplaceSymlink(const std::string& target, const std::string& link, std::string& error) {
    std::error_code ec;
    const std::filesystem::path linkPath(link);
    if (linkPath.has_parent_path()) std::filesystem::create_directories(linkPath.parent_path(), ec);
    const std::string temp = link + ".tmp" + std::to_string(getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        error = "cannot create link " + temp + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        error = "cannot move link to " + link + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

PtyFrontEnd::PtyFrontEnd(Card& card, FrontEndOptions options)
    : card_(card), options_(std::move(options)), usbTree_(options_.usb) {}

PtyFrontEnd::~PtyFrontEnd() { HangUp(); }

bool PtyFrontEnd::OpenTerminal(std::string& error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        HangUp();
        return false;
    }
    const char* name = ::ptsname(master_);
    if (name == nullptr) {
        error = "no name for the pseudo-terminal";
        HangUp();
        return false;
    }
    const std::string slaveName = name;
    termios settings{};
    if (::tcgetattr(master_, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B115200);
        ::cfsetospeed(&settings, B115200);
        ::tcsetattr(master_, TCSANOW, &settings);
    }
    // Holding the terminal's other end keeps the master readable while no
    // client has it open.
    slave_ = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave_ >= 0 && ::tcgetattr(slave_, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(slave_, TCSANOW, &settings);
    }
    // The USB tree before the link: whoever waits for the link finds the
    // card on its port too.
    if (!usbTree_.Appear(card_.Mode(), slaveName, error)) {
        HangUp();
        return false;
    }
    if (usbTree_.Enabled())
        std::fprintf(stderr, "cardsim: on the bus in %s mode as %s\n", ModeName(card_.Mode()),
                     usbTree_.CurrentNode().c_str());
    if (!options_.link.empty() && !ReplaceSymlink(slaveName, options_.link, error)) {
        HangUp();
        return false;
    }
    if (!options_.wineDosDevice.empty() && !ReplaceSymlink(slaveName, options_.wineDosDevice, error)) {
        HangUp();
        return false;
    }
    generation_ = card_.Generation();
    pending_.clear();
    return true;
}

void PtyFrontEnd::HangUp() {
    usbTree_.Leave();
    if (!options_.link.empty()) ::unlink(options_.link.c_str());
    if (!options_.wineDosDevice.empty()) ::unlink(options_.wineDosDevice.c_str());
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = -1;
    master_ = -1;
    pending_.clear();
}

void PtyFrontEnd::Pump() {
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got <= 0) break;
        card_.Receive(std::span<const uint8_t>(buffer, static_cast<size_t>(got)));
        if (card_.Generation() != generation_) return;
    }
    const size_t due = card_.Available();
    if (due > 0) {
        std::string out(due, '\0');
        const size_t got = card_.Read(reinterpret_cast<uint8_t*>(out.data()), due);
        pending_.append(out, 0, got);
    }
    while (!pending_.empty()) {
        const ssize_t put = ::write(master_, pending_.data(), pending_.size());
        if (put <= 0) break;
        pending_.erase(0, static_cast<size_t>(put));
    }
}

bool PtyFrontEnd::WriteState(std::string& error) {
    if (options_.stateOut.empty()) return true;
    const std::string temp = options_.stateOut + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << card_.StateJson().dump(2) << "\n";
        if (!out) {
            error = "cannot write " + temp;
            return false;
        }
    }
    if (std::rename(temp.c_str(), options_.stateOut.c_str()) != 0) {
        error = "cannot write " + options_.stateOut + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

int PtyFrontEnd::WaitMs() {
    const std::optional<uint32_t> next = card_.NextChangeIn();
    return static_cast<int>(next ? std::min(*next, options_.idleWaitMs) : options_.idleWaitMs);
}

int PtyFrontEnd::Run(volatile std::sig_atomic_t& stop, volatile std::sig_atomic_t& dumpState) {
    std::string error;
    int result = 0;
    while (!stop) {
        if (dumpState) {
            dumpState = 0;
            if (!WriteState(error)) std::fprintf(stderr, "cardsim: %s\n", error.c_str());
        }
        if (master_ >= 0 && card_.Generation() != generation_) HangUp();
        if (master_ < 0 && card_.Present()) {
            if (!OpenTerminal(error)) {
                std::fprintf(stderr, "cardsim: %s\n", error.c_str());
                result = 1;
                break;
            }
        }
        // Sleeps until the host writes, the terminal takes held-back output
        // or the card's next timed change: a fixed short poll would wake
        // every card a thousand times a second for nothing.
        if (master_ >= 0) {
            pollfd fd{master_, static_cast<short>(pending_.empty() ? POLLIN : POLLIN | POLLOUT), 0};
            ::poll(&fd, 1, WaitMs());
            Pump();
        } else {
            ::usleep(static_cast<useconds_t>(WaitMs()) * 1000);
        }
    }
    HangUp();
    if (!WriteState(error)) {
        std::fprintf(stderr, "cardsim: %s\n", error.c_str());
        result = 1;
    }
    return result;
}

}  // namespace sim
