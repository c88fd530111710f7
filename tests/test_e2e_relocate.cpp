// The temporary copy, the clean-up run that removes the uninstaller's own
// file and folder, and the in-place mode.
#include <gtest/gtest.h>
#include "kvtest.h"
#include <ctype.h>

namespace {

std::string Lower(std::string s)
{
    for (char &c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

std::string TempDir()
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return dir;
}

// The name an earlier version used for every copy.
std::string FixedCopyName()
{
    return TempDir() + "KVR1A2B.EXE";
}

// The temporary copies now in the temporary folder.
std::vector<std::string> Copies()
{
    std::vector<std::string> out;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((TempDir() + "KVR*.EXE").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    do
        out.push_back(TempDir() + fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return out;
}

// A clean-up copy of an earlier test may still be ending and hold its file:
// wait for it (at most 10 s) rather than count it as this test's copy.
void DeleteCopies()
{
    for (int tries = 0; tries < 100; tries++) {
        std::vector<std::string> left = Copies();
        if (left.empty())
            return;
        for (const std::string &c : left)
            DeleteFileA(c.c_str());
        Sleep(100);
    }
}

bool WaitGone(const std::string &path, DWORD ms)
{
    DWORD start = GetTickCount();
    while (PathExists(path)) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(100);
    }
    return true;
}

struct Product {
    std::string dir, exe, log;
};

Product MakeProduct(const std::string &name, bool listSelf)
{
    Product p;
    p.dir = ScratchDir(name);
    p.exe = p.dir + "\\UNINSTAL.EXE";
    p.log = p.dir + "\\INSTALL.LOG";
    EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), p.exe.c_str(), FALSE));
    EXPECT_TRUE(WriteFileBytes(p.dir + "\\data.txt", "data"));
    std::string log = "***  Installation Started\r\nTitle: Reloc Test Installation\r\n"
                      "Made Dir: " + p.dir + "\r\n"
                      "File Copy: " + p.dir + "\\data.txt\r\n";
    if (listSelf)
        log += "File Copy: " + p.exe + "\r\n";
    EXPECT_TRUE(WriteFileBytes(p.log, log));
    return p;
}

TEST(Relocate, UninstallerListedInTheLogRemovesItselfAndItsFolder)
{
    Product p = MakeProduct("Reloc Listed App", true);
    ChildRun run = RunChild(p.exe, "/S " + ShortOf(p.log), {}, 90000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.dialogs.empty());
    // The clean-up copy waits about a second, then deletes file and folder.
    EXPECT_TRUE(WaitGone(p.exe, 60000)) << "program file still there";
    EXPECT_TRUE(WaitGone(p.dir, 5000)) << "folder still there";
}

