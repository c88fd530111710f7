#include "dbengine.h"
#include "registry.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../ui/messages.h"
#include <string.h>

static const char EngineKey[] = "Software\\Borland\\Database Engine";
static const char LinkKey[] = "Software\\Borland\\BLW32";
static const char VendorKey[] = "Software\\Borland";
static const char CountValue[] = "UseCount";

// The count in any of its three forms; -1 when the type is not one of them.
static long ReadUseCount(DWORD type, const BYTE *data, DWORD size)
{
    if (type == REG_SZ) {
        const char *p = (const char *)data;
        while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
            p++;
        int negative = 0;
        if (*p == '+' || *p == '-')
            negative = *p++ == '-';
        unsigned long value = 0;
        for (; *p >= '0' && *p <= '9'; p++)
            value = value * 10 + (unsigned long)(*p - '0');
        return negative ? (long)(0ul - value) : (long)value;
    }
    // A DWORD shorter than 4 bytes is malformed: unknown.
    if ((type == REG_DWORD && size >= 4) || (type == REG_BINARY && size == 4))
        return (long)((DWORD)data[0] | (DWORD)data[1] << 8 | (DWORD)data[2] << 16 |
                      (DWORD)data[3] << 24);
    return -1;
}

// Asks for the local server to be stopped while its window exists.
// Result 1 when the user chose Abort.
static int ServerStopRefused(void)
{
    while (FindWindowA("IB_Server", NULL)) {
        char text[512], caption[PATH_CAP];
        LoadMessage(28, text, sizeof text);
        LoadMessage(25, caption, sizeof caption);
        int answer = MessageBoxA(MainWindow, text, caption, MB_ABORTRETRYIGNORE);
        if (answer == IDABORT)
            return 1;
        if (answer != IDRETRY)
            break;      // Ignore (or the box could not be shown): go on
    }
    return 0;
}

int RemoveDatabaseEngine(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, EngineKey, 0, REG_ACCESS, &key) != ERROR_SUCCESS)
        return DB_GO_ON;
    BYTE data[257];
    DWORD type = 0, size = 256;
    if (RegQueryValueExA(key, CountValue, NULL, &type, data, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return DB_GO_ON;
    }
    data[size < 256 ? size : 256] = 0;
    long count = ReadUseCount(type, data, size);
    if (count > 1) {
        char text[16];
        FormatText(text, sizeof text, "%ld", count - 1);
        if (!Preview)
            RegSetValueExA(key, CountValue, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
        RegCloseKey(key);
        return DB_GO_ON;
    }
    if (count < 1) {
        RegCloseKey(key);
        return DB_GO_ON;
    }
    if (ServerStopRefused()) {
        RegCloseKey(key);
        return DB_ABORT;
    }
    RegCloseKey(key);
    DeleteRegistryTree(EngineKey, 2);
    DeleteRegistryTree(LinkKey, 2);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, VendorKey, 0, REG_ACCESS, &key) != ERROR_SUCCESS)
        return DB_GO_ON;
    int holds = KeyHoldsSomething(key);
    RegCloseKey(key);
    if (!holds && !Preview)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, VendorKey);
    return DB_GO_ON;
}
