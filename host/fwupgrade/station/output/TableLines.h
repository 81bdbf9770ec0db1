// The live table's text: a heading, one row per port, the totals and the
// time since the station started, each line cut to the terminal's width.
#pragma once

#include <string>
#include <vector>

#include "host/fwupgrade/station/output/Board.h"

namespace fwupgrade::station {

std::vector<std::string> TableLines(const Board& board, size_t width);

// "1:05", "12:00:03"; "-" for a negative time.
std::string ClockText(double seconds);

}  // namespace fwupgrade::station
