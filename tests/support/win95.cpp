// The Windows 95/98 stand-ins of win95.h.
#include "win95.h"
#include <shlobj.h>
#include <string.h>
#include "base/oscalls.h"

namespace {

Win95Calls State;

HANDLE WINAPI CreateFile95(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                           DWORD flags, HANDLE model)
{
    // 95 and 98 know GENERIC_READ and GENERIC_WRITE only, and no delete sharing.
    if ((share & FILE_SHARE_DELETE) || (flags & FILE_FLAG_BACKUP_SEMANTICS) ||
        (access & ~(DWORD)(GENERIC_READ | GENERIC_WRITE))) {
        State.NtOnlyOpens++;
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        State.FolderOpens++;
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (State.BeforeHoldOpen && disposition == OPEN_EXISTING && access == GENERIC_READ && share == FILE_SHARE_READ)
        State.BeforeHoldOpen(path);
    return CreateFileA(path, access, share, sa, disposition, flags, model);
}

// The index of 95 and 98 holds only while the file is open: every handle
// gets another one here.
BOOL WINAPI FileInformation95(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info)
{
    static DWORD opens;
    if (!GetFileInformationByHandle(h, info))
        return FALSE;
    info->nFileIndexLow ^= (DWORD)(UINT_PTR)h + ++opens * 0x10000u;
    return TRUE;
}

BOOL WINAPI VolumeInformation95(LPCSTR root, LPSTR name, DWORD nameSize, LPDWORD serial, LPDWORD maxLength,
                                LPDWORD flags, LPSTR system, DWORD systemSize)
{
    // A root without its trailing backslash is refused by every version.
    size_t len = root ? strlen(root) : 0;
    if (len == 0 || root[len - 1] != '\\') {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (!GetVolumeInformationA(root, name, nameSize, serial, maxLength, flags, system, systemSize))
        return FALSE;
    if (serial)
        *serial += State.SerialOffset;
    return TRUE;
}

BOOL WINAPI MoveFileEx95(LPCSTR, LPCSTR, DWORD)
{
    State.MoveFileExCalls++;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

// comdlg32 of 95, 98 and NT 4.0 takes only the structure of its own time.
BOOL WINAPI OpenFileName95(LPOPENFILENAMEA ofn)
{
    State.DialogCalls++;
    State.DialogSize = ofn->lStructSize;
    if (ofn->lStructSize != OPENFILENAME_SIZE_VERSION_400A || State.DialogAnswer.empty() ||
        State.DialogAnswer.size() >= ofn->nMaxFile)
        return FALSE;
    memcpy(ofn->lpstrFile, State.DialogAnswer.c_str(), State.DialogAnswer.size() + 1);
    return TRUE;
}

SC_HANDLE WINAPI ServiceManager95(LPCSTR, LPCSTR, DWORD)
{
    State.ServiceManagerCalls++;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return NULL;
}

// shell32 4.71 and 4.72 know the folders up to CSIDL_APPDATA; Program Files,
// Common Files, the Windows and System folders and the profile came with 5.0.
BOOL WINAPI SpecialFolder98(HWND owner, LPSTR path, int csidl, BOOL create)
{
    if ((csidl & 0xFF) > CSIDL_APPDATA)
        return FALSE;
    typedef BOOL(WINAPI * Fn)(HWND, LPSTR, int, BOOL);
    HMODULE shell = GetModuleHandleA("SHELL32.DLL");
    Fn real = shell ? (Fn)(void *)GetProcAddress(shell, "SHGetSpecialFolderPathA") : NULL;
    return real && real(owner, path, csidl, create);
}

FARPROC WINAPI ProcAddress95(HMODULE module, LPCSTR name)
{
    if (HIWORD((UINT_PTR)name)) {
        static const char *const absent[] = {"SHGetFolderPathA", "GetSystemWindowsDirectoryA",
                                             "GetSystemWow64DirectoryA", "GetProfilesDirectoryA"};
        for (const char *a : absent)
            if (strcmp(name, a) == 0)
                return NULL;
        if (strcmp(name, "SHGetSpecialFolderPathA") == 0)
            return State.Shell == SHELL_98 ? (FARPROC)(void *)SpecialFolder98 : NULL;
    }
    return GetProcAddress(module, name);
}

LONG WINAPI QueryValue95(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    DWORD ownType = 0;
    const std::string *own = NULL;
    if (name && strcmp(name, "ProgramFilesDir") == 0 && State.ProgramFilesType) {
        ownType = State.ProgramFilesType;
        own = &State.ProgramFilesData;
    } else if (name && strcmp(name, "CommonFilesDir") == 0 && State.CommonFilesType) {
        ownType = State.CommonFilesType;
        own = &State.CommonFilesData;
    }
    if (!own)
        return RegQueryValueExA(key, name, reserved, type, data, size);
    if (ownType == VALUE_MISSING)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = ownType;
    DWORD need = (DWORD)own->size();
    if (data && size && *size < need) {
        *size = need;
        return ERROR_MORE_DATA;
    }
    if (data)
        memcpy(data, own->data(), need);
    if (size)
        *size = need;
    return ERROR_SUCCESS;
}

} // namespace

Win95Calls &Win95()
{
    return State;
}

void InstallWin95Calls()
{
    State = Win95Calls();
    State.Shell = SHELL_98;
    Os.CreateFileA = CreateFile95;
    Os.GetFileInformationByHandle = FileInformation95;
    Os.GetVolumeInformationA = VolumeInformation95;
    Os.MoveFileExA = MoveFileEx95;
    Os.GetOpenFileNameA = OpenFileName95;
    Os.OpenSCManagerA = ServiceManager95;
    Os.GetProcAddress = ProcAddress95;
    Os.RegQueryValueExA = QueryValue95;
}
