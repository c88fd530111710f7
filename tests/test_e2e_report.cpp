// The preview (/N), the per-item report (/V) and the exit codes (/E) through
// the real program: a preview changes nothing on the whole machine, the real
// run plans row for row what the preview planned, and #LEFT names exactly
// what of the log's is still there afterwards.
#include <gtest/gtest.h>
#include <set>
#include <string.h>
#include "support/kvtest.h"
#include "support/machine.h"

namespace {

const std::string Top = "C:\\KVRPT", App = Top + "\\App", Data = "C:\\KVRPT2\\Data";
const char SharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
std::string Win;

std::string WinDir()
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    return buf;
}

// The files and folders the log names (the ones a before/after comparison looks at).
std::vector<std::string> LogPaths()
{
    return {App + "\\A.TXT", App + "\\Sub\\C.TXT", App + "\\HELD.TXT", App + "\\SHARED2.DLL",
            App + "\\SHARED1.DLL", App + "\\..\\..\\windows\\win.ini", Top, App, App + "\\Sub", Data + "\\D.TXT",
            Data};
}

// A product with a shared count of 2, a last reference, a held file, a
// user's file in a made folder, a refused path, INI and registry changes.
std::string Install()
{
    RemoveTreeForTest(Top);
    RemoveTreeForTest("C:\\KVRPT2");
    MakeFile(Data + "\\D.TXT", "d");
    CleanKey(HKEY_CURRENT_USER, "Software\\KvReport");
    CleanKey(HKEY_CURRENT_USER, "Software\\KvReportTree");
    MakeFile(App + "\\A.TXT", "a");
    MakeFile(App + "\\Sub\\C.TXT", "c");
    MakeFile(App + "\\HELD.TXT", "held");
    MakeFile(App + "\\SHARED2.DLL", "shared by two");
    MakeFile(App + "\\SHARED1.DLL", "shared by one");
    MakeFile(App + "\\USER.DOC", "the user's own");
    MakeFile(App + "\\APP.INI", "[S]\r\nK=v1\r\nMine=keep\r\n");
    SetRegValue(HKEY_LOCAL_MACHINE, SharedKey, (App + "\\SHARED2.DLL").c_str(), REG_DWORD, DwordBytes(2));
    SetRegValue(HKEY_LOCAL_MACHINE, SharedKey, (App + "\\SHARED1.DLL").c_str(), REG_DWORD, DwordBytes(1));
    SetRegString(HKEY_CURRENT_USER, "Software\\KvReport", "Created", "x");
    SetRegString(HKEY_CURRENT_USER, "Software\\KvReport\\Old", "V", "new");
    SetRegString(HKEY_CURRENT_USER, "Software\\KvReportTree\\Deep", "Z", "z");
    DeleteFileA((Win + "\\KVRPT.MIF").c_str());
    DeleteFileA((Win + "\\KVRPT.RPT").c_str());
    std::string log = Top + "\\INSTALL.LOG";
    MakeFile(log, "***  Installation Log\r\nTitle: Report Product\r\nUninstall MIF: KVRPT.MIF\r\n"
                  "Made Dir: " + App + "\r\nMade Dir: " + App + "\\Sub\r\nMade Dir: " + Data + "\r\n"
                  "File Copy: " + Data + "\\D.TXT\r\n"
                  "File Copy: " + App + "\\A.TXT\r\nFile Copy: " + App + "\\Sub\\C.TXT\r\n"
                  "File Copy: " + App + "\\HELD.TXT\r\nFile Copy: " + App + "\\SHARED2.DLL\r\n"
                  "File Copy: " + App + "\\SHARED1.DLL\r\n"
                  "File Copy: " + App + "\\..\\..\\windows\\win.ini\r\n"
                  "INI File: " + App + "\\APP.INI\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: v1\r\nINI Old: v0\r\n"
                  "RegDB Key: Software\\KvReport\r\nRegDB Val: x\r\nRegDB Name: Created\r\nRegDB Type: 0\r\n"
                  "RegDB Root: 1\r\n"
                  "RegDB Key: Software\\KvReport\\Old\r\nRegDB Val: new\r\nRegDB Name: V\r\nRegDB Type: 0\r\n"
                  "RegDB Root: 1\r\nRegDB Old: old\r\n"
                  "RegDB Tree: Software\\KvReportTree\r\nRegDB Root: 1\r\n");
    return log;
}

