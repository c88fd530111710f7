// Records what the self-registration test servers were asked to do, as
// values under HKCU\Software\KvTest\SelfReg, for the tests to read.
#pragma once
#include <windows.h>

static inline void RecordText(const char *name, const char *text)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KvTest\\SelfReg", 0, NULL, 0, KEY_ALL_ACCESS,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)lstrlenA(text) + 1);
    RegCloseKey(key);
}

static inline void RecordCount(const char *name)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KvTest\\SelfReg", 0, NULL, 0, KEY_ALL_ACCESS,
                        NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    DWORD count = 0, size = sizeof count;
    RegQueryValueExA(key, name, NULL, NULL, (BYTE *)&count, &size);
    count++;
    RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&count, sizeof count);
    RegCloseKey(key);
}

// The call, the module's own path and the current directory at the call.
static inline void RecordCall(HMODULE self, const char *call)
{
    char path[MAX_PATH] = "", dir[MAX_PATH] = "";
    GetModuleFileNameA(self, path, sizeof path);
    GetCurrentDirectoryA(sizeof dir, dir);
    RecordText(call, path);
    RecordText("CurrentDir", dir);
    RecordCount("Calls");
}
