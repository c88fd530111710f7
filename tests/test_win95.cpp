// The Windows 95 and 98 path, with the platform-sensitive calls answered as
// those systems answer them (support/win95.h): identities without NT's
// handles, protection by them, the preview's probe of held files, the
// temporary copy, Program Files from the registry, the open-file dialog's
// size, restart records without MoveFileExA, and services left alone.
#include <gtest/gtest.h>
#include <ctype.h>
#include <string.h>
#include <algorithm>
#include "support/kvtest.h"
#include "support/linktest.h"
#include "support/win95.h"
#include "base/oscalls.h"
#include "base/paths.h"
#include "machine/pending.h"
#include "machine/protect.h"
#include "app/relocate.h"
#include "base/rows.h"
#include "app/runflow.h"
#include "base/state.h"
#include "base/text.h"
#include "machine/wholefile.h"
#include "machine/preview.h"
#include "engine/services.h"
#include "engine/uninstall.h"
#include "log/inventory.h"
#include "log/logread.h"
#include "base/refusals.h"

namespace {

std::string Upper(std::string s)
{
    for (char &c : s)
        c = (char)toupper((unsigned char)c);
    return s;
}

std::string Lower(std::string s)
{
    for (char &c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

class Win95Path : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallWin95Calls();
        PlatformKind = PLATFORM_OTHER;
        SystemDir[0] = 0;
        TempCopyPath[0] = 0;
        Preview = 0;
        RestartNeeded = 0;
        TempNameCounter = 0;
        FreeRefusals();
        ForgetProtectedFolders();
        DeleteFileA("C:\\windows\\WININIT.INI");
    }
    void TearDown() override
    {
        // Nothing the 95/98 path did may have needed NT.
        EXPECT_EQ(0, Win95().NtOnlyOpens);
        EXPECT_EQ(0, Win95().FolderOpens);
        EXPECT_EQ(0, Win95().ServiceManagerCalls);
        EXPECT_EQ(0, Win95().MoveFileExCalls);
        UseSystemCalls();
        Preview = 0;
        RestartNeeded = 0;
        ForgetPlannedGone();
        ForgetProtectedFolders();
        FreeRefusals();
        DeleteFileA("C:\\windows\\WININIT.INI");
    }
    static int Identity(const std::string &path, FileIdentity *id)
    {
        memset(id, '#', sizeof *id);
        return GetFileIdentity(path.c_str(), id);
    }
};

TEST_F(Win95Path, IdentityMeetsEverySpellingOfOneFolderAndNoOther)
{
    std::string top = ScratchDir("w95_identity");
    std::string dir = top + "\\Long Folder Name", sibling = dir + "2", sub = dir + "\\Inner Folder";
    std::string file = dir + "\\a long file name.txt";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(sibling.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), NULL));
    MakeFile(file, "x");
    ASSERT_NE(dir, ShortOf(dir)) << "Wine should give long names a short form";
    // The file is held as another program would hold it: it answers all the same.
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    struct Row { std::string a, b; bool same; };
    const Row rows[] = {
        {dir, ShortOf(dir), true},
        {dir, Lower(ShortOf(dir)), true},
        {dir, Upper(dir) + "\\", true},
        {dir, sub + "\\..", true},
        {dir, top + "\\.\\Long Folder Name", true},
        {file, ShortOf(file), true},
        {file, Upper(file), true},
        {"C:\\", "c:\\", true},
        {dir, sibling, false},          // one name the start of the other
        {dir, sub, false},
        {dir, top, false},
        {dir, file, false},
        {file, sibling, false},
    };
    for (const Row &r : rows) {
        FileIdentity a, b;
        ASSERT_EQ(0, Identity(r.a, &a)) << r.a;
        ASSERT_EQ(0, Identity(r.b, &b)) << r.b;
        EXPECT_EQ(r.same, SameIdentity(&a, &b) != 0) << r.a << " | " << r.b;
    }
    CloseHandle(held);

    // Nothing there, or a pattern that a search would match, has none.
    FileIdentity id;
    for (const std::string &p : {dir + "\\missing", top + "\\Long Folder*", top + "\\Long Folder Nam?"})
        EXPECT_EQ(1, Identity(p, &id)) << p;
    // Another medium in the drive is another folder, whatever its spelling.
    FileIdentity before, after;
    ASSERT_EQ(0, Identity(dir, &before));
    Win95().SerialOffset = 1;
    ASSERT_EQ(0, Identity(dir, &after));
    EXPECT_FALSE(SameIdentity(&before, &after));
    RemoveTreeForTest(top);
}

