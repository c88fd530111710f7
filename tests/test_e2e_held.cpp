// Files held by another program during a rollback: a backup, an INI file
// and the status file are each held without sharing. Nothing is lost: the
// held work is left (the log keeps recording it) or staged for the restart,
// and after the restart a second run ends as an undisturbed run.
#include <gtest/gtest.h>
#include <string.h>
#include "support/kvtest.h"

namespace {

const std::string Top = "C:\\KVHELD", App = Top + "\\App";
std::string Win;

std::string Install()
{
    RemoveTreeForTest(Top);
    MakeFile(App + "\\A.DLL", "version 2 of A");
    MakeFile(App + "\\B.DLL", "version 2 of B");
    MakeFile(App + "\\Backup\\A.DLL", "version 1 of A");
    MakeFile(App + "\\Backup\\B.DLL", "version 1 of B");
    MakeFile(App + "\\NEW.DLL", "new in version 2");
    MakeFile(App + "\\APP.INI", "[S]\r\nK=v2\r\nMine=keep\r\n");
    MakeFile(Win + "\\KVHELD.MIF", "earlier run");
    std::string log = App + "\\INSTALL.LOG";
    MakeFile(log, "***  Installation Log\r\nTitle: Held\r\nUninstall MIF: KVHELD.MIF\r\nMade Dir: " + App +
                  "\r\nFile Copy: " + App + "\\A.DLL\r\nFile Copy: " + App + "\\B.DLL\r\n"
                  "INI File: " + App + "\\APP.INI\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: v1\r\nINI Old: first\r\n"
                  "***  Upgrade\r\nFile Overwrite: " + App + "\\A.DLL\r\nBackup Copy: " + App +
                  "\\Backup\\A.DLL\r\nFile Overwrite: " + App + "\\B.DLL\r\nBackup Copy: " + App +
                  "\\Backup\\B.DLL\r\nFile Copy: " + App + "\\NEW.DLL\r\n"
                  "INI File: " + App + "\\APP.INI\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: v2\r\nINI Old: v1\r\n");
    return log;
}

std::string Snapshot()
{
    std::string s;
    s += TreeText(Top);
    bool ok = false;
    std::string mif = ReadFileBytes(Win + "\\KVHELD.MIF", &ok);
    s += "status file:\n";
    for (const std::string &line : SplitCrLf(ok ? mif : "<missing>"))
        if (line.find("/") == std::string::npos || line.find("VALUE") == std::string::npos)
            s += line + "\n";
    return s;
}

TEST(Held, HeldFilesLoseNothingAndASecondRunFinishes)
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    Win = buf;
    std::string bin = ScratchDir("held_bin");
    std::string program = bin + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));

    // The undisturbed run.
    std::string log = Install();
    ChildRun run = RunChild(program, "/S /R " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    std::string reference = Snapshot();
    ASSERT_EQ("version 1 of A", ReadFileBytes(App + "\\A.DLL"));

    // The same run with a backup, the INI file and the status file held.
    log = Install();
    std::string logText = ReadFileBytes(log);
    std::string release = bin + "\\release", ready = release + ".ready";
    DeleteFileA(release.c_str());
    DeleteFileA(ready.c_str());
    std::string hold = "\"" + BinDir() + "\\kv_hold.exe\" " + release + " " + App + "\\Backup\\A.DLL " + App +
                       "\\APP.INI " + Win + "\\KVHELD.MIF";
    std::vector<char> cmd(hold.begin(), hold.end());
    cmd.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(CreateProcessA(NULL, cmd.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi));
    for (int i = 0; i < 200 && !PathExists(ready); i++)
        Sleep(50);
    ASSERT_TRUE(PathExists(ready)) << "the holder did not start";
    run = RunChild(program, "/S /R " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    // Nothing lost: the held backup and the file it would replace stay, the
    // INI file is untouched, and the log still records the installation.
    WriteFileBytes(release, "go");
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ("version 2 of A", ReadFileBytes(App + "\\A.DLL"));
    EXPECT_EQ("version 1 of A", ReadFileBytes(App + "\\Backup\\A.DLL"));
    EXPECT_EQ("version 1 of B", ReadFileBytes(App + "\\B.DLL"));
    EXPECT_EQ("[S]\r\nK=v2\r\nMine=keep\r\n", ReadFileBytes(App + "\\APP.INI"));
    EXPECT_EQ(logText, ReadFileBytes(log));
    EXPECT_EQ("earlier run", ReadFileBytes(Win + "\\KVHELD.MIF"));
    // The restart puts the staged status file in place; the second run
    // finishes what was held.
    EXPECT_EQ(0u, RunAndWait("wineboot.exe -r"));
    EXPECT_NE("earlier run", ReadFileBytes(Win + "\\KVHELD.MIF"));
    run = RunChild(program, "/S /R " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(reference, Snapshot());
    RemoveTreeForTest(Top);
    DeleteFileA((Win + "\\KVHELD.MIF").c_str());
}

} // namespace
