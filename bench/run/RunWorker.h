// One whole upgrade run in this process: the module is linked in and reached
// through message 1025 as the host reaches it, its trace and progress arrive
// at the host kit's modules, and a real-time clock notes every pause the run
// asks for. Nothing is shortened: the card gets every pause in full.
#pragma once

#include <string>

#include "bench/run/RunRecord.h"

namespace runbench {

struct WorkerRequest {
    std::string device;    // the card's terminal (FWUPGRADE_PORT_PATTERN)
    std::string package;   // the package folder (channel.nvm is written into it)
};

bool RunOneUpgrade(const WorkerRequest& request, RunRecord& record, std::string& error);

}  // namespace runbench
