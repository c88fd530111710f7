// End to end: UNINSTAL.EXE /S (and /S /R) on installation logs written here,
// then the machine is checked: files, directories, INI files, registry,
// the database engine's count, the log itself and the programs it runs.
#include <gtest/gtest.h>
#include <string.h>
#include "support/kvtest.h"

namespace {

const char RegBase[] = "Software\\KvTestE2E";

// --- machine helpers ------------------------------------------------------

std::string Lines(const std::vector<std::string> &lines)
{
    std::string out;
    for (const std::string &l : lines)
        out += l + "\r\n";
    return out;
}

void MakeDirs(const std::string &path)
{
    for (size_t at = path.find('\\', 3); ; at = path.find('\\', at + 1)) {
        CreateDirectoryA(path.substr(0, at).c_str(), NULL);
        if (at == std::string::npos)
            break;
    }
}

void Make(const std::string &path, const std::string &bytes = "x")
{
    MakeDirs(path.substr(0, path.rfind('\\')));
    ASSERT_TRUE(WriteFileBytes(path, bytes)) << path;
}

// A copy of the program outside every product directory.
std::string Uninstaller()
{
    static std::string copy;
    if (copy.empty()) {
        std::string dir = ScratchDir("e2e_bin");
        copy = dir + "\\UNINSTAL.EXE";
        EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), copy.c_str(), FALSE));
    }
    return copy;
}

ChildRun Uninstall(const std::string &options, const std::string &log,
                   std::vector<DialogAnswer> answers = {})
{
    ChildRun run = RunChild(Uninstaller(), options + " " + log, answers, 60000);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0, run.unanswered);
    return run;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        CleanKey(HKEY_CURRENT_USER, RegBase);
        CleanKey(HKEY_LOCAL_MACHINE, "Software\\Borland");
    }
    void TearDown() override
    {
        CleanKey(HKEY_CURRENT_USER, RegBase);
        CleanKey(HKEY_LOCAL_MACHINE, "Software\\Borland");
        if (!top.empty())
            RemoveTreeForTest(top);
    }
    std::string top;
};

