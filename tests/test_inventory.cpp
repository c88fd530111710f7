// The rules that turn log lines into inventory entries: merging across
// installations, system-file classification, shared DLLs, directories and
// the install root, self-registering servers, INI and registry entries.
#include "test_logread_util.h"
#include "base/paths.h"
#include <ctype.h>
#include <string.h>
#include <algorithm>

namespace {

std::string Upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return s;
}

class Inventory : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        ResetInventory();
        dir = ScratchDir("inventory");
        WriteFileBytes(dir + "\\A.EXE", "a");
    }
    void TearDown() override { FreeInventory(); }
    std::string P(const std::string &name) const { return dir + "\\" + name; }
    std::string ShortOf(const std::string &path) const
    {
        char s[MAX_PATH];
        DWORD n = GetShortPathNameA(path.c_str(), s, sizeof s);
        EXPECT_TRUE(n > 0 && n < sizeof s) << path;
        return s;
    }
};

TEST_F(Inventory, SameFileInTwoInstallations)
{
    std::string a = P("A.EXE");
    std::string tail = " register=0 device=0 ";
    struct Row { const char *name; std::string body; std::string want; int haveBackups; };
    const Row rows[] = {
        {"second without backup", "File Copy: " + a + "\r\n*** 2\r\nFile Copy: " + a + "\r\n",
         "AppFile \"" + a + "\" backup=\"\" sel=0 created=1" + tail + "copy=2 backupno=1 shared=2", 0},
        {"second with backup", "File Copy: " + a + "\r\nBackup Copy: C:\\B1\r\n*** 2\r\nFile Copy: " + a +
                                   "\r\nBackup Copy: C:\\B2\r\n",
         "AppFile \"" + a + "\" backup=\"C:\\B2\" sel=0 created=0" + tail + "copy=2 backupno=2 shared=2", 1},
        {"first without, second with backup", "File Copy: " + a + "\r\n*** 2\r\nFile Overwrite: " + a +
                                                  "\r\nBackup Copy: C:\\B2\r\n",
         "AppFile \"" + a + "\" backup=\"C:\\B2\" sel=0 created=1" + tail + "copy=2 backupno=2 shared=2", 1},
        {"second not counted", "File Copy: " + a + "\r\n*** 2\r\nShared DLL counter ignored:\r\nFile Copy: " + a + "\r\n",
         "AppFile \"" + a + "\" backup=\"\" sel=0 created=1" + tail + "copy=2 backupno=1 shared=1", 0},
        {"matched case-insensitively", "File Copy: " + a + "\r\n*** 2\r\nFile Copy: " + P("a.exe") + "\r\n",
         "AppFile \"" + a + "\" backup=\"\" sel=0 created=1" + tail + "copy=2 backupno=1 shared=2", 0},
    };
    for (const Row &r : rows) {
        ResetInventory();
        HaveBackups = 0;
        ASSERT_EQ(0, ReadLogText(dir, LogWith(r.body))) << r.name;
        EXPECT_EQ(r.want + "\n", Joined(Entries("AppFile"))) << r.name;
        EXPECT_EQ(r.haveBackups, HaveBackups) << r.name;
    }
}

TEST_F(Inventory, OverwrittenSharedDllCountsLikeACopy)
{
    std::string a = P("A.EXE");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                                             0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    DWORD one = 1;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, a.c_str(), 0, REG_DWORD, (const BYTE *)&one, sizeof one));
    struct Row { const char *name; int version4; std::string path; size_t entries; };
    const Row rows[] = {{"registered, version 4", 1, a, 1},
                        {"registered, older version", 0, a, 0},
                        {"not registered", 1, P("B.EXE"), 0}};
    WriteFileBytes(P("B.EXE"), "b");
    for (const Row &r : rows) {
        ResetInventory();
        Version4OrLater = r.version4;
        ASSERT_EQ(0, ReadLogText(dir, LogWith("File Overwrite: " + r.path + "\r\n"))) << r.name;
        std::vector<std::string> got = Entries("AppFile");
        ASSERT_EQ(r.entries, got.size()) << r.name;
        if (r.entries) {
            EXPECT_NE(std::string::npos, got[0].find("created=1")) << got[0];
        }
    }
    RegDeleteValueA(key, a.c_str());
    RegCloseKey(key);
}

