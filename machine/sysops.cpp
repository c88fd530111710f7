// Services, SYSTEM.INI device lines, self-registering servers and programs
// run (see sysops.h).
#include "sysops.h"
#include "recovery.h"
#include "preview.h"
#include "wholefile.h"
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include <stdlib.h>
#include <string.h>

// --- services ---------------------------------------------------------------

int RemoveService(const char *name, unsigned short installNo)
{
    // Windows 95 and 98 have no service control manager (advapi32 holds
    // stubs): the entry is reported as skipped, and the report lists it as
    // left, rather than claimed gone.
    if (PlatformKind != PLATFORM_NT) {
        AddRow("SERVICE", installNo, name, ACT_NONE, OUT_SKIPPED, "UNSUPPORTED", NULL);
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    int done = 0;
    DWORD error = 0;
    SC_HANDLE manager = Os.OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager) {
        error = GetLastError();
    } else {
        // A preview asks for the rights the deletion needs: a service that
        // is there but not ours to delete is expected to stay.
        SC_HANDLE service = OpenServiceA(manager, name, DELETE | SERVICE_STOP);
        if (!service) {
            error = GetLastError();
        } else if (Preview) {
            done = 1;
            CloseServiceHandle(service);
        } else if (!KeepService(manager, name)) {
            // What the deletion takes away could not be kept: it is not made.
            error = GetLastError();
            CloseServiceHandle(service);
        } else {
            // A service that does not stop is still marked for deletion; the
            // system removes it when it stops.
            SERVICE_STATUS status;
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            done = DeleteService(service) != 0;
            error = GetLastError();
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    // A service that is not there is gone already.
    if (error == ERROR_SERVICE_DOES_NOT_EXIST)
        error = ERROR_FILE_NOT_FOUND;
    AddResultRow("SERVICE", installNo, name, ACT_STOP_DELETE, done, error, NULL);
    SetLastError(error);
    return done;
}

void WaitForServiceStop(PauseFn pause, DWORD ms)
{
    if (!Preview)
        pause(ms);
}

// --- SYSTEM.INI [386Enh] device lines ---------------------------------------

// The line rules below take a CR as the line end and drop the LF after it,
// so a file with bare LF line ends (or NUL bytes) would come back with lines
// joined: such a file is not rewritten.
static int SafeToRewrite(const char *bytes, size_t size)
{
    for (size_t i = 0; i < size; i++) {
        if (bytes[i] == 0)
            return 0;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            return 0;
    }
    return 1;
}

// Appends text to the new file's bytes; 0 when it would not fit.
static int Put(char *out, size_t cap, size_t *used, const char *text)
{
    if (CopyText(out + *used, cap - *used, text) != TEXT_FIT)
        return 0;
    *used += strlen(text);
    return 1;
}

// The driver's name as SYSTEM.INI may give it: relative to the system
// directory. Result 0 when the system directory is not to be had.
static int DriverName(const char *path, const char **name)
{
    char sysDir[INV_PATH_CAP + 1];
    if (SystemDir[0]) {
        CopyText(sysDir, sizeof sysDir, SystemDir);
    } else {
        UINT n = GetSystemDirectoryA(sysDir, sizeof sysDir - 1);
        if (n == 0 || n >= sizeof sysDir - 1)
            return 0;
    }
    size_t sysLen = strlen(sysDir);
    if (sysLen == 0 || sysDir[sysLen - 1] != '\\')
        AppendText(sysDir, sizeof sysDir, "\\");
    *name = StartsWithNoCase(path, sysDir) ? path + strlen(sysDir) : path;
    return 1;
}

// Builds the new text of the lines in into out (cap bytes); *changed tells
// whether a line was disabled. Result 0 when it did not fit.
static int DisableLines(char *in, size_t size, const char *path, const char *name, char *out, size_t cap,
                        size_t *used, int *changed)
{
    int inside = 0;
    *used = 0;
    *changed = 0;
    out[0] = 0;
    for (size_t pos = 0;;) {
        char *line = in + pos;
        while (pos < size && in[pos] != '\r')
            pos++;
        int ended = pos < size;
        in[pos] = 0;
        const char *p = line;
        while (*p == ' ' || *p == '\t')
            p++;
        int disable = 0;
        if (*p == '[') {
            // Every header is tested, so that a [386Enh] section right after
            // another one is searched too.
            inside = StartsWithNoCase(p, "[386Enh]");
        } else if (inside && StartsWithNoCase(p, "device=")) {
            const char *rest = p + 7;
            disable = (*name && TextEqualNoCase(rest, name)) || TextEqualNoCase(rest, path);
        }
        // A last line without a line end is written as it stood.
        if ((disable && !Put(out, cap, used, ";")) || !Put(out, cap, used, line) ||
            (ended && !Put(out, cap, used, "\r\n")))
            return 0;
        *changed |= disable;
        if (!ended)
            return 1;
        pos++;
        if (pos < size && in[pos] == '\n')
            pos++;
    }
}

static int DisableDeviceLines(const char *path)
{
    char dir[MAX_PATH], iniPath[MAX_PATH];
    const char *name;
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    SetLastError(ERROR_INVALID_DATA);
    if (n == 0 || n >= sizeof dir)
        return DEVICE_FAILED;
    if (dir[n - 1] == '\\')
        dir[n - 1] = 0;
    if (FormatText(iniPath, sizeof iniPath, "%s\\SYSTEM.INI", dir) != TEXT_FIT || !DriverName(path, &name))
        return DEVICE_FAILED;

    size_t size = 0;
    // Twice the size is made for the new text below: keep that in range.
    char *in = ReadWholeFile(iniPath, 0x0fffffff, &size);
    if (!in) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? DEVICE_NO_LINE : DEVICE_FAILED;
    }
    // Each line grows by at most a ";" and an LF after its CR: never beyond
    // twice the file.
    size_t cap = 2 * size + 16, used = 0;
    char *out = SafeToRewrite(in, size) ? (char *)malloc(cap) : NULL;
    int changed = 0;
    int built = out && DisableLines(in, size, path, name, out, cap, &used, &changed);
    free(in);
    int result = !built ? DEVICE_FAILED : !changed ? DEVICE_NO_LINE : DEVICE_DONE;
    if (result == DEVICE_DONE) {
        // The new file is written beside the old one and swapped in: a full
        // disk or a kill leaves the old SYSTEM.INI or the new one. A preview
        // only asks whether the swap could be made.
        if (Preview ? !FileFreeToDelete(iniPath)
                    : !KeepFileCopyBytes(iniPath, out, used) || WriteWholeFile(iniPath, out, used, 0) != WHOLE_DONE)
            result = DEVICE_FAILED;
    }
    free(out);
    SetLastError(result == DEVICE_FAILED && built ? ERROR_WRITE_FAULT : ERROR_INVALID_DATA);
    return result;
}

int RemoveDeviceLine(const char *path, unsigned short installNo)
{
    int result = DisableDeviceLines(path);
    DWORD error = GetLastError();
    if (result == DEVICE_NO_LINE)
        AddRow("DEVICE", installNo, path, ACT_DISABLE_LINE, OUT_SKIPPED, "ALREADY-GONE", NULL);
    else
        AddResultRow("DEVICE", installNo, path, ACT_DISABLE_LINE, result == DEVICE_DONE, error, NULL);
    SetLastError(error);
    return result;
}

// --- self-registering servers ---------------------------------------------

static int RunExeServer(const char *path, int mode, ProcessWaitFn wait)
{
    char shortPath[INV_PATH_CAP];
    if (CopyText(shortPath, sizeof shortPath, path) != TEXT_FIT)
        return 0;
    NormalizePath(shortPath, sizeof shortPath, 0);
    // A path that still holds a blank is quoted, or the system would start
    // the program named by its first word.
    const char *format = strchr(shortPath, ' ') ? "\"%s\"" : "%s";
    char command[INV_PATH_CAP + 32];
    if (FormatOneString(command, sizeof command, format, shortPath) != TEXT_FIT ||
        AppendText(command, sizeof command, mode ? " /REGSERVER" : " /UNREGSERVER") != TEXT_FIT)
        return 0;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return 0;
    wait(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 1;
}

typedef HRESULT(WINAPI *OleInitializeProc)(LPVOID);
typedef void(WINAPI *OleUninitializeProc)(void);
typedef HRESULT(WINAPI *RegisterProc)(void);

static int CallDllServer(const char *path, int mode)
{
    HMODULE ole = LoadLibraryA("OLE32.DLL");
    if (!ole)
        return 0;
    int called = 0;
    OleInitializeProc init = (OleInitializeProc)(void *)GetProcAddress(ole, "OleInitialize");
    // S_FALSE means OLE was already started on this thread: it is usable all
    // the same, and the call must be balanced like a first one.
    HRESULT started = init ? init(NULL) : E_FAIL;
    if (SUCCEEDED(started)) {
        HMODULE server = LoadLibraryA(path);
        if (server) {
            RegisterProc call = (RegisterProc)(void *)GetProcAddress(
                server, mode ? "DllRegisterServer" : "DllUnregisterServer");
            if (call) {
                call();
                called = 1;
            }
            FreeLibrary(server);
        }
        OleUninitializeProc uninit =
            (OleUninitializeProc)(void *)GetProcAddress(ole, "OleUninitialize");
        if (uninit)
            uninit();
    }
    FreeLibrary(ole);
    if (!called)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return called;
}

// Makes the server's own folder current, so that the libraries it depends
// on are found there. Result 1 when it did.
static int EnterServerFolder(const char *path)
{
    const char *slash = strrchr(path, '\\');
    if (!slash)
        return 0;
    char dir[INV_PATH_CAP];
    size_t len = (size_t)(slash - path);
    if (len == 2 && path[1] == ':')
        len++;              // "C:\", the root, not the drive's current directory
    if (CopyTextN(dir, sizeof dir, path, len) != TEXT_FIT)
        return 0;
    NormalizePath(dir, sizeof dir, 0);
    return SetCurrentDirectoryA(dir) != 0;
}

int CallServer(const char *path, int kind, int mode, ProcessWaitFn wait, unsigned short installNo)
{
    int called = 0;
    if (Preview || kind == SERVER_NEITHER) {
        // Nothing is started or loaded: a server that is there would be called.
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            SetLastError(ERROR_FILE_NOT_FOUND);
        else if (kind == SERVER_NEITHER)
            SetLastError(ERROR_BAD_EXE_FORMAT);
        else
            called = 1;
    } else {
        // The folder is current only for the call: a current folder cannot
        // be removed, and the server's usually goes later in the run.
        char previous[MAX_PATH];
        DWORD n = GetCurrentDirectoryA(sizeof previous, previous);
        int entered = EnterServerFolder(path);
        called = kind == SERVER_PROGRAM ? RunExeServer(path, mode, wait) : CallDllServer(path, mode);
        DWORD error = GetLastError();
        if (entered && n > 0 && n < sizeof previous)
            SetCurrentDirectoryA(previous);
        SetLastError(error);
    }
    DWORD error = GetLastError();
    AddResultRow("SERVER", installNo, path, mode ? ACT_REGISTER : ACT_UNREGISTER, called, error, NULL);
    SetLastError(error);
    return called;
}

// --- programs run ---------------------------------------------------------

// Whether the program that command starts is there to be started: the
// quoted path, or the first word (the engine quotes a path that names a
// file). A bare name, which the system searches for, is expected to start.
static int ProgramThere(const char *command)
{
    char name[INV_PATH_CAP + 8];
    const char *start = command[0] == '"' ? command + 1 : command;
    const char *end = strchr(start, command[0] == '"' ? '"' : ' ');
    size_t len = end ? (size_t)(end - start) : strlen(start);
    if (len == 0 || CopyTextN(name, sizeof name - 4, start, len) != TEXT_FIT ||
        (!strchr(name, '\\') && !strchr(name, ':')))
        return 1;
    DWORD attrs = GetFileAttributesA(name);
    if (attrs == INVALID_FILE_ATTRIBUTES && !strchr(FileNamePart(name), '.')) {
        AppendText(name, sizeof name, ".EXE");
        attrs = GetFileAttributesA(name);
    }
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

void RunProgram(char *command, const char *target, const char *name, unsigned short installNo,
                ProcessWaitFn wait)
{
    if (Preview) {
        int there = ProgramThere(command);
        AddResultRow("PROGRAM", installNo, target, ACT_RUN, there, ERROR_FILE_NOT_FOUND, name);
        return;                 // a preview runs nothing
    }
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        AddResultRow("PROGRAM", installNo, target, ACT_RUN, 0, GetLastError(), name);
        return;
    }
    AddRow("PROGRAM", installNo, target, ACT_RUN, OUT_DONE, NULL, name);
    // The uninstall goes on only after the program has done its work.
    wait(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
