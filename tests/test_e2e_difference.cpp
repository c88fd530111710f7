// The report is exactly the machine's difference. The state that a run can
// touch (the products' folders with content, the Windows and System folders'
// files, HKCU and HKLM Software, the INI files' items, the services) is taken
// before and after UNINSTAL.EXE /S /V, and every change must appear as a DONE
// or STAGED row naming it, and every DONE row must name a change. Before
// each run a preview (/N) plans the same rows and predicts their outcomes.
// For the sample product (a rollback, then the uninstall), a product whose
// log records a key without a value, and generated products from a fixed
// seed: KV_DIFF_COUNT of them (16 by default; a few hundred need KV_WATCHDOG
// and KV_TIMEOUT raised), KV_DIFF_FROM to start at a failing one,
// KV_DIFF_PARALLEL runs at a time (3).
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "support/difference.h"
#include "support/kvtest.h"
#include "support/machine.h"
#include "support/diffproducts.h"

namespace {

std::string WinDir()
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    return buf;
}

// The planned action of the first row of kind and target, or "<no row>".
std::string Action(const Report &r, const std::string &kind, const std::string &target)
{
    std::vector<std::string> row = RowOf(r, kind, target);
    return row.size() == 8 ? row[4] : "<no row>";
}

void ExpectNone(const std::string &what, const std::vector<std::string> &failures)
{
    std::string text;
    for (size_t i = 0; i < failures.size() && i < 80; i++)
        text += "  " + failures[i] + "\n";
    EXPECT_TRUE(failures.empty()) << what << ": " << failures.size() << " failure(s)\n" << text;
}

// One run checked both ways: the preview changes nothing and predicts the
// real run; the real run's report is the machine's difference.
struct RunCheck {
    std::string program, args, report;
    StateScope scope;
    std::set<std::string> exempt;
    bool cleanupCopy = false;
};

Report CheckRun(const RunCheck &c, const std::string &label)
{
    DeleteFileA(c.report.c_str());
    MachineState before = TakeState(c.scope);
    ChildRun run = RunChild(c.program, "/N " + c.args, {}, 60000);
    EXPECT_FALSE(run.timedOut) << label;
    MachineState previewed = TakeState(c.scope);
    std::vector<Change> byPreview = Differences(before, previewed);
    std::vector<std::string> changed;
    for (const Change &ch : byPreview)
        if (!c.exempt.count(ch.id.substr(2)))
            changed.push_back(Describe(ch));
    ExpectNone(label + ": the preview changed the machine", changed);
    Report preview = ReadReport(c.report);
    EXPECT_EQ("PREVIEW", preview.head["#MODE"]) << label;
    ExpectNone(label + ": preview #RESULT", ResultLineFailures(preview));

    run = RunChild(c.program, "/V " + c.args, {}, 60000);
    EXPECT_FALSE(run.timedOut) << label;
    if (c.cleanupCopy)
        WaitForCleanupCopy();
    MachineState after = TakeState(c.scope);
    Report real = ReadReport(c.report);
    EXPECT_FALSE(real.rows.empty()) << label << ": no report rows";
    ExpectNone(label + ": #RESULT", ResultLineFailures(real));
    ExpectNone(label + ": the preview's plan", PredictionFailures(preview, real));
    std::vector<Change> changes = Differences(previewed, after);
    EXPECT_FALSE(changes.empty()) << label << ": the run changed nothing";
    ExpectNone(label + ": report against the machine", DifferenceFailures(real, changes, c.exempt));
    return real;
}