TEST_F(Inventory, SystemFileClassification)
{
    char win[MAX_PATH], sys[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    GetSystemDirectoryA(sys, sizeof sys);
    std::string w32s = std::string(sys) + "\\WIN32S";
    std::string sub = std::string(win) + "\\KVSUB";
    CreateDirectoryA(w32s.c_str(), NULL);
    CreateDirectoryA(sub.c_str(), NULL);
    struct Row { const char *name; std::string path; const char *list; };
    const Row rows[] = {{"Windows directory", std::string(win) + "\\KV1.DLL", "SysFile"},
                        {"system directory", std::string(sys) + "\\KV2.DLL", "SysFile"},
                        {"WIN32S directory", w32s + "\\KV3.DLL", "SysFile"},
                        {"sub-directory of the Windows directory", sub + "\\KV4.DLL", "AppFile"},
                        {"case does not matter", Upper(sys) + "\\kv5.dll", "SysFile"}};
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_TRUE(WriteFileBytes(r.path, "x")) << r.name;
        ASSERT_EQ(0, ReadLogText(dir, LogWith("File Copy: " + r.path + "\r\n"))) << r.name;
        EXPECT_EQ(1u, Entries(r.list).size()) << r.name;
        EXPECT_EQ(1, AppFileList.Count + SysFileList.Count) << r.name;
        DeleteFileA(r.path.c_str());
    }
    char want[MAX_PATH];
    GetSystemDirectoryA(want, sizeof want);
    EXPECT_STREQ(want, SystemDir);
    RemoveDirectoryA(w32s.c_str());
    RemoveDirectoryA(sub.c_str());
}

TEST_F(Inventory, DevicesAndSelfRegisteredFiles)
{
    std::string longDir = P("Long Directory Name");
    CreateDirectoryA(longDir.c_str(), NULL);
    std::string lib = longDir + "\\LongServerName.dll";
    ASSERT_TRUE(WriteFileBytes(lib, "x"));
    std::string other = P("Other Directory");
    CreateDirectoryA(other.c_str(), NULL);
    ASSERT_TRUE(WriteFileBytes(other + "\\LongServerName.dll", "y"));
    std::string shortLib = ShortOf(lib);
    ASSERT_NE(lib, shortLib);
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, sizeof sys);
    std::string vxd = std::string(sys) + "\\KVDEV.VXD";
    ASSERT_TRUE(WriteFileBytes(vxd, "v"));

    struct Row { const char *name; std::string body; std::string path; const char *field; };
    const Row rows[] = {
        {"self-register, same spelling", "File Copy: " + lib + "\r\n*** 2\r\nSelf-Register: " + lib + "\r\n", lib, "register=2"},
        {"self-register given short, stored long", "File Copy: " + lib + "\r\nSelf-Register: " + shortLib + "\r\n", lib,
         "register=1"},
        {"self-register given long, stored short", "File Copy: " + shortLib + "\r\nSelf-Register: " + lib + "\r\n",
         shortLib, "register=1"},
        {"same name in another directory", "File Copy: " + other + "\\LongServerName.dll\r\nSelf-Register: " + lib + "\r\n",
         other + "\\LongServerName.dll", "register=0"},
        {"self-register before the file line", "Self-Register: " + lib + "\r\nFile Copy: " + lib + "\r\n", lib, "register=0"},
        {"device, application file", "File Copy: " + lib + "\r\n*** 2\r\nAdd Device: " + lib + "\r\n", lib, "device=2"},
        {"device, system file", "File Copy: " + vxd + "\r\nAdd Device: " + vxd + "\r\n", vxd, "device=1"},
        {"device given short matches nothing", "File Copy: " + lib + "\r\nAdd Device: " + shortLib + "\r\n", lib,
         "device=0"},
    };
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, LogWith(r.body))) << r.name;
        std::string all = Joined(Entries("AppFile")) + Joined(Entries("SysFile"));
        size_t at = all.find("\"" + r.path + "\"");
        ASSERT_NE(std::string::npos, at) << r.name << "\n" << all;
        std::string line = all.substr(at, all.find('\n', at) - at);
        EXPECT_NE(std::string::npos, line.find(r.field)) << r.name << ": " << line;
    }
    DeleteFileA(vxd.c_str());
}

