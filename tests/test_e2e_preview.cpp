// The preview (/N) of the kinds that talk to other parts of the system: a
// running service, a device line in SYSTEM.INI, a self-registering server,
// a program to run, the database engine's count and Program Manager items.
// The preview starts, loads, calls and changes none of them, and the real
// run then plans row for row what the preview planned.
#include <gtest/gtest.h>
#include <string.h>
#include "support/kvtest.h"
#include "support/machine.h"
#include "support/progmantest.h"

namespace {

const std::string Top = "C:\\KVPRE";
const char Service[] = "KvPreviewService";
const char EngineKey[] = "Software\\Borland\\Database Engine";

std::string WinDir()
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    return buf;
}


TEST(Preview, TouchesNoServiceDeviceServerProgramEngineOrIcon)
{
    std::string win = WinDir(), report = win + "\\UNINSTAL.RPT";
    RemoveTreeForTest(Top);
    std::string app = Top + "\\App";
    MakeFile(app + "\\APP.EXE", "program");
    ASSERT_TRUE(CopyFileA((BinDir() + "\\selfreg.dll").c_str(), (app + "\\SERVER.DLL").c_str(), FALSE));
    MakeFile(app + "\\DRIVER.386", "driver");
    std::string systemIni = win + "\\SYSTEM.INI", systemBefore = ReadFileBytes(systemIni);
    ASSERT_TRUE(WriteFileBytes(systemIni, "[boot]\r\nshell=explorer.exe\r\n[386Enh]\r\ndevice=" + app +
                                              "\\DRIVER.386\r\ndevice=*other\r\n"));
    SetRegString(HKEY_LOCAL_MACHINE, EngineKey, "UseCount", "2");
    CleanKey(HKEY_CURRENT_USER, "Software\\KvTest\\SelfReg");
    StopAndDeleteService(Service);
    ASSERT_TRUE(CreateRunningService(Service, Top + "\\service.txt")) << "the test service did not start";
    std::string pmDir = ScratchDir("preview_pm");
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(pmDir, "=Preview\r\n\"Preview\"\r\n\"Tool\",\"" + app + "\\APP.EXE\"\r\n"));
    std::string log = Top + "\\INSTALL.LOG";
    MakeFile(log, "***  Installation Log\r\nTitle: Preview Product\r\n"
                  "Execute Path: C:\\windows\\system32\\cmd.exe /c echo ran> " + Top + "\\RAN.TXT\r\n"
                  "SubSystem: BDE\r\nCreate Service: " + std::string(Service) + "\r\n"
                  "File Copy: " + app + "\\APP.EXE\r\nFile Copy: " + app + "\\SERVER.DLL\r\n"
                  "Self-Register: " + app + "\\SERVER.DLL\r\nFile Copy: " + app + "\\DRIVER.386\r\n"
                  "Add Device: " + app + "\\DRIVER.386\r\n"
                  "Icon Group: Preview\r\nIcon Name: Tool\r\nIcon Cmd: " + app + "\\APP.EXE\r\n");
    std::string program = ScratchDir("preview_bin") + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    DeleteFileA(report.c_str());

    std::string before = Machine({report, pmDir}, {Top, systemIni});
    ChildRun run = RunChild(program, "/S /N " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    std::string after = Machine({report, pmDir}, {Top, systemIni});
    EXPECT_TRUE(before == after) << FirstDifference(before, after);
    EXPECT_TRUE(ServiceExists(Service));
    EXPECT_FALSE(PathExists(Top + "\\RAN.TXT")) << "the program was run";
    EXPECT_EQ("<none>", ReadRegText(HKEY_CURRENT_USER, "Software\\KvTest\\SelfReg", "DllUnregisterServer"))
        << "the server was called";
    EXPECT_TRUE(pm.Commands().empty() || pm.Commands() == std::vector<std::string>{""})
        << "Program Manager got a command";
    Report preview = ReadReport(report);
    EXPECT_EQ("WOULD-DO ", Outcome(preview, "PROGRAM", "C:\\windows\\system32\\cmd.exe /c echo ran> " + Top +
                                                          "\\RAN.TXT"));
    EXPECT_EQ("WOULD-DO ", Outcome(preview, "SERVICE", Service));
    EXPECT_EQ("WOULD-DO COUNT 2->1", Outcome(preview, "SUBSYSTEM", "BDE"));
    EXPECT_EQ("WOULD-DO ", Outcome(preview, "SERVER", app + "\\SERVER.DLL"));
    EXPECT_EQ("WOULD-DO ", Outcome(preview, "DEVICE", app + "\\DRIVER.386"));
    EXPECT_EQ("WOULD-DO ", Outcome(preview, "ICON", "Tool"));
    EXPECT_EQ("WOULD-DO ", Outcome(preview, "GROUP", "Preview"));

    // The real run plans the same rows, and does what the preview said.
    run = RunChild(program, "/S /V " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    Report real = ReadReport(report);
    ExpectSamePlan(preview, real);
    for (const char *kind : {"PROGRAM", "SERVICE", "SUBSYSTEM", "SERVER", "DEVICE", "ICON", "GROUP"}) {
        int seen = 0;
        for (const auto &row : real.rows) {
            if (row[2] == kind) {
                seen++;
                EXPECT_EQ("DONE", row[5]) << kind;
            }
        }
        EXPECT_EQ(1, seen) << kind;
    }
    EXPECT_TRUE(PathExists(Top + "\\RAN.TXT"));
    EXPECT_NE("<none>", ReadRegText(HKEY_CURRENT_USER, "Software\\KvTest\\SelfReg", "DllUnregisterServer"));
    EXPECT_NE(std::string::npos, ReadFileBytes(systemIni).find(";device=" + app + "\\DRIVER.386"));
    EXPECT_EQ("1", ReadRegText(HKEY_LOCAL_MACHINE, EngineKey, "UseCount"));
    EXPECT_FALSE(pm.Commands().empty());

    pm.Stop();
    StopAndDeleteService(Service);
    WriteFileBytes(systemIni, systemBefore);
    CleanKey(HKEY_LOCAL_MACHINE, "Software\\Borland");
    CleanKey(HKEY_CURRENT_USER, "Software\\KvTest\\SelfReg");
    RemoveTreeForTest(Top);
    DeleteFileA(report.c_str());
}

} // namespace