// The sample product of scripts/demo.sh: two installations, the upgrade
// rolled back, then the uninstall, each run from the product's own copy of
// the program (which removes itself through its clean-up copy).
TEST(Difference, SampleProductRollbackThenUninstall)
{
    std::string win = WinDir();
    Sample sample = InstallSample(win);
    RunCheck c;
    c.program = sample.app + "\\UNINSTAL.EXE";
    c.report = win + "\\SAMPLE.RPT";
    c.scope.trees = {sample.app, "C:\\Order Exports"};
    c.scope.flatFolders = {win, win + "\\system32"};
    c.scope.iniFiles = {win + "\\win.ini", win + "\\ORDERS.INI"};
    c.exempt = {UpperText(sample.app + "\\INSTALL.LOG"), UpperText(c.report), UpperText(win + "\\SAMPLE.MIF")};

    c.args = "/S /R " + sample.shortLog;
    Report rollback = CheckRun(c, "rollback");
    EXPECT_EQ("ROLLBACK", rollback.head["#MODE"]);
    EXPECT_EQ("RESTORE-BACKUP", Action(rollback, "FILE", sample.app + "\\ORDERS.EXE"));

    c.args = "/S " + sample.shortLog;
    c.cleanupCopy = true;
    Report uninstall = CheckRun(c, "uninstall");
    EXPECT_EQ("UNINSTALL", uninstall.head["#MODE"]);
    EXPECT_FALSE(PathExists(sample.app)) << "the program's folder goes with its clean-up copy";
    EXPECT_EQ("DONE ", Outcome(uninstall, "DIR", sample.app));
    RemoveSample(sample);
}

