// Kill runs of the recovery store. The kill runs' product is uninstalled
// with /S /K and that run is ended at some moment, then /S /U must put the
// machine back as it was before (the product's folders with content, the
// Windows folder's files, WIN.INI and the product's INI items, HKCU and HKLM
// Software), with no FAILED or CONFLICT row, and leave no store. Or /S /K
// runs whole and /S /U is ended at some moment: run again it must end the
// same way. The moments are calls of the program (support/killpoints.h):
// named ones, where one step of a change is made and the next is not, and
// random ones. The product lies on C: (the store's volume) or on D:, a
// volume of its own, where keeping a file and putting it back copy it.
// KV_KILL_COUNT (default 2 random moments per case) and KV_KILL_SEED.
#include <gtest/gtest.h>
#include <functional>
#include <stdlib.h>
#include <string.h>
#include "support/difference.h"
#include "support/killpoints.h"
#include "support/killproduct.h"
#include "support/kvtest.h"
#include "support/machine.h"

namespace {

struct Bench {
    KillProduct p;
    std::string mode;           // "/S", or "/S /R" (a rollback)
    std::string program, rcv, report;
    StateScope scope;
    std::set<std::string> exempt;
};

// A smaller product than the kill runs of the uninstall: each moment is
// three runs.
Bench Prepare(const std::string &top, const char *mode, const char *scratch)
{
    Bench b;
    b.p = KillProductAt(top, 24);
    b.mode = mode;
    b.rcv = b.p.win + "\\UNINSTAL.RCV";
    b.report = b.p.win + "\\UNINSTAL.RPT";
    b.program = ScratchDir(scratch) + "\\UNINSTAL.EXE";
    EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), b.program.c_str(), FALSE));
    b.scope.trees = {top, b.rcv};
    b.scope.flatFolders = {b.p.win};
    b.scope.iniFiles = {b.p.win + "\\win.ini", top + "\\Settings\\APP.INI"};
    // The reports and the status file are the runs' own, and so is the copy
    // a kill leaves beside one of them while it is written.
    for (const char *name : {"\\UNINSTAL.RPT", "\\KVKILL.MIF"}) {
        b.exempt.insert(UpperText(b.p.win + name));
        b.exempt.insert(UpperText(b.p.win + name + ".~kv"));
    }
    return b;
}

// What differs from before, and the undo's rows that did not end well.
std::string Problems(const Bench &b, const MachineState &before)
{
    std::string text;
    for (const Change &c : Differences(before, TakeState(b.scope)))
        if (!b.exempt.count(c.id.substr(2)))
            text += "  " + Describe(c) + "\n";
    Report r = ReadReport(b.report);
    for (const auto &row : r.rows)
        if (row.size() >= 6 && (row[5] == "FAILED" || row[5] == "CONFLICT"))
            text += "  row: " + row[2] + " " + row[3] + " " + row[4] + " " + row[5] + " " +
                    (row.size() > 6 ? row[6] : "") + "\n";
    return text;
}

// A fresh installation and no store; the machine before the uninstall.
MachineState Fresh(Bench &b, std::string *log)
{
    RemoveTreeForTest(b.rcv);
    *log = InstallKillProduct(b.p);
    return TakeState(b.scope);
}

// The undo, to its end, with a report of its own.
void Undo(const Bench &b)
{
    DeleteFileA(b.report.c_str());
    RunWhole(b.program, "/S /V /U");
}

// The uninstall with /K ended before call `at` (0: run whole), then /S /U.
std::string KeepKilledThenUndo(Bench &b, unsigned at, CallKill *run)
{
    std::string log;
    MachineState before = Fresh(b, &log);
    *run = RunKilledAtCall(b.program, b.mode + " /K " + log, at);
    EXPECT_TRUE(run->started && run->armed && !run->timedOut);
    Undo(b);
    return Problems(b, before);
}

// The uninstall with /K whole, /S /U ended before call `at` (0: run
// whole), /S /U again.
std::string UndoKilledThenAgain(Bench &b, unsigned at, CallKill *run)
{
    std::string log;
    MachineState before = Fresh(b, &log);
    RunWhole(b.program, b.mode + " /K " + log);
    EXPECT_FALSE(Problems(b, before).empty()) << "the uninstall changed nothing";
    DeleteFileA(b.report.c_str());
    *run = RunKilledAtCall(b.program, "/S /V /U", at);
    EXPECT_TRUE(run->started && run->armed && !run->timedOut);
    Undo(b);
    return Problems(b, before);
}

