// The log format as the reader accepts it: header and title, blocks and
// their encoding, tags and their follow-up lines, the qualifying markers,
// the administrator check, failure messages and hostile input.
#include "test_logread_util.h"
#include <string.h>

namespace {

class LogRead : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        ResetInventory();
        dir = ScratchDir("logread");
        // Files the entries below refer to.
        WriteFileBytes(dir + "\\A.EXE", "a");
        WriteFileBytes(dir + "\\B.DLL", "b");
        WriteFileBytes(dir + "\\C.TXT", "c");
        WriteFileBytes(dir + "\\NEW.INI", "[S]\r\nK=now\r\n");
    }
    void TearDown() override { FreeInventory(); }
    std::string P(const std::string &name) const { return dir + "\\" + name; }
};

TEST_F(LogRead, HeaderAndTitle)
{
    struct Row {
        const char *name;
        std::string log;
        int result;
        const char *title;   // when valid
    };
    const Row rows[] = {
        {"plain", "***  log\r\nTitle: Orders\r\n", 0, "Orders"},
        {"lines before the title are skipped", "*** x\r\nFile Copy: X\r\n*** y\r\nTitle: Orders\r\n", 0, "Orders"},
        {"INSTALLATION suffix", "***  x\r\nTitle: Orders Installation\r\n", 0, "Orders"},
        {"INSTALL suffix", "***  x\r\nTitle: Orders Install\r\n", 0, "Orders"},
        {"both suffixes", "***  x\r\nTitle: A install INSTALLATION\r\n", 0, "A"},
        {"INSTALL alone stays", "***  x\r\nTitle: INSTALL\r\n", 0, "INSTALL"},
        {"eight characters stay", "***  x\r\nTitle:  INSTALL\r\n", 0, " INSTALL"},
        {"position 6 is skipped whatever it is", "***  x\r\nTitle:XOrders\r\n", 0, "Orders"},
        {"bare Title:", "***  x\r\nTitle:\r\n", 0, ""},
        {"leading empty lines", "\r\n\r\n***  x\r\nTitle: T\r\n", 0, "T"},
        {"title as the last line without a line end", "***  x\r\nTitle: T", 0, "T"},
        {"empty file", "", 1, nullptr},
        {"no *** header", "Title: Orders\r\n", 1, nullptr},
        {"two asterisks", "**  x\r\nTitle: Orders\r\n", 1, nullptr},
        {"*** without blank", "***x\r\nTitle: Orders\r\n", 1, nullptr},
        {"Title is case-sensitive", "***  x\r\nTITLE: Orders\r\n", 1, nullptr},
        {"no title", "***  x\r\nFile Copy: X\r\n", 1, nullptr},
        {"lone LF ends no line", "***  x\nTitle: Orders\n", 1, nullptr},
    };
    for (const Row &r : rows) {
        ResetInventory();
        std::vector<SeenBox> boxes;
        ASSERT_EQ(r.result, ReadLogText(dir, r.log, &boxes)) << r.name;
        if (r.result == 0) {
            EXPECT_EQ(0u, boxes.size()) << r.name;
            EXPECT_STREQ(r.title, ProductTitle) << r.name;
            // A second "*** " line before the title opens a block of its own.
            EXPECT_EQ(strstr(r.name, "lines before the title") ? 2 : 1, InstallCount) << r.name;
        } else {
            ASSERT_EQ(1u, boxes.size()) << r.name;
            EXPECT_EQ("Zarn Uninstall", boxes[0].caption) << r.name;
            EXPECT_EQ("Invalid INSTALL.LOG file.", boxes[0].text) << r.name;
        }
    }
}

TEST_F(LogRead, MissingLogIsReported)
{
    std::vector<SeenBox> boxes;
    EXPECT_EQ(1, ReadLogAt(P("NONE.LOG"), &boxes));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Zarn Uninstall", boxes[0].caption);
    EXPECT_EQ("Could not open INSTALL.LOG file.", boxes[0].text);
}