// Starts the holder of HELD.TXT; returns its release file.
struct Holder {
    std::string release;
    PROCESS_INFORMATION pi = {};
    bool Start(const std::string &bin)
    {
        release = bin + "\\release";
        DeleteFileA(release.c_str());
        DeleteFileA((release + ".ready").c_str());
        std::string cmd = "\"" + BinDir() + "\\kv_hold.exe\" " + release + " " + App + "\\HELD.TXT";
        std::vector<char> c(cmd.begin(), cmd.end());
        c.push_back(0);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        if (!CreateProcessA(NULL, c.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
            return false;
        for (int i = 0; i < 200 && !PathExists(release + ".ready"); i++)
            Sleep(50);
        return PathExists(release + ".ready");
    }
    void Stop()
    {
        if (!pi.hProcess)
            return;
        WriteFileBytes(release, "go");
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        pi = {};
    }
    ~Holder() { Stop(); }
};

std::string StatusWithoutDate(const std::string &path)
{
    std::string s;
    for (const std::string &line : SplitCrLf(ReadFileBytes(path)))
        if (line.find("/") == std::string::npos || line.find("VALUE") == std::string::npos)
            s += line + "\n";
    return s;
}

TEST(Report, PreviewChangesNothingAndTheRunDoesWhatItPlanned)
{
    Win = WinDir();
    std::string bin = ScratchDir("report_bin");
    std::string program = bin + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    std::string report = Win + "\\KVRPT.RPT";

    // The status file of a run without a report, for the comparison below.
    std::string log = Install();
    ChildRun run = RunChild(program, "/S " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_FALSE(PathExists(report)) << "no report without /V";
    std::string statusWithout = StatusWithoutDate(Win + "\\KVRPT.MIF");
    ASSERT_NE("", statusWithout);

    log = Install();
    Holder holder;
    ASSERT_TRUE(holder.Start(bin)) << "the holder did not start";
    std::string before = Machine({report}, {Top, "C:\\KVRPT2"});


    // Two previews, silent and automatic: nothing anywhere changes, no
    // status file is written, and both plan the same rows.
    run = RunChild(program, "/S /N " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    std::string after = Machine({report}, {Top, "C:\\KVRPT2"});
    EXPECT_TRUE(before == after) << FirstDifference(before, after);
    EXPECT_FALSE(PathExists(Win + "\\KVRPT.MIF"));
    Report silent = ReadReport(report);
    EXPECT_EQ("PREVIEW", silent.head["#MODE"]);
    EXPECT_EQ(log, silent.head["#LOG"]);
    EXPECT_EQ("Report Product", silent.head["#PRODUCT"]);

    run = RunChild(program, "/A /N " + log + " KvTest Report", {{"Remove Shared Component", 1006}}, 60000);
    ASSERT_FALSE(run.timedOut);
    after = Machine({report}, {Top, "C:\\KVRPT2"});
    EXPECT_TRUE(before == after) << FirstDifference(before, after);
    Report automatic = ReadReport(report);
    ASSERT_EQ(silent.rows.size(), automatic.rows.size());
    for (size_t i = 0; i < silent.rows.size(); i++)
        EXPECT_EQ(silent.rows[i], automatic.rows[i]);

    // What the preview expects.
    EXPECT_EQ("WOULD-DO ", Outcome(silent, "FILE", App + "\\A.TXT"));
    EXPECT_EQ("WOULD-KEEP IN-USE", Outcome(silent, "FILE", App + "\\HELD.TXT"));
    EXPECT_EQ("WOULD-KEEP SHARED 2->1", Outcome(silent, "FILE", App + "\\SHARED2.DLL"));
    EXPECT_EQ("WOULD-KEEP LAST-REFERENCE-KEPT", Outcome(silent, "FILE", App + "\\SHARED1.DLL"));
    // A made folder that the file phase empties first; the log's own folder,
    // which holds the user's file (and the log while the run lasts).
    EXPECT_EQ("WOULD-DO ", Outcome(silent, "DIR", Data));
    EXPECT_EQ("WOULD-KEEP NOT-EMPTY", Outcome(silent, "DIR", Top));
    EXPECT_EQ("REFUSED BAD-PATH", Outcome(silent, "FILE", App + "\\..\\..\\windows\\win.ini"));
    EXPECT_EQ("WOULD-DO ", Outcome(silent, "REGTREE", "HKCU\\Software\\KvReportTree"));

    // The real run, with the report and the exit code.
    run = RunChild(program, "/S /V /E " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    Report real = ReadReport(report);

    EXPECT_EQ("UNINSTALL", real.head["#MODE"]);
    ExpectSamePlan(silent, real);
    EXPECT_EQ("DONE ", Outcome(real, "FILE", App + "\\A.TXT"));
    EXPECT_EQ("FAILED IN-USE", Outcome(real, "FILE", App + "\\HELD.TXT"));
    EXPECT_EQ("KEPT SHARED 2->1", Outcome(real, "FILE", App + "\\SHARED2.DLL"));
    EXPECT_EQ("DONE SHARED 2->1", Outcome(real, "SHARED", App + "\\SHARED2.DLL"));
    EXPECT_EQ("KEPT LAST-REFERENCE-KEPT", Outcome(real, "FILE", App + "\\SHARED1.DLL"));
    EXPECT_EQ("DONE ", Outcome(real, "DIR", Data));
    EXPECT_EQ("KEPT NOT-EMPTY", Outcome(real, "DIR", Top));
    EXPECT_FALSE(PathExists(App + "\\Sub")) << "emptied folders inside go";
    EXPECT_EQ("DONE ", Outcome(real, "INI", App + "\\APP.INI"));
    EXPECT_EQ("DONE ", Outcome(real, "REGVALUE", "HKCU\\Software\\KvReport\\Old"));
    EXPECT_EQ("DONE ", Outcome(real, "REGVALUE", "HKCU\\Software\\KvReport"));     // Created, deleted
    EXPECT_EQ("DONE ", Outcome(real, "REGTREE", "HKCU\\Software\\KvReportTree"));
    EXPECT_EQ(0u, real.result.find("PARTIAL")) << real.result;
    EXPECT_EQ(1u, run.exitCode) << "items left for another reason than a shared count";

    // #LEFT: exactly the log's files and folders that are still there.
    std::set<std::string> present, listed;
    for (const std::string &p : LogPaths())
        if (PathExists(p)) {
            std::string upper = p;
            CharUpperA(&upper[0]);
            present.insert(upper);
        }
    for (const auto &row : real.left)
        if (row.size() >= 2 && (row[0] == "FILE" || row[0] == "SYSFILE" || row[0] == "DIR" || row[0] == "TREE")) {
            std::string upper = row[1];
            CharUpperA(&upper[0]);
            listed.insert(upper);
        }
    EXPECT_EQ(present, listed);
    EXPECT_EQ(1u, present.count("C:\\KVRPT\\APP\\HELD.TXT"));

    // The status file does not change with /V.
    EXPECT_EQ(statusWithout, StatusWithoutDate(Win + "\\KVRPT.MIF"));
    holder.Stop();
    RemoveTreeForTest(Top);
    RemoveTreeForTest("C:\\KVRPT2");
    DeleteFileA((Win + "\\KVRPT.MIF").c_str());
    DeleteFileA(report.c_str());
}

// A rollback: the earlier installation is out of scope, a backup goes back,
// one whose backup is missing is kept, a new file goes. The preview plans
// the same rows and changes nothing.
TEST(Report, RollbackScopeAndAMissingBackup)
{
    Win = WinDir();
    const std::string top = "C:\\KVRB", app = top + "\\App";
    RemoveTreeForTest(top);
    MakeFile(app + "\\ONE.TXT", "one");
    MakeFile(app + "\\TWO.TXT", "two v2");
    MakeFile(app + "\\Backup\\TWO.TXT", "two v1");
    MakeFile(app + "\\THREE.TXT", "three v2");
    MakeFile(app + "\\NEW.TXT", "new");
    std::string log = top + "\\INSTALL.LOG", report = Win + "\\UNINSTAL.RPT";
    MakeFile(log, "***  Installation Log\r\nTitle: Rollback Report\r\n"
                  "File Copy: " + app + "\\ONE.TXT\r\nFile Copy: " + app + "\\TWO.TXT\r\n"
                  "File Copy: " + app + "\\THREE.TXT\r\n"
                  "***  Upgrade\r\nFile Overwrite: " + app + "\\TWO.TXT\r\nBackup Copy: " + app +
                  "\\Backup\\TWO.TXT\r\nFile Overwrite: " + app + "\\THREE.TXT\r\nBackup Copy: " + app +
                  "\\Backup\\THREE.TXT\r\nFile Copy: " + app + "\\NEW.TXT\r\n");
    std::string program = ScratchDir("rollback_bin") + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    DeleteFileA(report.c_str());

    std::string before = TreeText(top);
    ChildRun run = RunChild(program, "/S /R /N /E " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(before, TreeText(top));
    Report preview = ReadReport(report);
    EXPECT_EQ("PREVIEW", preview.head["#MODE"]);
    EXPECT_EQ("SKIPPED OUT-OF-SCOPE", Outcome(preview, "FILE", app + "\\ONE.TXT"));
    EXPECT_EQ("WOULD-DO ", Outcome(preview, "FILE", app + "\\TWO.TXT"));
    EXPECT_EQ("WOULD-KEEP NO-BACKUP", Outcome(preview, "FILE", app + "\\THREE.TXT"));
    EXPECT_EQ("WOULD-DO ", Outcome(preview, "FILE", app + "\\NEW.TXT"));
    EXPECT_EQ(1u, run.exitCode) << "a file would be left without its backup";

    run = RunChild(program, "/S /R /V " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode) << "without /E";
    Report real = ReadReport(report);
    EXPECT_EQ("ROLLBACK", real.head["#MODE"]);
    ExpectSamePlan(preview, real);
    EXPECT_EQ("DONE ", Outcome(real, "FILE", app + "\\TWO.TXT"));
    EXPECT_EQ("RESTORE-BACKUP", RowOf(real, "FILE", app + "\\TWO.TXT")[4]);
    EXPECT_EQ("KEPT NO-BACKUP", Outcome(real, "FILE", app + "\\THREE.TXT"));
    EXPECT_EQ("two v1", ReadFileBytes(app + "\\TWO.TXT"));
    EXPECT_FALSE(PathExists(app + "\\NEW.TXT"));
    EXPECT_EQ(0u, real.result.find("PARTIAL")) << real.result;
    RemoveTreeForTest(top);
    DeleteFileA(report.c_str());
}

// The exit codes for a log that cannot be read and for a product of which
// nothing is left; without /E the code is 0.
TEST(Report, ExitCodesForNoLogAndNothingPresent)
{
    const std::string top = "C:\\KVGONE";
    RemoveTreeForTest(top);
    std::string program = ScratchDir("codes_bin") + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    ChildRun run = RunChild(program, "/S /E " + top + "\\MISSING.LOG", {{"", IDOK}}, 90000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(1603u, run.exitCode);
    run = RunChild(program, "/S " + top + "\\MISSING.LOG", {{"", IDOK}}, 90000);
    EXPECT_EQ(0u, run.exitCode);

    std::string log = top + "\\INSTALL.LOG";
    MakeFile(log, "***  Installation Log\r\nTitle: Gone\r\nFile Copy: " + top + "\\App\\GONE.TXT\r\n"
                  "RegDB Key: Software\\KvGoneProduct\r\nRegDB Val: x\r\nRegDB Name: V\r\nRegDB Type: 0\r\n"
                  "RegDB Root: 1\r\nRegDB Old: old\r\n");
    CleanKey(HKEY_CURRENT_USER, "Software\\KvGoneProduct");
    std::string report = WinDir() + "\\UNINSTAL.RPT";
    run = RunChild(program, "/S /E /V " + log, {}, 90000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(1605u, run.exitCode) << ReadFileBytes(report);
    DeleteFileA(report.c_str());
    RemoveTreeForTest(top);
}

} // namespace
