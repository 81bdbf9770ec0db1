#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Trace.h"

using platform::FormatWide;
using platform::FormatWideTo;

namespace {

TEST(FormatWide, IntegersWithFlagsWidthAndPrecision) {
    EXPECT_EQ(FormatWide(u"Current Port is %d.......", 7), u"Current Port is 7.......");
    EXPECT_EQ(FormatWide(u"%02d:%02d:%02d %04d-%02d-%02d", 9, 7, 5, 2027, 1, 3), u"09:07:05 2027-01-03");
    EXPECT_EQ(FormatWide(u"[%5d][%-5d][%05d][%+d][% d]", 42, 42, -42, 3, 3), u"[   42][42   ][-0042][+3][ 3]");
    EXPECT_EQ(FormatWide(u"%i %d", INT_MIN, INT_MAX), u"-2147483648 2147483647");
    EXPECT_EQ(FormatWide(u"%.3d|%.0d|%3.2d", 7, 0, 5), u"007|| 05");
    EXPECT_EQ(FormatWide(u"%*d|%-*d|", 4, 1, 3, 2), u"   1|2  |");
}

TEST(FormatWide, UnsignedHexAndLengthModifiers) {
    EXPECT_EQ(FormatWide(u"%u %x %X %#x %08X", 4294967295u, 0xbeefu, 0xbeefu, 255u, 0x1Au),
              u"4294967295 beef BEEF 0xff 0000001A");
    EXPECT_EQ(FormatWide(u"%lld %llu %llx", -9000000000LL, 18446744073709551615ULL, 0x123456789aULL),
              u"-9000000000 18446744073709551615 123456789a");
    EXPECT_EQ(FormatWide(u"%ld %lu", -5L, 6UL), u"-5 6");
    EXPECT_EQ(FormatWide(u"%hd %hu %hx", 70000, 70000, 0x12345), u"4464 4464 2345");
}

TEST(FormatWide, TextsCharactersAndPercent) {
    const char16_t* path = u"C:\\pkg\\amss.mbn";
    EXPECT_EQ(FormatWide(u"open %s failed", path), u"open C:\\pkg\\amss.mbn failed");
    EXPECT_EQ(FormatWide(u"%ls|%S|%hs", u"wide", "narrow", "narrow2"), u"wide|narrow|narrow2");
    EXPECT_EQ(FormatWide(u"[%6s][%-6s][%.2s]", u"ab", u"ab", u"abcdef"), u"[    ab][ab    ][ab]");
    EXPECT_EQ(FormatWide(u"%c%c%%", u'O', u'K'), u"OK%");
    EXPECT_EQ(FormatWide(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)");
}

TEST(FormatWide, FormatWithoutArgumentsPassesThrough) {
    EXPECT_EQ(FormatWide(u"Function: pPacket->Close()"), u"Function: pPacket->Close()");
    // An unknown directive is shown as written and takes no argument.
    EXPECT_EQ(FormatWide(u"%q %d", 5), u"%q 5");
    EXPECT_EQ(FormatWide(u"100%"), u"100%");
}

TEST(FormatWide, NeverWritesPastCapacity) {
    std::vector<char16_t> buffer(12, u'#');
    const size_t written = FormatWideTo(buffer.data(), 8, u"%s and %d", u"abcdef", 12345);
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(std::u16string(buffer.data()), u"abcdef ");
    for (size_t i = 8; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], u'#') << "unit " << i;
    }
    // Capacity 1 holds only the terminator; capacity 0 writes nothing.
    EXPECT_EQ(FormatWideTo(buffer.data(), 1, u"xyz"), 0u);
    EXPECT_EQ(buffer[0], u'\0');
    buffer[0] = u'#';
    EXPECT_EQ(FormatWideTo(buffer.data(), 0, u"xyz"), 0u);
    EXPECT_EQ(buffer[0], u'#');
    // A huge width is cut at the capacity, not written beyond it.
    std::vector<char16_t> small(5, u'#');
    FormatWideTo(small.data(), 4, u"%100000d", 1);
    EXPECT_EQ(std::u16string(small.data()), u"   ");
    EXPECT_EQ(small[4], u'#');
}

TEST(FormatWide, LongResultGrows) {
    const std::u16string longText(3000, u'x');
    EXPECT_EQ(FormatWide(u"%s%s", longText.c_str(), longText.c_str()).size(), 6000u);
}

struct CapturedTrace {
    std::u16string file;
    int line = -1;
    std::u16string function;
    std::u16string message;
    int calls = 0;
};
CapturedTrace g_captured;

void CaptureSink(const char16_t* file, int line, const char16_t* function, const char16_t* message) {
    g_captured.file = file;
    g_captured.line = line;
    g_captured.function = function;
    g_captured.message = message;
    ++g_captured.calls;
}

class WriteLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_captured = {};
        platform::SetTraceSink(&CaptureSink);
    }
    void TearDown() override { platform::SetTraceSink(nullptr); }
};

TEST_F(WriteLogTest, FormatsAndHandsTheLineToTheSink) {
    platform::WriteLog(u"..\\packet\\Serial", 12, u"CSerial::Open", u"Current Port is %d.......", 4);
    EXPECT_EQ(g_captured.calls, 1);
    EXPECT_EQ(g_captured.file, u"..\\packet\\Serial");
    EXPECT_EQ(g_captured.line, 12);
    EXPECT_EQ(g_captured.function, u"CSerial::Open");
    EXPECT_EQ(g_captured.message, u"Current Port is 4.......");
}

TEST_F(WriteLogTest, InvalidArgumentsSendNothing) {
    platform::WriteLog(nullptr, 1, u"f", u"m");
    platform::WriteLog(u"file", -1, u"f", u"m");
    platform::WriteLog(u"file", 1, nullptr, u"m");
    platform::WriteLog(u"file", 1, u"f", nullptr);
    EXPECT_EQ(g_captured.calls, 0);
    platform::WriteLog(u"file", 0, u"f", u"m");
    EXPECT_EQ(g_captured.calls, 1);
}

TEST_F(WriteLogTest, MessageIsCutAt4095Units) {
    const std::u16string longText(5000, u'y');
    platform::WriteLog(u"file", 1, u"f", u"%s", longText.c_str());
    EXPECT_EQ(g_captured.message.size(), 4095u);
}

TEST_F(WriteLogTest, TextFromOutsideIsNotInterpretedAsFormat) {
    // Device text with directives stays as it is when passed as an argument.
    platform::WriteLog(u"file", 1, u"f", u"%s", u"%s%n%d");
    EXPECT_EQ(g_captured.message, u"%s%n%d");
}

TEST(WriteLogWithoutSink, DoesNothing) {
    platform::SetTraceSink(nullptr);
    platform::WriteLog(u"file", 1, u"f", u"%d", 1);   // must simply return
    SUCCEED();
}

}  // namespace