TEST_F(LogRead, CaptionFromTitleUnlessGivenOnTheCommandLine)
{
    HWND w = CreateWindowA("STATIC", "before", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(w != NULL);
    char caption[256];
    struct Row { const char *name; const char *windowTitle; const char *want; };
    const Row rows[] = {{"from the title", "", "Uninstall Orders"}, {"command line wins", "Mine", "before"}};
    for (const Row &r : rows) {
        ResetInventory();
        SetWindowTextA(w, "before");
        MainWindow = w;
        strcpy(WindowTitle, r.windowTitle);
        ASSERT_EQ(0, ReadLogText(dir, LogWith("", "Orders Installation"))) << r.name;
        GetWindowTextA(w, caption, sizeof caption);
        EXPECT_STREQ(r.want, caption) << r.name;
    }
    MainWindow = NULL;
    WindowTitle[0] = 0;
    DestroyWindow(w);
}

TEST_F(LogRead, BlocksAreNumberedAndTheLastOneIsLocated)
{
    for (const char *end : {"\r\n", "\r"}) {
        std::string e = end;
        std::string log = "***  one" + e + "Title: T" + e + "Create Service: S1" + e + "*** two" + e +
                          "Create Service: S2" + e + e + "*** three" + e + "Create Service: S3" + e;
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, log));
        EXPECT_EQ(3, InstallCount);
        EXPECT_EQ((long)log.find("*** three"), LastInstallOffset) << "line end " << (e.size() == 2 ? "CR LF" : "CR");
        EXPECT_EQ(Joined({"Service \"S1\" sel=0 no=1", "Service \"S2\" sel=0 no=2", "Service \"S3\" sel=0 no=3"}),
                  Joined(Entries("Service")));
    }
    ResetInventory();
    ASSERT_EQ(0, ReadLogText(dir, LogWith("Create Service: S\r\n")));
    EXPECT_EQ(1, InstallCount);
    EXPECT_EQ(0, LastInstallOffset);
}

// "***" with two blanks opens an ANSI block, with one blank an OEM block;
// only paths are converted in an OEM block.
TEST_F(LogRead, AnsiAndOemBlocks)
{
    std::string log = "*** OEM\r\nTitle: T\r\n"
                      "Made Dir: C:\\o1\\\x81\r\n"
                      "Execute Path: X\x81.EXE\r\n"
                      "Manufacturer: M\x81\r\n"
                      "***  ANSI\r\n"
                      "Made Dir: C:\\a\\\x81\r\n"
                      "*** OEM again\r\n"
                      "Made Dir: C:\\o2\\\x81\r\n";
    ASSERT_EQ(0, ReadLogText(dir, log));
    EXPECT_EQ(0, AnsiLog);
    std::vector<std::string> dirs = Entries("Dir");
    EXPECT_EQ(Joined({"Dir \"" + P("") + "\" sel=0 tree=0 made=32767", "Dir \"C:\\o1\\\xfc\\\" sel=0 tree=0 made=1",
                      "Dir \"C:\\a\\\x81\\\" sel=0 tree=0 made=2", "Dir \"C:\\o2\\\xfc\\\" sel=0 tree=0 made=3"}),
              Joined(dirs));
    EXPECT_EQ(Joined({"Program \"X\x81.EXE\" name=\"\" sel=0 no=1"}), Joined(Entries("Program")));
    EXPECT_STREQ("M\x81", Manufacturer);

    ResetInventory();
    ASSERT_EQ(0, ReadLogText(dir, "***  A\r\nTitle: T\r\n*** O\r\n***  A\r\n"));
    EXPECT_EQ(1, AnsiLog);
}