bool StartsWith(const std::string &s, const std::string &head)
{
    return s.compare(0, head.size(), head) == 0;
}

bool Has(const std::string &s, const std::string &part)
{
    return UpperText(s).find(UpperText(part)) != std::string::npos;
}

// Moments named by where they lie in the whole run's calls: the calls the
// run is ended before (their indexes from 0); none when the run has no such
// moment. A few steps of one change are each a moment of their own.
struct Moment {
    const char *what;
    std::function<std::vector<int>(const std::vector<std::string> &trace, const Bench &b)> find;
};

using Match = std::function<bool(const std::string &)>;

int First(const std::vector<std::string> &t, size_t from, const Match &match)
{
    for (size_t i = from; i < t.size(); i++)
        if (match(t[i]))
            return (int)i;
    return -1;
}

// The first call that matches then after the first that matches after.
int FirstAfter(const std::vector<std::string> &t, const Match &after, const Match &then)
{
    int i = First(t, 0, after);
    return i < 0 ? -1 : First(t, (size_t)i + 1, then);
}

// Calls at .. at+count-1 (where the run has them).
std::vector<int> Steps(int at, int count)
{
    std::vector<int> out;
    for (int k = 0; at >= 0 && k < count; k++)
        out.push_back(at + k);
    return out;
}

Match Call(const std::string &name, const std::string &part = "")
{
    return [=](const std::string &c) {
        return (c == name || StartsWith(c, name + "\t")) && (part.empty() || Has(c, part));
    };
}

// A move (MoveFileA, MoveFileExA) from a path that begins with from to one
// that holds to.
Match Move(const std::string &from, const std::string &to)
{
    return [=](const std::string &c) {
        for (const char *name : {"MoveFileA\t", "MoveFileExA\t"})
            if (StartsWith(c, name) && Has(c.substr(0, strlen(name) + from.size()), from) &&
                Has(c.substr(strlen(name) + from.size()), to))
                return true;
        return false;
    };
}

unsigned long long Seed(unsigned long long base)
{
    const char *text = getenv("KV_KILL_SEED");
    return base + (text ? strtoull(text, NULL, 10) : 0);
}

int RandomCount()
{
    const char *text = getenv("KV_KILL_COUNT");
    return text && atoi(text) > 0 ? atoi(text) : 2;
}

// The whole run first (it must come back whole, and gives the calls), then
// each named moment, then random ones.
void KillAt(Bench &b, const char *mode, const std::vector<Moment> &moments, unsigned long long seed,
            std::string (*trial)(Bench &, unsigned, CallKill *))
{
    CallKill whole;
    std::string problems = trial(b, 0, &whole);
    ASSERT_TRUE(problems.empty()) << mode << ", run whole:\n" << problems;
    ASSERT_FALSE(whole.killed);
    ASSERT_GT(whole.calls, 100u) << "the debugger saw too few calls";
    if (getenv("KV_KILL_TRACE"))
        for (size_t i = 0; i < whole.trace.size(); i++)
            printf("%5u %s\n", (unsigned)i + 1, whole.trace[i].c_str());
    std::vector<std::pair<std::string, unsigned>> at;
    for (const Moment &m : moments) {
        std::vector<int> found = m.find(whole.trace, b);
        EXPECT_FALSE(found.empty()) << mode << ": the run has no moment where " << m.what;
        for (int i : found)
            at.push_back({m.what, (unsigned)i + 1});
    }
    for (int k = 0, n = RandomCount(); k < n; k++) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        at.push_back({"at random", 1 + (unsigned)((seed >> 33) % whole.calls)});
    }
    int failures = 0;
    for (const auto &a : at) {
        CallKill run;
        problems = trial(b, a.second, &run);
        std::string call = run.trace.empty() ? "?" : run.trace.back();
        if (!run.killed)
            ADD_FAILURE() << mode << ": call " << a.second << " (" << a.first << ") never came";
        else if (!problems.empty() && ++failures <= 4)
            ADD_FAILURE() << mode << ", ended where " << a.first << ", before call " << a.second << " of "
                          << whole.calls << " (" << call << "):\n" << problems;
    }
    printf("kill: %s, %u moments, %d with the machine not back, %u calls in the whole run\n", mode,
           (unsigned)at.size(), failures, whole.calls);
    RemoveKillProduct(b.p);
    RemoveTreeForTest(b.rcv);
}

// --- the moments ---------------------------------------------------------------