TEST_F(Inventory, DirectoriesAndTheInstallRoot)
{
    // The log lies in <dir>\APP\SUB.
    std::string app = P("APP"), sub = app + "\\SUB";
    CreateDirectoryA(app.c_str(), NULL);
    CreateDirectoryA(sub.c_str(), NULL);
    std::string logDir = sub + "\\";
    struct Row { const char *name; std::string body; std::vector<std::string> dirs; std::string root; };
    const Row rows[] = {
        {"no made directory", "", {"Dir \"" + logDir + "\" sel=0 tree=0 made=32767"}, ShortOf(sub) + "\\"},
        {"made directories above the log", "Made Dir: " + app + "\r\nMade Dir: " + sub + "\r\n",
         {"Dir \"" + app + "\\\" sel=0 tree=0 made=1"}, ShortOf(app) + "\\"},
        {"APP and APPS are different", "Made Dir: C:\\APP\r\nMade Dir: C:\\APPS\\\r\n",
         {"Dir \"" + logDir + "\" sel=0 tree=0 made=32767", "Dir \"C:\\APP\\\" sel=0 tree=0 made=1",
          "Dir \"C:\\APPS\\\" sel=0 tree=0 made=1"},
         ShortOf(sub) + "\\"},
        {"the first entry with a shared part wins",
         "Made Dir: C:\\X\\B\r\nMade Dir: C:\\X\\C\r\nMade Dir: c:\\x\r\n*** 2\r\nMade Dir: C:\\X\\C\\D\r\n",
         {"Dir \"" + logDir + "\" sel=0 tree=0 made=32767", "Dir \"C:\\X\\\" sel=0 tree=0 made=2",
          "Dir \"C:\\X\\C\\\" sel=0 tree=0 made=1"},
         ShortOf(sub) + "\\"},
        {"not absolute", "Made Dir: APP\r\nMade Dir: C:\r\nMade Dir: C:\\\r\nMade Dir: \\APP\r\nMade Dir: \r\n",
         {"Dir \"" + logDir + "\" sel=0 tree=0 made=32767"}, ShortOf(sub) + "\\"},
        {"network path", "Made Dir: \\\\server\\share\\d\r\n",
         {"Dir \"" + logDir + "\" sel=0 tree=0 made=32767", "Dir \"\\\\server\\share\\d\\\" sel=0 tree=0 made=1"},
         ShortOf(sub) + "\\"},
        {"made parent of a copied tree", "File Tree: C:\\P\\App\\*.*\r\nMade Dir: C:\\P\r\n",
         {"Dir \"" + logDir + "\" sel=0 tree=0 made=32767", "Dir \"C:\\P\\App\\\" sel=0 tree=1 made=1",
          "Dir \"C:\\P\\\" sel=0 tree=0 made=1"},
         ShortOf(sub) + "\\"},
        {"spellings that could reach another folder", "Made Dir: C:\\x\\..\r\nFile Tree: C:\\.\\*.*\r\n"
         "Made Dir: \\\\?\\C:\\y\r\nMade Dir: C:\\\\z\r\nFile Tree: C:\\WINDOWS.\r\nMade Dir: \\\\srv\\share\r\n",
         {"Dir \"" + logDir + "\" sel=0 tree=0 made=32767"}, ShortOf(sub) + "\\"},
        // A folder name with wildcards names no folder: dropped.
        {"file tree", "File Tree: C:\\T\\*.*\r\nFile Tree: C:\\U\\*.TXT\r\n*** 2\r\nFile Tree: c:\\t\\\r\n",
         {"Dir \"" + logDir + "\" sel=0 tree=0 made=32767", "Dir \"C:\\T\\\" sel=0 tree=2 made=2"},
         ShortOf(sub) + "\\"},
        {"file tree matches exactly only", "Made Dir: C:\\T\r\nFile Tree: C:\\T\\S\r\n*** 2\r\nMade Dir: C:\\T\\S\r\n",
         {"Dir \"" + logDir + "\" sel=0 tree=0 made=32767", "Dir \"C:\\T\\\" sel=0 tree=0 made=2",
          "Dir \"C:\\T\\S\\\" sel=0 tree=1 made=1"},
         ShortOf(sub) + "\\"},
    };
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_TRUE(WriteFileBytes(sub + "\\INSTALL.LOG", LogWith(r.body)));
        char root[PATH_CAP];
        std::vector<SeenBox> boxes;
        ASSERT_EQ(0, ReadLogAt(sub + "\\INSTALL.LOG", &boxes, root)) << r.name;
        EXPECT_EQ(Joined(r.dirs), Joined(Entries("Dir"))) << r.name;
        EXPECT_EQ(r.root, root) << r.name;
    }
}