TEST_F(Win95Path, ProtectedFoldersAnswerToTheirSpellings)
{
    ASSERT_TRUE(MakeUncAlias());
    std::string top = ScratchDir("w95_protect");
    ASSERT_TRUE(CreateDirectoryA((top + "\\windows").c_str(), NULL));
    const std::string yes[] = {
        "C:\\", "C:\\windows", "c:\\WINDOWS\\System32\\", ShortOf("C:\\windows\\system32"),
        "C:\\windows\\.", "C:\\\\windows", "C:/windows", "C:\\windows\\fonts\\..",
        "C:\\Program Files", ShortOf("C:\\Program Files"),
        // A share that shows them: no spelling meets, their directory entries do.
        "\\\\localhost\\c$\\windows", "\\\\localhost\\c$\\windows\\system32\\", "\\\\localhost\\c$\\users",
    };
    for (const std::string &p : yes)
        EXPECT_TRUE(IsProtectedFolder(p.c_str())) << p;
    const std::string no[] = {top, top + "\\missing", "C:\\windows\\kvtest_not_there", "C:\\windowsx",
                              "C:\\Program Files\\Kv Product", top + "\\windows",
                              "\\\\localhost\\c$\\kvtest\\w95_protect", "\\\\localhost\\c$\\kvtest\\w95_protect\\windows"};
    for (const std::string &p : no)
        EXPECT_FALSE(IsProtectedFolder(p.c_str())) << p;
    RemoveTreeForTest(top);
}

TEST_F(Win95Path, SystemFilesAreKnownThroughAShare)
{
    ASSERT_TRUE(MakeUncAlias());
    std::string top = ScratchDir("w95_sysfiles");
    const std::string sys = "C:\\windows\\system32\\kvw95sys.dll";
    MakeFile(sys, "MZ");
    MakeFile(top + "\\system32\\kvw95app.dll", "MZ");      // a look-alike folder of the product's
    std::string log = top + "\\INSTALL.LOG";
    MakeFile(log, "***  Installation Log\r\nTitle: System files\r\n"
                  "File Copy: \\\\localhost\\c$\\windows\\system32\\kvw95sys.dll\r\n"
                  "File Copy: \\\\localhost\\c$\\kvtest\\w95_sysfiles\\system32\\kvw95app.dll\r\n");
    ASSERT_EQ(0, CreateInventory());
    char root[PATH_CAP] = "";
    ASSERT_EQ(0, ReadInstallLog(log.c_str(), root));
    ASSERT_EQ(1, SysFileList.Count);
    EXPECT_STREQ("\\\\localhost\\c$\\windows\\system32\\kvw95sys.dll", ENTRY_AT(FileEntry, SysFileList, 0)->Path);
    ASSERT_EQ(1, AppFileList.Count);
    EXPECT_NE(nullptr, strstr(ENTRY_AT(FileEntry, AppFileList, 0)->Path, "kvw95app.dll"));
    FreeInventory();
    DeleteFileA(sys.c_str());
    RemoveTreeForTest(top);
}

// The environment names that would also name Program Files (Wine sets
// them; Windows 95 and 98 do not), taken away for the test.
class NoProgramFilesVariables {
    std::vector<std::pair<std::string, std::string>> saved;
public:
    NoProgramFilesVariables()
    {
        for (const char *name : {"ProgramFiles", "ProgramW6432", "CommonProgramFiles", "CommonProgramW6432",
                                 "ProgramFiles(x86)", "CommonProgramFiles(x86)"}) {
            char value[MAX_PATH];
            DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
            if (n && n < sizeof value)
                saved.push_back({name, value});
            SetEnvironmentVariableA(name, NULL);
        }
    }
    ~NoProgramFilesVariables()
    {
        for (const auto &v : saved)
            SetEnvironmentVariableA(v.first.c_str(), v.second.c_str());
    }
};

