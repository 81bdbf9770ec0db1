// A timeline of one run as a plain SVG drawing: one row for the phases, one
// for the steps that move data (transfers), one for the pauses the run asked
// for, on a common axis of seconds.
#pragma once

#include <string>

#include "bench/run/RunRecord.h"

namespace runbench {

std::string TimelineSvg(const RunRecord& record, const std::string& title);

}  // namespace runbench
