// The reader's defences against damaged or edited logs: paths that are not
// plain and absolute, NUL bytes inside lines, block headers after stray
// markers, and system files spelt another way. Every refusal shows in the
// inventory dump.
#include "test_logread_util.h"
#include "base/refusals.h"
#include <string.h>

namespace {

class LogSafety : public ::testing::Test {
protected:
    std::string dir, sys;
    void SetUp() override
    {
        ResetInventory();
        dir = ScratchDir("logsafety");
        WriteFileBytes(dir + "\\A.EXE", "a");
        WriteFileBytes(dir + "\\A.BAK", "old a");
        WriteFileBytes(dir + "\\DATA.TXT", "d");
        WriteFileBytes(dir + "\\NEW.INI", "[S]\r\nK=now\r\n");
        char buf[MAX_PATH];
        GetSystemDirectoryA(buf, sizeof buf);
        sys = buf;
        WriteFileBytes(sys + "\\KVSAFE.DLL", "x");
    }
    void TearDown() override
    {
        DeleteFileA((sys + "\\KVSAFE.DLL").c_str());
        FreeInventory();
    }
    std::string P(const std::string &name) const { return dir + "\\" + name; }
};

TEST_F(LogSafety, PathsThatAreNotPlainAndAbsoluteAreRefused)
{
    SetCurrentDirectoryA(dir.c_str());     // a relative name would find DATA.TXT here
    struct Row {
        const char *name;
        std::string body;
        const char *kind;        // of the refusal
    };
    std::string d = dir;
    const Row rows[] = {
        {"relative file", "File Copy: DATA.TXT\r\n", "FILE"},
        {"dot component", "File Copy: " + d + "\\.\\A.EXE\r\n", "FILE"},
        {"dot-dot component", "File Copy: " + d + "\\..\\logsafety\\A.EXE\r\n", "FILE"},
        {"doubled backslash", "File Copy: " + d + "\\\\A.EXE\r\n", "FILE"},
        {"forward slash", "File Copy: " + d + "/A.EXE\r\n", "FILE"},
        {"device prefix", "File Copy: \\\\?\\" + d + "\\A.EXE\r\n", "FILE"},
        {"trailing dot", "File Copy: " + d + "\\A.EXE.\r\n", "FILE"},
        {"relative backup", "File Overwrite: " + d + "\\A.EXE\r\nBackup Copy: A.BAK\r\n", "FILE"},
        {"relative edited file", "File Edit: A.EXE\r\nBackup Copy: " + d + "\\A.BAK\r\n", "FILE"},
        {"relative new INI", "INI New: x\r\nINI File: NEW.INI\r\n", "INIFILE"},
        {"relative INI item", "INI File: NEW.INI\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: now\r\n", "INI"},
        {"relative made dir", "Made Dir: logsafety\r\n", "DIR"},
        {"drive root tree", "File Tree: C:\\\r\n", "TREE"},
        {"service with a path", "Create Service: ..\\evil\r\n", "SERVICE"},
    };
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, LogWith(r.body))) << r.name;
        std::string all = Joined(Entries("AppFile")) + Joined(Entries("SysFile")) + Joined(Entries("Edit")) +
                          Joined(Entries("NewIni")) + Joined(Entries("Ini")) + Joined(Entries("Service"));
        EXPECT_EQ("", all) << r.name;
        std::vector<std::string> refused = Entries("Refused");
        ASSERT_EQ(1u, refused.size()) << r.name << "\n" << Joined(refused);
        EXPECT_EQ(0u, refused[0].find(std::string("Refused ") + r.kind + " \"")) << r.name << ": " << refused[0];
        EXPECT_NE(std::string::npos, refused[0].find("reason=BAD-PATH")) << r.name;
    }
    // Positive control: the same lines, plainly spelt, make entries.
    ResetInventory();
    ASSERT_EQ(0, ReadLogText(dir, LogWith("File Copy: " + P("DATA.TXT") + "\r\nFile Overwrite: " + P("A.EXE") +
                                          "\r\nBackup Copy: " + P("A.BAK") + "\r\nINI New: x\r\nINI File: " +
                                          P("NEW.INI") + "\r\n")));
    EXPECT_EQ(2u, Entries("AppFile").size());
    EXPECT_EQ(1u, Entries("NewIni").size());
    EXPECT_EQ(0u, Entries("Refused").size()) << Joined(Entries("Refused"));
}

TEST_F(LogSafety, ServerAndDeviceMarksNeedPlainPaths)
{
    std::string log = LogWith("File Copy: " + P("A.EXE") + "\r\nSelf-Register: A.EXE\r\nAdd Device: " + dir +
                              "\\\\A.EXE\r\nSelf-Register: " + P("A.EXE") + "\r\n");
    ASSERT_EQ(0, ReadLogText(dir, log));
    std::vector<std::string> files = Entries("AppFile");
    ASSERT_EQ(1u, files.size());
    EXPECT_NE(std::string::npos, files[0].find("register=1 device=0")) << files[0];
    std::string refused = Joined(Entries("Refused"));
    EXPECT_NE(std::string::npos, refused.find("Refused SERVER \"A.EXE\"")) << refused;
    EXPECT_NE(std::string::npos, refused.find("Refused DEVICE")) << refused;
}

