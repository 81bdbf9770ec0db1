#include "host/fwupgrade/run/SignalWatch.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace fwupgrade {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// One watch at a time; the handler reaches it through this descriptor.
volatile sig_atomic_t g_writeEnd = -1;

void OnStopSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    if (g_writeEnd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &number, 1);
    }
    errno = saved;
}

sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kStopSignals) sigaddset(&set, signal);
    return set;
}

void SetDisposition(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

SignalWatch::SignalWatch(std::function<void(int)> onSignal) : onSignal_(std::move(onSignal)) {
    const sigset_t set = StopSignalSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (::pipe2(pipe_, O_CLOEXEC) != 0) return;
    g_writeEnd = pipe_[1];
    for (int signal : kStopSignals) SetDisposition(signal, OnStopSignal);
    watcher_ = std::thread([this] { Watch(); });
}

SignalWatch::~SignalWatch() {
    if (watcher_.joinable()) {
        const unsigned char stop = 0;
        [[maybe_unused]] const ssize_t written = ::write(pipe_[1], &stop, 1);
        watcher_.join();
    }
    for (int signal : kStopSignals) SetDisposition(signal, SIG_DFL);
    g_writeEnd = -1;
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
    const sigset_t set = StopSignalSet();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void SignalWatch::Watch() {
    const sigset_t set = StopSignalSet();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    for (;;) {
        unsigned char number = 0;
        const ssize_t got = ::read(pipe_[0], &number, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || number == 0) break;
        onSignal_(number);
    }
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

void RestoreSignalsForChild() {
    for (int signal : kStopSignals) SetDisposition(signal, SIG_DFL);
    SetDisposition(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace fwupgrade
