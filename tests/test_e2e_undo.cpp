// Undoing an uninstall: the machine's state (the product's folders with
// content, the Windows and System folders' files, HKCU and HKLM Software, the
// INI files' items, the services) is taken before UNINSTAL.EXE /S /K, and
// after /S /U it must be the same again, the store gone. Things changed in
// between stay as the user left them, with CONFLICT rows; a journal line
// that names what no run could have changed is refused.
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <fstream>
#include "support/difference.h"
#include "support/diffproducts.h"
#include "support/kvtest.h"
#include "support/machine.h"

namespace {

std::string WinDir()
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    return buf;
}

// The clean-up copy (KVRxxxx.EXE) removes the program's own files after the
// run: the state after is taken once it has ended.
void WaitForCleanupCopy()
{
    for (int tries = 0; tries < 300; tries++) {
        bool running = false;
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 pe = {};
        pe.dwSize = sizeof pe;
        for (BOOL more = Process32First(snap, &pe); more; more = Process32Next(snap, &pe)) {
            std::string name = UpperText(pe.szExeFile);
            running |= name.compare(0, 3, "KVR") == 0 && name.find(".EXE") != std::string::npos;
        }
        CloseHandle(snap);
        if (!running)
            return;
        Sleep(100);
    }
    ADD_FAILURE() << "the clean-up copy did not end";
}

std::string Described(const std::vector<Change> &changes, const std::set<std::string> &exempt)
{
    std::string text;
    for (const Change &c : changes)
        if (!exempt.count(c.id.substr(2)))
            text += "  " + Describe(c) + "\n";
    return text;
}

