// One card in this process: the package is checked, the plug-in is loaded,
// message 1025 runs, the trace goes to the log file and the progress to the
// output, and the result is put into words, shown and kept in the history.
// SIGINT, SIGTERM and SIGHUP are handled as InterruptPolicy says.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "host/fwupgrade/report/RunResult.h"

namespace fwupgrade {

struct SingleRunRequest {
    int32_t port = 1;
    std::string device;      // set: the card is followed on the USB port it sits on, or opened by this path
    std::string usbPort;     // set: the card is followed on this USB port ("1-1.2" or "1-1.2:1.N")
    std::string package;
    std::string logFile;     // empty: a new file in the state folder
    bool json = false;       // progress as JSON lines instead of a bar
    std::string pluginPath;
    std::string command;     // the command line kept in the history
    std::string cardFolder;  // a worker's folder: its summary and history entry go there too
    bool rescue = false;     // rescue a card a run left behind instead of upgrading it
    std::string rescueFrom;  // with rescue: a kept backup to restore ("" the package folder's)
    bool rescueWithoutData = false;   // with rescue: nothing is restored
};

// Progress, the result and (with json) the events go to `out`. A rescue
// runs the plug-in's rescue operation instead of message 1025.
RunResult RunSingleCard(const SingleRunRequest& request, std::ostream& out);

// The name of the lock backup file the module writes into the current folder.
constexpr const char* kLockBackupFile = "VEKLock_1";
constexpr const char* kChannelNvFile = "channel.nvm";

}  // namespace fwupgrade