TEST_F(Inventory, LogDirectoryEntry)
{
    char win[MAX_PATH], sys[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    GetSystemDirectoryA(sys, sizeof sys);
    std::string longDir = P("Long Log Directory");
    CreateDirectoryA(longDir.c_str(), NULL);
    struct Row { const char *name; std::string logDir; size_t dirs; std::string root; };
    const Row rows[] = {{"Windows directory", win, 0, std::string(win) + "\\"},
                        {"system directory", sys, 0, std::string(sys) + "\\"},
                        {"drive root", "C:", 0, "C:\\"},
                        {"own directory, long name", longDir, 1, ShortOf(longDir) + "\\"}};
    for (const Row &r : rows) {
        ResetInventory();
        std::string log = r.logDir + "\\KVTEST.LOG";
        ASSERT_TRUE(WriteFileBytes(log, LogWith(""))) << r.name;
        char root[PATH_CAP];
        ASSERT_EQ(0, ReadLogAt(log, nullptr, root)) << r.name;
        EXPECT_EQ(r.dirs, Entries("Dir").size()) << r.name;
        EXPECT_EQ(r.root, root) << r.name;
        DeleteFileA(log.c_str());
    }
    // The entry uses the long form even when the log is named short.
    ResetInventory();
    std::string log = longDir + "\\INSTALL.LOG";
    WriteFileBytes(log, LogWith(""));
    ASSERT_EQ(0, ReadLogAt(ShortOf(log)));
    EXPECT_EQ(Joined({"Dir \"" + longDir + "\\\" sel=0 tree=0 made=32767"}), Joined(Entries("Dir")));
}

TEST_F(Inventory, RepeatedIniChangeKeepsFirstAndLastOldValues)
{
    std::string ini = P("APP.INI");
    ASSERT_TRUE(WriteFileBytes(ini, "[Paths]\r\nHome=C:\\NEW\r\n"));
    std::string group = "INI File: " + ini + "\r\nINI Sect: Paths\r\nINI Item: Home\r\nINI Val: C:\\NEW\r\n";
    ASSERT_EQ(0, ReadLogText(dir, LogWith(group + "INI Old: C:\\ORIG\r\n*** 2\r\n" + group +
                                          "INI Old: C:\\V1\r\n*** 3\r\nINI File: " + P("app.ini") +
                                          "\r\nINI Sect: PATHS\r\nINI Item: home\r\nINI Val: x\r\n")));
    EXPECT_EQ(Joined({"Ini \"" + ini + "\" [Paths] Home old=\"C:\\ORIG\" lastold=\"\" sel=0 no=3"}),
              Joined(Entries("Ini")));
}

TEST_F(Inventory, RepeatedRegistryEntries)
{
    std::string body =
        "RegDB Key: Software\\Kv\r\nRegDB Val: v\r\nRegDB Name: N\r\nRegDB Type: 2\r\nRegDB Root: 2\r\n"
        "RegDB Old: a\r\nRegDB Old: b\r\n"
        "RegDB Key: Software\\Kv\r\nRegDB Val: v\r\nRegDB Name: N\r\nRegDB Type: 0\r\nRegDB Root: 2\r\nRegDB Old: s\r\n"
        "RegDB Key: Software\\Kv\r\nRegDB Val: v\r\nRegDB Type: 1\r\nRegDB Root: 1\r\n"
        "RegDB Tree: Software\\T\r\nRegDB Root: 3\r\n"
        "Icon Group: G\r\nIcon Name: N\r\nIcon Cmd: OLD.EXE\r\n"
        "*** 2\r\n"
        "RegDB Key: SOFTWARE\\KV\r\nRegDB Val: v\r\nRegDB Name: n\r\nRegDB Type: 2\r\nRegDB Root: 2\r\n"
        "RegDB Old: c\r\n"
        "RegDB Key: Software\\Kv\r\nRegDB Val: v\r\nRegDB Type: 4\r\nRegDB Root: 1\r\n"
        "RegDB Tree: software\\t\r\nRegDB Root: 3\r\nRegDB Tree: Software\\T\r\n"
        "Icon Group: g\r\nIcon Name: n\r\nIcon Cmd: NEW.EXE\r\n";
    ASSERT_EQ(0, ReadLogText(dir, LogWith(body)));
    EXPECT_EQ(Joined({"RegValue 2 \"Software\\Kv\" name=\"N\" type=2 old=[\"a\",\"b\"] lastold=[\"c\"] sel=0 no=2",
                      "RegValue 2 \"Software\\Kv\" name=\"N\" type=0 old=[\"s\"] lastold=[\"s\"] sel=0 no=1"}),
              Joined(Entries("RegValue")));
    EXPECT_EQ(Joined({"RegKey 1 \"Software\\Kv\" name=\"\" sel=0 no=2"}), Joined(Entries("RegKey")));
    EXPECT_EQ(Joined({"RegTree 3 \"Software\\T\" sel=0 no=2", "RegTree 0 \"Software\\T\" sel=0 no=2"}),
              Joined(Entries("RegTree")));
    EXPECT_EQ(Joined({"Icon \"G\" \"N\" cmd=\"NEW.EXE\" sel=0 no=1"}), Joined(Entries("Icon")));
}

// A repeat whose old value equals the first one holds it once; a different
// one gets its own text, and the first is kept.
TEST_F(Inventory, LastOldValuesEqualToTheFirstAreHeldOnce)
{
    std::string ini = P("SHARE.INI");
    ASSERT_TRUE(WriteFileBytes(ini, "[S]\r\nSame=now\r\nOther=now\r\n"));
    auto iniGroup = [&](const char *item, const char *old) {
        return "INI File: " + ini + "\r\nINI Sect: S\r\nINI Item: " + item + "\r\nINI Val: now\r\nINI Old: " + old +
               "\r\n";
    };
    auto regGroup = [](const char *name, const char *old) {
        return std::string("RegDB Key: Software\\Kv\r\nRegDB Val: v\r\nRegDB Name: ") + name +
               "\r\nRegDB Type: 2\r\nRegDB Old: x\r\nRegDB Old: " + old + "\r\n";
    };
    ASSERT_EQ(0, ReadLogText(dir, LogWith(iniGroup("Same", "first") + iniGroup("Other", "first") +
                                          regGroup("Same", "y") + regGroup("Other", "y") + "*** 2\r\n" +
                                          iniGroup("Same", "first") + iniGroup("Other", "second") +
                                          regGroup("Same", "y") + regGroup("Other", "z"))));
    ASSERT_EQ(2, IniEntryList.Count);
    const IniEntry *same = ENTRY_AT(IniEntry, IniEntryList, 0), *other = ENTRY_AT(IniEntry, IniEntryList, 1);
    EXPECT_EQ(same->OldValue, same->LastOldValue);
    EXPECT_STREQ("first", other->OldValue);
    EXPECT_STREQ("second", other->LastOldValue);
    EXPECT_NE(other->OldValue, other->LastOldValue);
    EXPECT_EQ(2, other->InstallNo);

    ASSERT_EQ(2, RegValueList.Count);
    const RegValueEntry *sameReg = ENTRY_AT(RegValueEntry, RegValueList, 0);
    const RegValueEntry *otherReg = ENTRY_AT(RegValueEntry, RegValueList, 1);
    EXPECT_EQ(sameReg->OldData, sameReg->LastOldData);
    EXPECT_EQ(5, sameReg->LastOldDataSize);   // "x", "y" and the closing empty string
    EXPECT_EQ(std::string("x\0y\0\0", 5), std::string(otherReg->OldData, (size_t)otherReg->OldDataSize));
    EXPECT_EQ(std::string("x\0z\0\0", 5),
              std::string(otherReg->LastOldData, (size_t)otherReg->LastOldDataSize));
    EXPECT_EQ(2, otherReg->InstallNo);
}

TEST_F(Inventory, OldDataThatWouldNotFitIsDropped)
{
    // Nine strings of 200 and one of 237: 2,047 bytes and the closing NUL.
    std::string exact;
    for (int i = 0; i < 9; i++)
        exact += "RegDB Old: " + std::string(200, (char)('a' + i)) + "\r\n";
    std::string fits = exact + "RegDB Old: " + std::string(237, 'z') + "\r\n";
    std::string over = exact + "RegDB Old: " + std::string(238, 'z') + "\r\n";
    ASSERT_EQ(0, ReadLogText(dir, LogWith("RegDB Key: K1\r\nRegDB Val: v\r\nRegDB Type: 2\r\n" + fits +
                                          "RegDB Key: K2\r\nRegDB Val: v\r\nRegDB Type: 2\r\n" + over +
                                          "Create Service: After\r\n")));
    ASSERT_EQ(1, RegValueList.Count);
    const RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, 0);
    EXPECT_STREQ("K1", e->Key);
    ASSERT_EQ(OLD_DATA_CAP, e->OldDataSize);
    EXPECT_EQ(std::string(237, 'z'), std::string(e->OldData + 9 * 201));
    EXPECT_EQ(0, e->OldData[2046]);
    EXPECT_EQ(0, e->OldData[2047]);
    EXPECT_EQ(1, ServiceList.Count);
}