// One row per tag and follow-up rule; each row's log body, then the
// inventory lines of one kind that it must give.
TEST_F(LogRead, TagsAndFollowUpLines)
{
    std::string a = P("A.EXE"), b = P("B.DLL"), ini = P("NEW.INI");
    struct Row {
        const char *name;
        std::string body;
        const char *kind;
        std::vector<std::string> want;
    };
    std::string fa = "AppFile \"" + a + "\" ";
    const Row rows[] = {
        {"file copy", "File Copy: " + a + "\r\n", "AppFile",
         {fa + "backup=\"\" sel=0 created=1 register=0 device=0 copy=1 backupno=1 shared=1"}},
        {"tags are case-insensitive", "fILE cOPY: " + a + "\r\n", "AppFile",
         {fa + "backup=\"\" sel=0 created=1 register=0 device=0 copy=1 backupno=1 shared=1"}},
        {"tag without its blank", "File Copy:" + a + "\r\nFile Copy:\r\n", "AppFile", {}},
        {"file copy with backup", "File Copy: " + a + "\r\nBackup Copy: C:\\BAK\\A.EXE\r\n", "AppFile",
         {fa + "backup=\"C:\\BAK\\A.EXE\" sel=0 created=0 register=0 device=0 copy=1 backupno=1 shared=1"}},
        {"empty line before the backup", "File Copy: " + a + "\r\n\r\n\r\nBackup Copy: C:\\BAK\\A.EXE\r\n",
         "AppFile", {fa + "backup=\"C:\\BAK\\A.EXE\" sel=0 created=0 register=0 device=0 copy=1 backupno=1 shared=1"}},
        {"backup copy alone is no tag", "Backup Copy: " + a + "\r\n", "AppFile", {}},
        {"shell link", "Shell Link: " + a + "\r\n", "AppFile",
         {fa + "backup=\"\" sel=0 created=1 register=0 device=0 copy=1 backupno=1 shared=1"}},
        {"overwrite without backup", "File Overwrite: " + a + "\r\n", "AppFile", {}},
        {"overwrite with backup", "File Overwrite: " + a + "\r\nBackup Copy: C:\\B\r\n", "AppFile",
         {fa + "backup=\"C:\\B\" sel=0 created=0 register=0 device=0 copy=1 backupno=1 shared=1"}},
        {"file that is gone", "File Copy: " + P("GONE.EXE") + "\r\n", "AppFile", {}},
        {"read-ahead line goes back", "File Copy: " + a + "\r\nFile Copy: " + b + "\r\n", "AppFile",
         {fa + "backup=\"\" sel=0 created=1 register=0 device=0 copy=1 backupno=1 shared=1",
          "AppFile \"" + b + "\" backup=\"\" sel=0 created=1 register=0 device=0 copy=1 backupno=1 shared=1"}},
        {"file edit with backup", "File Edit: " + a + "\r\nBackup Copy: C:\\E.BAK\r\n", "Edit",
         {"Edit \"" + a + "\" backup=\"C:\\E.BAK\" no=1"}},
        {"file edit without backup", "File Edit: " + a + "\r\n", "Edit", {}},
        {"service", "Create Service: Svc\r\ncreate service: SVC\r\n", "Service", {"Service \"Svc\" sel=0 no=1"}},
        {"new INI file, its INI lines passed over",
         "INI New: x\r\nINI File: " + ini + "\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: now\r\nFile Copy: " + a +
             "\r\n",
         "NewIni", {"NewIni \"" + ini + "\" sel=0 no=1"}},
        {"INI lines after a new INI file make no INI entry",
         "INI New: x\r\nINI File: " + ini + "\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: now\r\n", "Ini", {}},
        {"INI File after a new INI file is read again",
         "INI New: x\r\nINI File: " + ini + "\r\nINI File: " + ini +
             "\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: now\r\nINI Old: was\r\n",
         "Ini", {"Ini \"" + ini + "\" [S] K old=\"was\" lastold=\"was\" sel=0 no=1"}},
        {"new INI file missing its INI File line", "INI New: x\r\nCreate Service: S\r\n", "NewIni", {}},
        {"new INI file of a missing file", "INI New: x\r\nINI File: " + P("NO.INI") + "\r\n", "NewIni", {}},
        {"INI change", "INI File: " + ini + "\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: now\r\nINI Old: was\r\n",
         "Ini", {"Ini \"" + ini + "\" [S] K old=\"was\" lastold=\"was\" sel=0 no=1"}},
        {"INI change without old value", "INI File: " + ini + "\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: now\r\n",
         "Ini", {"Ini \"" + ini + "\" [S] K old=\"\" lastold=\"\" sel=0 no=1"}},
        {"INI change missing its section", "INI File: " + ini + "\r\nINI Item: K\r\nINI Val: now\r\n", "Ini", {}},
        {"INI change whose key is empty now",
         "INI File: " + ini + "\r\nINI Sect: S\r\nINI Item: GONE\r\nINI Val: v\r\nINI Old: o\r\n", "Ini", {}},
        {"program with name", "Execute Path: X.EXE /u\r\nExecute Name: Clean up\r\n", "Program",
         {"Program \"X.EXE /u\" name=\"Clean up\" sel=0 no=1"}},
        {"program twice, second name ignored",
         "Execute Program: X.EXE\r\nExecute Path: X.EXE\r\nExecute Name: Late\r\n", "Program",
         {"Program \"X.EXE\" name=\"\" sel=0 no=1"}},
        {"icon", "Icon Group: G\r\nIcon Name: N\r\nIcon Cmd: C.EXE\r\n", "Icon",
         {"Icon \"G\" \"N\" cmd=\"C.EXE\" sel=0 no=1"}},
        {"icon with empty lines between", "Icon Group: G\r\n\r\nIcon Name: N\r\n\r\nIcon Cmd: C.EXE\r\n", "Icon",
         {"Icon \"G\" \"N\" cmd=\"C.EXE\" sel=0 no=1"}},
        {"icon cut short loses the icon", "Icon Group: G\r\nIcon Name: N\r\nFile Copy: " + a + "\r\n", "Icon", {}},
        {"icon cut short keeps the file", "Icon Group: G\r\nIcon Name: N\r\nFile Copy: " + a + "\r\n", "AppFile",
         {fa + "backup=\"\" sel=0 created=1 register=0 device=0 copy=1 backupno=1 shared=1"}},
        {"sub-system", "SubSystem: BDE\r\n", "SubSystem", {"SubSystem \"BDE\" sel=0"}},
        {"sub-system, last wins", "SubSystem: BDE\r\nsubsystem: bX\r\n", "SubSystem", {"SubSystem \"bX\" sel=0"}},
        {"sub-system must start with B", "SubSystem: XYZ\r\n", "SubSystem", {}},
        {"registry tree", "RegDB Tree: Software\\Kv\r\nRegDB Root: 2\r\n", "RegTree",
         {"RegTree 2 \"Software\\Kv\" sel=0 no=1"}},
        {"registry tree without root", "RegDB Tree: Software\\Kv\r\n", "RegTree",
         {"RegTree 0 \"Software\\Kv\" sel=0 no=1"}},
        {"created key", "RegDB Key: Software\\Kv\r\nRegDB Val: v\r\nRegDB Name: N\r\nRegDB Root: 1\r\n", "RegKey",
         {"RegKey 1 \"Software\\Kv\" name=\"N\" sel=0 no=1"}},
        {"key without its value line", "RegDB Key: Software\\Kv\r\nRegDB Name: N\r\n", "RegKey", {}},
        {"changed value, three strings",
         "RegDB Key: K\r\nRegDB Val: v\r\nRegDB Name: N\r\nRegDB Type: 2\r\nRegDB Root: 2\r\n"
         "RegDB Old: one\r\nRegDB Old: two\r\n\r\nRegDB Old: three\r\n",
         "RegValue",
         {"RegValue 2 \"K\" name=\"N\" type=2 old=[\"one\",\"two\",\"three\"] lastold=[\"one\",\"two\",\"three\"] sel=0 "
          "no=1"}},
        {"optional lines out of order are not taken",
         "RegDB Key: K\r\nRegDB Val: v\r\nRegDB Root: 3\r\nRegDB Name: N\r\nRegDB Old: o\r\n", "RegKey",
         {"RegKey 3 \"K\" name=\"\" sel=0 no=1"}},
        {"root out of range", "RegDB Key: K\r\nRegDB Val: v\r\nRegDB Root: 5\r\n", "RegKey", {}},
        {"type out of range", "RegDB Key: K\r\nRegDB Val: v\r\nRegDB Type: -1\r\nRegDB Old: o\r\n", "RegValue", {}},
        {"numbers: blanks, sign, trailing text", "RegDB Tree: T1\r\nRegDB Root:   +3x\r\nRegDB Tree: T2\r\nRegDB Root: x\r\n",
         "RegTree", {"RegTree 3 \"T1\" sel=0 no=1", "RegTree 0 \"T2\" sel=0 no=1"}},
        {"group cut by the end of the log", "RegDB Key: K\r\nRegDB Val: v", "RegKey",
         {"RegKey 0 \"K\" name=\"\" sel=0 no=1"}},
        {"follow-up lines alone are ignored",
         "INI Sect: S\r\nINI Item: K\r\nIcon Name: N\r\nRegDB Old: o\r\nExecute Name: N\r\nTitle: Other\r\n", "Ini", {}},
    };
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, LogWith(r.body))) << r.name;
        EXPECT_EQ(Joined(r.want), Joined(Entries(r.kind))) << r.name;
    }
}

