// The database engine's use count and, for its last user, its registry
// configuration: the decisions; the changes go through regops.h.
#include "dbengine.h"
#include "registry.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../ui/asks.h"
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
        int answer = AskStopServer();
        if (answer == IDABORT)
            return 1;
        if (answer != IDRETRY)
            break;      // Ignore (or the box could not be shown): go on
    }
    return 0;
}

int RemoveDatabaseEngine(const char *rowName)
{
    HKEY key;
    LONG found = RegOpenKeyExA(HKEY_LOCAL_MACHINE, EngineKey, 0, REG_ACCESS, &key);
    if (found != ERROR_SUCCESS) {
        UseCountRow(rowName, 0, found);
        return DB_GO_ON;
    }
    BYTE data[257];
    DWORD type = 0, size = 256;
    found = RegQueryValueExA(key, CountValue, NULL, &type, data, &size);
    if (found != ERROR_SUCCESS) {
        RegCloseKey(key);
        UseCountRow(rowName, 0, found);
        return DB_GO_ON;
    }
    data[size < 256 ? size : 256] = 0;
    long count = ReadUseCount(type, data, size);
    if (count > 1) {
        LowerUseCount(key, 2, EngineKey, CountValue, count, rowName);
        RegCloseKey(key);
        return DB_GO_ON;
    }
    if (count < 1) {
        // No use left to release (or a count in no form known): no change.
        RegCloseKey(key);
        UseCountRow(rowName, count, ERROR_FILE_NOT_FOUND);
        return DB_GO_ON;
    }
    if (ServerStopRefused()) {
        RegCloseKey(key);
        return DB_ABORT;
    }
    RegCloseKey(key);
    // The last user: the count goes with the configuration.
    DeleteRegistryTree(EngineKey, 2);
    DeleteRegistryTree(LinkKey, 2);
    FinishLastUse(2, EngineKey, VendorKey, rowName);
    return DB_GO_ON;
}