TEST_F(Win95Path, ProgramFilesComeFromTheRegistryWhereTheShellCannotNameThem)
{
    std::string top = ScratchDir("w95_progfiles");
    // Side by side, so that each value is seen to count on its own.
    std::string programs = top + "\\Program Files", common = top + "\\Common Files";
    std::string product = programs + "\\Kv Product";
    ASSERT_TRUE(CreateDirectoryA(programs.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(common.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(product.c_str(), NULL));
    NoProgramFilesVariables noVariables;

    struct Row { const char *name; DWORD type; std::string programsData, commonData; bool taken; };
    const Row rows[] = {
        {"plain paths", REG_SZ, programs + '\0', common + '\0', true},
        {"without their NUL", REG_SZ, programs, common, true},
        {"expandable", REG_EXPAND_SZ, programs + '\0', common + '\0', false},
        {"relative", REG_SZ, std::string("Program Files") + '\0', std::string("Common Files") + '\0', false},
        {"dotted", REG_SZ, top + "\\x\\..\\Program Files" + '\0', top + "\\.\\Common Files" + '\0', false},
        {"more after the NUL", REG_SZ, programs + '\0' + "x" + '\0', common + '\0' + "x" + '\0', false},
        {"missing", VALUE_MISSING, "", "", false},
    };
    for (Win95Shell shell : {SHELL_95, SHELL_98}) {
        for (const Row &r : rows) {
            Win95().Shell = shell;
            Win95().ProgramFilesType = Win95().CommonFilesType = r.type;
            Win95().ProgramFilesData = r.programsData;
            Win95().CommonFilesData = r.commonData;
            ForgetProtectedFolders();
            std::string what = std::string(r.name) + (shell == SHELL_95 ? " (95)" : " (98)");
            EXPECT_EQ(r.taken, IsProtectedFolder(programs.c_str()) != 0) << what;
            EXPECT_EQ(r.taken, IsProtectedFolder(common.c_str()) != 0) << what;
            EXPECT_EQ(r.taken, IsProtectedFolder(ShortOf(common).c_str()) != 0) << what;
            EXPECT_FALSE(IsProtectedFolder(product.c_str())) << what << ": a product's folder stays removable";
        }
    }
    RemoveTreeForTest(top);
}

TEST_F(Win95Path, PreviewTellsHeldFilesFromFreeOnes)
{
    std::string dir = ScratchDir("w95_preview");
    std::string file = dir + "\\a long file name.dll";
    struct Row { const char *name; DWORD access, share; bool held; };
    const Row rows[] = {
        {"free", 0, 0, false},
        {"held without sharing", GENERIC_READ, 0, true},
        {"held for reading", GENERIC_READ, FILE_SHARE_READ, true},
        // 95 and 98 delete no open file, whatever its sharing.
        {"held with every sharing", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
    };
    Preview = 1;
    for (const Row &r : rows) {
        MakeFile(file, "installed");
        MakeFile(dir + "\\backup.bak", "original");
        ForgetPlannedGone();
        HANDLE h = r.access ? CreateFileA(file.c_str(), r.access, r.share, NULL, OPEN_EXISTING, 0, NULL)
                            : INVALID_HANDLE_VALUE;
        ASSERT_EQ(r.access != 0, h != INVALID_HANDLE_VALUE) << r.name;
        SetLastError(0);
        EXPECT_EQ(r.held ? 0 : 1, WouldDeleteFile(file.c_str())) << r.name;
        if (r.held) {
            char reason[64];
            ErrorReason(reason, sizeof reason, GetLastError());
            EXPECT_STREQ("IN-USE", reason) << r.name;
        }
        ForgetPlannedGone();
        EXPECT_EQ(r.held ? REPLACE_STAGED : REPLACE_DONE,
                  ReplaceFileLater((dir + "\\backup.bak").c_str(), file.c_str())) << r.name;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        EXPECT_EQ("installed", ReadFileBytes(file)) << r.name << ": a preview changes nothing";
        EXPECT_EQ("original", ReadFileBytes(dir + "\\backup.bak")) << r.name;
    }
    ForgetPlannedGone();
    SetLastError(0);
    EXPECT_EQ(0, WouldDeleteFile((dir + "\\missing.dll").c_str()));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    Preview = 0;
    RemoveTreeForTest(dir);
}

std::vector<std::string> TempCopies()
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((std::string(temp) + "KVR*.EXE").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    do
        out.push_back(std::string(temp) + fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
}

// Another program puts a file of its own under the copy's name between
// the copy's two opens.
void Replace(const char *path)
{
    DeleteFileA(path);
    WriteFileBytes(path, "MZ planted");
}

TEST_F(Win95Path, TheTemporaryCopyIsMadeAndHeld)
{
    char own[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(NULL, own, sizeof own));
    std::string program = ReadFileBytes(own);
    ASSERT_GT(program.size(), 1000u);

    // A file swapped in under the copy's name is never taken for it.
    Win95().BeforeHoldOpen = Replace;
    MakeTempCopy();
    EXPECT_EQ(1, InPlace);
    EXPECT_STREQ("", TempCopyPath);
    EXPECT_TRUE(TempCopies().empty()) << "the planted file is not left behind";
    Win95().BeforeHoldOpen = NULL;

    MakeTempCopy();
    ASSERT_EQ(0, InPlace);
    ASSERT_STRNE("", TempCopyPath);
    std::string copy = TempCopyPath;
    EXPECT_TRUE(program == ReadFileBytes(copy)) << "the copy holds the program's bytes";
    HANDLE writer = CreateFileA(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer) << "the copy is held against writers";
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    // Its deletion at the restart is recorded for WININIT.EXE, in 8.3 form.
    EXPECT_NE(std::string::npos, ReadFileBytes("C:\\windows\\WININIT.INI").find("NUL=" + ShortOf(copy) + "\r\n"))
        << ReadFileBytes("C:\\windows\\WININIT.INI");
    // The copy stays held until the program ends (as in a real run).
    TempCopyPath[0] = 0;
}

TEST_F(Win95Path, RestartRecordsAndReplacementsDoWithoutMoveFileEx)
{
    std::string dir = ScratchDir("w95 restart");
    std::string target = dir + "\\A Long Library Name.dll", backup = dir + "\\backup.bak";
    MakeFile(target, "installed");
    MakeFile(backup, "original");
    // A backup on the file's drive is copied into place, not renamed.
    std::string free = dir + "\\Free Library.dll", freeBackup = dir + "\\free.bak";
    MakeFile(free, "installed");
    MakeFile(freeBackup, "original");
    EXPECT_EQ(REPLACE_DONE, ReplaceFileLater(freeBackup.c_str(), free.c_str()));
    EXPECT_EQ("original", ReadFileBytes(free));
    EXPECT_FALSE(PathExists(freeBackup));
    // A free file is replaced at once; its old content goes.
    EXPECT_EQ(WHOLE_DONE, WriteWholeFile(target.c_str(), "new", 3, 0));
    EXPECT_EQ("new", ReadFileBytes(target));
    // A held one is staged in WININIT.INI, in 8.3 form.
    HANDLE h = CreateFileA(target.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(REPLACE_STAGED, ReplaceFileLater(backup.c_str(), target.c_str()));
    CloseHandle(h);
    EXPECT_EQ(1, RestartNeeded);
    char value[PATH_CAP];
    GetPrivateProfileStringA("rename", ShortOf(target).c_str(), "", value, sizeof value, "WININIT.INI");
    EXPECT_EQ(ShortOf(dir + "\\~KVU0000.TMP"), value);
    // A deletion at the restart names the file as WININIT.EXE can read it.
    std::string victim = dir + "\\A Long Temporary Name.tmp";
    MakeFile(victim, "x");
    DeleteAtRestart(victim.c_str());
    std::string wininit = ReadFileBytes("C:\\windows\\WININIT.INI");
    EXPECT_NE(std::string::npos, wininit.find("NUL=" + ShortOf(victim) + "\r\n")) << wininit;
    EXPECT_EQ(std::string::npos, wininit.find("Long Temporary")) << wininit;
    // SYSTEM.INI gets its device line disabled through a copy all the same.
    const char *systemIni = "C:\\windows\\SYSTEM.INI";
    bool had = false;
    std::string before = ReadFileBytes(systemIni, &had);
    ASSERT_TRUE(WriteFileBytes(systemIni, "[386Enh]\r\ndevice=KVVXD.386\r\n"));
    CopyText(SystemDir, sizeof SystemDir, "C:\\windows\\system32");
    EXPECT_EQ(DEVICE_DONE, RemoveDeviceLine("C:\\windows\\system32\\KVVXD.386"));
    EXPECT_EQ("[386Enh]\r\n;device=KVVXD.386\r\n", ReadFileBytes(systemIni));
    SystemDir[0] = 0;
    if (had)
        WriteFileBytes(systemIni, before);
    else
        DeleteFileA(systemIni);
    RemoveTreeForTest(dir);
}

TEST_F(Win95Path, TheOpenFileDialogIsAskedWithTheOldSize)
{
    struct Row { const char *answer; const char *logPath; };
    const Row rows[] = {{"C:\\KVAPP\\INSTALL.LOG", "C:\\KVAPP\\INSTALL.LOG"}, {"", ""}};
    for (const Row &r : rows) {
        Win95().DialogAnswer = r.answer;
        CopyText(LogPath, sizeof LogPath, "#");
        MainWindow = NULL;
        AskForLog();
        EXPECT_STREQ(r.logPath, LogPath) << r.answer;
        EXPECT_EQ((DWORD)OPENFILENAME_SIZE_VERSION_400A, Win95().DialogSize);
    }
    EXPECT_EQ(2, Win95().DialogCalls);
    if (sizeof(void *) == 4) {  // the shipped program; the 64-bit twin's record is larger
        EXPECT_EQ(76u, (unsigned)OPENFILENAME_SIZE_VERSION_400A);
    }
}

TEST_F(Win95Path, ServicesAreSkippedWithoutAskingTheServiceManager)
{
    std::string dir = ScratchDir("w95_services");
    std::string log = dir + "\\INSTALL.LOG";
    MakeFile(dir + "\\App\\app.exe", "MZ");
    MakeFile(log, "***  Installation Log\r\nTitle: Services\r\nUser Rights: Admin\r\nMade Dir: " + dir +
                      "\\App\r\nFile Copy: " + dir + "\\App\\app.exe\r\nCreate Service: KvService95\r\n");
    SettingsPath[0] = 0;
    MainWindow = WizardWindow = NULL;
    RowsWanted = 1;
    FreeRows();
    ASSERT_EQ(0, CreateInventory());
    char root[PATH_CAP] = "";
    ASSERT_EQ(0, ReadInstallLog(log.c_str(), root));
    ASSERT_EQ(1, ServiceList.Count);
    UninstallMethod = METHOD_AUTOMATIC;
    Rollback = Cancelled = 0;
    RunUninstall(log.c_str());
    std::vector<std::string> rows;
    for (int i = 0; i < RowCount(); i++) {
        const ReportRow *r = RowAt(i);
        rows.push_back(std::string(r->Kind) + " " + r->Target + " " + r->Action + " " + r->Outcome + " " +
                       r->Reason);
    }
    EXPECT_NE(rows.end(), std::find(rows.begin(), rows.end(), "SERVICE KvService95 NONE SKIPPED UNSUPPORTED"))
        << ::testing::PrintToString(rows);
    EXPECT_FALSE(PathExists(dir + "\\App\\app.exe")) << "the rest of the log is undone";
    // Asked directly, the service removal says the call is not there.
    SetLastError(0);
    EXPECT_EQ(0, RemoveService("KvService95"));
    EXPECT_EQ((DWORD)ERROR_CALL_NOT_IMPLEMENTED, GetLastError());
    RowsWanted = 0;
    FreeRows();
    FreeInventory();
    RemoveTreeForTest(dir);
}

} // namespace