TEST_F(EndToEnd, SilentUninstallUndoesEveryKindOfChange)
{
    top = ScratchDir("e2eall");
    const std::string app = top + "\\app", tree = top + "\\tree", made = top + "\\made";
    const std::string ini = top + "\\ini\\app.ini", other = top + "\\other";
    const std::string sys = "C:\\windows\\system32\\";
    const std::string vals = std::string(RegBase) + "\\vals";
    const std::string keep = std::string(RegBase) + "\\keep";
    const std::string regTree = std::string(RegBase) + "\\tree";

    Make(app + "\\created.txt", "created data");
    Make(app + "\\Help.hlp");
    Make(app + "\\Help.GID");
    Make(app + "\\new.ini", "[S]\r\nK=V\r\n");
    Make(other + "\\overwritten.txt", "keep me");
    Make(sys + "kvsys_plain.dll");
    Make(sys + "kvsys_nonsys.dll");
    Make(tree + "\\sub\\copied.txt");
    Make(tree + "\\user.txt");
    Make(made + "\\deep\\user.dat");
    CreateDirectoryA((made + "\\empty").c_str(), NULL);
    Make(ini, "[Main]\r\nChanged=new\r\nAdded=new\r\nOther=keep\r\n");
    for (const char *name : {"S", "E", "M", "D", "B"})
        SetRegString(HKEY_CURRENT_USER, vals, name, "installed");
    SetRegString(HKEY_CURRENT_USER, keep, "Other", "keep");
    SetRegString(HKEY_CURRENT_USER, keep + "\\a\\b", "V", "created");
    SetRegString(HKEY_CURRENT_USER, regTree + "\\x\\y", "V", "x");
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine", "UseCount", "3");

    const std::string log = app + "\\INSTALL.LOG";
    Make(log, Lines({
        "***  Installation Started 12/08/2026 09:00 ***",
        "Title: Sample Installation",
        "Execute Path: C:\\windows\\system32\\cmd.exe /c copy " + app + "\\created.txt " + top +
            "\\marker.txt",
        "SubSystem: BDE",
        "File Tree: " + tree + "\\*.*",
        "Made Dir: " + made,
        "File Copy: " + app + "\\created.txt",
        "File Copy: " + app + "\\Help.hlp",
        "File Overwrite: " + other + "\\overwritten.txt",
        "File Copy: " + sys + "kvsys_plain.dll",
        "Non-System File:",
        "File Copy: " + sys + "kvsys_nonsys.dll",
        "INI New: ",
        "INI File: " + app + "\\new.ini",
        "INI File: " + ini, "INI Sect: Main", "INI Item: Changed", "INI Val: new",
        "INI Old: before",
        "INI File: " + ini, "INI Sect: Main", "INI Item: Added", "INI Val: new",
        "RegDB Key: " + vals, "RegDB Val: installed", "RegDB Name: S", "RegDB Type: 0",
        "RegDB Root: 1", "RegDB Old: old text",
        "RegDB Key: " + vals, "RegDB Val: installed", "RegDB Name: E", "RegDB Type: 1",
        "RegDB Root: 1", "RegDB Old: %WINDIR%\\old",
        "RegDB Key: " + vals, "RegDB Val: installed", "RegDB Name: M", "RegDB Type: 2",
        "RegDB Root: 1", "RegDB Old: a", "RegDB Old: bc",
        "RegDB Key: " + vals, "RegDB Val: installed", "RegDB Name: D", "RegDB Type: 3",
        "RegDB Root: 1", "RegDB Old: -1",
        "RegDB Key: " + vals, "RegDB Val: installed", "RegDB Name: B", "RegDB Type: 4",
        "RegDB Root: 1", "RegDB Old: 0a 1B,ff",
        "RegDB Key: " + keep + "\\a\\b", "RegDB Val: created", "RegDB Name: V",
        "RegDB Type: 0", "RegDB Root: 1",
        "RegDB Tree: " + regTree, "RegDB Root: 1",
    }));

    ChildRun run = Uninstall("/S", log);
    EXPECT_TRUE(run.dialogs.empty());

    // The program ran before anything was removed.
    EXPECT_EQ("created data", ReadFileBytes(top + "\\marker.txt"));
    EXPECT_FALSE(PathExists(app + "\\created.txt"));
    EXPECT_FALSE(PathExists(app + "\\Help.hlp"));
    EXPECT_FALSE(PathExists(app + "\\Help.GID"));
    EXPECT_EQ("keep me", ReadFileBytes(other + "\\overwritten.txt"));
    EXPECT_TRUE(PathExists(sys + "kvsys_plain.dll"));
    EXPECT_FALSE(PathExists(sys + "kvsys_nonsys.dll"));
    // A copied tree goes whole; a made directory only where empty.
    EXPECT_FALSE(PathExists(tree));
    EXPECT_TRUE(PathExists(made + "\\deep\\user.dat"));
    EXPECT_FALSE(PathExists(made + "\\empty"));
    // The log and its directory.
    EXPECT_FALSE(PathExists(log));
    EXPECT_FALSE(PathExists(app));
    // INI files.
    EXPECT_EQ("before", IniRead(ini, "Main", "Changed"));
    EXPECT_EQ("<none>", IniRead(ini, "Main", "Added"));
    EXPECT_EQ("keep", IniRead(ini, "Main", "Other"));
    // Registry values of every type.
    struct Row { const char *name; DWORD type; std::string bytes; };
    const Row rows[] = {
        {"S", REG_SZ, std::string("old text\0", 9)},
        {"E", REG_EXPAND_SZ, std::string("%WINDIR%\\old\0", 13)},
        {"M", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {"D", REG_DWORD, std::string("\xFF\xFF\xFF\xFF", 4)},
        {"B", REG_BINARY, std::string("\x0A\x1B\xFF", 3)},
    };
    for (const Row &r : rows) {
        DWORD type;
        EXPECT_EQ(r.bytes, ReadRegValue(HKEY_CURRENT_USER, vals, r.name, &type)) << r.name;
        EXPECT_EQ(r.type, type) << r.name;
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, keep + "\\a"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, keep));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, regTree));
    DWORD type;
    EXPECT_EQ(std::string("2\0", 2),
              ReadRegValue(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine", "UseCount", &type));
    DeleteFileA((sys + "kvsys_plain.dll").c_str());
}

TEST_F(EndToEnd, DatabaseEngineLastUser)
{
    top = ScratchDir("e2edb");
    SetRegValue(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine", "UseCount", REG_DWORD,
             std::string("\x01\0\0\0", 4));
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\Borland\\BLW32\\Links", "V", "x");
    const std::string log = top + "\\INSTALL.LOG";
    Make(log, Lines({"***  Installation Started", "Title: Db Installation", "SubSystem: BDE"}));
    ChildRun run = Uninstall("/S", log);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Borland"));
    EXPECT_FALSE(PathExists(log));
}

// The local server's window, on a thread of its own that keeps pumping (a
// window that does not would hold up the child's settings broadcast).
HANDLE ServerReady;
DWORD ServerThreadId;

DWORD WINAPI ServerThread(LPVOID)
{
    HWND w = StartServerWindow();
    SetEvent(ServerReady);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);
    DestroyWindow(w);
    return 0;
}

