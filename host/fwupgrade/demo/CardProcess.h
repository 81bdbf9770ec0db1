// The virtual card as a child process on a pseudo-terminal: cardsim serves a
// stable link path until it is stopped, then writes its state.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "sim/card/CardData.h"

namespace fwupgrade {

// The cardsim program: FWUPGRADE_CARDSIM, next to this program, in the
// program folder seen from this program's installed folder, the build tree
// (for the build tree's program only), the installation.
std::string FindCardsim();

class CardProcess {
public:
    CardProcess() = default;
    ~CardProcess();
    CardProcess(const CardProcess&) = delete;
    CardProcess& operator=(const CardProcess&) = delete;

    // Starts cardsim with --link and --state-out and the extra arguments;
    // its own output goes to `logFile`. Waits until the link exists.
    bool Start(const std::string& program, const std::string& link, const std::string& stateFile,
               const std::vector<std::string>& extra, const std::string& logFile, std::string& error);
    // Stops it (SIGTERM) and reads the state it wrote.
    bool Stop(sim::CardData& data, bool& newFirmware, size_t& violations, std::string& error);

private:
    pid_t pid_ = -1;
    std::string stateFile_;
};

}  // namespace fwupgrade
