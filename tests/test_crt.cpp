// The program's own C functions (base/crt.cpp, built here renamed kvcrt_*)
// against the C run-time's on tables of cases: every alignment and overlap
// of the memory functions, the string functions on bytes above 127, strtol's
// signs, bases and overflow, the heap functions' edge cases, and the 64-bit
// division helpers against the compiler's own.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#define KV_CRT_TEST
#include "base/crt.h"

namespace {

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

// A buffer with guard bytes on both sides of the part a call may touch.
const size_t AREA = 96;

void Pattern(unsigned char *p, size_t n, unsigned seed)
{
    for (size_t i = 0; i < n; i++)
        p[i] = (unsigned char)(seed * 31 + i * 7 + (i >> 3));
}

TEST(CrtMemory, CopyAndSetEveryAlignmentAndLength)
{
    for (size_t dstOff = 0; dstOff < 8; dstOff++)
        for (size_t srcOff = 0; srcOff < 8; srcOff++)
            for (size_t n = 0; n <= 40; n++) {
                unsigned char src[AREA], got[AREA], want[AREA];
                Pattern(src, AREA, 1);
                Pattern(got, AREA, 2);
                memcpy(want, got, AREA);
                memcpy(want + 16 + dstOff, src + srcOff, n);
                EXPECT_EQ(got + 16 + dstOff, kvcrt_memcpy(got + 16 + dstOff, src + srcOff, n));
                ASSERT_EQ(0, memcmp(want, got, AREA))
                    << "memcpy dst+" << dstOff << " src+" << srcOff << " n=" << n;
            }
    for (size_t off = 0; off < 8; off++)
        for (size_t n = 0; n <= 40; n++)
            for (int c : {0, 0xAB, 0x17F}) {   // only the low byte counts
                unsigned char got[AREA], want[AREA];
                Pattern(got, AREA, 3);
                memcpy(want, got, AREA);
                memset(want + 16 + off, c, n);
                EXPECT_EQ(got + 16 + off, kvcrt_memset(got + 16 + off, c, n));
                ASSERT_EQ(0, memcmp(want, got, AREA)) << "memset +" << off << " n=" << n << " c=" << c;
            }
}

TEST(CrtMemory, MoveOverlappingEitherWay)
{
    // Destination before, on, and after the source, overlapping or not.
    for (int shift = -20; shift <= 20; shift++)
        for (size_t n = 0; n <= 33; n++) {
            unsigned char got[AREA], want[AREA];
            Pattern(got, AREA, 4);
            memcpy(want, got, AREA);
            memmove(want + 40 + shift, want + 40, n);
            EXPECT_EQ(got + 40 + shift, kvcrt_memmove(got + 40 + shift, got + 40, n));
            ASSERT_EQ(0, memcmp(want, got, AREA)) << "memmove shift " << shift << " n=" << n;
        }
}

TEST(CrtMemory, CompareAndSearchBytesAsUnsigned)
{
    struct Row { const char *a, *b; size_t n; };
    const Row rows[] = {
        {"abc", "abc", 3}, {"abc", "abd", 3}, {"abd", "abc", 3}, {"abc", "abd", 2},
        {"\x80", "\x7f", 1}, {"\x7f", "\x80", 1}, {"\xff", "\x01", 1}, {"", "", 0},
        {"a\0b", "a\0c", 3}, {"xyz", "xyZ", 3},
    };
    for (const Row &r : rows)
        EXPECT_EQ(Sign(memcmp(r.a, r.b, r.n)), Sign(kvcrt_memcmp(r.a, r.b, r.n)))
            << r.a << " / " << r.b << " n=" << r.n;

    const char hay[] = "ab\x80\0cd\xff";
    const int bytes[] = {'a', 'b', 0x80, 0x180, 0, 'c', 0xff, -1, 'z'};
    for (int c : bytes)
        for (size_t n = 0; n <= sizeof hay; n++)
            EXPECT_EQ(memchr(hay, c, n), kvcrt_memchr(hay, c, n)) << "c=" << c << " n=" << n;
}

TEST(CrtString, LengthsAndCharacterSearch)
{
    const char *texts[] = {"", "a", "abc", "C:\\dir\\file.txt", "\xe4\xf6\xfc\\x\\", "a\\b\\c\\"};
    for (const char *t : texts) {
        EXPECT_EQ(strlen(t), kvcrt_strlen(t)) << t;
        for (size_t max : {(size_t)0, (size_t)1, (size_t)3, (size_t)100})
            EXPECT_EQ(strnlen(t, max), kvcrt_strnlen(t, max)) << t << " max " << max;
        const int chars[] = {'\\', 'a', 'c', 0, 0xe4, (int)(char)0xf6, '.', 'q'};
        for (int c : chars) {
            EXPECT_EQ(strchr(t, c), kvcrt_strchr(t, c)) << t << " c=" << c;
            EXPECT_EQ(strrchr(t, c), kvcrt_strrchr(t, c)) << t << " c=" << c;
        }
    }
    // strnlen must stop at max without reading further.
    const char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(4u, kvcrt_strnlen(unterminated, 4));
}

TEST(CrtString, CompareSignsMatch)
{
    struct Row { const char *a, *b; };
    const Row rows[] = {
        {"", ""}, {"a", ""}, {"", "a"}, {"abc", "abc"}, {"abc", "abd"}, {"abd", "abc"},
        {"abc", "ab"}, {"ab", "abc"}, {"\x80", "a"}, {"a", "\x80"}, {"\xff\xff", "\xff\xfe"},
        {"ABC", "abc"}, {"Software\\A", "Software\\B"},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(Sign(strcmp(r.a, r.b)), Sign(kvcrt_strcmp(r.a, r.b))) << r.a << " / " << r.b;
        for (size_t n = 0; n <= 4; n++)
            EXPECT_EQ(Sign(strncmp(r.a, r.b, n)), Sign(kvcrt_strncmp(r.a, r.b, n)))
                << r.a << " / " << r.b << " n=" << n;
    }
}

TEST(CrtString, SubstringAndSetSearch)
{
    struct Row { const char *hay, *needle; };
    const Row rows[] = {
        {"", ""}, {"abc", ""}, {"", "a"}, {"abc", "abc"}, {"abc", "abcd"}, {"aaab", "aab"},
        {"xabcabc", "cab"}, {"abc", "c"}, {"abc", "d"}, {"%s and %s", "%s"}, {"a%", "%s"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(strstr(r.hay, r.needle), kvcrt_strstr(r.hay, r.needle)) << r.hay << " / " << r.needle;
    const Row sets[] = {
        {"abc", "c"}, {"abc", "xyzb"}, {"abc", ""}, {"", "abc"}, {"a b\tc", " \t"}, {"\xe4x", "\xe4"},
    };
    for (const Row &r : sets)
        EXPECT_EQ(strpbrk(r.hay, r.needle), kvcrt_strpbrk(r.hay, r.needle)) << r.hay << " / " << r.needle;
}

TEST(CrtString, DuplicateIsACopyOrNull)
{
    char *copy = kvcrt__strdup("C:\\Program Files\\App");
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ("C:\\Program Files\\App", copy);
    kvcrt_free(copy);
    copy = kvcrt__strdup("");
    ASSERT_NE(nullptr, copy);
    EXPECT_STREQ("", copy);
    kvcrt_free(copy);
    EXPECT_EQ(nullptr, kvcrt__strdup(nullptr));
}

TEST(CrtStrtol, MatchesTheRunTimeOnSignsBasesAndOverflow)
{
    struct Row { const char *text; int base; long want; size_t end; };
    // want and end are C's answers; the run-time's are compared as well.
    const Row rows[] = {
        {"0", 10, 0, 1}, {"123", 10, 123, 3}, {"-123", 10, -123, 4}, {"+7", 10, 7, 2},
        {"  42", 10, 42, 4}, {"\t\n\v\f\r 42x", 10, 42, 8}, {"12abc", 10, 12, 2}, {"007", 10, 7, 3},
        {"2147483647", 10, LONG_MAX, 10}, {"2147483648", 10, LONG_MAX, 10},
        {"-2147483648", 10, LONG_MIN, 11}, {"-2147483649", 10, LONG_MIN, 11},
        {"99999999999999999999", 10, LONG_MAX, 20}, {"-99999999999999999999x", 10, LONG_MIN, 21},
        {"", 10, 0, 0}, {"   ", 10, 0, 0}, {"-", 10, 0, 0}, {"+", 10, 0, 0}, {"abc", 10, 0, 0},
        {" -x", 10, 0, 0},
        {"ff", 16, 255, 2}, {"0x1A", 16, 26, 4}, {"0X1a", 0, 26, 4}, {"0xg", 16, 0, 1},
        {"010", 0, 8, 3}, {"10", 0, 10, 2}, {"0", 0, 0, 1}, {"777", 8, 511, 3}, {"789", 8, 7, 1},
        {"1012", 2, 5, 3}, {"zz", 36, 1295, 2}, {"-7fffffff", 16, -LONG_MAX, 9},
        {"80000000", 16, LONG_MAX, 8},
    };
    for (const Row &r : rows) {
        char *crtEnd = nullptr, *ownEnd = nullptr;
        long crt = strtol(r.text, &crtEnd, r.base);
        long own = kvcrt_strtol(r.text, &ownEnd, r.base);
        EXPECT_EQ(r.want, own) << "\"" << r.text << "\" base " << r.base;
        EXPECT_EQ(r.end, (size_t)(ownEnd - r.text)) << "\"" << r.text << "\" base " << r.base;
        EXPECT_EQ(crt, own) << "\"" << r.text << "\" base " << r.base;
        // The run-time converts nothing of "0x" without a hex digit after it;
        // C takes the "0", and so does the program's own (base 16 is unused).
        if (strcmp(r.text, "0xg") != 0) {
            EXPECT_EQ(crtEnd, ownEnd) << "\"" << r.text << "\" base " << r.base;
        }
        EXPECT_EQ(r.want, kvcrt_strtol(r.text, nullptr, r.base)) << "without end, \"" << r.text << "\"";
    }
}

TEST(CrtHeap, AllocateZeroGrowShrinkAndFail)
{
    void *p = kvcrt_malloc(0);     // a unique block, as the run-time gives
    ASSERT_NE(nullptr, p);
    kvcrt_free(p);
    kvcrt_free(nullptr);
    EXPECT_EQ(nullptr, kvcrt_malloc((size_t)-1));

    unsigned char *z = (unsigned char *)kvcrt_calloc(1000, 3);
    ASSERT_NE(nullptr, z);
    for (size_t i = 0; i < 3000; i++)
        ASSERT_EQ(0, z[i]) << i;
    kvcrt_free(z);
    z = (unsigned char *)kvcrt_calloc(0, 5);
    EXPECT_NE(nullptr, z);
    kvcrt_free(z);

    // Counts whose product wraps must fail, never give a small block.
    struct Overflow { size_t count, size; };
    const size_t half = (size_t)1 << (sizeof(size_t) * 4);
    const Overflow wraps[] = {
        {half, half}, {half + 1, half}, {(size_t)-1, 2}, {2, (size_t)-1}, {(size_t)-1 / 3 + 1, 3},
    };
    for (const Overflow &w : wraps)
        EXPECT_EQ(nullptr, kvcrt_calloc(w.count, w.size)) << w.count << " x " << w.size;

    unsigned char *q = (unsigned char *)kvcrt_realloc(nullptr, 100);  // as malloc
    ASSERT_NE(nullptr, q);
    Pattern(q, 100, 5);
    unsigned char want[100];
    Pattern(want, 100, 5);
    q = (unsigned char *)kvcrt_realloc(q, 200000);
    ASSERT_NE(nullptr, q);
    EXPECT_EQ(0, memcmp(want, q, 100)) << "growth keeps the content";
    memset(q + 100, 0x5A, 200000 - 100);
    q = (unsigned char *)kvcrt_realloc(q, 10);
    ASSERT_NE(nullptr, q);
    EXPECT_EQ(0, memcmp(want, q, 10)) << "shrinking keeps the start";
    // A request that cannot be met fails and leaves the block as it was.
    EXPECT_EQ(nullptr, kvcrt_realloc(q, (size_t)-1 - 4096));
    EXPECT_EQ(0, memcmp(want, q, 10));
    // Size 0 frees the block and returns null, as the run-time's realloc does.
    EXPECT_EQ(nullptr, kvcrt_realloc(q, 0));
}

TEST(CrtDivision, MatchesTheCompilersOwnHelpers)
{
    const unsigned long long unsignedValues[] = {
        0, 1, 2, 3, 7, 10, 0xFFFFFFFFull, 0x100000000ull, 0x100000001ull, 0x123456789ABCDEFull,
        0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull, 1000000007ull,
        0xFFFFFFFF00000000ull, 0xDEADBEEFCAFEBABEull,
    };
    for (unsigned long long a : unsignedValues)
        for (unsigned long long b : unsignedValues) {
            if (b == 0)
                continue;
            ASSERT_EQ(a / b, kvcrt___udivdi3(a, b)) << a << " / " << b;
            ASSERT_EQ(a % b, kvcrt___umoddi3(a, b)) << a << " % " << b;
        }
    const long long signedValues[] = {
        0, 1, -1, 2, -2, 7, -7, 10, -10, 0x7FFFFFFF, -0x7FFFFFFF - 1, 0x100000000ll, -0x100000000ll,
        0x123456789ABCDEFll, -0x123456789ABCDEFll, LLONG_MAX, LLONG_MIN + 1, LLONG_MIN,
    };
    for (long long a : signedValues)
        for (long long b : signedValues) {
            if (b == 0 || (a == LLONG_MIN && b == -1))     // undefined in C
                continue;
            ASSERT_EQ(a / b, kvcrt___divdi3(a, b)) << a << " / " << b;
            ASSERT_EQ(a % b, kvcrt___moddi3(a, b)) << a << " % " << b;
        }
}

} // namespace
