// Services, device lines and self-registered servers undone by the real
// program (/S, /S /R), with the test servers of tools/.
#include <gtest/gtest.h>
#include <stdio.h>
#include "kvtest.h"
#include "base/paths.h"

namespace {

const char *const Header = "*** Installation Started 01/02/2026 10:00 ***\r\nTitle: Sample Install\r\n";
const char *const RecordKey = "Software\\KvTest\\SelfReg";

// Runs the program silently on the log; no dialog may appear.
void RunSilently(const std::string &dir, const std::string &log, const char *options = "/S")
{
    ChildRun run = RunChild(InstallCopy(dir), std::string(options) + " " + log, {}, 60000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].caption << ": " << run.dialogs[0].text;
}

// --- services ---------------------------------------------------------------


TEST(ServicesRun, SilentRunStopsAndDeletesTheServiceAndLeavesOthers)
{
    std::string dir = ScratchDir("svc_e2e");
    ASSERT_TRUE(CreateRunningService("KvLogged", dir + "\\logged.txt"));
    ASSERT_TRUE(CreateRunningService("KvOther", dir + "\\other.txt"));
    std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, std::string(Header) + "Create Service: KvLogged\r\n"
                                                          "Create Service: KvNotThere\r\n"));
    DWORD start = GetTickCount();
    RunSilently(dir, log);
    // A figure, not a check: two services, each followed by the 3.5 s wait.
    printf("silent run with two services: %lu ms\n", (unsigned long)(GetTickCount() - start));
    // The run waits after each service, so a service that stops is gone by now.
    EXPECT_FALSE(ServiceExists("KvLogged"));
    EXPECT_EQ("running\r\nstopped\r\n", ReadFileBytes(dir + "\\logged.txt"));
    EXPECT_TRUE(ServiceExists("KvOther"));
    EXPECT_EQ("running\r\n", ReadFileBytes(dir + "\\other.txt"));
    StopAndDeleteService("KvLogged");
    StopAndDeleteService("KvOther");
    for (int i = 0; i < 100 && ServiceExists("KvOther"); i++)
        Sleep(50);
    RemoveTreeForTest(dir);
}

// --- devices ----------------------------------------------------------------

TEST(ServicesRun, SilentRunDisablesTheDeviceLineOfARemovedDriver)
{
    std::string dir = ScratchDir("dev_e2e");
    const std::string ini = "C:\\windows\\SYSTEM.INI";
    const std::string saved = ReadFileBytes(ini);
    const std::string driver = "C:\\windows\\system32\\KVTEST.386";
    ASSERT_TRUE(WriteFileBytes(driver, "not really a driver"));
    ASSERT_TRUE(WriteFileBytes(ini, "[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\ndevice=*vpicd\r\n"
                                    "device=KVTEST.386\r\n   device=C:\\windows\\system32\\KVTEST.386\r\n"
                                    "device=KVTEST.386 \r\n[other]\r\ndevice=KVTEST.386"));
    std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, std::string(Header) + "Non-System File:\r\nShared DLL counter ignored:\r\n"
                                                          "File Copy: " + driver + "\r\n"
                                                          "Add Device: " + driver + "\r\n"));
    RunSilently(dir, log);
    EXPECT_EQ("[boot]\r\nshell=Explorer.exe\r\n[386Enh]\r\ndevice=*vpicd\r\n"
              ";device=KVTEST.386\r\n;   device=C:\\windows\\system32\\KVTEST.386\r\n"
              "device=KVTEST.386 \r\n[other]\r\ndevice=KVTEST.386",
              ReadFileBytes(ini));
    EXPECT_FALSE(PathExists(driver));
    EXPECT_FALSE(PathExists("C:\\windows\\SYSTEM.INI.~kv"));
    WriteFileBytes(ini, saved);
    DeleteFileA(driver.c_str());
    RemoveTreeForTest(dir);
}

// --- self-registered servers ----------------------------------------------

std::string Recorded(const char *name)
{
    return ReadRegText(HKEY_CURRENT_USER, RecordKey, name);
}

std::string ShortForm(const std::string &path)
{
    char buf[MAX_PATH];
    lstrcpynA(buf, path.c_str(), sizeof buf);
    NormalizePath(buf, sizeof buf, 0);
    return buf;
}