TEST(Relocate, UnlistedUninstallerLeavesItsCopyForTheRestart)
{
    DeleteCopies();
    Product p = MakeProduct("Reloc Unlisted App", false);
    ChildRun run = RunChild(p.exe, "/S " + ShortOf(p.log), {}, 90000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_FALSE(PathExists(p.dir + "\\data.txt"));
    std::vector<std::string> copies = Copies();
    ASSERT_EQ(1u, copies.size()) << "the copy stays until the next restart";
    EXPECT_EQ(ReadFileBytes(UninstallerPath()), ReadFileBytes(copies[0])) << "a whole copy";
    std::string pending = Lower(PendingRenames());
    EXPECT_NE(std::string::npos, pending.find(Lower(copies[0]) + "||")) << pending;
    // A second run makes a copy of its own.
    Product q = MakeProduct("Reloc Unlisted Again", false);
    RunChild(q.exe, "/S " + ShortOf(q.log), {}, 90000);
    EXPECT_EQ(2u, Copies().size());
    DeleteCopies();
    RemoveTreeForTest(q.dir);
    RemoveTreeForTest(p.dir);
}

TEST(Relocate, InPlaceRunDeletesSettingsAndProgramWithoutACopy)
{
    DeleteCopies();
    Product p = MakeProduct("Reloc In Place", false);
    std::string settings = p.dir + "\\UNINSTAL.INI";
    ASSERT_TRUE(WriteFileBytes(settings, "[Settings]\r\nNo Background=1\r\n"));
    ChildRun run = RunChild(p.exe, "/Z /S " + ShortOf(p.log), {}, 90000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_FALSE(PathExists(settings));
    EXPECT_TRUE(Copies().empty()) << "no temporary copy in place";
    // A running program cannot delete its own file: it goes at the restart.
    if (PathExists(p.exe)) {
        std::string pending = Lower(PendingRenames());
        EXPECT_NE(std::string::npos, pending.find(Lower(p.exe) + "||")) << pending;
    }
    RemoveTreeForTest(p.dir);
}

TEST(Relocate, AProgramPlantedUnderTheOldCopyNameNeverRuns)
{
    DeleteCopies();
    CleanKey(HKEY_CURRENT_USER, "Software\\KvTest\\SelfReg");
    // A program that records each start, planted and held so that it cannot
    // be overwritten.
    const std::string planted = FixedCopyName();
    ASSERT_TRUE(CopyFileA((BinDir() + "\\exe_server.exe").c_str(), planted.c_str(), FALSE));
    HANDLE hold = CreateFileA(planted.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    std::string plantedBytes = ReadFileBytes(planted);
    Product p = MakeProduct("Reloc Planted", true);
    ChildRun run = RunChild(p.exe, "/S " + ShortOf(p.log), {}, 90000);
    EXPECT_FALSE(run.timedOut);
    // The run's own copy did the clean-up.
    EXPECT_TRUE(WaitGone(p.exe, 60000)) << "program file still there";
    EXPECT_TRUE(WaitGone(p.dir, 5000)) << "folder still there";
    CloseHandle(hold);
    EXPECT_EQ("<none>", ReadRegText(HKEY_CURRENT_USER, "Software\\KvTest\\SelfReg", "ExeCommandLine"));
    EXPECT_EQ(plantedBytes, ReadFileBytes(planted)) << "never overwritten";
    CleanKey(HKEY_CURRENT_USER, "Software\\KvTest\\SelfReg");
    DeleteCopies();
}

TEST(Relocate, ACopyThatCannotBeMadeMeansARunInPlace)
{
    DeleteCopies();
    // The child's temporary folder does not exist: no copy can be written.
    char saved[MAX_PATH] = "";
    DWORD had = GetEnvironmentVariableA("TMP", saved, sizeof saved);
    std::string missing = ScratchDir("reloc_notemp") + "\\missing";
    SetEnvironmentVariableA("TMP", missing.c_str());
    SetEnvironmentVariableA("TEMP", missing.c_str());
    Product p = MakeProduct("Reloc No Copy", false);
    std::string settings = p.dir + "\\UNINSTAL.INI";
    ASSERT_TRUE(WriteFileBytes(settings, "[Settings]\r\nNo Background=1\r\n"));
    ChildRun run = RunChild(p.exe, "/S " + ShortOf(p.log), {}, 90000);
    SetEnvironmentVariableA("TMP", had ? saved : NULL);
    SetEnvironmentVariableA("TEMP", had ? saved : NULL);
    EXPECT_FALSE(run.timedOut);
    EXPECT_FALSE(PathExists(p.dir + "\\data.txt"));
    EXPECT_TRUE(Copies().empty());
    // As with /Z: the settings file goes, the program now or at the restart.
    EXPECT_FALSE(PathExists(settings));
    if (PathExists(p.exe)) {
        std::string pending = Lower(PendingRenames());
        EXPECT_NE(std::string::npos, pending.find(Lower(p.exe) + "||")) << pending;
    }
    RemoveTreeForTest(p.dir);
}

} // namespace