std::vector<Moment> KeepMoments(bool otherVolume)
{
    std::vector<Moment> m = {
        {"the recovery root is made and no store in it",
         [](const std::vector<std::string> &t, const Bench &b) {
             return Steps(FirstAfter(t, Call("CreateDirectoryA", b.rcv), Call("CreateDirectoryA", b.rcv + "\\")), 1);
         }},
        {"the store is made and its journal not",
         [](const std::vector<std::string> &t, const Bench &) {
             return Steps(First(t, 0, Call("CreateFileA", "\\JOURNAL.TXT")), 1);
         }},
        {"the first journal line is written and not flushed",
         [](const std::vector<std::string> &t, const Bench &) {
             return Steps(FirstAfter(t, Call("CreateFileA", "\\JOURNAL.TXT"), Call("FlushFileBuffers")), 1);
         }},
        {"an INI file's new copy is written beside it and not swapped in",
         [](const std::vector<std::string> &t, const Bench &) {
             return Steps(First(t, 0, [](const std::string &c) {
                              return StartsWith(c, "MoveFileExA\t") && Has(c, ".~kv\t");
                          }), 1);
         }},
    };
    // Its journal line is on disk: the move, each of its steps (on another
    // volume a copy, its data, its name, the deletion).
    m.push_back({"a file is on its way into the store",
                 [otherVolume](const std::vector<std::string> &t, const Bench &b) {
                     return Steps(First(t, 0, Move(b.p.top, b.rcv)), otherVolume ? 6 : 2);
                 }});
    return m;
}

std::vector<Moment> UndoMoments(bool otherVolume)
{
    return {
        // The undo of a file the uninstall replaced (SYSTEM.INI without its
        // device line, a file a rollback restored from its backup): the
        // replaced file's attributes cleared, then each step of putting the
        // kept one back over it.
        {"a replaced file is on its way back",
         [otherVolume](const std::vector<std::string> &t, const Bench &b) {
             int i = First(t, 0, [&](const std::string &c) {
                 return StartsWith(c, "SetFileAttributesA\t" + (otherVolume ? b.p.top : b.p.win)) &&
                        !Has(c, b.rcv) && !Has(c, ".~kv");
             });
             return Steps(i < 0 ? -1 : i + 1, otherVolume ? 8 : 3);
         }},
        {"all is back and the store's first file is deleted",
         [](const std::vector<std::string> &t, const Bench &b) {
             int i = First(t, 0, Call("DeleteFileA", b.rcv));
             return Steps(i < 0 ? -1 : i + 1, 1);
         }},
        {"the journal is deleted",
         [](const std::vector<std::string> &t, const Bench &) {
             int i = First(t, 0, Call("DeleteFileA", "\\JOURNAL.TXT"));
             return Steps(i < 0 ? -1 : i + 1, 1);
         }},
        {"the store is emptied and its folder not removed",
         [](const std::vector<std::string> &t, const Bench &b) {
             // The store's own folder, "<product>.<date>", not a folder of
             // kept files in it.
             return Steps(First(t, 0, [&](const std::string &c) {
                              std::string head = "RemoveDirectoryA\t" + b.rcv + "\\";
                              return Has(c.substr(0, head.size()), head) &&
                                     c.find('\\', head.size()) == std::string::npos &&
                                     c.find('.', head.size()) != std::string::npos;
                          }), 1);
         }},
    };
}

// --- each line on the disk before its change ---------------------------------------

