// Stop signals while a card is flashed. The upgrade runs inside message 1025
// on the calling thread and blocks it for minutes, and a signal handler may
// do next to nothing, so the signals are taken on a thread of their own:
//
// - SIGINT, SIGTERM and SIGHUP are blocked in the thread that creates the
//   watch and so in every thread started after it (the module's pauses and
//   port reads are never cut short by EINTR);
// - the watcher thread unblocks them; their handler only writes the signal
//   number into a pipe (async-signal-safe);
// - the watcher reads the pipe and calls `onSignal` on its own thread, where
//   the run can lock its state, write, and end the process with _exit.
//
// SIGPIPE is left to IgnoreBrokenPipes: lost output then shows as EPIPE on
// the write and never ends a run.
#pragma once

#include <functional>
#include <thread>

namespace fwupgrade {

class SignalWatch {
public:
    explicit SignalWatch(std::function<void(int signal)> onSignal);
    // Stops the watcher and puts the mask and the handlers back.
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    void Watch();

    std::function<void(int)> onSignal_;
    int pipe_[2] = {-1, -1};
    std::thread watcher_;
};

// For the whole program: writes to a closed pipe or a gone terminal fail
// instead of killing the process.
void IgnoreBrokenPipes();

// Between fork and exec (async-signal-safe): the child starts with the
// default mask and dispositions, whatever the parent runs with.
void RestoreSignalsForChild();

}  // namespace fwupgrade
