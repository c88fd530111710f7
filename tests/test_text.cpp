// The bounded text helpers: exact fit, one byte too small, never overrun.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include "base/text.h"

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

// A buffer with guard bytes past every capacity used below.
struct Guarded {
    char buf[300];
    Guarded() { memset(buf, '#', sizeof buf); }
    bool untouchedFrom(size_t i) const
    {
        for (; i < sizeof buf; i++)
            if (buf[i] != '#')
                return false;
        return true;
    }
};

// Formats into a guarded buffer of capacity cap and checks the text, the
// result, that nothing past cap was written, and that the C library's
// snprintf gives the same text (the formatter replaced it).
#define EXPECT_FORMAT(cap, want, result, ...)                                           \
    do {                                                                                \
        Guarded g;                                                                      \
        EXPECT_EQ(result, FormatText(g.buf, cap, __VA_ARGS__)) << #__VA_ARGS__;         \
        EXPECT_STREQ(want, g.buf) << #__VA_ARGS__;                                      \
        EXPECT_TRUE(g.untouchedFrom(cap)) << #__VA_ARGS__;                              \
        char ref[sizeof g.buf];                                                         \
        snprintf(ref, cap, __VA_ARGS__);                                                \
        EXPECT_STREQ(ref, g.buf) << "snprintf differs: " << #__VA_ARGS__;               \
    } while (0)

TEST(FormatText, EveryConversionTheProgramUses)
{
    EXPECT_FORMAT(64, "abc", TEXT_FIT, "%s", "abc");
    EXPECT_FORMAT(64, "C:\\WIN\\SYSTEM.INI", TEXT_FIT, "%s\\SYSTEM.INI", "C:\\WIN");
    EXPECT_FORMAT(64, "[Sect] Item", TEXT_FIT, "[%s] %s", "Sect", "Item");
    EXPECT_FORMAT(64, "0 42 -42", TEXT_FIT, "%d %d %d", 0, 42, -42);
    EXPECT_FORMAT(64, "2147483647 -2147483648", TEXT_FIT, "%d %d", INT_MAX, INT_MIN);
    EXPECT_FORMAT(64, "0 4294967295", TEXT_FIT, "%u %u", 0u, UINT_MAX);
    EXPECT_FORMAT(64, "SHARED 1->0", TEXT_FIT, "SHARED %ld->%ld", 1L, 0L);
    EXPECT_FORMAT(64, "-2147483648 2147483647", TEXT_FIT, "%ld %ld", LONG_MIN, LONG_MAX);
    EXPECT_FORMAT(64, "ERROR=4294967295", TEXT_FIT, "ERROR=%lu", ULONG_MAX);
    EXPECT_FORMAT(64, "NT 6.1.7601", TEXT_FIT, "%s %lu.%lu.%lu", "NT", 6UL, 1UL, 7601UL);
    EXPECT_FORMAT(64, "beef BEEF deadbeef 0", TEXT_FIT, "%x %X %lx %x", 0xbeefu, 0xbeefu, 0xdeadbeefUL, 0u);
    EXPECT_FORMAT(64, "~KVU000a.TMP", TEXT_FIT, "~KVU%04x.TMP", 0xau);
    EXPECT_FORMAT(64, "KVR0C1F.EXE KVRFFFF.EXE", TEXT_FIT, "KVR%04X.EXE KVR%04X.EXE", 0xc1fu, 0xffffu);
    EXPECT_FORMAT(64, "ABCDE", TEXT_FIT, "%04X", 0xabcdeu);   // wider than the width
    EXPECT_FORMAT(64, "2026-01-09 07:05:00", TEXT_FIT, "%04u-%02u-%02u %02u:%02u:%02u", 2026u, 1u, 9u, 7u,
                  5u, 0u);
    EXPECT_FORMAT(64, "12/08/26 9:05", TEXT_FIT, "%02d/%02d/%02d %d:%02d", 12, 8, 26, 9, 5);
    EXPECT_FORMAT(64, "-5 -05 -0005 007", TEXT_FIT, "%02d %03d %05d %03d", -5, -5, -5, 7);
    EXPECT_FORMAT(64, "Group 007 G123 ", TEXT_FIT, "Group %03d G%03d ", 7, 123);
    EXPECT_FORMAT(64, "A% 100%", TEXT_FIT, "%c%% 100%%", 'A');
    EXPECT_FORMAT(64, "   ab|ab   |abc", TEXT_FIT, "%5s|%-5s|%2s", "ab", "ab", "abc");
    EXPECT_FORMAT(64, "ab|abc|abcdef", TEXT_FIT, "%.2s|%.*s|%.*s", "abcdef", 3, "abcdef", -1, "abcdef");
    EXPECT_FORMAT(64, "   42|7   |  -3|-3  ", TEXT_FIT, "%*d|%-4d|%4d|%*d", 5, 42, 7, -3, -4, -3);
    EXPECT_FORMAT(64, "007|-007||10", TEXT_FIT, "%.3d|%.3d|%.0d|%.0d", 7, -7, 0, 10);
}