TEST_F(LogRead, ChangedValueDataIsAStringList)
{
    ASSERT_EQ(0, ReadLogText(dir, LogWith("RegDB Key: K\r\nRegDB Val: v\r\nRegDB Type: 2\r\n"
                                          "RegDB Old: a\r\nRegDB Old: bc\r\nRegDB Old: \r\n")));
    ASSERT_EQ(1, RegValueList.Count);
    const RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, 0);
    const char want[] = "a\0bc\0\0";   // three strings (the last empty) and the closing one
    ASSERT_EQ((int)sizeof want, e->OldDataSize);
    EXPECT_EQ(0, memcmp(e->OldData, want, sizeof want));
    // Equal data is held once.
    EXPECT_EQ(e->OldData, e->LastOldData);
    EXPECT_EQ(e->OldDataSize, e->LastOldDataSize);
    EXPECT_EQ(2, e->Type);
}

TEST_F(LogRead, QualifyingMarkers)
{
    char sys[MAX_PATH];
    GetSystemDirectoryA(sys, sizeof sys);
    std::string s = std::string(sys) + "\\KVMARK.DLL";
    ASSERT_TRUE(WriteFileBytes(s, "x"));
    std::string a = P("A.EXE");
    struct Row { const char *name; std::string body; std::string want; };
    std::string tail = " register=0 device=0 copy=1 backupno=1 ";
    const Row rows[] = {
        {"system file", "File Copy: " + s + "\r\n", "SysFile \"" + s + "\" backup=\"\" sel=0 created=1" + tail + "shared=1"},
        {"non-system file", "Non-System File:\r\nFile Copy: " + s + "\r\n",
         "SysFile \"" + s + "\" backup=\"\" sel=1 created=1" + tail + "shared=1"},
        {"marker is case-insensitive", "NON-SYSTEM FILE:\r\nFile Copy: " + s + "\r\n",
         "SysFile \"" + s + "\" backup=\"\" sel=1 created=1" + tail + "shared=1"},
        {"non-system marker on an application file", "Non-System File:\r\nFile Copy: " + a + "\r\n",
         "AppFile \"" + a + "\" backup=\"\" sel=0 created=1" + tail + "shared=1"},
        {"shared counter ignored", "Shared DLL counter ignored:\r\nFile Copy: " + s + "\r\n",
         "SysFile \"" + s + "\" backup=\"\" sel=0 created=1" + tail + "shared=0"},
        {"both markers", "Non-System File:\r\nShared DLL counter ignored:\r\nFile Copy: " + s + "\r\n",
         "SysFile \"" + s + "\" backup=\"\" sel=1 created=1" + tail + "shared=0"},
        {"markers in the wrong order qualify nothing",
         "Shared DLL counter ignored:\r\nNon-System File:\r\nFile Copy: " + s + "\r\n",
         "SysFile \"" + s + "\" backup=\"\" sel=0 created=1" + tail + "shared=1"},
        {"a marker applies to the next line only", "Non-System File:\r\nCreate Service: X\r\nFile Copy: " + s + "\r\n",
         "SysFile \"" + s + "\" backup=\"\" sel=0 created=1" + tail + "shared=1"},
    };
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, LogWith(r.body))) << r.name;
        std::vector<std::string> all = Entries(r.want.substr(0, 7));
        EXPECT_EQ(r.want + "\n", Joined(all)) << r.name;
    }
    // A header line reached through a marker is still a header: a stray
    // marker must not swallow the next block.
    ResetInventory();
    ASSERT_EQ(0, ReadLogText(dir, LogWith("Non-System File:\r\n*** 2\r\nManufacturer: M\r\n")));
    EXPECT_EQ(2, InstallCount);
    EXPECT_STREQ("M", Manufacturer);
    DeleteFileA(s.c_str());
}

