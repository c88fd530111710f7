// Shared-component counts: read, lowered through regops.h, and the
// last reference's question asked through asks.h.
#include "shared.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../machine/regops.h"
#include "../ui/asks.h"
#include <stdlib.h>

int NoToAll;

static const char SharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

long SharedCount(DWORD type, const BYTE *data, DWORD size)
{
    if (type == REG_DWORD && size == 4)
        return (long)*(const DWORD *)data;
    if (type == REG_BINARY && size == 4)
        return (long)(data[0] | data[1] << 8 | data[2] << 16 | (DWORD)data[3] << 24);
    if (type == REG_SZ) {
        char text[260];
        CopyTextN(text, sizeof text, (const char *)data, size);
        return strtol(text, NULL, 10);
    }
    return -1;
}

int ReleaseSharedFile(const char *path, long *countFound, unsigned short installNo)
{
    if (!Version4OrLater)
        return SHARED_NOT_COUNTED;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedKey, 0, REG_ACCESS, &key) != ERROR_SUCCESS)
        return SHARED_NOT_COUNTED;
    BYTE data[256];
    DWORD type = 0, size = sizeof data;
    if (RegQueryValueExA(key, path, NULL, &type, data, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return SHARED_NOT_COUNTED;
    }
    long count = SharedCount(type, data, size);
    if (countFound)
        *countFound = count;
    int result = SHARED_NOT_COUNTED;
    if (count == 1) {
        int answer = SHARED_ANSWER_NO;
        if (!Silent && !NoToAll) {
            answer = AskRemoveShared(path);
            if (answer == SHARED_ANSWER_NO_TO_ALL)
                NoToAll = 1;
        }
        // The value goes whatever the answer: the count is spent.
        LowerSharedCount(key, 2, SharedKey, path, count, installNo);
        result = answer == SHARED_ANSWER_YES ? SHARED_REMOVE : SHARED_KEEP;
    } else if (count >= 2) {
        LowerSharedCount(key, 2, SharedKey, path, count, installNo);
        result = SHARED_KEEP;
    }
    RegCloseKey(key);
    return result;
}