// The stores in the recovery root (none once an undo has finished).
std::vector<std::string> Stores(const std::string &win)
{
    std::vector<std::string> found;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((win + "\\UNINSTAL.RCV\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return found;
    do {
        if (fd.cFileName[0] != '.')
            found.push_back(win + "\\UNINSTAL.RCV\\" + fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return found;
}

struct SampleRun {
    std::string win, undoer, report;
    Sample sample;
    StateScope scope;
    std::set<std::string> exempt;
};

SampleRun PrepareSample(const char *scratch)
{
    SampleRun s;
    s.win = WinDir();
    RemoveTreeForTest(s.win + "\\UNINSTAL.RCV");
    s.sample = InstallSample(s.win);
    // The undo runs from a copy of its own: the product's copy goes with it.
    s.undoer = ScratchDir(scratch) + "\\UNINSTAL.EXE";
    EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), s.undoer.c_str(), FALSE));
    s.report = s.win + "\\SAMPLE.RPT";
    s.scope.trees = {s.sample.app, "C:\\Order Exports", s.win + "\\UNINSTAL.RCV"};
    s.scope.flatFolders = {s.win, s.win + "\\system32"};
    s.scope.iniFiles = {s.win + "\\win.ini", s.win + "\\ORDERS.INI"};
    // The reports, the status file, and what the product's clean-up program
    // wrote (a program's own effects are its own).
    for (const char *name : {"\\SAMPLE.RPT", "\\UNINSTAL.RPT", "\\SAMPLE.MIF", "\\ORDCLEAN.TXT"})
        s.exempt.insert(UpperText(s.win + name));
    return s;
}

// Uninstalls (or rolls back) with /K, then undoes it: the machine is as it was.
void UninstallThenUndo(SampleRun &s, const std::string &how, bool cleanupCopy)
{
    MachineState before = TakeState(s.scope);
    ChildRun run = RunChild(s.sample.app + "\\UNINSTAL.EXE", how + " /K " + s.sample.shortLog, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    if (cleanupCopy)
        WaitForCleanupCopy();
    MachineState removed = TakeState(s.scope);
    std::vector<std::string> stores = Stores(s.win);
    ASSERT_EQ(1u, stores.size()) << "one store for the run";
    EXPECT_TRUE(PathExists(stores[0] + "\\JOURNAL.TXT"));
    EXPECT_FALSE(Differences(before, removed).empty()) << how << ": the run changed nothing";

    run = RunChild(s.undoer, "/S /V /U", {}, 60000);
    ASSERT_FALSE(run.timedOut);
    Report undo = ReadReport(s.win + "\\UNINSTAL.RPT");
    EXPECT_EQ("UNDO", undo.head["#MODE"]);
    EXPECT_NE(std::string::npos, undo.result.find("SUCCESS")) << undo.result;
    for (const std::string &f : ResultLineFailures(undo))
        ADD_FAILURE() << f;
    MachineState after = TakeState(s.scope);
    std::string left = Described(Differences(before, after), s.exempt);
    EXPECT_TRUE(left.empty()) << how << ": the undo left the machine changed:\n" << left;
    EXPECT_TRUE(Stores(s.win).empty()) << "the store goes once all is back";
}

TEST(Undo, TheSampleProductsUninstallIsUndoneWhole)
{
    SampleRun s = PrepareSample("undo_sample");
    UninstallThenUndo(s, "/S", true);
    RemoveSample(s.sample);
}

TEST(Undo, ARollbackIsUndoneWhole)
{
    SampleRun s = PrepareSample("undo_rollback");
    UninstallThenUndo(s, "/S /R", false);
    RemoveSample(s.sample);
}

// A file made again and a value set again after the uninstall stay as the
// user left them: the kept file goes beside it, and each gets a CONFLICT row.
TEST(Undo, ThingsChangedSinceStayWithConflictRows)
{
    SampleRun s = PrepareSample("undo_conflict");
    const std::string readme = s.sample.app + "\\README.TXT", keyPath = "Software\\Sample Orders\\Settings\\Window";
    std::string original = ReadFileBytes(readme);
    ChildRun run = RunChild(s.sample.app + "\\UNINSTAL.EXE", "/S /K " + s.sample.shortLog, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    WaitForCleanupCopy();
    ASSERT_FALSE(PathExists(readme));
    MakeFile(readme, "the user's own notes\n");
    SetRegString(HKEY_CURRENT_USER, keyPath, "Pos", "99,99");

    run = RunChild(s.undoer, "/S /V /U", {}, 60000);
    ASSERT_FALSE(run.timedOut);
    Report undo = ReadReport(s.win + "\\UNINSTAL.RPT");
    EXPECT_EQ("CONFLICT CHANGED-SINCE", Outcome(undo, "FILE", readme));
    EXPECT_EQ("CONFLICT CHANGED-SINCE", Outcome(undo, "REGVALUE", "HKCU\\" + keyPath));
    EXPECT_EQ("the user's own notes\n", ReadFileBytes(readme));
    EXPECT_EQ(original, ReadFileBytes(readme + ".RECOVERED"));
    EXPECT_EQ("99,99", ReadRegText(HKEY_CURRENT_USER, keyPath, "Pos"));
    // The rest is back.
    EXPECT_EQ("orders program 1.1\n", ReadFileBytes(s.sample.app + "\\ORDERS.EXE"));
    EXPECT_TRUE(PathExists(s.sample.app + "\\Samples\\Northwind\\sample1.ord"));
    EXPECT_NE(std::string::npos, undo.result.find("PARTIAL")) << undo.result;
    DeleteFileA((readme + ".RECOVERED").c_str());
    RemoveSample(s.sample);
}

// A journal edited to name a root, a path with a dot component or the store
// itself is refused line by line; the other lines are undone.
TEST(Undo, ADamagedJournalIsRefusedLineByLine)
{
    SampleRun s = PrepareSample("undo_journal");
    ChildRun run = RunChild(s.sample.app + "\\UNINSTAL.EXE", "/S /K " + s.sample.shortLog, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    WaitForCleanupCopy();
    std::vector<std::string> stores = Stores(s.win);
    ASSERT_EQ(1u, stores.size());
    const std::string victim = ScratchDir("undo_victim") + "\\KEEP.TXT";
    MakeFile(victim, "stays\n");
    {
        std::ofstream j(stores[0] + "\\JOURNAL.TXT", std::ios::app | std::ios::binary);
        j << "DIR\tC:\\\r\n";
        j << "FILE\t" << s.sample.app << "\\..\\x.txt\tK00001.DAT\t20\t0:0\t-\r\n";
        j << "FILE\t" << stores[0] << "\\JOURNAL.TXT\t-\t20\t0:0\t-\r\n";
        j << "FILE\t" << victim << "\t..\\..\\x\t20\t0:0\t-\r\n";
        j << "VALUE\tHKLM\\\\Software\tx\t-\t1:00\r\n";
        j << "KEY\tHKXX\\Software\\Odd\r\n";
        j << "NONSENSE\r\n";
        j << "FILE\t" << victim;     // cut by a kill: no line end
    }
    run = RunChild(s.undoer, "/S /V /U", {}, 60000);
    ASSERT_FALSE(run.timedOut);
    Report undo = ReadReport(s.win + "\\UNINSTAL.RPT");
    int refused = 0;
    for (const auto &row : undo.rows)
        refused += row.size() == 8 && row[5] == "REFUSED";
    EXPECT_EQ(7, refused);
    EXPECT_EQ("stays\n", ReadFileBytes(victim));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Odd"));
    EXPECT_EQ("orders program 1.1\n", ReadFileBytes(s.sample.app + "\\ORDERS.EXE")) << "the sound lines are undone";
    RemoveTreeForTest(s.win + "\\UNINSTAL.RCV");
    RemoveSample(s.sample);
}

} // namespace
