// Services created by an installation are stopped and deleted, against a real
// service program (tools/kv_service.cpp) run by Wine's service manager.
#include <gtest/gtest.h>
#include "kvtest.h"
#include "base/rows.h"
#include "base/state.h"
#include "engine/services.h"

namespace {

SC_HANDLE FullManager()
{
    return OpenSCManagerA(NULL, NULL, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
}

// Creates a demand-start service running kv_service.exe with its log file.
bool CreateTestService(const std::string &name, const std::string &log, bool noStop)
{
    SC_HANDLE m = FullManager();
    if (!m)
        return false;
    std::string bin = "\"" + BinDir() + "\\kv_service.exe\" \"" + log + "\"" + (noStop ? " -nostop" : "");
    SC_HANDLE s = CreateServiceA(m, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                 SERVICE_ERROR_IGNORE, bin.c_str(), NULL, NULL, NULL, NULL, NULL);
    if (s)
        CloseServiceHandle(s);
    CloseServiceHandle(m);
    return s != NULL;
}

// Current state of the service, or 0 when it cannot be opened (gone).
DWORD State(const std::string &name)
{
    SC_HANDLE m = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE s = m ? OpenServiceA(m, name.c_str(), SERVICE_QUERY_STATUS) : NULL;
    DWORD state = 0;
    SERVICE_STATUS st;
    if (s && QueryServiceStatus(s, &st))
        state = st.dwCurrentState;
    if (s)
        CloseServiceHandle(s);
    if (m)
        CloseServiceHandle(m);
    return state;
}

bool WaitForState(const std::string &name, DWORD want, DWORD ms)
{
    for (DWORD waited = 0; waited < ms; waited += 50) {
        if (State(name) == want)
            return true;
        Sleep(50);
    }
    return State(name) == want;
}

bool Start(const std::string &name)
{
    SC_HANDLE m = FullManager();
    SC_HANDLE s = m ? OpenServiceA(m, name.c_str(), SERVICE_START) : NULL;
    bool ok = s && StartServiceA(s, 0, NULL);
    if (s)
        CloseServiceHandle(s);
    if (m)
        CloseServiceHandle(m);
    return ok && WaitForState(name, SERVICE_RUNNING, 10000);
}

void Cleanup(const std::string &name)
{
    StopAndDeleteService(name);
    WaitForState(name, 0, 10000);
}

TEST(Services, ServiceIsStoppedAndDeleted)
{
    PlatformKind = PLATFORM_NT;     // the only platform with services
    std::string dir = ScratchDir("svc");
    struct Row { const char *name; bool start; bool noStop; const char *log; };
    const Row rows[] = {
        {"KvRunning", true, false, "running\r\nstopped\r\n"},
        {"KvNotStarted", false, false, ""},
        // Deleted all the same; it goes when it ends by itself.
        {"KvIgnoresStop", true, true, "running\r\nstopped\r\n"},
    };
    for (const Row &r : rows) {
        std::string log = dir + "\\" + r.name + ".log";
        ASSERT_TRUE(CreateTestService(r.name, log, r.noStop)) << r.name;
        if (r.start) {
            ASSERT_TRUE(Start(r.name)) << r.name;
        }
        RemoveService(r.name);
        EXPECT_TRUE(WaitForState(r.name, 0, 15000)) << r.name << ": still there";
        EXPECT_EQ(r.log, ReadFileBytes(log)) << r.name;
        Cleanup(r.name);
    }
}

TEST(Services, MissingServiceChangesNothing)
{
    PlatformKind = PLATFORM_NT;     // the only platform with services
    std::string dir = ScratchDir("svc_missing");
    ASSERT_TRUE(CreateTestService("KvBystander", dir + "\\b.log", false));
    ASSERT_TRUE(Start("KvBystander"));
    for (const char *name : {"KvNoSuchService", "", "KvBystanderX", "KvBystande"}) {
        RemoveService(name);
        EXPECT_EQ((DWORD)SERVICE_RUNNING, State("KvBystander")) << "after \"" << name << "\"";
    }
    Cleanup("KvBystander");
    EXPECT_EQ("running\r\nstopped\r\n", ReadFileBytes(dir + "\\b.log"));
}

// Each call reports its service with what it found; a preview leaves the
// service running and plans the row the real call then gives.
TEST(Services, EachCallReportsItsServiceAndThePreviewPlansTheSame)
{
    PlatformKind = PLATFORM_NT;
    std::string dir = ScratchDir("svc_rows");
    ASSERT_TRUE(CreateTestService("KvReported", dir + "\\r.log", false));
    ASSERT_TRUE(Start("KvReported"));
    struct Row { const char *name, *want; };
    const Row rows[] = {{"KvReported", "DONE "}, {"KvNeverMade", "SKIPPED ALREADY-GONE"}};
    RowsWanted = 1;
    for (const Row &r : rows) {
        std::vector<std::string> got;
        for (int preview : {1, 0}) {
            FreeRows();
            Preview = preview;
            RemoveService(r.name, 4);
            Preview = 0;
            ASSERT_EQ(1, RowCount()) << r.name;
            const ReportRow *row = RowAt(0);
            EXPECT_EQ(std::string("SERVICE ") + r.name + " STOP-DELETE 4",
                      std::string(row->Kind) + " " + row->Target + " " + row->Action + " " +
                          std::to_string(row->InstallNo));
            got.push_back(std::string(row->Outcome) + " " + row->Reason);
            if (preview && strcmp(r.name, "KvReported") == 0) {
                EXPECT_EQ((DWORD)SERVICE_RUNNING, State(r.name)) << "the preview stopped it";
            }
        }
        EXPECT_EQ((std::vector<std::string>{r.want, r.want}), got) << r.name << " (preview, then the real call)";
    }
    EXPECT_TRUE(WaitForState("KvReported", 0, 15000)) << "still there";
    FreeRows();
    RowsWanted = 0;
    Cleanup("KvReported");
}

} // namespace