TEST_F(LogRead, HeaderValues)
{
    std::string log = LogWith("Uninstall MIF: first.mif\r\nManufacturer: Maker\r\nProduct: Prod\r\n"
                              "Version Number: 1.0\r\nSerial Number: 123\r\n*** 2\r\nUninstall MIF: X.MIF\r\n"
                              "Manufacturer: " + std::string(200, 'm') + "\r\n");
    ASSERT_EQ(0, ReadLogText(dir, log));
    EXPECT_STREQ("X.MIF", MifFileName);
    EXPECT_EQ(std::string(127, 'm'), Manufacturer);
    EXPECT_STREQ("Prod", ProductName);
    EXPECT_STREQ("1.0", VersionNumber);
    EXPECT_STREQ("123", SerialNumber);

    // Lines before "Title:" are not read for header values.
    ResetInventory();
    Manufacturer[0] = 0;
    ASSERT_EQ(0, ReadLogText(dir, "***  x\r\nManufacturer: Early\r\nTitle: T\r\n"));
    EXPECT_STREQ("", Manufacturer);

    // A status file name that would be cut, that leaves the Windows
    // directory or that is not a ".MIF" file is refused.
    struct Row { const char *name; std::string value; const char *want; };
    const Row rows[] = {{"127 characters", std::string(123, 'n') + ".MIF", nullptr},
                        {"128 characters", std::string(124, 'n') + ".MIF", ""},
                        {"backslash", "..\\X.MIF", ""},
                        {"drive", "C:X.MIF", ""},
                        {"empty", "", ""},
                        {"lower-case extension", "status.mif", nullptr},
                        {"another system file", "WIN.INI", ""},
                        {"extension only", ".MIF", ""}};
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, LogWith("Uninstall MIF: " + r.value + "\r\n"))) << r.name;
        EXPECT_EQ(r.want ? std::string(r.want) : r.value, std::string(MifFileName)) << r.name;
    }
}

