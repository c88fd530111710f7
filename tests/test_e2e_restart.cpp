// A rollback that must restore backups over files in use: staging for the
// restart on NT and elsewhere, the restart question, the silent restart.
#include <gtest/gtest.h>
#include "kvtest.h"

namespace {

void SetVersion(const char *version)
{
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\UNINSTAL.EXE", 0, NULL, 0,
                    KEY_ALL_ACCESS, NULL, &key, NULL);
    if (version)
        RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE *)version, (DWORD)strlen(version) + 1);
    else
        RegDeleteValueA(key, "Version");
    RegCloseKey(key);
}

// Two files installed by installation 1 and replaced, with backups, by
// installation 2; both are held open while the rollback runs.
class Restart : public testing::Test {
protected:
    std::string dir, log, first, second;
    HANDLE held[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    void SetUp() override
    {
        dir = ScratchDir("Restart App");
        first = dir + "\\first.dll";
        second = dir + "\\second.dll";
        log = dir + "\\INSTALL.LOG";
        ASSERT_TRUE(WriteFileBytes(first, "first 2.0"));
        ASSERT_TRUE(WriteFileBytes(second, "second 2.0"));
        ASSERT_TRUE(WriteFileBytes(dir + "\\first.bak", "first 1.0"));
        ASSERT_TRUE(WriteFileBytes(dir + "\\second.bak", "second 1.0"));
        ASSERT_TRUE(WriteFileBytes(log, "***  Installation Started\r\nTitle: Restart Test\r\n"
                                        "File Copy: " + first + "\r\nFile Copy: " + second + "\r\n"
                                        "***  Installation Started\r\n"
                                        "File Copy: " + first + "\r\nBackup Copy: " + dir + "\\first.bak\r\n"
                                        "File Copy: " + second + "\r\nBackup Copy: " + dir + "\\second.bak\r\n"));
        DeleteFileA("C:\\windows\\_MSRSTRT.EXE");
        DeleteFileA("C:\\windows\\WININIT.INI");
        for (int i = 0; i < 2; i++) {
            held[i] = CreateFileA((i ? second : first).c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, held[i]);
        }
    }
    void Release()
    {
        for (HANDLE &h : held) {
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
            h = INVALID_HANDLE_VALUE;
        }
    }
    void TearDown() override
    {
        Release();
        SetVersion(NULL);
        RemoveTreeForTest(dir);
    }
    // Runs the rollback with a window title of its own, so that the restart
    // question (caption "Uninstall") is told apart from the wizard.
    ChildRun Rollback(int restartAnswer, const std::string &options = "")
    {
        return RunChild(UninstallerPath(), "/A /R " + options + ShortOf(log) + " KvTest Restart",
                        {{"Uninstall", restartAnswer, "", false, 0, "",
                          [this](HWND) { Release(); }}});
    }
};

TEST_F(Restart, DeclinedOnNtLeavesPendingRenamesAndNoRestartProgram)
{
    ChildRun run = Rollback(IDCANCEL);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode) << "without /E the code stays 0";
    ASSERT_FALSE(run.dialogs.empty());
    EXPECT_EQ("Uninstall", run.dialogs[0].caption);
    EXPECT_EQ("This uninstall must reboot your computer to replace files that were in-use. "
              "Press the OK button to reboot your computer.", run.dialogs[0].text);
    std::string stage0 = dir + "\\~KVU0000.TMP", stage1 = dir + "\\~KVU0001.TMP";
    EXPECT_EQ("first 1.0", ReadFileBytes(stage0));
    EXPECT_EQ("second 1.0", ReadFileBytes(stage1));
    EXPECT_FALSE(PathExists(dir + "\\first.bak"));
    std::string pending = PendingRenames();
    EXPECT_NE(std::string::npos, pending.find("\\??\\" + ShortOf(stage0) + "|!\\??\\" + first)) << pending;
    EXPECT_NE(std::string::npos, pending.find("\\??\\" + ShortOf(stage1) + "|!\\??\\" + second)) << pending;
    EXPECT_FALSE(PathExists("C:\\windows\\_MSRSTRT.EXE"));
    EXPECT_EQ("first 2.0", ReadFileBytes(first)) << "nothing happens before a restart";

    ASSERT_EQ(0u, RunAndWait("wineboot.exe -r"));
    EXPECT_EQ("first 1.0", ReadFileBytes(first));
    EXPECT_EQ("second 1.0", ReadFileBytes(second));
    EXPECT_FALSE(PathExists(stage0));
}

// A deployment tool learns that a restart is still needed, or was started.
TEST_F(Restart, ExitCodeTellsARestartNeededOrStarted)
{
    ChildRun run = Rollback(IDCANCEL, "/E /V ");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(3010u, run.exitCode) << ReadFileBytes("C:\\windows\\UNINSTAL.RPT");
}

TEST_F(Restart, SilentExitCodeTellsTheRestartStarted)
{
    ChildRun run = RunChild(UninstallerPath(), "/S /R /E " + ShortOf(log), {});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(1641u, run.exitCode);
}

TEST_F(Restart, AcceptedOnNtRestartsAndPutsTheBackupsInPlace)
{
    ChildRun run = Rollback(IDOK);
    EXPECT_FALSE(run.timedOut);
    // The restart program asks for the restart once the uninstaller has
    // ended (it may have done so already; its own file goes at that restart
    // when it has ended by then, which under Wine is a matter of timing).
    EXPECT_TRUE(PathExists("C:\\windows\\_MSRSTRT.EXE") || ReadFileBytes(second) == "second 1.0");
    for (int i = 0; i < 100 && ReadFileBytes(second) != "second 1.0"; i++)
        Sleep(100);
    EXPECT_EQ("first 1.0", ReadFileBytes(first));
    EXPECT_EQ("second 1.0", ReadFileBytes(second));
}

TEST_F(Restart, ElsewhereTheRenamesGoToWininit)
{
    SetVersion("win98");
    ChildRun run = Rollback(IDCANCEL);
    EXPECT_FALSE(run.timedOut);
    char value[MAX_PATH];
    GetPrivateProfileStringA("rename", ShortOf(first).c_str(), "", value, sizeof value, "WININIT.INI");
    EXPECT_EQ(ShortOf(dir + "\\~KVU0000.TMP"), value);
    GetPrivateProfileStringA("rename", ShortOf(second).c_str(), "", value, sizeof value, "WININIT.INI");
    EXPECT_EQ(ShortOf(dir + "\\~KVU0001.TMP"), value);
    EXPECT_EQ(std::string::npos, PendingRenames().find("KVU")) << PendingRenames();
    EXPECT_FALSE(PathExists("C:\\windows\\_MSRSTRT.EXE"));

    ASSERT_EQ(0u, RunAndWait("wineboot.exe -r"));
    EXPECT_EQ("first 1.0", ReadFileBytes(first));
    EXPECT_EQ("second 1.0", ReadFileBytes(second));
}

TEST_F(Restart, SilentRunRestartsWithoutAsking)
{
    ChildRun run = RunChild(UninstallerPath(), "/S /R " + ShortOf(log), {});
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_TRUE(PathExists(dir + "\\~KVU0000.TMP") || ReadFileBytes(first) == "first 1.0");
    EXPECT_TRUE(PathExists("C:\\windows\\_MSRSTRT.EXE")) << "the restart program is written";
}

} // namespace
