// The buffered line reader: line ends, empty lines, offsets, refills of
// the 1,024-byte buffer and lines longer than the caller's buffer.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
#include "base/state.h"
#include "log/logread.h"
#include "support/kvtest.h"

namespace {

struct Got {
    int result;
    std::string text;
    long offset;
    int tooLong;
};

// Reads lines until the reader reports the end of the file.
std::vector<Got> ReadAll(const std::string &path, int keepEmpty, size_t cap = 256, int limit = 100000)
{
    std::vector<Got> out;
    HFILE f = _lopen(path.c_str(), OF_READ);
    EXPECT_NE(HFILE_ERROR, f) << path;
    if (f == HFILE_ERROR)
        return out;
    ResetLineReader();
    std::vector<char> line(cap + 16, '#');
    for (int i = 0; i < limit; i++) {
        int tooLong = -1;
        int r = ReadLogLine(f, line.data(), cap, keepEmpty, &tooLong);
        for (size_t k = cap; k < line.size(); k++)
            EXPECT_EQ('#', line[k]) << "byte " << k << " beyond the line buffer was written";
        out.push_back({r, line.data(), LastLineOffset(), tooLong});
        if (r == 0)
            break;
    }
    _lclose(f);
    return out;
}

std::string Show(const std::vector<Got> &got)
{
    std::string s;
    for (const Got &g : got)
        s += "(" + std::to_string(g.result) + ",\"" + g.text + "\"," + std::to_string(g.offset) + ") ";
    return s;
}

TEST(ReadLogLine, LineEndsAndEmptyLines)
{
    struct Row {
        const char *name;
        std::string bytes;
        int keepEmpty;
        // Expected (result, text, offset); offset -1 = not checked.
        std::vector<Got> want;
    };
    const Row rows[] = {
        {"CR LF", "a\r\nbc\r\n", 0, {{1, "a", 0, 0}, {1, "bc", 3, 0}, {0, "", -1, 0}}},
        {"lone CR", "a\rbc\r", 0, {{1, "a", 0, 0}, {1, "bc", 2, 0}, {0, "", -1, 0}}},
        {"lone LF is no line end", "a\nbc\n", 0, {{0, "abc", 0, 0}}},
        {"LF inside a line is dropped", "x\n\ny\rz\r", 0, {{1, "xy", 0, 0}, {1, "z", 5, 0}, {0, "", -1, 0}}},
        {"LFs before the first character", "\n\nabc\r", 0, {{1, "abc", 2, 0}, {0, "", -1, 0}}},
        {"last line without a line end", "a\r\nlast", 0, {{1, "a", 0, 0}, {0, "last", 3, 0}}},
        {"empty file", "", 0, {{0, "", -1, 0}}},
        {"only empty lines, skipped", "\r\r\n\r", 0, {{0, "", -1, 0}}},
        {"only empty lines, kept", "\r\r\n\r", 1, {{1, "", 0, 0}, {1, "", 1, 0}, {1, "", 3, 0}, {0, "", -1, 0}}},
        {"empty line skipped", "a\r\n\r\nb", 0, {{1, "a", 0, 0}, {0, "b", 5, 0}}},
        {"empty line kept", "a\r\n\r\nb", 1, {{1, "a", 0, 0}, {1, "", 3, 0}, {0, "b", 5, 0}}},
        {"blanks are kept", "  a b  \r", 0, {{1, "  a b  ", 0, 0}, {0, "", -1, 0}}},
        {"other control bytes are kept", "a\tb\x1a\r", 0, {{1, "a\tb\x1a", 0, 0}, {0, "", -1, 0}}},
    };
    std::string dir = ScratchDir("lines");
    for (const Row &r : rows) {
        std::string path = dir + "\\t.txt";
        ASSERT_TRUE(WriteFileBytes(path, r.bytes));
        std::vector<Got> got = ReadAll(path, r.keepEmpty);
        ASSERT_EQ(r.want.size(), got.size()) << r.name << ": " << Show(got);
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(r.want[i].result, got[i].result) << r.name << " line " << i;
            EXPECT_EQ(r.want[i].text, got[i].text) << r.name << " line " << i;
            if (r.want[i].offset >= 0) {
                EXPECT_EQ(r.want[i].offset, got[i].offset) << r.name << " line " << i;
            }
            EXPECT_EQ(0, got[i].tooLong) << r.name << " line " << i;
        }
    }
}

