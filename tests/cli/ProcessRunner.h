// Runs a program as a user would: arguments, a working folder, extra
// environment, and its output and exit status afterwards.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fwupgrade::testing {

struct ProcessOutcome {
    int exitStatus = -1;      // -1: killed by a signal or timed out
    std::string out;
    std::string err;
    bool timedOut = false;
};

ProcessOutcome RunProcess(const std::vector<std::string>& args, const std::string& folder,
                          const std::vector<std::pair<std::string, std::string>>& env, int timeoutSeconds);

// The lines of a text.
std::vector<std::string> Lines(const std::string& text);

}  // namespace fwupgrade::testing
