// Services in the recovery store (recovery.h): before a service is stopped
// and deleted its configuration, and whether it ran, is kept as a journal
// line; an undo makes the service again and starts it when it ran. The
// service manager is NT's alone. The calls the program does not import are
// not shown to be on Windows 95, even as stubs: they are looked up.
#include "recovery.h"
#include "recoverline.h"
#include "../base/oscalls.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include <stdlib.h>
#include <string.h>

enum { CONFIG_FIRST = 4096, CONFIG_MOST = 64 * 1024 };

typedef BOOL(WINAPI *QueryConfigFn)(SC_HANDLE, LPQUERY_SERVICE_CONFIGA, DWORD, LPDWORD);
typedef BOOL(WINAPI *QueryStatusFn)(SC_HANDLE, LPSERVICE_STATUS);
typedef SC_HANDLE(WINAPI *CreateFn)(SC_HANDLE, LPCSTR, LPCSTR, DWORD, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD,
                                    LPCSTR, LPCSTR, LPCSTR);
typedef BOOL(WINAPI *StartFn)(SC_HANDLE, DWORD, LPCSTR *);
typedef BOOL(WINAPI *ChangeFn)(SC_HANDLE, DWORD, DWORD, DWORD, LPCSTR, LPCSTR, LPDWORD, LPCSTR, LPCSTR, LPCSTR,
                               LPCSTR);

struct ServiceCalls {
    QueryConfigFn QueryConfig;
    QueryStatusFn QueryStatus;
    CreateFn Create;
    StartFn Start;
    ChangeFn Change;
};

// Result 0, with ERROR_CALL_NOT_IMPLEMENTED, when one of them is missing.
static int LookUpCalls(ServiceCalls *sc)
{
    HMODULE advapi = GetModuleHandleA("ADVAPI32.DLL");
    if (advapi) {
        sc->QueryConfig = (QueryConfigFn)(void *)Os.GetProcAddress(advapi, "QueryServiceConfigA");
        sc->QueryStatus = (QueryStatusFn)(void *)Os.GetProcAddress(advapi, "QueryServiceStatus");
        sc->Create = (CreateFn)(void *)Os.GetProcAddress(advapi, "CreateServiceA");
        sc->Start = (StartFn)(void *)Os.GetProcAddress(advapi, "StartServiceA");
        sc->Change = (ChangeFn)(void *)Os.GetProcAddress(advapi, "ChangeServiceConfigA");
    }
    if (advapi && sc->QueryConfig && sc->QueryStatus && sc->Create && sc->Start && sc->Change)
        return 1;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}

// The service's configuration on the heap; null (the last error set) when
// it cannot be read.
static QUERY_SERVICE_CONFIGA *ReadConfig(const ServiceCalls *sc, SC_HANDLE service)
{
    DWORD size = CONFIG_FIRST, needed = 0;
    for (int tries = 0; tries < 2; tries++) {
        QUERY_SERVICE_CONFIGA *config = (QUERY_SERVICE_CONFIGA *)malloc(size);
        if (!config) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return NULL;
        }
        if (sc->QueryConfig(service, config, size, &needed))
            return config;
        DWORD error = GetLastError();
        free(config);
        if (error != ERROR_INSUFFICIENT_BUFFER || needed <= size || needed > CONFIG_MOST) {
            SetLastError(error == ERROR_INSUFFICIENT_BUFFER ? ERROR_MORE_DATA : error);
            return NULL;
        }
        size = needed;
    }
    SetLastError(ERROR_MORE_DATA);
    return NULL;
}

// Running, or on its way there: a service the uninstall would have stopped.
static int Runs(const SERVICE_STATUS *status)
{
    return status->dwCurrentState != SERVICE_STOPPED && status->dwCurrentState != SERVICE_STOP_PENDING;
}

static void PutNumber(Line *l, DWORD n)
{
    char text[16];
    FormatText(text, sizeof text, "%lu", (unsigned long)n);
    PutField(l, text);
}

int KeepService(SC_HANDLE manager, const char *name)
{
    if (!RecoveryOpen() || PlatformKind != PLATFORM_NT)
        return 1;
    ServiceCalls sc;
    if (!LookUpCalls(&sc))
        return 0;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (!service)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;     // nothing there to keep
    QUERY_SERVICE_CONFIGA *config = ReadConfig(&sc, service);
    SERVICE_STATUS status;
    int read = config && sc.QueryStatus(service, &status);
    DWORD error = GetLastError();
    CloseServiceHandle(service);
    int kept = 0;
    if (read) {
        Line l = {};
        PutField(&l, "SERVICE");
        PutField(&l, name);
        PutNumber(&l, config->dwServiceType);
        PutNumber(&l, config->dwStartType);
        PutNumber(&l, config->dwErrorControl);
        PutField(&l, config->lpBinaryPathName ? config->lpBinaryPathName : "");
        PutField(&l, config->lpLoadOrderGroup ? config->lpLoadOrderGroup : "");
        // The dependencies, a list of names each ended by a NUL, one field
        // with a tab between them (no name holds one).
        PutField(&l, "");
        for (const char *d = config->lpDependencies; d && *d; d += strlen(d) + 1) {
            if (d != config->lpDependencies)
                Put(&l, "%09", 3);
            Line one = {};
            PutField(&one, d);
            Put(&l, one.Data ? one.Data : "", one.Len);
            l.Failed |= one.Failed;
            free(one.Data);
        }
        PutField(&l, config->lpServiceStartName ? config->lpServiceStartName : "");
        PutField(&l, config->lpDisplayName ? config->lpDisplayName : "");
        PutField(&l, Runs(&status) ? "1" : "0");
        kept = WriteLine(&l);
        error = GetLastError();
    }
    free(config);
    SetLastError(error);
    return kept;
}

