// The MIF status file: the built-in template byte for byte, the
// placeholders, the "Msg1000" override, the date and the file itself.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
#include "base/state.h"
#include "log/inventory.h"
#include "report/mif.h"
#include "support/kvtest.h"

namespace {

class Mif : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = ScratchDir("mif");
        SettingsPath[0] = 0;
        Rollback = Cancelled = 0;
        MifFileName[0] = Manufacturer[0] = ProductName[0] = VersionNumber[0] = SerialNumber[0] = 0;
    }
    void TearDown() override
    {
        SettingsPath[0] = 0;
        Rollback = Cancelled = 0;
    }
    void Override(const std::string &value)
    {
        std::string ini = dir + "\\UNINSTAL.INI";
        WriteFileBytes(ini, "[Language]\r\nMsg1000=" + value + "\r\n");
        strcpy(SettingsPath, ini.c_str());
    }
    static std::string Build(const char *date)
    {
        size_t n = BuildStatusText(date);
        EXPECT_EQ(strlen(ScratchBuffer), n);
        return std::string(ScratchBuffer, n);
    }
};

TEST_F(Mif, TemplateShape)
{
    // With every placeholder empty but the fixed words, the text is the
    // 1,510-byte template less the 27 bytes of its nine placeholders, plus
    // "Uninstall" twice and "Success".
    std::string text = Build("");
    EXPECT_EQ(1510u - 27 + 18 + 7, text.size());
    std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(69u, lines.size());
    EXPECT_EQ("\r\n", text.substr(text.size() - 2));
    for (size_t i = 0; i < text.size(); i++)
        if (text[i] == '\n') {
            ASSERT_EQ('\r', text[i - 1]) << "bare LF at " << i;
        }
    struct Row { int line; const char *text; };
    const Row rows[] = {
        {1, "START COMPONENT"},
        {2, "  NAME = \"WORKSTATION\""},
        {6, "    CLASS = \"DMTF|ComponentID|1.0\""},
        {12, "      TYPE = STRING(255)"},
        {13, "      VALUE = \"\""},
        {32, "      NAME = \"Serial Number\""},
        {40, "      NAME = \"Uninstall\""},
        {47, "  END GROUP"},
        {49, "    NAME = \"UninstallStatus\""},
        {51, "    CLASS = \"MICROSOFT|JOBSTATUS|1.0\""},
        {58, "      VALUE = \"Success\""},
        {66, "      VALUE = \"\""},
        {67, "    END ATTRIBUTE"},
        {69, "END COMPONENT"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(r.text, lines[r.line - 1]) << "line " << r.line;
}

TEST_F(Mif, PlaceholderValues)
{
    strcpy(Manufacturer, "Maker");
    strcpy(ProductName, "Orders");
    strcpy(VersionNumber, "2.1");
    struct Row { const char *name; int rollback, cancelled; std::vector<std::pair<int, std::string>> lines; };
    const Row rows[] = {
        {"completed uninstall", 0, 0,
         {{13, "      VALUE = \"Maker\""}, {21, "      VALUE = \"Orders\""}, {29, "      VALUE = \"2.1\""},
          {37, "      VALUE = \"\""}, {40, "      NAME = \"Uninstall\""}, {45, "      VALUE = \"03/05/98 9:05\""},
          {49, "    NAME = \"UninstallStatus\""}, {58, "      VALUE = \"Success\""}, {66, "      VALUE = \"\""}}},
        {"cancelled", 0, 1,
         {{58, "      VALUE = \"Failed\""}, {66, "      VALUE = \"Canceled by user\""}}},
        {"rollback", 1, 0,
         {{40, "      NAME = \"Rollback\""}, {49, "    NAME = \"RollbackStatus\""}, {58, "      VALUE = \"Success\""}}},
    };
    for (const Row &r : rows) {
        Rollback = r.rollback;
        Cancelled = r.cancelled;
        std::vector<std::string> lines = SplitCrLf(Build("03/05/98 9:05"));
        ASSERT_EQ(69u, lines.size()) << r.name;
        for (const auto &l : r.lines)
            EXPECT_EQ(l.second, lines[l.first - 1]) << r.name << " line " << l.first;
    }
}

TEST_F(Mif, OverrideFromTheSettingsFile)
{
    strcpy(Manufacturer, "M%2%");
    strcpy(ProductName, "P");
    struct Row { const char *name; std::string value; std::string want; };
    const Row rows[] = {
        {"caret is a line break", "A^B", "A\r\nB"},
        {"empty override", "", ""},
        {"unknown placeholders stay", "%9% %10% %0% %1", "%9% %10% %0% %1"},
        {"inserted values are not scanned again", "[%1%]", "[M%2%]"},
        {"percent signs around a placeholder", "%%2%%", "%P%"},
        {"all eight", "%1%|%2%|%3%|%4%|%5%|%6%|%7%|%8%", "M%2%|P|||Uninstall|D|Success|"},
        {"placeholder split by a caret", "%^1%", "%\r\n1%"},
    };
    for (const Row &r : rows) {
        Override(r.value);
        EXPECT_EQ(r.want, Build("D")) << r.name;
    }
}

// Values from the log never end the quoted text they stand in, nor its line.
TEST_F(Mif, LogValuesCannotEndTheirQuotes)
{
    strcpy(Manufacturer, "Maker\" Inc");
    strcpy(ProductName, "Pro\"\r\n  END ATTRIBUTE\r\nx");
    strcpy(VersionNumber, "1\t2");
    strcpy(SerialNumber, "\"\"");
    std::vector<std::string> lines = SplitCrLf(Build("D"));
    ASSERT_EQ(69u, lines.size());
    EXPECT_EQ("      VALUE = \"Maker' Inc\"", lines[12]);
    EXPECT_EQ("      VALUE = \"Pro'    END ATTRIBUTE  x\"", lines[20]);
    EXPECT_EQ("      VALUE = \"1 2\"", lines[28]);
    EXPECT_EQ("      VALUE = \"''\"", lines[36]);
}

// Texts that would grow beyond ScratchBuffer stop at its end.
TEST_F(Mif, GrowthIsBounded)
{
    memset(Manufacturer, 'm', 127);
    Manufacturer[127] = 0;
    struct Row { const char *name; std::string value; char fill; };
    const Row rows[] = {{"carets", std::string(12000, '^'), '\r'}, {"placeholders", [] {
                                                                         std::string s;
                                                                         for (int i = 0; i < 4000; i++)
                                                                             s += "%1%";
                                                                         return s;
                                                                     }(),
                                                                     'm'}};
    for (const Row &r : rows) {
        Override(r.value);
        std::string text = Build("D");
        EXPECT_EQ((size_t)SCRATCH_CAP - 1, text.size()) << r.name;
        EXPECT_EQ(0, ScratchBuffer[SCRATCH_CAP - 1]) << r.name;
        EXPECT_EQ(r.fill, text[0]) << r.name;
    }
}

TEST_F(Mif, DateFormat)
{
    struct Row { WORD year, month, day, hour, minute; const char *want; };
    const Row rows[] = {{1998, 3, 5, 9, 5, "03/05/98 9:05"},
                        {2001, 12, 24, 14, 30, "12/24/01 14:30"},
                        {2000, 1, 1, 0, 0, "01/01/00 0:00"},
                        {1999, 10, 31, 23, 59, "10/31/99 23:59"}};
    for (const Row &r : rows) {
        SYSTEMTIME t = {};
        t.wYear = r.year;
        t.wMonth = r.month;
        t.wDay = r.day;
        t.wHour = r.hour;
        t.wMinute = r.minute;
        char buf[32];
        memset(buf, '#', sizeof buf);
        FormatStatusTime(&t, buf, sizeof buf);
        EXPECT_STREQ(r.want, buf);
    }
    char now[32];
    FormatStatusDate(now, sizeof now);
    SYSTEMTIME t;
    GetLocalTime(&t);
    char want[32];
    FormatStatusTime(&t, want, sizeof want);
    EXPECT_EQ(std::string(want).substr(0, 8), std::string(now).substr(0, 8));
}

TEST_F(Mif, StatusFileInTheWindowsDirectory)
{
    char win[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    std::string path = std::string(win) + "\\KVSTATUS.MIF";
    DeleteFileA(path.c_str());

    // No name: no file.
    WriteStatusFile();
    EXPECT_FALSE(PathExists(path));

    // An existing longer file is replaced whole.
    ASSERT_TRUE(WriteFileBytes(path, std::string(5000, 'x')));
    strcpy(MifFileName, "KVSTATUS.MIF");
    strcpy(SerialNumber, "S-1");
    WriteStatusFile();
    bool ok = false;
    std::string text = ReadFileBytes(path, &ok);
    ASSERT_TRUE(ok);
    std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(69u, lines.size());
    EXPECT_EQ("      VALUE = \"S-1\"", lines[36]);
    EXPECT_EQ("      VALUE = \"Success\"", lines[57]);
    // The date line holds the time of writing.
    const std::string &date = lines[44];
    ASSERT_GE(date.size(), 29u);
    EXPECT_EQ("      VALUE = \"", date.substr(0, 15));
    EXPECT_EQ('/', date[17]);
    EXPECT_EQ('/', date[20]);

    // An override that is empty gives an empty file.
    Override("");
    WriteStatusFile();
    EXPECT_EQ("", ReadFileBytes(path, &ok));
    EXPECT_TRUE(ok);
    DeleteFileA(path.c_str());

    // A name that is a directory: nothing is written and nothing breaks.
    std::string sub = std::string(win) + "\\KVMIFDIR";
    CreateDirectoryA(sub.c_str(), NULL);
    strcpy(MifFileName, "KVMIFDIR");
    WriteStatusFile();
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA(sub.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryA(sub.c_str());
    MifFileName[0] = 0;
}

} // namespace