// Lines of every length, with mixed line ends, across many buffer refills:
// every line comes back whole with the offset of its first character.
TEST(ReadLogLine, RefillsKeepLinesAndOffsets)
{
    std::string bytes;
    std::vector<std::pair<std::string, long>> want;
    const char *ends[3] = {"\r\n", "\r", "\r\n\n"};
    unsigned seed = 7;
    for (int i = 0; bytes.size() < 5000; i++) {
        seed = seed * 1103515245u + 12345u;
        size_t len = 1 + (seed >> 16) % 240;
        std::string text;
        for (size_t k = 0; k < len; k++)
            text += (char)('A' + (i + k) % 26);
        want.push_back({text, (long)bytes.size()});
        bytes += text + ends[i % 3];
    }
    // A CR as the last byte of the first chunk and its LF as the first
    // byte of the next one.
    std::string edge(1023, 'x');
    edge += "\r\nnext\r";
    std::string dir = ScratchDir("refill");
    struct Case { const char *name; std::string bytes; std::vector<std::pair<std::string, long>> want; };
    Case cases[] = {{"mixed", bytes, want}, {"CR at 1023", edge, {{std::string(1023, 'x'), 0}, {"next", 1025}}}};
    for (const Case &c : cases) {
        ASSERT_TRUE(WriteFileBytes(dir + "\\r.txt", c.bytes));
        std::vector<Got> got = ReadAll(dir + "\\r.txt", 0, 2048);
        ASSERT_EQ(c.want.size() + 1, got.size()) << c.name;
        for (size_t i = 0; i < c.want.size(); i++) {
            EXPECT_EQ(1, got[i].result) << c.name << " line " << i;
            EXPECT_EQ(c.want[i].first, got[i].text) << c.name << " line " << i;
            EXPECT_EQ(c.want[i].second, got[i].offset) << c.name << " line " << i;
        }
        EXPECT_EQ(0, got.back().result) << c.name;
        EXPECT_EQ("", got.back().text) << c.name;
    }
}

TEST(ReadLogLine, TooLongLineKeepsItsStartAndIsReadToItsEnd)
{
    std::string dir = ScratchDir("toolong");
    struct Row { const char *name; std::string bytes; size_t cap; std::vector<Got> want; };
    std::string huge(1 << 20, 'z');
    const Row rows[] = {
        {"exact fit", "abcdefg\rh\r", 8, {{1, "abcdefg", 0, 0}, {1, "h", 8, 0}, {0, "", -1, 0}}},
        {"one too many", "abcdefgh\rh\r", 8, {{1, "abcdefg", 0, 1}, {1, "h", 9, 0}, {0, "", -1, 0}}},
        {"at the end of the file", "abcdefghij", 8, {{0, "abcdefg", 0, 1}}},
        {"1 MB line", huge + "\r\nnext\r\n", 256,
         {{1, std::string(255, 'z'), 0, 1}, {1, "next", (1 << 20) + 2, 0}, {0, "", -1, 0}}},
    };
    for (const Row &r : rows) {
        ASSERT_TRUE(WriteFileBytes(dir + "\\l.txt", r.bytes));
        std::vector<Got> got = ReadAll(dir + "\\l.txt", 0, r.cap);
        ASSERT_EQ(r.want.size(), got.size()) << r.name << ": " << Show(got).substr(0, 200);
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(r.want[i].result, got[i].result) << r.name << " line " << i;
            EXPECT_EQ(r.want[i].text, got[i].text) << r.name << " line " << i;
            if (r.want[i].offset >= 0) {
                EXPECT_EQ(r.want[i].offset, got[i].offset) << r.name << " line " << i;
            }
            EXPECT_EQ(r.want[i].tooLong, got[i].tooLong) << r.name << " line " << i;
        }
    }
}

TEST(ReadLogLine, ResetStartsTheNextFileFromItsBeginning)
{
    std::string dir = ScratchDir("reset");
    ASSERT_TRUE(WriteFileBytes(dir + "\\1.txt", std::string(1500, 'a') + "\r\n"));
    ASSERT_TRUE(WriteFileBytes(dir + "\\2.txt", "first\r\nsecond\r\n"));
    HFILE f1 = _lopen((dir + "\\1.txt").c_str(), OF_READ);
    ASSERT_NE(HFILE_ERROR, f1);
    ResetLineReader();
    char line[32];
    ReadLogLine(f1, line, sizeof line, 0, NULL);   // leaves bytes of file 1 in the buffer
    _lclose(f1);
    HFILE f2 = _lopen((dir + "\\2.txt").c_str(), OF_READ);
    ASSERT_NE(HFILE_ERROR, f2);
    ResetLineReader();
    EXPECT_EQ(0, LogBufferPos);
    EXPECT_EQ(0, LogBufferLen);
    EXPECT_EQ(1, ReadLogLine(f2, line, sizeof line, 1, NULL));
    EXPECT_STREQ("first", line);
    EXPECT_EQ(0, LastLineOffset());
    EXPECT_EQ(1, ReadLogLine(f2, line, sizeof line, 1, NULL));
    EXPECT_STREQ("second", line);
    EXPECT_EQ(7, LastLineOffset());
    _lclose(f2);
}

} // namespace
