// A loopback serial line for the Windows serial tests under Wine: opens a
// pseudo-terminal, points a Wine dosdevices link (comN) at its slave side and
// sends every byte it receives straight back. It ends after the given number
// of seconds or on SIGTERM, and removes the link.
//
//   pty_echo <dosdevices/comN link> <seconds>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pty_echo <link> <seconds>\n");
        return 2;
    }
    const std::string link = argv[1];
    const long seconds = std::strtol(argv[2], nullptr, 10);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("posix_openpt");
        return 1;
    }
    const char* slaveName = ::ptsname(master);
    // Holding the slave open keeps the line up while Wine opens and closes it.
    const int slave = ::open(slaveName, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("open slave");
        return 1;
    }
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);

    ::unlink(link.c_str());
    if (::symlink(slaveName, link.c_str()) != 0) {
        std::perror("symlink");
        return 1;
    }
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    std::printf("%s\n", slaveName);
    std::fflush(stdout);

    const time_t end = std::time(nullptr) + seconds;
    unsigned char buffer[4096];
    while (!g_stop && std::time(nullptr) < end) {
        pollfd wait{master, POLLIN, 0};
        if (::poll(&wait, 1, 200) <= 0 || (wait.revents & POLLIN) == 0) continue;
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0) continue;
        ssize_t sent = 0;
        while (sent < got) {
            const ssize_t n = ::write(master, buffer + sent, static_cast<size_t>(got - sent));
            if (n <= 0) break;
            sent += n;
        }
    }
    ::unlink(link.c_str());
    ::close(slave);
    ::close(master);
    return 0;
}