// The product a user found: its log records a key made without a value
// (root 2 = HKLM) and a value whose removal empties two keys above it; its
// log lies in a folder the log does not record.
TEST(Difference, AKeyWithoutAValueAndTheKeysTheWalkUpRemoves)
{
    std::string win = WinDir(), top = "C:\\KVACC", logDir = top + "\\SETUP";
    RemoveTreeForTest(top);
    CleanKey(HKEY_LOCAL_MACHINE, "Software\\AccWiz");
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\AccWiz", "Other", "another product's");
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\AccWiz\\Empty", 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &k, NULL));
    RegCloseKey(k);
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\AccWiz\\Deep\\Er", "Made", "x");
    MakeFile(top + "\\APP\\ACC.EXE", "program");
    std::string log = logDir + "\\INSTALL.LOG";
    MakeFile(log, "***  Installation Log\r\nTitle: AccWiz\r\nMade Dir: " + top + "\\APP\r\n"
                  "File Copy: " + top + "\\APP\\ACC.EXE\r\n"
                  "RegDB Key: Software\\AccWiz\\Empty\r\nRegDB Val: \r\nRegDB Root: 2\r\n"
                  "RegDB Key: Software\\AccWiz\\Deep\\Er\r\nRegDB Val: x\r\nRegDB Name: Made\r\nRegDB Type: 0\r\n"
                  "RegDB Root: 2\r\n");
    RunCheck c;
    c.program = ScratchDir("diff_acc") + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), c.program.c_str(), FALSE));
    c.report = win + "\\UNINSTAL.RPT";
    c.scope.trees = {top};
    c.scope.flatFolders = {win};
    c.exempt = {UpperText(log), UpperText(c.report)};
    c.args = "/S " + log;
    Report r = CheckRun(c, "AccWiz");
    EXPECT_EQ("DONE ", Outcome(r, "REGKEY", "HKLM\\Software\\AccWiz\\Empty"));
    EXPECT_EQ("DELETE", Action(r, "REGKEY", "HKLM\\Software\\AccWiz\\Empty"));
    EXPECT_EQ("DONE ", Outcome(r, "REGVALUE", "HKLM\\Software\\AccWiz\\Deep\\Er"));
    EXPECT_EQ("DONE ", Outcome(r, "REGKEY", "HKLM\\Software\\AccWiz\\Deep\\Er"));
    EXPECT_EQ("DONE ", Outcome(r, "REGKEY", "HKLM\\Software\\AccWiz\\Deep"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\AccWiz"));
    // The log's own folder is recorded by no block.
    std::vector<std::string> row = RowOf(r, "DIR", logDir);
    ASSERT_EQ(8u, row.size());
    EXPECT_EQ("-", row[1]);
    for (const auto &each : r.rows)
        EXPECT_TRUE(each[1] == "-" || each[1] == "1") << each[0] << " " << each[1];
    CleanKey(HKEY_LOCAL_MACHINE, "Software\\AccWiz");
    RemoveTreeForTest(top);
    DeleteFileA(c.report.c_str());
}

// The database engine's last user: its count goes with its two trees, and
// the vendor key they leave empty goes too; the rows name every change, and
// the preview plans them all.
TEST(Difference, TheDatabaseEngineLastUser)
{
    std::string win = WinDir(), top = "C:\\KVBDE";
    RemoveTreeForTest(top);
    CleanKey(HKEY_LOCAL_MACHINE, "Software\\Borland");
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine", "UseCount", "1");
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\Borland\\Database Engine\\Settings", "Path", "C:\\BDE");
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\Borland\\BLW32\\Links", "V", "x");
    MakeFile(top + "\\APP\\DB.EXE", "program");
    std::string log = top + "\\INSTALL.LOG";
    MakeFile(log, "***  Installation Log\r\nTitle: Db\r\nSubSystem: BDE\r\nMade Dir: " + top + "\\APP\r\n"
                  "File Copy: " + top + "\\APP\\DB.EXE\r\n");
    RunCheck c;
    c.program = ScratchDir("diff_bde") + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), c.program.c_str(), FALSE));
    c.report = win + "\\UNINSTAL.RPT";
    c.scope.trees = {top};
    c.scope.flatFolders = {win};
    c.exempt = {UpperText(log), UpperText(c.report)};
    c.args = "/S " + log;
    Report r = CheckRun(c, "database engine");
    EXPECT_EQ("DONE ", Outcome(r, "REGTREE", "HKLM\\Software\\Borland\\Database Engine"));
    EXPECT_EQ("DONE ", Outcome(r, "REGTREE", "HKLM\\Software\\Borland\\BLW32"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Borland"));
    CleanKey(HKEY_LOCAL_MACHINE, "Software\\Borland");
    RemoveTreeForTest(top);
    DeleteFileA(c.report.c_str());
}

// Generated products: mixes of files (in use, shared, system, help files,
// trees, the user's own), INI items and files, registry values, keys and
// trees, the database engine's count, services and programs, uninstalled or
// rolled back. They are checked eight at a time: their names never meet, so
// the machine's difference across the eight runs is their reports' rows.
TEST(Difference, GeneratedProducts)
{
    const char *env = getenv("KV_DIFF_COUNT");
    int count = env && atoi(env) > 0 ? atoi(env) : 16;
    std::string win = WinDir();
    std::string program = ScratchDir("diff_bin") + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    TestRng rng{0x4b56444946ull};
    PrepareGenerated();
    std::map<std::string, int> seen;        // rows by kind, action and outcome
    // KV_DIFF_FROM: the first product checked (the earlier ones are only
    // generated, so that a failing product can be run again on its own).
    const char *from = getenv("KV_DIFF_FROM");
    int skip = from ? atoi(from) / GENERATED_BATCH * GENERATED_BATCH : 0;
    for (int first = 0; first < count && !HasFailure(); first += GENERATED_BATCH) {
        if (first < skip) {
            for (int n = first; n < first + GENERATED_BATCH; n++)
                RemoveGenerated(Generate(rng, n, win));
            continue;
        }
        std::vector<Generated> batch;
        StateScope scope;
        scope.trees = {GeneratedTop};
        scope.flatFolders = {win, win + "\\system32"};
        std::set<std::string> exempt;
        std::vector<std::string> held, previews, reals;
        std::vector<bool> restarts;
        for (int n = first; n < count && n < first + GENERATED_BATCH; n++) {
            batch.push_back(Generate(rng, n, win));
            const Generated &p = batch.back();
            scope.iniFiles.insert(scope.iniFiles.end(), p.iniFiles.begin(), p.iniFiles.end());
            held.insert(held.end(), p.held.begin(), p.held.end());
            // The run's own records: its log (deleted or cut), report and
            // status file, and the program a restart runs (written when a
            // file waits for the restart).
            for (const std::string &e : {p.log, p.report, p.status, win + "\\_MSRSTRT.EXE"})
                exempt.insert(UpperText(e));
            std::string args = std::string(p.rollback ? " /S /R " : " /S ") + p.log;
            previews.push_back("\"" + program + "\" /N" + args);
            reals.push_back("\"" + program + "\" /V" + args);
            restarts.push_back(p.rollback && !p.held.empty());
        }
        ASSERT_FALSE(HasFatalFailure());
        Holder holder;
        ASSERT_TRUE(held.empty() || holder.Start(held)) << "the holder did not start";
        std::string label = "products " + std::to_string(first) + "-" + std::to_string(first + batch.size() - 1);

        MachineState before = TakeState(scope);
        RunAll(previews, std::vector<bool>(previews.size(), false));
        MachineState previewed = TakeState(scope);
        std::vector<std::string> changed;
        for (const Change &ch : Differences(before, previewed))
            if (!exempt.count(ch.id.substr(2)))
                changed.push_back(Describe(ch));
        ExpectNone(label + ": the previews changed the machine", changed);
        std::vector<Report> planned;
        for (const Generated &p : batch)
            planned.push_back(ReadReport(p.report));

        RunAll(reals, restarts);
        MachineState after = TakeState(scope);
        Report all;
        for (size_t i = 0; i < batch.size(); i++) {
            const Generated &p = batch[i];
            Report real = ReadReport(p.report);
            std::string name = "product " + std::to_string(p.n) + (p.rollback ? " (rollback)" : "");
            EXPECT_FALSE(real.rows.empty()) << name << ": no report";
            ExpectNone(name + ": preview #RESULT", ResultLineFailures(planned[i]));
            ExpectNone(name + ": #RESULT", ResultLineFailures(real));
            ExpectNone(name + ": the preview's plan", PredictionFailures(planned[i], real));
            all.rows.insert(all.rows.end(), real.rows.begin(), real.rows.end());
            for (const auto &row : real.rows)
                if (row.size() == 8)
                    seen[row[2] + " " + row[4] + " " + row[5]]++;
        }
        std::vector<Change> changes = Differences(previewed, after);
        EXPECT_FALSE(changes.empty()) << label << ": the runs changed nothing";
        ExpectNone(label + ": reports against the machine", DifferenceFailures(all, changes, exempt));
        holder.Stop();
        if (HasFailure())
            for (const Generated &p : batch)
                printf("product %d's log:\n%s\n", p.n, p.logText.c_str());
        for (const Generated &p : batch)
            RemoveGenerated(p);
    }
    FinishGenerated();
    // What the products covered: every kind of change the generator makes
    // was made, kept or skipped at least once.
    std::string tally;
    for (const auto &kv : seen)
        tally += "  " + kv.first + ": " + std::to_string(kv.second) + "\n";
    printf("rows of the generated products' runs:\n%s", tally.c_str());
    for (const char *want : {"FILE DELETE DONE", "FILE DELETE FAILED", "FILE RESTORE-BACKUP DONE",
                             "FILE RESTORE-BACKUP STAGED", "FILE NONE KEPT", "FILE NONE SKIPPED", "SHARED DECREMENT DONE",
                             "SYSFILE DELETE DONE", "SYSFILE NONE KEPT", "DIR DELETE DONE", "DIR DELETE KEPT",
                             "TREE DELETE DONE", "INI RESTORE-VALUE DONE", "INI DELETE-VALUE DONE", "INI RESTORE-VALUE SKIPPED",
                             "INIFILE DELETE DONE",
                             "REGVALUE DELETE-VALUE DONE", "REGVALUE DELETE-VALUE SKIPPED", "REGVALUE RESTORE-VALUE DONE", "REGVALUE RESTORE-VALUE SKIPPED",
                             "REGKEY DELETE DONE", "REGKEY DELETE KEPT", "REGTREE DELETE DONE", "SUBSYSTEM DECREMENT DONE",
                             "SERVICE STOP-DELETE DONE", "PROGRAM RUN DONE"})
        EXPECT_TRUE(seen.count(want)) << "no generated product made a row " << want;
}

} // namespace
