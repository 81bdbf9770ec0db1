// What the station shows: the live table fits its width and says each
// card's state; plain lines and JSON events carry the same facts.
#include <gtest/gtest.h>

#include <sstream>

#include <nlohmann/json.hpp>

#include "host/fwupgrade/station/output/StationOutput.h"
#include "host/fwupgrade/station/output/TableLines.h"

namespace fwupgrade::station {
namespace {

Board SampleBoard() {
    Board board;
    Row& running = board.At("1-1.2");
    running.state = RowState::Running;
    running.step = "writing system.img";
    running.percent = 45;
    running.secondsLeft = 75;
    Row& failed = board.At("1-1.3");
    failed.state = RowState::Failed;
    failed.esn = "8A3F0021";
    failed.reason = "the card did not answer";
    failed.command = "fwupgrade rescue --usb-port 1-1.3:1.1 --package /pkg";
    Row& rescue = board.At("2-4");
    rescue.state = RowState::NeedsRescue;
    rescue.command = "fwupgrade rescue --usb-port 2-4:1.1 --package /pkg";
    board.At("3-1").state = RowState::Waiting;
    return board;
}

size_t WidthOf() { return 200; }

TEST(TableLines, OneRowPerPortWithItsStepProgressTimeLeftAndResultThenTheTotals) {
    const auto lines = TableLines(SampleBoard(), 300);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].rfind("PORT", 0), 0u);
    EXPECT_NE(lines[1].find("writing system.img"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("45%"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("1:15"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("8A3F0021"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("failed: the card did not answer -> fwupgrade rescue --usb-port 1-1.3:1.1"),
              std::string::npos)
        << lines[2];
    EXPECT_NE(lines[3].find("needs rescue -> fwupgrade rescue --usb-port 2-4:1.1"), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find("waiting for a free run"), std::string::npos) << lines[4];
    EXPECT_EQ(lines[5].rfind("0 flashed, 1 failed, 1 need a rescue, 1 running, 1 waiting; 0:00 since start", 0), 0u)
        << lines[5];
}

TEST(TableLines, EveryLineFitsTheTerminalAndACutLineSaysSo) {
    for (size_t width : {20u, 60u, 80u}) {
        for (const auto& line : TableLines(SampleBoard(), width)) EXPECT_LE(line.size(), width) << line;
    }
    const std::string heading = TableLines(SampleBoard(), 20)[0];
    EXPECT_EQ(heading, "PORT       ESN     ~");
}

TEST(TableLines, ClockTextShowsMinutesAndHours) {
    EXPECT_EQ(ClockText(0), "0:00");
    EXPECT_EQ(ClockText(75.4), "1:15");
    EXPECT_EQ(ClockText(3600 + 62), "1:01:02");
    EXPECT_EQ(ClockText(-1), "-");
}

TEST(TableOutput, EachRedrawGoesBackOverTheLinesItDrewBefore) {
    std::ostringstream out;
    auto table = MakeTableOutput(out, &WidthOf);
    const Board board = SampleBoard();
    table->Tick(board);
    EXPECT_EQ(out.str().find("\x1b["), std::string::npos) << "nothing to erase the first time";
    out.str("");
    table->Tell(board, Happening::Progress, "1-1.2");
    EXPECT_EQ(out.str().rfind("\r\x1b[6A\x1b[J", 0), 0u) << out.str();
    out.str("");
    table->Note("No new cards are taken");
    EXPECT_EQ(out.str(), "\r\x1b[6A\x1b[JNo new cards are taken\n");
}

TEST(LineOutput, PlainLinesForEachChangeAndEveryTenthOfProgress) {
    std::ostringstream out;
    auto lines = MakeLineOutput(out);
    Board board;
    Row& row = board.At("1-1.2");
    row.identity = "2e1a:0081";
    lines->Tell(board, Happening::Appeared, "1-1.2");
    row.esn = "8A3F0021";
    lines->Tell(board, Happening::Identified, "1-1.2");
    row.version = "LUM_W326V1.0.0B05";
    lines->Tell(board, Happening::Identified, "1-1.2");
    for (int percent : {1, 5, 10, 12, 25, 100}) {
        row.percent = percent;
        lines->Tell(board, Happening::Progress, "1-1.2");
    }
    RunResult failed;
    failed.exitStatus = 4;
    failed.reasonLine = "the card did not answer";
    failed.rescueCommand = "fwupgrade rescue --usb-port 1-1.2:1.1 --package /pkg";
    board.Record("1-1.2", failed);
    lines->Tell(board, Happening::Result, "1-1.2");
    lines->Close(board);
    EXPECT_EQ(out.str(),
              "1-1.2: card 2e1a:0081 plugged in\n1-1.2: card ESN 8A3F0021\n"
              "1-1.2: card ESN 8A3F0021, version LUM_W326V1.0.0B05\n1-1.2: 10%\n1-1.2: 25%\n1-1.2: 100%\n"
              "1-1.2: failed (ESN 8A3F0021): the card did not answer; to bring it back run: fwupgrade rescue "
              "--usb-port 1-1.2:1.1 --package /pkg\n0 flashed, 1 failed, 0 need a rescue.\n");
}

TEST(JsonOutput, OneEventObjectPerLineWithTheFactsOfItsKind) {
    std::ostringstream out;
    auto json = MakeJsonOutput(out);
    Board board = SampleBoard();
    json->Tell(board, Happening::Progress, "1-1.2");
    json->Tell(board, Happening::Result, "1-1.3");
    board.At("1-1.3").version = "LUM_W326V1.0.0B05";
    json->Tell(board, Happening::Identified, "1-1.3");
    json->Tell(board, Happening::Removed, "1-1.3");
    std::istringstream in(out.str());
    std::string line;
    std::vector<nlohmann::json> events;
    while (std::getline(in, line)) events.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0], (nlohmann::json{{"event", "progress"}, {"port", "1-1.2"}, {"percent", 45},
                                         {"step", "writing system.img"}, {"left", 75.0}}));
    EXPECT_EQ(events[1]["result"], "failed");
    EXPECT_EQ(events[1]["esn"], "8A3F0021");
    EXPECT_EQ(events[1]["command"], "fwupgrade rescue --usb-port 1-1.3:1.1 --package /pkg");
    EXPECT_EQ(events[2], (nlohmann::json{{"event", "card"}, {"port", "1-1.3"}, {"esn", "8A3F0021"},
                                         {"version", "LUM_W326V1.0.0B05"}}));
    EXPECT_EQ(events[3], (nlohmann::json{{"event", "card_removed"}, {"port", "1-1.3"}}));
}

}  // namespace
}  // namespace fwupgrade::station