TEST_F(LogRead, AdministratorCheck)
{
    static int calls;
    struct Doubles {
        static SC_HANDLE WINAPI Fail(LPCSTR, LPCSTR, DWORD access)
        {
            calls++;
            EXPECT_EQ((DWORD)(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE), access);
            SetLastError(ERROR_ACCESS_DENIED);
            return NULL;
        }
        static SC_HANDLE WINAPI Pass(LPCSTR m, LPCSTR d, DWORD access)
        {
            calls++;
            return OpenSCManagerA(m, d, access);
        }
    };
    std::string log = LogWith("User Rights: Admin\r\nCreate Service: S\r\nuser rights: admin\r\n");
    struct Row { const char *name; int platform; SC_HANDLE(WINAPI *open)(LPCSTR, LPCSTR, DWORD); int result, calls; };
    const Row rows[] = {{"not NT: no check", PLATFORM_OTHER, Doubles::Fail, 0, 0},
                        {"NT with rights: checked once", PLATFORM_NT, Doubles::Pass, 0, 1},
                        {"NT without rights", PLATFORM_NT, Doubles::Fail, 1, 1}};
    for (const Row &r : rows) {
        ResetInventory();
        PlatformKind = r.platform;
        Os.OpenSCManagerA = r.open;
        calls = 0;
        std::vector<SeenBox> boxes;
        EXPECT_EQ(r.result, ReadLogText(dir, log, &boxes)) << r.name;
        EXPECT_EQ(r.calls, calls) << r.name;
        if (r.result) {
            ASSERT_EQ(1u, boxes.size()) << r.name;
            EXPECT_EQ("Uninstall", boxes[0].caption);
            EXPECT_EQ(0u, boxes[0].text.find("This software was installed under an account with administrator rights."))
                << boxes[0].text;
            EXPECT_EQ(0, ServiceList.Count) << "nothing is kept to act on";
        } else {
            EXPECT_EQ(0u, boxes.size()) << r.name;
            EXPECT_EQ(1, ServiceList.Count) << r.name;
        }
    }
    UseSystemCalls();
}

