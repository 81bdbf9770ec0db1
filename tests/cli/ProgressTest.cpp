#include <gtest/gtest.h>

#include <sstream>

#include "host/fwupgrade/report/Progress.h"

namespace fwupgrade {
namespace {

TEST(ProgressView, PlainOutputWritesOneLinePerRiseAndNeverGoesBack) {
    std::ostringstream out;
    ProgressView view(out, {""}, false);
    for (int percent : {0, 1, 3, 3, 2, 6, 50, 49, 100, 100}) view.Update(0, percent);
    EXPECT_EQ(out.str(), "0%\n1%\n3%\n6%\n50%\n100%\n");
    EXPECT_EQ(view.Shown(0), 100);
}

TEST(ProgressView, ValuesOutsideTheRangeAreClamped) {
    std::ostringstream out;
    ProgressView view(out, {""}, false);
    view.Update(0, -5);
    view.Update(0, 250);
    view.Update(3, 10);   // no such card: ignored
    EXPECT_EQ(out.str(), "0%\n100%\n");
}

TEST(ProgressView, BarFillsInProportion) {
    EXPECT_EQ(ProgressView::Bar(0, 10), "[..........]   0%");
    EXPECT_EQ(ProgressView::Bar(45, 10), "[####......]  45%");
    EXPECT_EQ(ProgressView::Bar(100, 10), "[##########] 100%");
}

TEST(ProgressView, TerminalRedrawsTheBarInPlace) {
    std::ostringstream out;
    ProgressView view(out, {""}, true, 10);
    view.Update(0, 10);
    view.Update(0, 5);   // not drawn
    view.Update(0, 20);
    view.Close();
    EXPECT_EQ(out.str(), "\r\x1b[2K[#.........]  10%\r\x1b[2K[##........]  20%\n");
}

TEST(ProgressView, SeveralCardsKeepOneLineEach) {
    std::ostringstream plain;
    ProgressView lines(plain, {"card0", "card1"}, false);
    lines.Update(1, 30);
    lines.Update(0, 10);
    lines.Finish(1, "done");
    EXPECT_EQ(plain.str(), "card1: 30%\ncard0: 10%\ncard1: done\n");

    std::ostringstream term;
    ProgressView bars(term, {"a", "b"}, true, 10);
    bars.Update(0, 50);
    bars.Update(1, 100);
    const std::string text = term.str();
    // The second drawing moves up one line to redraw both bars.
    EXPECT_NE(text.find("\x1b[1A"), std::string::npos);
    EXPECT_NE(text.rfind("b  [##########] 100%"), std::string::npos);
    EXPECT_NE(text.rfind("a  [#####.....]  50%"), std::string::npos);
}

}  // namespace
}  // namespace fwupgrade
