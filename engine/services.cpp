// Services, virtual-device lines in SYSTEM.INI and self-registered servers.
#include "services.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../log/logread.h"
#include "../ui/progress.h"

int DeleteServiceByName(const char *name)
{
    // Windows 95 and 98 have no service control manager (advapi32 holds
    // stubs): the uninstall does not ask, see DeleteServices.
    if (PlatformKind != PLATFORM_NT) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    SC_HANDLE manager = Os.OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (!manager)
        return 0;
    int done = 0;
    DWORD error = 0;
    SC_HANDLE service = OpenServiceA(manager, name, Preview ? SERVICE_QUERY_STATUS : DELETE | SERVICE_STOP);
    if (!service) {
        error = GetLastError();
    } else if (Preview) {
        done = 1;
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
    // A service that is not there is gone already.
    SetLastError(error == ERROR_SERVICE_DOES_NOT_EXIST ? ERROR_FILE_NOT_FOUND : error);
    return done;
}

// --- SYSTEM.INI [386Enh] device lines ---------------------------------------

static int WriteBytes(HFILE file, const char *bytes, size_t len)
{
    if (Preview)
        return 1;           // a preview only reads the lines
    return len == 0 || _lwrite(file, bytes, (UINT)len) == (UINT)len;
}

// The line reader takes a CR as the line end and drops every LF, so a file
// with bare LF line ends (or NUL bytes) would come back with lines joined.
static int SafeToRewrite(const char *bytes, long size)
{
    for (long i = 0; i < size; i++) {
        if (bytes[i] == 0)
            return 0;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
            return 0;
    }
    return 1;
}

// Puts the new file in place of the old one so that one of them is always
// there under the name, whatever fails.
static int PutInPlace(const char *newFile, const char *target, const char *dir)
{
    if (PlatformKind == PLATFORM_NT)
        return Os.MoveFileExA(newFile, target, MOVEFILE_REPLACE_EXISTING) != 0;
    // The other platforms have no replacing move: keep the old file aside
    // until the new one has its name.
    char keep[MAX_PATH];
    if (FormatText(keep, sizeof keep, "%s\\~KVRS383.BAK", dir) != TEXT_FIT)
        return 0;
    DeleteFileA(keep);
    if (!MoveFileA(target, keep))
        return 0;
    if (!MoveFileA(newFile, target)) {
        MoveFileA(keep, target);
        return 0;
    }
    DeleteFileA(keep);
    return 1;
}

int RemoveDeviceLine(const char *path)
{
    char dir[MAX_PATH], iniPath[MAX_PATH], tmpPath[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    SetLastError(ERROR_INVALID_DATA);
    if (n == 0 || n >= sizeof dir)
        return DEVICE_FAILED;
    if (n > 0 && dir[n - 1] == '\\')
        dir[n - 1] = 0;
    if (FormatText(iniPath, sizeof iniPath, "%s\\SYSTEM.INI", dir) != TEXT_FIT ||
        FormatText(tmpPath, sizeof tmpPath, "%s\\~KVRS383.TMP", dir) != TEXT_FIT)
        return DEVICE_FAILED;

    // The driver's name relative to the system directory.
    char sysDir[INV_PATH_CAP + 1];
    if (SystemDir[0]) {
        CopyText(sysDir, sizeof sysDir, SystemDir);
    } else {
        n = GetSystemDirectoryA(sysDir, sizeof sysDir - 1);
        if (n == 0 || n >= sizeof sysDir - 1)
            return DEVICE_FAILED;
    }
    size_t sysLen = strlen(sysDir);
    if (sysLen == 0 || sysDir[sysLen - 1] != '\\')
        AppendText(sysDir, sizeof sysDir, "\\");
    const char *name = StartsWithNoCase(path, sysDir) ? path + strlen(sysDir) : path;

    HFILE in = _lopen(iniPath, OF_READ);
    if (in == HFILE_ERROR)
        return DEVICE_NO_LINE;
    // One line can be as long as the file: a buffer of the file's size keeps
    // every line whole.
    long size = _llseek(in, 0, FILE_END);
    char *line = size >= 0 ? (char *)malloc((size_t)size + INV_PATH_CAP) : NULL;
    if (!line || _llseek(in, 0, FILE_BEGIN) != 0 ||
        (size > 0 && _lread(in, line, (UINT)size) != (UINT)size) || !SafeToRewrite(line, size) ||
        _llseek(in, 0, FILE_BEGIN) != 0) {
        free(line);
        _lclose(in);
        return DEVICE_FAILED;
    }
    size_t cap = (size_t)size + INV_PATH_CAP;
    HFILE out = Preview ? HFILE_ERROR : _lcreat(tmpPath, 0);
    if (out == HFILE_ERROR && !Preview) {
        free(line);
        _lclose(in);
        return DEVICE_FAILED;
    }

    ResetLineReader();
    int inside = 0, changed = 0, failed = 0;
    for (;;) {
        int tooLong = 0;
        int more = ReadLogLine(in, line, cap, 1, &tooLong);
        if (tooLong) {
            failed = 1;         // the file grew while it was read
            break;
        }
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
        if ((disable && !WriteBytes(out, ";", 1)) || !WriteBytes(out, line, strlen(line)) ||
            (more && !WriteBytes(out, "\r\n", 2))) {
            failed = 1;
            break;
        }
        changed |= disable;
        if (!more)
            break;              // a last line without a line end is written as it stood
    }
    free(line);
    _lclose(in);
    if (Preview)
        return failed ? DEVICE_FAILED : changed ? DEVICE_DONE : DEVICE_NO_LINE;
    if (_lclose(out) == HFILE_ERROR)
        failed = 1;
    if (failed || !changed || !PutInPlace(tmpPath, iniPath, dir)) {
        DeleteFileA(tmpPath);
        SetLastError(ERROR_WRITE_FAULT);
        return failed || changed ? DEVICE_FAILED : DEVICE_NO_LINE;
    }
    return DEVICE_DONE;
}

// --- self-registering servers ---------------------------------------------

static int RunExeServer(const char *path, int mode)
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
    WaitForProcess(pi.hProcess);
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

int SelfRegisterFile(const char *prefix, const char *path, int mode)
{
    CopyText(DialogText, sizeof DialogText, prefix);
    AppendShortPath(DialogText, sizeof DialogText, path);
    ShowProgress(DialogText);

    // The server's own directory is made current, so that the libraries it
    // depends on are found there.
    const char *slash = strrchr(path, '\\');
    if (slash) {
        char dir[INV_PATH_CAP];
        size_t len = (size_t)(slash - path);
        if (len == 2 && path[1] == ':')
            len++;              // "C:\", the root, not the drive's current directory
        if (CopyTextN(dir, sizeof dir, path, len) == TEXT_FIT) {
            NormalizePath(dir, sizeof dir, 0);
            SetCurrentDirectoryA(dir);
        }
    }

    size_t len = strlen(path);
    const char *ext = len >= 3 ? path + len - 3 : path;
    int isExe = TextEqualNoCase(ext, "EXE");
    if (Preview) {
        // Nothing is started or loaded: a server that is there would be called.
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            return 0;
        if (isExe || IsWin32Executable(path))
            return 1;
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return 0;
    }
    if (isExe)
        return RunExeServer(path, mode);
    if (IsWin32Executable(path))
        return CallDllServer(path, mode);
    SetLastError(GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? ERROR_FILE_NOT_FOUND
                                                                     : ERROR_BAD_EXE_FORMAT);
    return 0;
}
