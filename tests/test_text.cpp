// The bounded text helpers: exact fit, one byte too small, never overrun.
#include <gtest/gtest.h>
#include <string.h>
#include "app/text.h"

namespace {

struct Sentinel {
    char buf[16];
    Sentinel() { memset(buf, '#', sizeof buf); }
    bool untouchedFrom(size_t i) const
    {
        for (; i < sizeof buf; i++)
            if (buf[i] != '#')
                return false;
        return true;
    }
};

TEST(CopyText, ExactFitAndOneTooSmall)
{
    struct Row { const char *src; size_t cap; const char *want; int result; };
    const Row rows[] = {
        {"abc", 4, "abc", TEXT_FIT},
        {"abcd", 4, "abc", TEXT_CUT},
        {"", 1, "", TEXT_FIT},
        {"a", 1, "", TEXT_CUT},
    };
    for (const Row &r : rows) {
        Sentinel s;
        EXPECT_EQ(r.result, CopyText(s.buf, r.cap, r.src)) << r.src << " cap " << r.cap;
        EXPECT_STREQ(r.want, s.buf) << r.src << " cap " << r.cap;
        EXPECT_TRUE(s.untouchedFrom(r.cap)) << r.src << " cap " << r.cap;
    }
    Sentinel s;
    EXPECT_EQ(TEXT_CUT, CopyText(s.buf, 0, "x"));
    EXPECT_TRUE(s.untouchedFrom(0));
}

TEST(AppendText, StopsAtCapacity)
{
    Sentinel s;
    CopyText(s.buf, 8, "abc");
    EXPECT_EQ(TEXT_FIT, AppendText(s.buf, 8, "defg"));
    EXPECT_STREQ("abcdefg", s.buf);
    EXPECT_EQ(TEXT_CUT, AppendText(s.buf, 8, "h"));
    EXPECT_STREQ("abcdefg", s.buf);
    EXPECT_TRUE(s.untouchedFrom(8));
}

TEST(FormatText, ReportsCut)
{
    char buf[6];
    EXPECT_EQ(TEXT_FIT, FormatText(buf, sizeof buf, "%d-%d", 12, 34));
    EXPECT_STREQ("12-34", buf);
    EXPECT_EQ(TEXT_CUT, FormatText(buf, sizeof buf, "%d-%d", 123, 456));
    EXPECT_STREQ("123-4", buf);
}

TEST(FormatOneString, InsertsOnlyTheFirstHole)
{
    char buf[32];
    EXPECT_EQ(TEXT_FIT, FormatOneString(buf, sizeof buf, "Uninstall %s now", "App"));
    EXPECT_STREQ("Uninstall App now", buf);
    // A percent sign in the argument or a second hole is copied, never interpreted.
    FormatOneString(buf, sizeof buf, "%s and %s %d", "50%s");
    EXPECT_STREQ("50%s and %s %d", buf);
    EXPECT_EQ(TEXT_CUT, FormatOneString(buf, 8, "ab%scd", "0123456789"));
    EXPECT_STREQ("ab01234", buf);
}

TEST(CompareNoCase, FoldsAsciiOnly)
{
    EXPECT_TRUE(TextEqualNoCase("C:\\Program Files", "c:\\PROGRAM FILES"));
    EXPECT_FALSE(TextEqualNoCase("abc", "abcd"));
    EXPECT_FALSE(TextEqualNoCase("\xe4", "\xc4"));  // no locale folding
    EXPECT_TRUE(StartsWithNoCase("file copy: x", "File Copy: "));
    EXPECT_FALSE(StartsWithNoCase("File Copy:", "File Copy: "));
}

} // namespace