TEST_F(LogRead, CarriageReturnsAloneGiveTheSameInventory)
{
    std::string body = "File Copy: " + P("A.EXE") + "\r\nBackup Copy: C:\\BAK\r\n\r\nIcon Group: G\r\n\r\n"
                       "Icon Name: N\r\nIcon Cmd: C\r\n*** 2\r\nRegDB Key: K\r\nRegDB Val: v\r\nRegDB Old: o\r\n"
                       "INI File: " + P("NEW.INI") + "\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: v\r\n"
                       "Made Dir: C:\\kvtest\\m\r\nExecute Path: P.EXE";   // no line end at the end
    std::string crlf = LogWith(body);
    std::string cr;
    for (char c : crlf)
        if (c != '\n')
            cr += c;
    ASSERT_EQ(0, ReadLogText(dir, crlf));
    std::vector<std::string> a;
    DumpInventory(CollectLine, &a);
    ResetInventory();
    ASSERT_EQ(0, ReadLogText(dir, cr));
    std::vector<std::string> b;
    DumpInventory(CollectLine, &b);
    a.erase(a.begin());     // the offsets differ with the line ends
    b.erase(b.begin());
    EXPECT_EQ(Joined(a), Joined(b));
    EXPECT_EQ(1, ProgramList.Count) << "the last line without a line end is read";
    EXPECT_EQ(1, IconList.Count);
    EXPECT_EQ(1, RegValueList.Count);
    EXPECT_EQ(1, IniEntryList.Count);
}

// Lines longer than the 255 characters of the line buffer are never cut
// into a shorter path: the line, or the group it belongs to, is ignored.
TEST_F(LogRead, TooLongLinesAreIgnoredWhole)
{
    std::string a = P("A.EXE");
    std::string longPath = a + std::string(250, 'x');
    struct Row { const char *name; std::string body; const char *kind; size_t count; };
    const Row rows[] = {
        {"file line", "File Copy: " + longPath + "\r\nFile Copy: " + a + "\r\n", "AppFile", 1},
        {"its backup line drops the group", "File Copy: " + a + "\r\nBackup Copy: " + longPath + "\r\n", "AppFile", 0},
        {"an INI old value", "INI File: " + P("NEW.INI") + "\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: v\r\nINI Old: " +
                                 std::string(300, 'o') + "\r\n",
         "Ini", 0},
        {"one old-data line", "RegDB Key: K\r\nRegDB Val: v\r\nRegDB Old: a\r\nRegDB Old: " + std::string(300, 'o') +
                                   "\r\nRegDB Old: c\r\n",
         "RegValue", 0},
        {"a display name only", "Execute Path: P.EXE\r\nExecute Name: " + std::string(300, 'n') + "\r\n", "Program", 1},
        {"1 MB line between groups", "Create Service: A\r\n" + std::string(1 << 20, 'g') + "\r\nCreate Service: B\r\n",
         "Service", 2},
    };
    for (const Row &r : rows) {
        ResetInventory();
        ASSERT_EQ(0, ReadLogText(dir, LogWith(r.body))) << r.name;
        EXPECT_EQ(r.count, Entries(r.kind).size()) << r.name << "\n" << Joined(Entries(r.kind));
    }
    // The title and the header values are only shown: they are cut.
    ResetInventory();
    ASSERT_EQ(0, ReadLogText(dir, "***  x\r\nTitle: " + std::string(400, 't') + "\r\nProduct: " +
                                      std::string(400, 'p') + "\r\n"));
    EXPECT_EQ(std::string(248, 't'), ProductTitle);
    EXPECT_EQ(std::string(127, 'p'), ProductName);
}

