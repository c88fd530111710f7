// Undoing an uninstall: the machine's state (the product's folders with
// content, the Windows and System folders' files, HKCU and HKLM Software, the
// INI files' items, the services) is taken before UNINSTAL.EXE /S /K, and
// after /S /U it must be the same again, the store gone. Things changed in
// between stay as the user left them, with CONFLICT rows; a journal line
// that names what no run could have changed is refused; the wizard's Custom
// selection is undone like a silent run. Generated products
// (support/diffproducts.h) are each uninstalled or rolled back with /K and
// undone: KV_UNDO_COUNT of them (16 by default, a batch; a few hundred need
// KV_WATCHDOG and KV_TIMEOUT raised), KV_UNDO_FROM to start at a failing one.
#include <gtest/gtest.h>
#include <fstream>
#include <map>
#include <stdlib.h>
#include "support/difference.h"
#include "support/diffproducts.h"
#include "support/kvtest.h"
#include "support/machine.h"
#include "resources/resource.h"

namespace {

std::string WinDir()
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    return buf;
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

// /N /U first: it changes nothing and foretells each row of the /U that follows.
Report PreviewThenUndo(const SampleRun &s, const MachineState &removed)
{
    ChildRun run = RunChild(s.undoer, "/S /N /U", {}, 60000);
    EXPECT_FALSE(run.timedOut);
    Report preview = ReadReport(s.win + "\\UNINSTAL.RPT");
    EXPECT_EQ("PREVIEW", preview.head["#MODE"]);
    EXPECT_FALSE(preview.head["#STORE"].empty()) << "a preview of the undo names its store";
    std::string changed = Described(Differences(removed, TakeState(s.scope)), s.exempt);
    EXPECT_TRUE(changed.empty()) << "the undo's preview changed the machine:\n" << changed;
    run = RunChild(s.undoer, "/S /V /U", {}, 60000);
    EXPECT_FALSE(run.timedOut);
    Report undo = ReadReport(s.win + "\\UNINSTAL.RPT");
    for (const std::string &f : PredictionFailures(preview, undo))
        ADD_FAILURE() << f;
    return undo;
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

    Report undo = PreviewThenUndo(s, removed);
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

// The wizard's Custom selection with /K: on every list page the even lines
// are chosen (on the directories' page the odd ones, so that a folder taken
// whole does not hide the files' choice), then Finish; the undo puts back
// what that selection took, and leaves the machine as before.
TEST(Undo, TheWizardsCustomSelectionIsUndoneWhole)
{
    SampleRun s = PrepareSample("undo_custom");
    const char caption[] = "Uninstall Sample Orders";
    std::map<std::string, std::vector<std::string>> shown;
    auto choose = [&](const std::string &title, int parity) {
        return DialogAnswer(caption, IDC_NEXT, "", true, IDC_PAGE_TITLE, title, [&, title, parity](HWND dlg) {
            std::vector<std::string> lines = ChildListLines(dlg, IDC_LIST);
            shown[title] = lines;
            for (size_t i = 0; i < lines.size(); i++)
                if ((int)(i % 2) == parity)
                    SendMessageTimeoutA(GetDlgItem(dlg, IDC_LIST), LB_SETSEL, TRUE, (LPARAM)i,
                                        SMTO_ABORTIFHUNG, 2000, NULL);
        });
    };
    std::vector<DialogAnswer> answers = {
        DialogAnswer(caption, IDC_NEXT, "", false, IDC_PAGE_TITLE, "Select Uninstall Method",
                     [](HWND dlg) {
                         SendMessageTimeoutA(GetDlgItem(dlg, IDC_CHOICE2), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG,
                                             2000, NULL);
                     }),
        choose("Select Private Files", 0), choose("Select System Files", 0), choose("Select Directories", 1),
        choose("Select INI Files", 0), choose("Select INI Items", 0), choose("Select Registry Keys to Remove", 0),
        choose("Select Registry Trees", 0), choose("Select Registry Keys to Edit", 0),
        choose("Select Sub-Systems", 0),
        DialogAnswer(caption, IDC_NEXT, "", true, IDC_PAGE_TITLE, "Perform Uninstall")};
    size_t pages = answers.size();

    MachineState before = TakeState(s.scope);
    ChildRun run = RunChild(s.sample.app + "\\UNINSTAL.EXE", "/K " + s.sample.shortLog, answers, 120000);
    ASSERT_FALSE(run.timedOut) << "a page did not come: " << run.dialogs.size() << " of " << pages << " answered";
    EXPECT_EQ(0, run.unanswered);
    WaitForCleanupCopy();
    MachineState removed = TakeState(s.scope);
    std::vector<Change> changes = Differences(before, removed);
    EXPECT_FALSE(Described(changes, s.exempt).empty()) << "the run changed nothing";
    // The selection held: a private file left unchosen stays, a chosen one goes.
    const std::vector<std::string> &files = shown["Select Private Files"];
    ASSERT_GE(files.size(), 2u);
    EXPECT_FALSE(PathExists(files[0])) << files[0];
    EXPECT_TRUE(PathExists(files[1])) << files[1] << " was not chosen";
    std::vector<std::string> stores = Stores(s.win);
    ASSERT_EQ(1u, stores.size()) << "one store for the run";

    Report undo = PreviewThenUndo(s, removed);
    EXPECT_EQ("UNDO", undo.head["#MODE"]);
    EXPECT_NE(std::string::npos, undo.result.find("SUCCESS")) << undo.result;
    for (const std::string &f : ResultLineFailures(undo))
        ADD_FAILURE() << f;
    std::string left = Described(Differences(before, TakeState(s.scope)), s.exempt);
    EXPECT_TRUE(left.empty()) << "the undo left the machine changed:\n" << left;
    EXPECT_TRUE(Stores(s.win).empty()) << "the store goes once all is back";
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

    Report undo = PreviewThenUndo(s, TakeState(s.scope));
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

// The service's configuration and whether it runs; "" when it is not there.
std::string ServiceState(const std::string &name)
{
    SC_HANDLE m = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE s = m ? OpenServiceA(m, name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS) : NULL;
    std::vector<char> buf(8192);
    DWORD needed;
    SERVICE_STATUS st = {};
    std::string text;
    if (s && QueryServiceConfigA(s, (LPQUERY_SERVICE_CONFIGA)buf.data(), (DWORD)buf.size(), &needed) &&
        QueryServiceStatus(s, &st)) {
        const QUERY_SERVICE_CONFIGA *c = (const QUERY_SERVICE_CONFIGA *)buf.data();
        auto str = [](const char *t) { return std::string(t ? t : ""); };
        bool runs = st.dwCurrentState == SERVICE_RUNNING || st.dwCurrentState == SERVICE_START_PENDING;
        text = std::to_string(c->dwServiceType) + " " + std::to_string(c->dwStartType) + " " +
               std::to_string(c->dwErrorControl) + " [" + str(c->lpBinaryPathName) + "] group=" +
               str(c->lpLoadOrderGroup) + " account=" + str(c->lpServiceStartName) + " display=" +
               str(c->lpDisplayName) + (runs ? " running" : " stopped");
    }
    if (s)
        CloseServiceHandle(s);
    if (m)
        CloseServiceHandle(m);
    return text;
}

// The sources of the renames and deletions that wait for the restart and
// lie below folder (upper-cased, without "\\??\\").
std::vector<std::string> PendingSourcesBelow(const std::string &folder)
{
    std::vector<std::string> sources;
    std::string all = PendingRenames(), top = UpperText(folder) + "\\";
    for (size_t at = 0, pair = 0; at < all.size(); pair++) {
        size_t bar = all.find('|', at);
        std::string field = UpperText(all.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
        at = bar == std::string::npos ? all.size() : bar + 1;
        if (field.compare(0, 4, "\\??\\") == 0)
            field = field.substr(4);
        if (pair % 2 == 0 && field.compare(0, top.size(), top) == 0)
            sources.push_back(field);
    }
    return sources;
}

// Generated products: each uninstalled (or rolled back) with /K while
// another program holds some of their files, then undone with /U; the
// machine must be as it was before. Held files: what another program holds
// cannot be deleted (the row is FAILED and the file stays, so its undo finds
// it unchanged). A held file that a rollback replaces gets its backup's copy
// staged beside it for the restart when it can be read (and so kept); one
// held without sharing cannot be kept, and stays with its backup and the
// log, as work left. Undone means, for a staged file: the file as it was,
// the backup back, and the staged copy gone, so that the record the restart
// acts on finds nothing to put in place (the record itself stays with the
// system's other ones). Wine's restart comes at once, while the file is
// still held: its rename fails there, and the staged copy stays for the
// undo. The undo runs once the holder has let go, as after the other
// program ends.
TEST(Undo, GeneratedProductsAreUndoneWhole)
{
    const char *env = getenv("KV_UNDO_COUNT");
    int count = env && atoi(env) > 0 ? atoi(env) : 16;
    std::string win = WinDir();
    RemoveTreeForTest(win + "\\UNINSTAL.RCV");
    std::string program = ScratchDir("undo_bin") + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    TestRng rng{0x4b56444946ull};
    PrepareGenerated();
    std::map<std::string, int> seen;        // the undo's rows by kind and outcome
    std::map<std::string, int> made;        // the uninstalls' rows by kind, action and outcome
    const char *from = getenv("KV_UNDO_FROM");
    int skip = from ? atoi(from) / GENERATED_BATCH * GENERATED_BATCH : 0;
    DWORD started = GetTickCount();
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
        std::vector<std::string> held[2], runs;
        std::vector<bool> restarts;
        for (int n = first; n < count && n < first + GENERATED_BATCH; n++) {
            batch.push_back(Generate(rng, n, win));
            const Generated &p = batch.back();
            scope.iniFiles.insert(scope.iniFiles.end(), p.iniFiles.begin(), p.iniFiles.end());
            // Held without sharing, or (every other product) as a running
            // program's image is, readable.
            held[p.n % 2].insert(held[p.n % 2].end(), p.held.begin(), p.held.end());
            // The uninstall's report and status file say what it did, and
            // are written once its store is closed; what the program it ran
            // wrote is that program's own doing.
            for (const std::string &e : {p.report, p.status, p.root + "RAN.TXT"})
                exempt.insert(UpperText(e));
            runs.push_back("\"" + program + "\" /V /K" + (p.rollback ? " /S /R " : " /S ") + p.log);
            restarts.push_back(p.rollback && !p.held.empty());
        }
        // The undo's own report.
        exempt.insert(UpperText(win + "\\UNINSTAL.RPT"));
        ASSERT_FALSE(HasFatalFailure());
        std::string label = "products " + std::to_string(first) + "-" + std::to_string(first + batch.size() - 1);
        std::map<std::string, std::string> services;
        for (const Generated &p : batch)
            if (!p.service.empty())
                services[p.service] = ServiceState(p.service);

        // Taken before the holder holds its files, which it cannot read then.
        MachineState before = TakeState(scope);
        Holder holders[2];
        for (int share = 0; share < 2; share++)
            ASSERT_TRUE(held[share].empty() || holders[share].Start(held[share], share == 1)) << "a holder did not start";
        RunAll(runs, restarts);
        for (Holder &h : holders)
            h.Stop();
        MachineState removed = TakeState(scope);
        EXPECT_FALSE(Described(Differences(before, removed), exempt).empty()) << label << ": the runs changed nothing";

        for (const Generated &p : batch) {
            std::string name = "product " + std::to_string(p.n) + (p.rollback ? " (rollback)" : "");
            Report run = ReadReport(p.report);
            for (const auto &row : run.rows)
                if (row.size() == 8)
                    made[row[2] + " " + row[4] + " " + row[5]]++;
            std::string store = run.head["#RECOVERY"];
            if (store.empty()) {
                ADD_FAILURE() << name << ": no store named in its report:\n" << ReadFileBytes(p.report);
                continue;
            }
            ChildRun undo = RunChild(program, "/S /N /U " + store, {}, 60000);
            ASSERT_FALSE(undo.timedOut) << name;
            Report preview = ReadReport(win + "\\UNINSTAL.RPT");
            undo = RunChild(program, "/S /V /U " + store, {}, 60000);
            ASSERT_FALSE(undo.timedOut) << name;
            Report r = ReadReport(win + "\\UNINSTAL.RPT");
            for (const std::string &f : PredictionFailures(preview, r))
                ADD_FAILURE() << name << ": " << f;
            EXPECT_EQ("UNDO", r.head["#MODE"]) << name;
            EXPECT_NE(std::string::npos, r.result.find("SUCCESS")) << name << ": " << r.result;
            for (const std::string &f : ResultLineFailures(r))
                ADD_FAILURE() << name << ": " << f;
            for (const auto &row : r.rows) {
                if (row.size() != 8)
                    continue;
                seen[row[2] + " " + row[5]]++;
                EXPECT_TRUE(row[5] == "DONE" || row[5] == "SKIPPED")
                    << name << ": " << row[2] << " " << row[3] << " " << row[5] << " " << row[6] << " " << row[7];
            }
            EXPECT_FALSE(PathExists(store)) << name << ": the store stays";
        }
        MachineState after = TakeState(scope);
        std::string left = Described(Differences(before, after), exempt);
        EXPECT_TRUE(left.empty()) << label << ": the undo left the machine changed:\n" << left;
        for (const auto &svc : services)
            EXPECT_EQ(svc.second, ServiceState(svc.first)) << svc.first << ": the service came back otherwise";
        for (const std::string &source : PendingSourcesBelow(GeneratedTop))
            EXPECT_FALSE(PathExists(source)) << label << ": the restart would still put " << source << " in place";
        if (HasFailure())
            for (const Generated &p : batch)
                printf("product %d's log:\n%s\n", p.n, p.logText.c_str());
        for (const Generated &p : batch)
            RemoveGenerated(p);
    }
    FinishGenerated();
    printf("%d products undone in %lu s; the undo's rows:\n", count - skip,
           (unsigned long)(GetTickCount() - started) / 1000);
    for (const auto &kv : seen)
        printf("  %s: %d\n", kv.first.c_str(), kv.second);
    // What the products covered: every kind of line the journal holds was
    // undone at least once.
    for (const char *want : {"FILE DONE", "DIR DONE", "REGVALUE DONE", "REGKEY DONE", "INI DONE", "SERVICE DONE"})
        EXPECT_TRUE(seen.count(want)) << "no generated product's undo made a row " << want;
    // And the held files' cases came up.
    for (const char *want : {"FILE DELETE FAILED", "FILE RESTORE-BACKUP STAGED", "SERVICE STOP-DELETE DONE"})
        EXPECT_TRUE(made.count(want)) << "no generated product's uninstall made a row " << want;
}

} // namespace
