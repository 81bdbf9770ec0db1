#include <gtest/gtest.h>

#include "platform/Platform.h"

namespace {

class AnsiCodePageTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = platform::AnsiCodePage(); }
    void TearDown() override { platform::SetAnsiCodePage(saved_); }
    std::string saved_;
};

TEST_F(AnsiCodePageTest, ChineseTextInCodePage936) {
    platform::SetAnsiCodePage("CP936");
    const std::string gbk = "\xD6\xD0\xCE\xC4";   // two Chinese characters
    const std::u16string wide = platform::AnsiToWide(gbk);
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_EQ(wide[0], 0x4E2D);
    EXPECT_EQ(wide[1], 0x6587);
    EXPECT_EQ(platform::WideToAnsi(wide), gbk);
}

TEST_F(AnsiCodePageTest, UnconvertibleInputIsReplacedNotDropped) {
    platform::SetAnsiCodePage("ISO-8859-1");
    EXPECT_EQ(platform::WideToAnsi(u"a\u4E2Db"), "a?b");
    platform::SetAnsiCodePage("UTF-8");
    EXPECT_EQ(platform::AnsiToWide("a\xFF" "b"), u"a\uFFFDb");
    // A lone surrogate cannot be narrowed either.
    EXPECT_EQ(platform::WideToAnsi(std::u16string{u'x', static_cast<char16_t>(0xD800), u'y'}), "x?y");
}

TEST_F(AnsiCodePageTest, LocaleGivesACodePageByDefault) {
    platform::SetAnsiCodePage("");
    EXPECT_FALSE(platform::AnsiCodePage().empty());
    EXPECT_EQ(platform::AnsiToWide("plain ascii"), u"plain ascii");
}

TEST(Utf8, RoundTripIncludingSurrogatePairs) {
    const std::u16string wide = u"pkg/\u00E9\u4E2D\U0001F600";
    const std::string utf8 = platform::WideToUtf8(wide);
    EXPECT_EQ(utf8, "pkg/\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(platform::Utf8ToWide(utf8), wide);
    EXPECT_EQ(platform::Utf8ToWide(""), u"");
}

}  // namespace