TEST_F(Inventory, EditedAndNewIniFilesMerge)
{
    std::string a = P("A.EXE"), ini = P("NEW.INI");
    WriteFileBytes(ini, "[S]\r\n");
    ASSERT_EQ(0, ReadLogText(dir, LogWith("File Edit: " + a + "\r\nBackup Copy: C:\\E1\r\nINI New: x\r\nINI File: " +
                                          ini + "\r\n*** 2\r\nFile Edit: " + a + "\r\nBackup Copy: C:\\E2\r\n"
                                          "INI New: x\r\nINI File: " + ini + "\r\nCreate Service: S\r\n")));
    EXPECT_EQ(Joined({"Edit \"" + a + "\" backup=\"C:\\E2\" no=2"}), Joined(Entries("Edit")));
    EXPECT_EQ(Joined({"NewIni \"" + ini + "\" sel=0 no=2"}), Joined(Entries("NewIni")));
    EXPECT_EQ(1, ServiceList.Count);
}

// In an OEM block a path is handled in its ANSI form: the file written
// with u-umlaut (0xFC) is found from the OEM byte 0x81.
TEST_F(Inventory, OemPathsAreFoundOnDisk)
{
    std::string ansi = P("\xfc.TXT");
    ASSERT_TRUE(WriteFileBytes(ansi, "u"));
    std::string oem = P("\x81.TXT");
    ASSERT_EQ(0, ReadLogText(dir, "*** O\r\nTitle: T\r\nFile Copy: " + oem + "\r\n*** O\r\nSelf-Register: " + oem +
                                      "\r\nAdd Device: " + oem + "\r\n"));
    EXPECT_EQ(Joined({"AppFile \"" + ansi + "\" backup=\"\" sel=0 created=1 register=2 device=2 copy=1 backupno=1 shared=1"}),
              Joined(Entries("AppFile")));
}

} // namespace