TEST_F(EndToEnd, ServerPromptAbortLeavesEverything)
{
    top = ScratchDir("e2eabort");
    const std::string app = top + "\\app", ini = top + "\\app.ini";
    const std::string key = std::string(RegBase) + "\\abort";
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine", "UseCount", "1");
    Make(app + "\\created.txt");
    Make(ini, "[Main]\r\nK=new\r\n");
    SetRegString(HKEY_CURRENT_USER, key, "V", "installed");
    SetRegString(HKEY_CURRENT_USER, key + "\\created", "V", "x");
    const std::string log = app + "\\INSTALL.LOG";
    const std::string logText = Lines({
        "***  Installation Started", "Title: Abort Installation", "SubSystem: BDE",
        "File Copy: " + app + "\\created.txt",
        "INI File: " + ini, "INI Sect: Main", "INI Item: K", "INI Val: new", "INI Old: old",
        "RegDB Key: " + key, "RegDB Val: installed", "RegDB Name: V", "RegDB Type: 0",
        "RegDB Root: 1", "RegDB Old: old",
        "RegDB Key: " + key + "\\created", "RegDB Val: x", "RegDB Name: V", "RegDB Type: 0",
        "RegDB Root: 1",
    });
    Make(log, logText);

    ServerReady = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = CreateThread(NULL, 0, ServerThread, NULL, 0, &ServerThreadId);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ServerReady, 10000));

    ChildRun run = Uninstall("/S", log, {{"Uninstall", IDABORT, ""}});

    PostThreadMessageA(ServerThreadId, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(ServerReady);

    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_EQ("Uninstall", run.dialogs[0].caption);
    EXPECT_NE(std::string::npos, run.dialogs[0].text.find("interbase server must be stopped"))
        << run.dialogs[0].text;
    EXPECT_EQ(logText, ReadFileBytes(log));
    EXPECT_TRUE(PathExists(app + "\\created.txt"));
    EXPECT_EQ("new", IniRead(ini, "Main", "K"));
    DWORD type;
    EXPECT_EQ(std::string("installed\0", 10), ReadRegValue(HKEY_CURRENT_USER, key, "V", &type));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key + "\\created"));
    EXPECT_EQ(std::string("1\0", 2),
              ReadRegValue(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine", "UseCount", &type));
}

TEST_F(EndToEnd, RollbackOfTheLastOfTwoInstallations)
{
    top = ScratchDir("e2erb");
    const std::string app = top + "\\app", ini = top + "\\ini\\app.ini";
    const std::string key = std::string(RegBase) + "\\rollback";
    Make(app + "\\one.txt");
    Make(app + "\\two.txt");
    Make(app + "\\shared.dll", "version 2");
    Make(app + "\\shared.bak", "version 1");
    Make(ini, "[Main]\r\nK=v2\r\n");
    SetRegString(HKEY_CURRENT_USER, key, "V", "v2");
    SetRegString(HKEY_CURRENT_USER, key + "\\created", "V", "x");
    const std::string first = Lines({
        "***  Installation Started (first)", "Title: Rollback Installation",
        "File Copy: " + app + "\\one.txt",
        "File Copy: " + app + "\\shared.dll",
        "INI File: " + ini, "INI Sect: Main", "INI Item: K", "INI Val: v1", "INI Old: v0",
        "RegDB Key: " + key, "RegDB Val: v1", "RegDB Name: V", "RegDB Type: 0", "RegDB Root: 1",
        "RegDB Old: v0",
    });
    const std::string second = Lines({
        "***  Installation Started (second)",
        "File Copy: " + app + "\\two.txt",
        "File Copy: " + app + "\\shared.dll", "Backup Copy: " + app + "\\shared.bak",
        "INI File: " + ini, "INI Sect: Main", "INI Item: K", "INI Val: v2", "INI Old: v1",
        "RegDB Key: " + key, "RegDB Val: v2", "RegDB Name: V", "RegDB Type: 0", "RegDB Root: 1",
        "RegDB Old: v1",
        "RegDB Key: " + key + "\\created", "RegDB Val: x", "RegDB Name: V", "RegDB Type: 0",
        "RegDB Root: 1",
    });
    const std::string log = app + "\\INSTALL.LOG";
    Make(log, first + second);

    Uninstall("/S /R", log);

    EXPECT_TRUE(PathExists(app + "\\one.txt"));
    EXPECT_FALSE(PathExists(app + "\\two.txt"));
    EXPECT_EQ("version 1", ReadFileBytes(app + "\\shared.dll"));
    EXPECT_FALSE(PathExists(app + "\\shared.bak"));
    EXPECT_EQ("v1", IniRead(ini, "Main", "K"));
    DWORD type;
    EXPECT_EQ(std::string("v1\0", 3), ReadRegValue(HKEY_CURRENT_USER, key, "V", &type));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key + "\\created"));
    // The log keeps the first installation only.
    EXPECT_EQ(first, ReadFileBytes(log));
}

TEST_F(EndToEnd, RollbackOfASingleInstallationDeletesTheLog)
{
    top = ScratchDir("e2erb1");
    const std::string app = top + "\\app";
    Make(app + "\\one.txt");
    Make(app + "\\keep.txt");
    const std::string log = app + "\\INSTALL.LOG";
    Make(log, Lines({"***  Installation Started", "Title: Single Installation",
                     "File Copy: " + app + "\\one.txt"}));
    Uninstall("/S /R", log);
    EXPECT_FALSE(PathExists(app + "\\one.txt"));
    EXPECT_FALSE(PathExists(log));
    EXPECT_TRUE(PathExists(app + "\\keep.txt"));
}

}  // namespace