// The call's arguments (after the tabs).
std::vector<std::string> Args(const std::string &call)
{
    std::vector<std::string> out;
    for (size_t at = call.find('\t'); at != std::string::npos;) {
        size_t next = call.find('\t', at + 1);
        out.push_back(call.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
        at = next;
    }
    return out;
}

// Whether the call changes the machine outside the store: not the copy a
// whole-file write makes beside its file (the swap is the change), not a
// write to a file (the journal, such a copy, the report).
bool ChangesTheMachine(const std::string &call, const Bench &b)
{
    std::string name = call.substr(0, call.find('\t'));
    std::vector<std::string> a = Args(call);
    auto outside = [&](const std::string &p) {
        return !Has(p, b.rcv) && UpperText(p).rfind(".~KV") != UpperText(p).size() - 4;
    };
    if (name == "SetEndOfFile" || name == "RegSetValueExA" || name == "RegDeleteValueA" || name == "RegDeleteKeyA")
        return true;
    if (name == "MoveFileA" || name == "MoveFileExA")
        return a.size() == 2 && (outside(a[0]) || outside(a[1]));
    if (name == "CopyFileA")
        return a.size() == 2 && outside(a[1]);
    if (name == "DeleteFileA" || name == "RemoveDirectoryA" || name == "CreateDirectoryA" ||
        name == "SetFileAttributesA" || name == "WritePrivateProfileStringA")
        return a.size() == 1 && a[0] != "(null)" && outside(a[0]);
    return false;
}

// The changes made while a line written to the journal was not yet flushed.
std::vector<std::string> ChangesBeforeTheirLine(const std::vector<std::string> &trace, const Bench &b,
                                                int *journalWrites)
{
    std::string journal;        // the journal's handle: the one its lines are written to
    bool unflushed = false;
    std::vector<std::string> out;
    *journalWrites = 0;
    for (const std::string &c : trace) {
        std::vector<std::string> a = Args(c);
        if (StartsWith(c, "WriteFile\t") && a.size() == 2) {
            for (const char *tag : {"FILE.", "DIR.", "VALUE.", "KEY.", "INI."})
                if (journal.empty() && StartsWith(a[1], tag))
                    journal = a[0];
            if (a[0] == journal) {
                unflushed = true;
                ++*journalWrites;
            }
        } else if (StartsWith(c, "FlushFileBuffers\t") && a.size() == 1 && a[0] == journal) {
            unflushed = false;
        } else if (unflushed && ChangesTheMachine(c, b)) {
            out.push_back(c);
        }
    }
    return out;
}

// --- the cases -------------------------------------------------------------------

TEST(KillUndo, AKeepingRunEndedAnywhereIsUndoneWhole)
{
    Bench b = Prepare("C:\\KVKILL", "/S", "killundo_keep");
    KillAt(b, "/S /K, then /S /U", KeepMoments(false), Seed(91), KeepKilledThenUndo);
}

TEST(KillUndo, AnUndoEndedAnywhereRunAgainEndsAsAWholeOne)
{
    Bench b = Prepare("C:\\KVKILL", "/S", "killundo_undo");
    KillAt(b, "/S /K, /S /U ended, /S /U", UndoMoments(false), Seed(92), UndoKilledThenAgain);
}

// The product on D:, a volume of its own (wine-run.sh's KV_SMALL_DRIVE),
// rolled back: files deleted and files restored from their backups, each
// kept by a copy to the store's volume and put back by a copy.
TEST(KillUndoOtherVolume, AKeepingRollbackEndedAnywhereIsUndoneWhole)
{
    ASSERT_TRUE(PathExists("D:\\")) << "no drive D: (the test runs with KV_SMALL_DRIVE)";
    Bench b = Prepare("D:\\KVKILL", "/S /R", "killundo_keep_d");
    KillAt(b, "on D:, /S /R /K, then /S /U", KeepMoments(true), Seed(93), KeepKilledThenUndo);
}

TEST(KillUndoOtherVolume, AnUndoOfARollbackEndedAnywhereRunAgainEndsAsAWholeOne)
{
    ASSERT_TRUE(PathExists("D:\\")) << "no drive D: (the test runs with KV_SMALL_DRIVE)";
    Bench b = Prepare("D:\\KVKILL", "/S /R", "killundo_undo_d");
    KillAt(b, "on D:, /S /R /K, /S /U ended, /S /U", UndoMoments(true), Seed(94), UndoKilledThenAgain);
}

// A kill cannot show it (what was written is there after a kill), a
// power cut would: no change comes while a line of the journal is written
// and not flushed. For an uninstall and a rollback, each run whole.
TEST(KillUndo, EveryJournalLineIsOnTheDiskBeforeItsChange)
{
    for (const char *mode : {"/S", "/S /R"}) {
        Bench b = Prepare("C:\\KVKILL", mode, "killundo_order");
        std::string log;
        Fresh(b, &log);
        CallKill run = RunKilledAtCall(b.program, b.mode + " /K " + log, 0);
        ASSERT_TRUE(run.started && run.armed && !run.timedOut && !run.killed) << mode;
        int lines = 0;
        std::vector<std::string> early = ChangesBeforeTheirLine(run.trace, b, &lines);
        EXPECT_GT(lines, 20) << mode << ": the journal's writes were not found";
        std::string text;
        for (size_t i = 0; i < early.size() && i < 5; i++)
            text += "  " + early[i] + "\n";
        EXPECT_TRUE(early.empty()) << mode << ": " << early.size() << " changes while a line was not flushed:\n"
                                   << text;
        RemoveKillProduct(b.p);
        RemoveTreeForTest(b.rcv);
    }
}

} // namespace
