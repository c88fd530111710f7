// Services kept in the recovery store before they are deleted, and made
// again by an undo: against real services of tools/kv_service.exe run by
// Wine's service manager, in this process (the store's journal and RunUndo).
#include <gtest/gtest.h>
#include <fstream>
#include "kvtest.h"
#include "base/oscalls.h"
#include "base/refusals.h"
#include "base/rows.h"
#include "base/state.h"
#include "engine/undo.h"
#include "machine/recovery.h"
#include "machine/sysops.h"

namespace {

struct ServiceSetup {
    DWORD start = SERVICE_DEMAND_START, errorControl = SERVICE_ERROR_IGNORE;
    std::string display, group;
};

std::string Program(const std::string &log, bool noStop = false)
{
    return "\"" + BinDir() + "\\kv_service.exe\" \"" + log + "\"" + (noStop ? " -nostop" : "");
}

bool MakeService(const std::string &name, const std::string &program, const ServiceSetup &s)
{
    SC_HANDLE m = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE h = m ? CreateServiceA(m, name.c_str(), s.display.empty() ? NULL : s.display.c_str(),
                                     SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, s.start, s.errorControl,
                                     program.c_str(), s.group.empty() ? NULL : s.group.c_str(), NULL, NULL, NULL,
                                     NULL)
                    : NULL;
    if (h)
        CloseServiceHandle(h);
    if (m)
        CloseServiceHandle(m);
    return h != NULL;
}

DWORD StateOf(const std::string &name)
{
    SC_HANDLE m = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE s = m ? OpenServiceA(m, name.c_str(), SERVICE_QUERY_STATUS) : NULL;
    SERVICE_STATUS st = {};
    DWORD state = s && QueryServiceStatus(s, &st) ? st.dwCurrentState : 0;
    if (s)
        CloseServiceHandle(s);
    if (m)
        CloseServiceHandle(m);
    return state;
}

bool WaitFor(const std::string &name, bool wanted(DWORD), DWORD ms)
{
    for (DWORD waited = 0; waited < ms && !wanted(StateOf(name)); waited += 50)
        Sleep(50);
    return wanted(StateOf(name));
}

bool Gone(DWORD state) { return state == 0; }
bool Running(DWORD state) { return state == SERVICE_RUNNING || state == SERVICE_START_PENDING; }

bool StartIt(const std::string &name)
{
    SC_HANDLE m = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE s = m ? OpenServiceA(m, name.c_str(), SERVICE_START) : NULL;
    bool ok = s && StartServiceA(s, 0, NULL);
    if (s)
        CloseServiceHandle(s);
    if (m)
        CloseServiceHandle(m);
    return ok && WaitFor(name, Running, 10000);
}

// Wine's manager gives back no dependencies (and keeps them only in part):
// these stand-ins for its calls give the full service's as NT's manager
// would, and record what the undo asks it to make.
const char FullDisplay[] = "Kv Full Service";
const char FullDependencies[] = "KvDepBase\0+KvDepGroup\0";
std::string MadeWithDependencies;   // as asked of CreateServiceA, each name ended by ";"

BOOL WINAPI QueryConfigWithDependencies(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed)
{
    if (!QueryServiceConfigA(service, config, size, needed))
        return FALSE;
    if (config->lpDisplayName && strcmp(config->lpDisplayName, FullDisplay) == 0)
        config->lpDependencies = (LPSTR)FullDependencies;
    return TRUE;
}

SC_HANDLE WINAPI CreateRecordingDependencies(SC_HANDLE manager, LPCSTR name, LPCSTR display, DWORD access, DWORD type,
                                             DWORD start, DWORD error, LPCSTR program, LPCSTR group, LPDWORD tag,
                                             LPCSTR dependencies, LPCSTR account, LPCSTR password)
{
    MadeWithDependencies.clear();
    for (const char *d = dependencies; d && *d; d += strlen(d) + 1)
        MadeWithDependencies += std::string(d) + ";";
    return CreateServiceA(manager, name, display, access, type, start, error, program, group, tag, NULL, account,
                          password);
}

FARPROC WINAPI GetProcWithDependencies(HMODULE module, LPCSTR name)
{
    if (strcmp(name, "QueryServiceConfigA") == 0)
        return (FARPROC)(void *)QueryConfigWithDependencies;
    if (strcmp(name, "CreateServiceA") == 0)
        return (FARPROC)(void *)CreateRecordingDependencies;
    return GetProcAddress(module, name);
}

// Everything the manager says of the service, "" when it is not there.
std::string Config(const std::string &name)
{
    SC_HANDLE m = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE s = m ? OpenServiceA(m, name.c_str(), SERVICE_QUERY_CONFIG) : NULL;
    std::string text;
    std::vector<char> buf(8192);
    DWORD needed;
    if (s && QueryServiceConfigA(s, (LPQUERY_SERVICE_CONFIGA)buf.data(), (DWORD)buf.size(), &needed)) {
        const QUERY_SERVICE_CONFIGA *c = (const QUERY_SERVICE_CONFIGA *)buf.data();
        auto str = [](const char *t) { return std::string(t ? t : ""); };
        std::string deps;
        for (const char *d = c->lpDependencies; d && *d; d += strlen(d) + 1)
            deps += std::string(d) + ";";
        text = std::to_string(c->dwServiceType) + " " + std::to_string(c->dwStartType) + " " +
               std::to_string(c->dwErrorControl) + " [" + str(c->lpBinaryPathName) + "] group=" +
               str(c->lpLoadOrderGroup) + " deps=" + deps + " account=" + str(c->lpServiceStartName) +
               " display=" + str(c->lpDisplayName);
    }
    if (s)
        CloseServiceHandle(s);
    if (m)
        CloseServiceHandle(m);
    return text;
}

void Cleanup(const std::string &name)
{
    StopAndDeleteService(name);
    WaitFor(name, Gone, 10000);
}

std::string Journal(const std::string &store)
{
    return ReadFileBytes(store + "JOURNAL.TXT");
}

// Removes the service as an uninstall with /K does; the store's path.
std::string RemoveKept(const std::string &name)
{
    KeepRecovery = 1;
    EXPECT_EQ(0, OpenRecoveryStore("Service Test"));
    std::string store = RecoveryStore;
    RemoveService(name.c_str(), 3);
    CloseRecoveryStore();
    KeepRecovery = 0;
    return store;
}

// Runs the undo of store (a preview with preview set); the outcome and
// reason of the service's row, "<no row>" without one.
std::string Undo(const std::string &store, const std::string &name, int preview, int *result = nullptr)
{
    FreeRows();
    FreeRefusals();
    Preview = preview;
    int r = RunUndo(store.c_str());
    Preview = 0;
    if (result)
        *result = r;
    for (int i = 0; i < RowCount(); i++) {
        const ReportRow *row = RowAt(i);
        if (strcmp(row->Kind, "SERVICE") == 0 && name == row->Target) {
            EXPECT_STREQ(ACT_UNDO, row->Action);
            return std::string(row->Outcome) + " " + row->Reason + (row->Detail[0] ? " " : "") + row->Detail;
        }
    }
    return "<no row>";
}

class UndoServices : public testing::Test {
protected:
    void SetUp() override
    {
        PlatformKind = PLATFORM_NT;
        RowsWanted = 1;
        Os.GetProcAddress = GetProcWithDependencies;
        char win[MAX_PATH];
        GetWindowsDirectoryA(win, sizeof win);
        RemoveTreeForTest(std::string(win) + "\\UNINSTAL.RCV");
    }
    void TearDown() override
    {
        UseSystemCalls();
        FreeRows();
        FreeRefusals();
        RowsWanted = 0;
    }
};

// Each service comes back as it was, started when it ran; one made again
// since stays as the user made it. A preview plans the row the undo then
// gives, and changes nothing.
TEST_F(UndoServices, TheServiceComesBackAsItWas)
{
    std::string dir = ScratchDir("undo_svc");
    struct Row {
        const char *name;
        ServiceSetup setup;
        bool running;
        // After the uninstall: the service made again (with this program,
        // or the kept one for "same"), started or not.
        const char *madeAgain;
        bool madeAgainRuns;
        const char *want;
        bool runsAfter;
    };
    ServiceSetup full;
    full.start = SERVICE_AUTO_START;
    full.errorControl = SERVICE_ERROR_NORMAL;
    full.display = FullDisplay;
    full.group = "KvGroup";
    const Row rows[] = {
        {"KvUndoRunning", ServiceSetup(), true, nullptr, false, "DONE ", true},
        {"KvUndoStopped", full, false, nullptr, false, "DONE ", false},
        {"KvUndoSameAgain", ServiceSetup(), false, "same", false, "SKIPPED UNCHANGED", false},
        {"KvUndoSameRunning", ServiceSetup(), true, "same", true, "SKIPPED UNCHANGED", true},
        // Stopped and not deleted (a run killed between the two): started.
        {"KvUndoSameStopped", ServiceSetup(), true, "same", false, "DONE ", true},
        {"KvUndoOtherAgain", ServiceSetup(), true, "other", false, "CONFLICT CHANGED-SINCE", false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        std::string program = Program(dir + "\\" + r.name + ".log");
        ASSERT_TRUE(MakeService(r.name, program, r.setup));
        if (r.running) {
            ASSERT_TRUE(StartIt(r.name));
        }
        std::string before = Config(r.name);
        ASSERT_FALSE(before.empty());
        std::string store = RemoveKept(r.name);
        ASSERT_TRUE(WaitFor(r.name, Gone, 15000)) << "the uninstall left the service";
        EXPECT_NE(std::string::npos, Journal(store).find(std::string("SERVICE\t") + r.name + "\t"))
            << Journal(store);
        std::string other = Program(dir + "\\other.log");
        if (r.madeAgain) {
            ServiceSetup again;
            again.display = "Made Again";
            ASSERT_TRUE(MakeService(r.name, strcmp(r.madeAgain, "same") == 0 ? program : other, again));
            if (r.madeAgainRuns) {
                ASSERT_TRUE(StartIt(r.name));
            }
        }
        MadeWithDependencies = "<not made>";
        std::string between = Config(r.name);
        DWORD stateBetween = StateOf(r.name);
        std::string planned = Undo(store, r.name, 1);
        EXPECT_EQ(between, Config(r.name)) << "the preview changed the service";
        EXPECT_EQ(stateBetween, StateOf(r.name)) << "the preview started or stopped it";
        std::string made = Undo(store, r.name, 0);
        std::string want = r.want;
        if (strcmp(r.want, "CONFLICT CHANGED-SINCE") == 0)
            want += " " + program;      // the kept program, which the user's replaces
        EXPECT_EQ(want, made);
        EXPECT_EQ(made, planned) << "the preview planned another row";
        EXPECT_EQ(r.madeAgain ? "<not made>" : r.setup.display == FullDisplay ? "KvDepBase;+KvDepGroup;" : "",
                  MadeWithDependencies)
            << "the dependencies asked of the manager";
        if (!r.madeAgain) {
            EXPECT_EQ(before, Config(r.name)) << "the service came back otherwise";
        } else {
            std::string mark = strcmp(r.madeAgain, "other") == 0 ? "[" + other + "]" : "display=Made Again";
            EXPECT_NE(std::string::npos, Config(r.name).find(mark)) << "the user's service was changed";
        }
        EXPECT_EQ(r.runsAfter, WaitFor(r.name, Running, r.runsAfter ? 10000 : 500)) << StateOf(r.name);
        EXPECT_FALSE(PathExists(store)) << "the store stays though nothing failed";
        Cleanup(r.name);
    }
    RemoveTreeForTest(dir);
}

// A service that does not stop is only marked for deletion: the undo fails
// while it is there (the store stays), and once it has gone, a second undo
// makes it again.
TEST_F(UndoServices, AServiceMarkedForDeletionIsMadeByALaterUndo)
{
    std::string dir = ScratchDir("undo_svc_marked");
    ASSERT_TRUE(MakeService("KvUndoMarked", Program(dir + "\\m.log", true), ServiceSetup()));
    ASSERT_TRUE(StartIt("KvUndoMarked"));
    std::string before = Config("KvUndoMarked");
    std::string store = RemoveKept("KvUndoMarked");
    ASSERT_TRUE(Running(StateOf("KvUndoMarked"))) << "it stopped, which it never does";
    int result;
    EXPECT_EQ("FAILED ERROR=1072", Undo(store, "KvUndoMarked", 0, &result));
    EXPECT_EQ(UNDO_LEFT, result);
    ASSERT_TRUE(PathExists(store + "JOURNAL.TXT"));
    ASSERT_TRUE(WaitFor("KvUndoMarked", Gone, 15000)) << "it ends by itself after three seconds";
    EXPECT_EQ("DONE ", Undo(store, "KvUndoMarked", 0, &result));
    EXPECT_EQ(UNDO_ALL, result);
    EXPECT_EQ(before, Config("KvUndoMarked"));
    EXPECT_TRUE(WaitFor("KvUndoMarked", Running, 10000));
    EXPECT_FALSE(PathExists(store));
    Cleanup("KvUndoMarked");
    RemoveTreeForTest(dir);
}

// A SERVICE line that is not as the journal writes it, or whose program is
// a kept file, is refused; nothing is made.
TEST_F(UndoServices, AnEditedServiceLineIsRefused)
{
    std::string dir = ScratchDir("undo_svc_edit");
    KeepRecovery = 1;
    ASSERT_EQ(0, OpenRecoveryStore("Edited"));
    std::string store = RecoveryStore;
    CloseRecoveryStore();
    KeepRecovery = 0;
    const std::string good = Program(dir + "\\e.log"), kept = store + "K00001.DAT",
                      quoted = "\"" + kept + "\" -x";
    MakeFile(kept, "not a program");
    struct Row {
        const char *why, *name, *numbers, *program, *running;
    } const rows[] = {
        {"a name with a backslash", "Kv\\Edited", "16\t3\t0", good.c_str(), "1"},
        {"a name with a slash", "Kv/Edited", "16\t3\t0", good.c_str(), "1"},
        {"an empty name", "", "16\t3\t0", good.c_str(), "1"},
        {"a type not a number", "KvEdited", "x16\t3\t0", good.c_str(), "1"},
        {"a negative start", "KvEdited", "16\t-3\t0", good.c_str(), "1"},
        {"running neither 0 nor 1", "KvEdited", "16\t3\t0", good.c_str(), "2"},
        {"no program", "KvEdited", "16\t3\t0", "", "1"},
        {"a kept file as its program", "KvEdited", "16\t3\t0", kept.c_str(), "1"},
        {"a kept file, quoted", "KvEdited", "16\t3\t0", quoted.c_str(), "1"},
    };
    std::string journal;
    for (const Row &r : rows)
        journal += std::string("SERVICE\t") + r.name + "\t" + r.numbers + "\t" + r.program +
                   "\t\t\tLocalSystem\tKvEdited\t" + r.running + "\r\n";
    journal += "SERVICE\tKvEdited\t16\t3\t0\t" + good + "\t\t\tLocalSystem\tKvEdited\r\n";   // a field short
    MakeFile(store + "JOURNAL.TXT", journal);
    Undo(store, "KvEdited", 0);
    EXPECT_EQ((int)(sizeof rows / sizeof *rows) + 1, RefusalCount());
    for (int i = 0; i < RefusalCount() && i < (int)(sizeof rows / sizeof *rows); i++)
        EXPECT_STREQ(i >= 7 ? "PROTECTED" : "BAD-LINE", RefusalAt(RefusalCount() - 1 - i)->Reason)
            << rows[i].why;
    for (int i = 0; i < RowCount(); i++)
        EXPECT_STREQ(OUT_REFUSED, RowAt(i)->Outcome) << RowAt(i)->Kind << " " << RowAt(i)->Target;
    EXPECT_TRUE(Config("KvEdited").empty()) << "an edited line made a service";
    Cleanup("KvEdited");
    RemoveTreeForTest(store);
    RemoveTreeForTest(dir);
}

int ManagerCalls;
SC_HANDLE WINAPI NoManager(LPCSTR, LPCSTR, DWORD)
{
    ManagerCalls++;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return NULL;
}

// Windows 95 and 98 have no service manager: nothing is kept, and a service
// line is skipped without a call to one.
TEST_F(UndoServices, WithoutAServiceManagerNothingIsKeptOrMade)
{
    std::string dir = ScratchDir("undo_svc_95");
    ASSERT_TRUE(MakeService("KvUndo95", Program(dir + "\\n.log"), ServiceSetup()));
    PlatformKind = PLATFORM_OTHER;
    Os.OpenSCManagerA = NoManager;
    ManagerCalls = 0;
    std::string store = RemoveKept("KvUndo95");
    EXPECT_EQ("", Journal(store));
    EXPECT_FALSE(Config("KvUndo95").empty());
    Cleanup("KvUndo95");
    MakeFile(store + "JOURNAL.TXT",
             "SERVICE\tKvUndo95\t16\t3\t0\t" + Program(dir + "\\n.log") + "\t\t\tLocalSystem\tKvUndo95\t1\r\n");
    EXPECT_EQ("SKIPPED UNSUPPORTED", Undo(store, "KvUndo95", 0));
    EXPECT_EQ(0, ManagerCalls);
    PlatformKind = PLATFORM_NT;
    EXPECT_TRUE(Config("KvUndo95").empty()) << "made where there is no service manager";
    RemoveTreeForTest(store);
    RemoveTreeForTest(dir);
}

} // namespace
