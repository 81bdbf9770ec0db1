// Runs a program as a user would: arguments, a working folder, extra
// environment, and its output and exit status afterwards. A program can also
// be started in the background, watched line by line and sent signals.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace fwupgrade::testing {

struct ProcessOutcome {
    int exitStatus = -1;      // -1: killed by a signal or timed out
    std::string out;
    std::string err;
    bool timedOut = false;
};

using test_support::Environment;

class RunningProcess {
public:
    // What is still running of the process group is killed when the object goes.
    RunningProcess(const std::vector<std::string>& args, const std::string& folder, const Environment& env);

    // Reads the output until one of its complete lines matches; false when
    // the output ends or the time is up first.
    bool WaitForLine(const std::function<bool(const std::string&)>& match, int timeoutSeconds);
    void Signal(int signal) const;
    // Reads to the end of the output and reaps the process.
    ProcessOutcome Wait(int timeoutSeconds);
    const std::string& Out() const { return outcome_.out; }

private:
    // Reads what arrives until the deadline; false when the outputs are closed.
    bool Pump(int timeoutMs);

    test_support::ChildProcess process_;
    ProcessOutcome outcome_;
};

ProcessOutcome RunProcess(const std::vector<std::string>& args, const std::string& folder, const Environment& env,
                          int timeoutSeconds);

// The lines of a text.
std::vector<std::string> Lines(const std::string& text);

}  // namespace fwupgrade::testing
