#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "module/DualString.h"
#include "platform/Platform.h"

namespace {

using module::DualString;

TEST(DualString, ConstructionKeepsWideAndNarrowInStep) {
    DualString empty;
    EXPECT_EQ(empty.wide, nullptr);
    EXPECT_EQ(empty.narrow, nullptr);
    EXPECT_EQ(empty.length, 0);

    DualString name(u"CDMADataCardW326 FWUpgrade Module");
    EXPECT_EQ(name.length, 33);
    EXPECT_EQ(name.Text(), u"CDMADataCardW326 FWUpgrade Module");
    ASSERT_NE(name.narrow, nullptr);
    EXPECT_STREQ(name.narrow, "CDMADataCardW326 FWUpgrade Module");
    EXPECT_EQ(name.wide[name.length], u'\0');

    DualString fromNull(static_cast<const char16_t*>(nullptr));
    EXPECT_EQ(fromNull.wide, nullptr);
    // From an empty C string: a buffer holding only the terminator.
    DualString fromEmpty(u"");
    ASSERT_NE(fromEmpty.wide, nullptr);
    EXPECT_EQ(fromEmpty.length, 0);
    EXPECT_TRUE(fromEmpty.Empty());

    // A counted buffer copies exactly that many units, embedded NULs too.
    const char16_t units[] = {u'a', u'\0', u'b', u'c'};
    DualString counted(units, 3);
    EXPECT_EQ(counted.length, 3);
    EXPECT_EQ(counted.Text(), std::u16string(units, 3));
    EXPECT_EQ(counted.wide[3], u'\0');
}

TEST(DualString, CopyOfAnEmptyStringIsTheNullForm) {
    DualString fromEmpty(u"");
    DualString copy(fromEmpty);
    EXPECT_EQ(copy.wide, nullptr);
    EXPECT_EQ(copy.narrow, nullptr);
    EXPECT_EQ(copy.length, 0);

    DualString text(u"abc");
    DualString assigned(u"old");
    assigned = fromEmpty;
    EXPECT_EQ(assigned.wide, nullptr);
    assigned = text;
    EXPECT_EQ(assigned.Text(), u"abc");
    EXPECT_NE(assigned.wide, text.wide);   // a deep copy
    DualString& alias = assigned;
    assigned = alias;                      // self-assignment keeps the text
    EXPECT_EQ(assigned.Text(), u"abc");
}

TEST(DualString, AppendAndPrepend) {
    DualString text(u"COM");
    char16_t* const before = text.wide;
    char* const narrowBefore = text.narrow;
    DualString empty;
    DualString terminatorOnly(u"");
    EXPECT_EQ(text.Append(empty), 0);
    EXPECT_EQ(text.Append(terminatorOnly), 0);
    EXPECT_EQ(text.wide, before);          // unchanged, pointers included
    EXPECT_EQ(text.narrow, narrowBefore);

    EXPECT_EQ(text.Append(DualString(u"3")), 0);
    EXPECT_EQ(text.Text(), u"COM3");
    EXPECT_STREQ(text.narrow, "COM3");
    EXPECT_EQ(text.Prepend(DualString(u"//./")), 0);
    EXPECT_EQ(text.Text(), u"//./COM3");
    EXPECT_EQ(text.length, 8);

    DualString start;
    start.Append(DualString(u"x"));
    EXPECT_EQ(start.Text(), u"x");
    EXPECT_EQ((DualString(u"channel") + ".nvm").Text(), u"channel.nvm");
}

TEST(DualString, FromIntegerIsDecimal) {
    EXPECT_EQ(DualString::FromInteger(0).Text(), u"0");
    EXPECT_EQ(DualString::FromInteger(255).Text(), u"255");
    EXPECT_EQ(DualString::FromInteger(-7).Text(), u"-7");
    EXPECT_EQ(DualString::FromInteger(INT_MIN).Text(), u"-2147483648");
    EXPECT_EQ(DualString::FromInteger(INT_MAX).Text(), u"2147483647");
    EXPECT_STREQ(DualString::FromInteger(268).narrow, "268");

    DualString hex;
    EXPECT_EQ(hex.AssignInteger(255, 16), 0);
    EXPECT_EQ(hex.Text(), u"ff");
    DualString bad(u"keep?");
    EXPECT_EQ(bad.AssignInteger(5, 17), module::kStringBadDigit);
    EXPECT_TRUE(bad.Empty());
    EXPECT_EQ(module::VersionText(1, 0, 2, 15).Text(), u"1.0.2.15");
}

class DualStringCodePage : public ::testing::Test {
protected:
    void SetUp() override { saved_ = platform::AnsiCodePage(); }
    void TearDown() override { platform::SetAnsiCodePage(saved_); }
    std::string saved_;
};

TEST_F(DualStringCodePage, ChineseNarrowTextGivesFewerUnitsThanBytes) {
    platform::SetAnsiCodePage("CP936");
    const char* gbk = "\xC9\xFD\xBC\xB6\xB0\xFC";   // three Chinese characters, six bytes
    DualString text;
    text = gbk;
    EXPECT_EQ(text.length, 3);
    EXPECT_LT(text.length, static_cast<int32_t>(std::strlen(gbk)));
    EXPECT_EQ(text.Text(), u"\u5347\u7EA7\u5305");
    ASSERT_NE(text.narrow, nullptr);
    EXPECT_STREQ(text.narrow, gbk);   // the narrow copy is rebuilt from the wide text

    DualString untouched(u"x");
    untouched = static_cast<const char*>(nullptr);
    EXPECT_TRUE(untouched.Empty());
}

TEST(DualString, MoveLeavesTheSourceEmpty) {
    DualString source(u"abc");
    char16_t* const wide = source.wide;
    DualString target(std::move(source));
    EXPECT_EQ(target.wide, wide);
    EXPECT_EQ(source.wide, nullptr);   // NOLINT: moved-from state is defined
    EXPECT_EQ(source.length, 0);
}

}  // namespace
