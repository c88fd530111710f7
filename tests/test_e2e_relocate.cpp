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

std::string TempCopy()
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + "KVR1A2B.EXE";
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
    ChildRun run = RunChild(p.exe, "/S " + ShortOf(p.log), {}, 30000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.dialogs.empty());
    // The clean-up copy waits about a second, then deletes file and folder.
    EXPECT_TRUE(WaitGone(p.exe, 15000)) << "program file still there";
    EXPECT_TRUE(WaitGone(p.dir, 5000)) << "folder still there";
}

TEST(Relocate, UnlistedUninstallerLeavesItsCopyForTheRestart)
{
    DeleteFileA(TempCopy().c_str());
    Product p = MakeProduct("Reloc Unlisted App", false);
    ChildRun run = RunChild(p.exe, "/S " + ShortOf(p.log), {}, 30000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_FALSE(PathExists(p.dir + "\\data.txt"));
    EXPECT_TRUE(PathExists(TempCopy())) << "the copy stays until the next restart";
    std::string pending = Lower(PendingRenames());
    EXPECT_NE(std::string::npos, pending.find(Lower(TempCopy()) + "||")) << pending;
    RemoveTreeForTest(p.dir);
}

TEST(Relocate, InPlaceRunDeletesSettingsAndProgramWithoutACopy)
{
    DeleteFileA(TempCopy().c_str());
    Product p = MakeProduct("Reloc In Place", false);
    std::string settings = p.dir + "\\UNINSTAL.INI";
    ASSERT_TRUE(WriteFileBytes(settings, "[Settings]\r\nNo Background=1\r\n"));
    ChildRun run = RunChild(p.exe, "/Z /S " + ShortOf(p.log), {}, 30000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_FALSE(PathExists(settings));
    EXPECT_FALSE(PathExists(TempCopy())) << "no temporary copy in place";
    // A running program cannot delete its own file: it goes at the restart.
    if (PathExists(p.exe)) {
        std::string pending = Lower(PendingRenames());
        EXPECT_NE(std::string::npos, pending.find(Lower(p.exe) + "||")) << pending;
    }
    RemoveTreeForTest(p.dir);
}

} // namespace
