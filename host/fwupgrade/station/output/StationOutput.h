// Where the station tells what happens: a live table on a terminal, plain
// lines otherwise, JSON events with --json.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "host/fwupgrade/station/output/Board.h"

namespace fwupgrade::station {

class StationOutput {
public:
    virtual ~StationOutput() = default;
    // Something happened to the card on `port`; the board holds it already.
    virtual void Tell(const Board& board, Happening what, const std::string& port) = 0;
    // About once a second, for what changes with time alone.
    virtual void Tick(const Board& board) { (void)board; }
    // A sentence about the station itself ("No new cards are taken ...").
    virtual void Note(const std::string& text) = 0;
    // The station ends.
    virtual void Close(const Board& board) { (void)board; }
};

std::unique_ptr<StationOutput> MakeJsonOutput(std::ostream& out);
std::unique_ptr<StationOutput> MakeLineOutput(std::ostream& out);
// `width` is asked at each redraw, so the table follows a resized terminal.
std::unique_ptr<StationOutput> MakeTableOutput(std::ostream& out, size_t (*width)());

}  // namespace fwupgrade::station
