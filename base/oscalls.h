// System calls that behave differently on Windows 95 and 98 than on NT,
// called through one table. Wine accepts NT's flags whatever version it
// reports, so the tests put stand-ins here that refuse them as 95 and 98 do.
#pragma once
#include <windows.h>
#include <commdlg.h>

struct OsCallTable {
    HANDLE(WINAPI *CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI *GetFileInformationByHandle)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
    BOOL(WINAPI *GetVolumeInformationA)(LPCSTR, LPSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPSTR, DWORD);
    BOOL(WINAPI *MoveFileExA)(LPCSTR, LPCSTR, DWORD);
    BOOL(WINAPI *GetOpenFileNameA)(LPOPENFILENAMEA);
    SC_HANDLE(WINAPI *OpenSCManagerA)(LPCSTR, LPCSTR, DWORD);
    // Entry points that only some systems have (the shell's folder calls,
    // kernel32's newer directory calls) are looked up through this one.
    FARPROC(WINAPI *GetProcAddress)(HMODULE, LPCSTR);
    LONG(WINAPI *RegQueryValueExA)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
};

// --- base/oscalls ---
extern OsCallTable Os;      // the system's own functions unless a test replaced them

// Puts the system's own functions back.
void UseSystemCalls(void);