namespace {

// The directory rules restated as plain linear scans, to check the reader's
// indexed look-ups against them on random logs.
struct RefDir {
    std::string path;
    int tree, made;
};

bool SameNoCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && Upper(a) == Upper(b);
}

bool Absolute(const std::string &p)
{
    return p.size() > 3 && ((p[0] == '\\' && p[1] == '\\') || (isalpha((unsigned char)p[0]) && p[1] == ':' && p[2] == '\\'));
}

TEST_F(Inventory, DirectoryLookUpsMatchLinearScans)
{
    const char *parts[] = {"A", "b", "B", "c", "Dd"};
    for (unsigned seed = 1; seed <= 12; seed++) {
        unsigned r = seed;
        auto next = [&r](unsigned n) {
            r = r * 1103515245u + 12345u;
            return (r >> 16) % n;
        };
        std::vector<RefDir> want = {{P("") , 0, 32767}};
        std::string body;
        int block = 1;
        for (int op = 0; op < 400; op++) {
            if (next(40) == 0) {
                body += "*** next\r\n";
                block++;
                continue;
            }
            std::string v = "C:\\R";
            for (unsigned d = 0, depth = 1 + next(4); d < depth; d++)
                v += std::string("\\") + parts[next(5)];
            bool tree = next(3) == 0;
            bool slash = next(4) == 0;
            if (tree && next(3) == 0)
                v += "\\*.*";
            else if (slash)
                v += "\\";
            body += (tree ? "File Tree: " : "Made Dir: ") + v + "\r\n";
            if (tree && v.size() >= 4 && v.compare(v.size() - 4, 4, "\\*.*") == 0)
                v.resize(v.size() - 4);
            if (v.back() != '\\')
                v += "\\";
            if (!Absolute(v))
                continue;
            int found = -1;
            for (size_t i = 0; i < want.size() && found < 0; i++) {
                size_t n = std::min(want[i].path.size(), v.size());
                if (tree ? SameNoCase(want[i].path, v) : SameNoCase(want[i].path.substr(0, n), v.substr(0, n)))
                    found = (int)i;
            }
            if (found >= 0 && !tree && want[found].tree && want[found].path.size() > v.size()) {
                // A copied tree is not cut back to a made parent: the parent
                // is an entry of its own.
                found = -1;
                for (size_t i = 0; i < want.size() && found < 0; i++)
                    if (SameNoCase(want[i].path, v))
                        found = (int)i;
                if (found >= 0)
                    want[found].made = block;
                else
                    want.push_back({v, 0, block});
            } else if (found >= 0) {
                RefDir &d = want[found];
                if (tree)
                    d.tree = block;
                else if (d.path.size() > v.size())
                    d.path.resize(v.size());
                d.made = block;
            } else {
                want.push_back({v, tree ? block : 0, block});
            }
        }
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, LogWith(body))) << "seed " << seed;
        std::vector<std::string> lines;
        for (const RefDir &d : want)
            lines.push_back("Dir \"" + d.path + "\" sel=0 tree=" + std::to_string(d.tree) +
                            " made=" + std::to_string(d.made));
        EXPECT_EQ(Joined(lines), Joined(Entries("Dir"))) << "seed " << seed;
    }
}

// A log named without a directory lies in the current directory.
TEST_F(Inventory, BareLogNameUsesTheCurrentDirectory)
{
    std::string sub = P("Current Dir");
    CreateDirectoryA(sub.c_str(), NULL);
    ASSERT_TRUE(WriteFileBytes(sub + "\\INSTALL.LOG", LogWith("")));
    char before[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    SetCurrentDirectoryA(sub.c_str());
    char root[PATH_CAP];
    int result = ReadLogAt("INSTALL.LOG", nullptr, root);
    SetCurrentDirectoryA(before);
    ASSERT_EQ(0, result);
    EXPECT_EQ(ShortOf(sub) + "\\", std::string(root));
    EXPECT_EQ(Joined({"Dir \"" + sub + "\\\" sel=0 tree=0 made=32767"}), Joined(Entries("Dir")));
}

} // namespace