TEST(FormatText, CutsAtCapacityAndReportsIt)
{
    // Exact fit, one byte too small, a capacity of one, padding and digits cut.
    EXPECT_FORMAT(6, "12-34", TEXT_FIT, "%d-%d", 12, 34);
    EXPECT_FORMAT(5, "12-3", TEXT_CUT, "%d-%d", 12, 34);
    EXPECT_FORMAT(1, "", TEXT_CUT, "%d", 1);
    EXPECT_FORMAT(1, "", TEXT_FIT, "%s", "");
    EXPECT_FORMAT(12, "-2147483648", TEXT_FIT, "%d", INT_MIN);
    EXPECT_FORMAT(11, "-214748364", TEXT_CUT, "%d", INT_MIN);
    EXPECT_FORMAT(5, "    ", TEXT_CUT, "%10d", 1);
    EXPECT_FORMAT(4, "000", TEXT_CUT, "%08x", 0x12u);
    EXPECT_FORMAT(3, "ab", TEXT_CUT, "%-6s|", "ab");
    // Long strings: whole when they fit, cut at the last byte when not.
    std::string path(250, 'p');
    EXPECT_FORMAT(256, (path + "\\*").c_str(), TEXT_FIT, "%s\\*", path.c_str());
    EXPECT_FORMAT(253, (path + "\\*").c_str(), TEXT_FIT, "%s\\*", path.c_str());
    EXPECT_FORMAT(252, (path + "\\").c_str(), TEXT_CUT, "%s\\*", path.c_str());
    EXPECT_FORMAT(100, path.substr(0, 99).c_str(), TEXT_CUT, "%s", path.c_str());
    // A capacity of zero writes nothing.
    Guarded g;
    EXPECT_EQ(TEXT_CUT, FormatText(g.buf, 0, "%s", "x"));
    EXPECT_TRUE(g.untouchedFrom(0));
}

TEST(FormatText, ANullTextAndUnsupportedConversions)
{
    Guarded g;
    const char *volatile none = NULL;     // hidden from the compiler's format check
    EXPECT_EQ(TEXT_FIT, FormatText(g.buf, 32, "<%s>", none));
    EXPECT_STREQ("<(null)>", g.buf);
    // A conversion the formatter does not know ends the text and reports it
    // cut, rather than reading an argument of the wrong size.
    EXPECT_EQ(TEXT_CUT, FormatText(g.buf, 32, "a%pb", (void *)&g));
    EXPECT_STREQ("a", g.buf);
    EXPECT_EQ(TEXT_CUT, FormatText(g.buf, 32, "x=%lld", 1LL));
    EXPECT_STREQ("x=", g.buf);
    EXPECT_TRUE(g.untouchedFrom(32));
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