// One NUL byte must never cut a path or key into another: the whole line,
// and the group it belongs to, is refused.
TEST_F(LogSafety, LinesWithANulByteAreRefusedWhole)
{
    std::string nul(1, '\0');
    struct Row {
        const char *name;
        std::string body;
    };
    const Row rows[] = {
        {"tree key", "RegDB Tree: Software" + nul + "Vendor\\Product\\Tree\r\nRegDB Root: 2\r\n"},
        {"file path", "File Copy: " + P("A.EXE") + nul + ".OLD\r\n"},
        {"backup path", "File Overwrite: " + P("A.EXE") + "\r\nBackup Copy: " + P("A.BAK") + nul + "X\r\n"},
        {"registry key", "RegDB Key: Software" + nul + "X\r\nRegDB Val: v\r\nRegDB Root: 1\r\n"},
        {"old data", "RegDB Key: Software\\KvNul\r\nRegDB Val: v\r\nRegDB Name: N\r\nRegDB Old: a" + nul +
                         "b\r\n"},
        {"made dir", "Made Dir: " + dir + nul + "\\More\r\n"},
        {"NUL at the start", nul + "File Copy: " + P("A.EXE") + "\r\n"},
    };
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, LogWith(r.body))) << r.name;
        std::vector<std::string> kept;
        for (const char *kind : {"AppFile", "RegTree", "RegKey", "RegValue"})
            for (const std::string &e : Entries(kind))
                kept.push_back(e);
        for (const std::string &e : Entries("Dir"))
            if (e.find("logsafety\\\"") == std::string::npos)   // the log's own directory stays
                kept.push_back(e);
        EXPECT_EQ(0u, kept.size()) << r.name << "\n" << Joined(kept);
        EXPECT_LE(1u, Entries("Refused").size()) << r.name;
    }
}

TEST_F(LogSafety, ABlockHeaderIsAlwaysAHeader)
{
    const std::string a = "File Copy: " + P("A.EXE") + "\r\n", d = "File Copy: " + P("DATA.TXT") + "\r\n";
    struct Row {
        const char *name;
        std::string log;
        unsigned installs;
        unsigned dataNo;      // CopyInstall of DATA.TXT
    };
    const Row rows[] = {
        {"after Non-System File:", LogWith(a + "Non-System File:\r\n***  second\r\n" + d), 2, 2},
        {"after Shared DLL counter ignored:", LogWith(a + "Shared DLL counter ignored:\r\n***  second\r\n" + d), 2, 2},
        {"after both markers", LogWith(a + "Non-System File:\r\nShared DLL counter ignored:\r\n***  second\r\n" + d), 2,
         2},
        {"in place of a backup line", LogWith("File Copy: " + P("A.EXE") + "\r\n***  second\r\n" + d), 2, 2},
        {"between the first header and the title", "***  one\r\n***  two\r\nTitle: Orders\r\n" + d, 2, 2},
        {"with a NUL byte after its asterisks", LogWith(a + std::string("***  two\0x\r\n", 12) + d), 2, 2},
    };
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, r.log)) << r.name;
        EXPECT_EQ(r.installs, (unsigned)InstallCount) << r.name;
        // The last block starts at its header line.
        size_t at = r.log.rfind("***  ");
        EXPECT_EQ((long)at, LastInstallOffset) << r.name;
        bool found = false;
        for (const std::string &e : Entries("AppFile"))
            if (e.find("DATA.TXT") != std::string::npos) {
                found = true;
                EXPECT_NE(std::string::npos, e.find("copy=" + std::to_string(r.dataNo))) << r.name << ": " << e;
            }
        EXPECT_TRUE(found) << r.name;
    }
}

// A file directly in the System directory is a system file however its
// directory is spelt: another spelling must not make it an application file
// that an automatic run removes.
TEST_F(LogSafety, SystemFilesAreClassifiedByIdentity)
{
    std::string shortSys = ShortOf(sys);
    std::vector<std::string> spellings = {sys + "\\KVSAFE.DLL", "\\\\?\\" + sys + "\\KVSAFE.DLL"};
    if (!shortSys.empty() && shortSys != sys)
        spellings.push_back(shortSys + "\\KVSAFE.DLL");
    // A mixed-case spelling, the way a hand edit might write it.
    std::string mixed = sys;
    for (char &c : mixed)
        c = (char)(isupper((unsigned char)c) ? tolower((unsigned char)c) : toupper((unsigned char)c));
    spellings.push_back(mixed + "\\KVSAFE.DLL");
    for (const std::string &s : spellings) {
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, LogWith("File Copy: " + s + "\r\n"))) << s;
        EXPECT_EQ(0u, Entries("AppFile").size()) << s << "\n" << Joined(Entries("AppFile"));
        // Either a system file, or refused as a spelling that is not plain.
        EXPECT_EQ(1u, Entries("SysFile").size() + Entries("Refused").size()) << s;
    }
}

TEST_F(LogSafety, RefusalsAreFreedWithTheInventory)
{
    ASSERT_EQ(0, ReadLogText(dir, LogWith("File Copy: DATA.TXT\r\n")));
    EXPECT_EQ(1, RefusalCount());
    FreeInventory();
    EXPECT_EQ(0, RefusalCount());
    ASSERT_EQ(0, CreateInventory());
}

} // namespace