TEST_F(LogRead, HostileInput)
{
    unsigned seed = 12345;
    std::string garbage;
    for (int i = 0; i < 300000; i++) {
        seed = seed * 1103515245u + 12345u;
        garbage += (char)(seed >> 16);
    }
    // Binary garbage: either invalid or read through without harm.
    std::vector<SeenBox> boxes;
    int r = ReadLogText(dir, garbage, &boxes);
    EXPECT_EQ(1, r);
    EXPECT_EQ(1u, boxes.size());
    ResetInventory();
    ASSERT_EQ(0, ReadLogText(dir, LogWith(garbage + "\r\nCreate Service: After\r\n")));
    ASSERT_GE(ServiceList.Count, 1);
    EXPECT_STREQ("After", ENTRY_AT(ServiceEntry, ServiceList, ServiceList.Count - 1)->Name);

    // A NUL at the start of a line does not end the log.
    ResetInventory();
    ASSERT_EQ(0, ReadLogText(dir, LogWith(std::string("\0junk\r\nCreate Service: S\r\n", 26))));
    EXPECT_EQ(1, ServiceList.Count);

    // Unbalanced groups at the end of the log.
    const char *ends[] = {"INI File: X", "INI New: x", "INI New: x\r\nINI File: X", "RegDB Key: K", "Icon Group: G",
                          "Icon Group: G\r\nIcon Name: N", "RegDB Tree: T\r\n", "Non-System File:",
                          "Non-System File:\r\nShared DLL counter ignored:", "File Edit: X", "File Copy: X"};
    for (const char *end : ends) {
        ResetInventory();
        EXPECT_EQ(0, ReadLogText(dir, LogWith(std::string("Create Service: S\r\n") + end))) << end;
        EXPECT_EQ(1, ServiceList.Count) << end;
    }
}

TEST_F(LogRead, ManyTinyGroupsAndBlocks)
{
    std::string body;
    body.reserve(3000000);
    for (int i = 0; i < 100000; i++) {
        body += "Create Service: S" + std::to_string(i % 50000) + "\r\n";
        if (i % 1000 == 999)
            body += "*** block\r\n";
    }
    ASSERT_EQ(0, ReadLogText(dir, LogWith(body)));
    EXPECT_EQ(50000, ServiceList.Count);
    EXPECT_EQ(101, InstallCount);
    // S0 was last written in block 51 (line 50,000 lies behind 50 header lines).
    EXPECT_EQ(51, ENTRY_AT(ServiceEntry, ServiceList, 0)->InstallNo);
    EXPECT_EQ(100, ENTRY_AT(ServiceEntry, ServiceList, 49999)->InstallNo);

    // Block numbers stop at 65,535 instead of wrapping to 0.
    ResetInventory();
    std::string blocks = LogWith("");
    for (int i = 0; i < 70000; i++)
        blocks += "*** \r";
    blocks += "Create Service: Last\r";
    ASSERT_EQ(0, ReadLogText(dir, blocks));
    EXPECT_EQ(65535, InstallCount);
    EXPECT_EQ(65535, ENTRY_AT(ServiceEntry, ServiceList, 0)->InstallNo);
}

} // namespace