// --- undoing ---------------------------------------------------------------------

// Whether the service is marked for deletion (it goes once it stops): asked
// by a change that changes nothing, the only call that tells. A service not
// open to that question is taken as not marked.
static int MarkedForDeletion(const ServiceCalls *sc, SC_HANDLE manager, const char *name)
{
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_CHANGE_CONFIG);
    if (!service)
        return 0;
    int marked = !sc->Change(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, NULL, NULL, NULL,
                             NULL, NULL, NULL, NULL) &&
                 GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    CloseServiceHandle(service);
    if (marked)
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    return marked;
}

static int StartIt(const ServiceCalls *sc, SC_HANDLE service)
{
    return sc->Start(service, 0, NULL) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
}

// Makes the service again as the line keeps it; result 1 when it is there
// (and started, when it ran).
static int MakeAgain(const ServiceCalls *sc, SC_HANDLE manager, const KeptService *s)
{
    size_t n = strlen(s->Dependencies);
    char *dependencies = (char *)malloc(n + 2);
    if (!dependencies) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    memcpy(dependencies, s->Dependencies, n);
    dependencies[n] = dependencies[n + 1] = 0;
    for (size_t i = 0; i < n; i++)
        if (dependencies[i] == '\t')
            dependencies[i] = 0;
    // LocalSystem is what the manager gives a service made without an
    // account; any other account's password is not known here, and the
    // service then cannot start until the user gives it.
    const char *account = s->StartName[0] && !TextEqualNoCase(s->StartName, "LocalSystem") ? s->StartName : NULL;
    SC_HANDLE service = sc->Create(manager, s->Name, s->DisplayName[0] ? s->DisplayName : NULL,
                                   SERVICE_START | SERVICE_QUERY_STATUS, s->Type, s->Start, s->ErrorControl,
                                   s->Binary, s->Group[0] ? s->Group : NULL, NULL, n ? dependencies : NULL, account,
                                   NULL);
    DWORD error = GetLastError();
    free(dependencies);
    SetLastError(error);
    if (!service)
        return 0;
    int ok = !s->Running || StartIt(sc, service);
    error = GetLastError();
    CloseServiceHandle(service);
    SetLastError(error);
    return ok;
}

int UndoService(const KeptService *s)
{
    if (PlatformKind != PLATFORM_NT) {
        // No service manager: the line cannot come from this system.
        AddRow("SERVICE", 0, s->Name, ACT_UNDO, OUT_SKIPPED, "UNSUPPORTED", NULL);
        return UNDO_UNCHANGED;
    }
    ServiceCalls sc;
    if (!LookUpCalls(&sc))
        return UndoRow("SERVICE", s->Name, UNDO_FAILED, NULL);
    // A preview asks for the rights the real undo needs.
    SC_HANDLE manager = Os.OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        return UndoRow("SERVICE", s->Name, UNDO_FAILED, NULL);
    int result;
    const char *detail = NULL;
    SC_HANDLE service = OpenServiceA(manager, s->Name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_START);
    if (service) {
        QUERY_SERVICE_CONFIGA *config = ReadConfig(&sc, service);
        SERVICE_STATUS status;
        if (!config || !sc.QueryStatus(service, &status)) {
            result = UNDO_FAILED;
        } else if (!TextEqualNoCase(config->lpBinaryPathName ? config->lpBinaryPathName : "", s->Binary)) {
            result = UNDO_CONFLICT;     // made since for another program: it stays
            detail = s->Binary;
        } else if (MarkedForDeletion(&sc, manager, s->Name)) {
            result = UNDO_FAILED;       // it goes when it stops: a later undo makes it again
        } else if (s->Running && !Runs(&status)) {
            // Stopped, not deleted (a run killed between the two), or made
            // and not yet started by an undo killed between the two.
            result = Preview || StartIt(&sc, service) ? UNDO_DONE : UNDO_FAILED;
        } else {
            result = UNDO_UNCHANGED;
        }
        DWORD error = GetLastError();
        free(config);
        CloseServiceHandle(service);
        SetLastError(error);
    } else if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        result = UNDO_FAILED;
    } else {
        result = Preview || MakeAgain(&sc, manager, s) ? UNDO_DONE : UNDO_FAILED;
    }
    DWORD error = GetLastError();
    CloseServiceHandle(manager);
    SetLastError(error);
    return UndoRow("SERVICE", s->Name, result, detail);
}