TEST(ServicesRun, SilentRunUnregistersServersBeforeRemovingThem)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
    std::string dir = ScratchDir("sr_e2e");
    std::string app = dir + "\\Server Folder";
    CreateDirectoryA(app.c_str(), NULL);
    std::string dll = app + "\\Server Library.dll", exe = app + "\\Server Program.exe";
    ASSERT_TRUE(CopyFileA((BinDir() + "\\selfreg.dll").c_str(), dll.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((BinDir() + "\\exe_server.exe").c_str(), exe.c_str(), FALSE));
    const std::string exeShort = ShortForm(exe);
    std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, std::string(Header) +
                                        "Shared DLL counter ignored:\r\nFile Copy: " + dll + "\r\n"
                                        "Self-Register: " + dll + "\r\n"
                                        "Shared DLL counter ignored:\r\nFile Copy: " + exe + "\r\n"
                                        "Self-Register: " + exe + "\r\n"));
    RunSilently(dir, log);
    // The server could only record the call while its file was still there.
    EXPECT_EQ(dll, Recorded("DllUnregisterServer"));
    EXPECT_EQ("<none>", Recorded("DllRegisterServer"));
    EXPECT_EQ(exeShort + " /UNREGSERVER", Recorded("ExeCommandLine"));
    EXPECT_FALSE(PathExists(dll));
    EXPECT_FALSE(PathExists(exe));
    RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
    RemoveTreeForTest(dir);
}

// The server is called in its own folder; that folder must not stay the
// program's current one, which the system would refuse to remove.
TEST(ServicesRun, TheServersFolderGoesWithThem)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
    std::string dir = ScratchDir("sr_e2e_dir");
    struct Row { const char *tool, *as; };
    for (Row r : {Row{"selfreg.dll", "srv.dll"}, Row{"exe_server.exe", "srv.exe"}}) {
        std::string app = dir + "\\App", server = app + "\\" + r.as;
        CreateDirectoryA(app.c_str(), NULL);
        ASSERT_TRUE(CopyFileA((BinDir() + "\\" + r.tool).c_str(), server.c_str(), FALSE));
        std::string log = dir + "\\INSTALL.LOG";
        ASSERT_TRUE(WriteFileBytes(log, std::string(Header) + "Made Dir: " + app + "\r\n"
                                            "Shared DLL counter ignored:\r\nFile Copy: " + server + "\r\n"
                                            "Self-Register: " + server + "\r\n"));
        RunSilently(dir, log);
        EXPECT_FALSE(PathExists(server)) << r.as;
        EXPECT_FALSE(PathExists(app)) << r.as << ": the server's folder was left";
        RemoveTreeForTest(app);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
    RemoveTreeForTest(dir);
}

TEST(ServicesRun, RollbackRegistersTheRestoredServerAgain)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
    std::string dir = ScratchDir("sr_e2e_rollback");
    std::string backupDir = dir + "\\backup";
    CreateDirectoryA(backupDir.c_str(), NULL);
    std::string dll = dir + "\\srv.dll", backup = backupDir + "\\srv.dll";
    const std::string oldServer = ReadFileBytes(BinDir() + "\\selfreg.dll");
    ASSERT_TRUE(WriteFileBytes(backup, oldServer));
    ASSERT_TRUE(WriteFileBytes(dll, oldServer + "a newer version"));
    std::string log = dir + "\\INSTALL.LOG";
    std::string first = std::string(Header) + "Shared DLL counter ignored:\r\nFile Copy: " + dll +
                        "\r\nSelf-Register: " + dll + "\r\n";
    ASSERT_TRUE(WriteFileBytes(log, first + "*** Installation Started 01/03/2026 10:00 ***\r\n"
                                            "Shared DLL counter ignored:\r\nFile Copy: " + dll + "\r\n"
                                            "Backup Copy: " + backup + "\r\n"
                                            "Self-Register: " + dll + "\r\n"));
    RunSilently(dir, log, "/S /R");
    EXPECT_EQ(oldServer, ReadFileBytes(dll)) << "the backup was not put back";
    EXPECT_EQ(dll, Recorded("DllRegisterServer"));
    EXPECT_EQ("<none>", Recorded("DllUnregisterServer"));
    EXPECT_EQ(first, ReadFileBytes(log)) << "the log keeps the first installation";
    RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
    RemoveTreeForTest(dir);
}

} // namespace
