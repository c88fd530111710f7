// Registry restore and removal: which entries are taken and which refused,
// the old data's conversion, and the walk up the keys a removal empties.
// The changes themselves, with their rows, go through regops.h.
#include "registry.h"
#include "keyguard.h"
#include "../base/rows.h"
#include "../base/text.h"
#include "../base/refusals.h"
#include <string.h>

static const DWORD RegTypeTable[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY};

// A refusal names the key as every other registry row does ("HKLM\key"),
// when the root is one the report can name.
static void RefuseKey(const char *kind, int root, const char *key, const char *reason,
                      unsigned short installNo)
{
    char target[REG_WORK_PATH_CAP + 8];
    if (RootKeyFor(root))
        RegistryTarget(target, sizeof target, root, key);
    else
        CopyText(target, sizeof target, key);
    RecordRefusal(kind, target, reason, installNo);
}

// A key text that names a root itself (empty, or only backslashes) would make
// the removal act on the whole root: such an entry is refused.
static int IsUsableKey(const char *key)
{
    for (; *key; key++)
        if (*key != '\\')
            return 1;
    return 0;
}

// Leading blanks, one sign, digits up to the first non-digit; none gives 0.
// Wraps like a 32-bit number instead of overflowing.
static DWORD ParseDecimal(const char *text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        text++;
    int negative = 0;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    DWORD value = 0;
    for (; *text >= '0' && *text <= '9'; text++)
        value = value * 10 + (DWORD)(*text - '0');
    return negative ? (DWORD)(0u - value) : value;
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int ConvertRegistryData(char *data, size_t cap, int type)
{
    if (cap < 2)
        return -1;
    switch (type) {
    case 0:
    case 1:
        data[cap - 1] = 0;
        return (int)strlen(data) + 1;
    case 2: {
        size_t pos = 0;
        while (pos < cap && data[pos]) {
            size_t len = strnlen(data + pos, cap - pos);
            pos += len + 1;
        }
        if (pos >= cap) {
            // Not closed inside the buffer: close it at its end.
            data[cap - 2] = data[cap - 1] = 0;
            pos = cap - 1;
        }
        return (int)pos + 1;
    }
    case 3: {
        data[cap - 1] = 0;
        DWORD value = ParseDecimal(data);
        data[0] = (char)(value & 0xFF);
        data[1] = (char)(value >> 8 & 0xFF);
        data[2] = (char)(value >> 16 & 0xFF);
        data[3] = (char)(value >> 24 & 0xFF);
        return 4;
    }
    case 4: {
        size_t out = 0;
        int high = -1;
        for (size_t in = 0; in < cap && data[in]; in++) {
            char c = data[in];
            if (c >= 'a' && c <= 'z')
                data[in] = c = (char)(c - 'a' + 'A');
            int v = HexValue(c);
            if (v < 0)
                continue;
            if (high < 0) {
                high = v;
            } else {
                // Two digits were read for every byte written: out < in.
                data[out++] = (char)(high << 4 | v);
                high = -1;
            }
        }
        return (int)out;
    }
    default:
        return -1;
    }
}

// --- restore ----------------------------------------------------------------

// Whether the open key's value already holds these bytes of this type.
static int ValueHolds(HKEY key, const char *name, DWORD type, const char *data, int count)
{
    // Static: with the caller's own buffer it would pass the stack's
    // guard-page size, which needs a probe the program does not link.
    static char now[OLD_DATA_CAP];
    DWORD nowType = 0, size = sizeof now;
    return RegQueryValueExA(key, name, NULL, &nowType, (BYTE *)now, &size) == ERROR_SUCCESS &&
           nowType == type && size == (DWORD)count && memcmp(now, data, size) == 0;
}

void RestoreRegistryValue(RegValueEntry *entry)
{
    if (!RootKeyFor(entry->Root) || entry->Type < 0 || entry->Type > 4 || !IsUsableKey(entry->Key)) {
        RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_RESTORE_VALUE,
                    ERROR_INVALID_DATA, entry->ValueName);
        return;
    }
    HKEY key;
    LONG result = OpenKeyNow(entry->Root, entry->Key, REG_ACCESS, &key);
    if (result != ERROR_SUCCESS) {
        // the key is gone: it is not made again
        RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_RESTORE_VALUE, result,
                    entry->ValueName);
        return;
    }
    // Converted in a buffer of the full cap: the entry keeps its text, and
    // a number takes four bytes whatever its text's length.
    char data[OLD_DATA_CAP] = {0};
    int size = Rollback ? entry->LastOldDataSize : entry->OldDataSize;
    size_t n = size > 0 ? (size_t)size : 0;
    memcpy(data, Rollback ? entry->LastOldData : entry->OldData, n < sizeof data ? n : sizeof data);
    int count = ConvertRegistryData(data, sizeof data, entry->Type);
    DWORD type = RegTypeTable[entry->Type];
    if (count < 0) {
        RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_RESTORE_VALUE,
                    ERROR_INVALID_DATA, entry->ValueName);
    } else if (ValueHolds(key, entry->ValueName, type, data, count)) {
        // The product did not change it (or it was put back before):
        // nothing is written, and the row does not claim a change.
        if (RowsWanted) {
            char target[REG_WORK_PATH_CAP + 8];
            RegistryTarget(target, sizeof target, entry->Root, entry->Key);
            AddRow("REGVALUE", entry->InstallNo, target, ACT_RESTORE_VALUE, OUT_SKIPPED, "ALREADY-GONE",
                   entry->ValueName);
        }
    } else {
        SetKeyValue(key, entry->Root, entry->Key, entry->ValueName, type, data, (DWORD)count,
                    entry->InstallNo);
    }
    RegCloseKey(key);
}

// --- removal ----------------------------------------------------------------

void RemoveRegistryValue(RegKeyEntry *entry)
{
    if (!RootKeyFor(entry->Root) || !IsUsableKey(entry->Key)) {
        RefuseKey("REGKEY", entry->Root, entry->Key, "BAD-PATH", entry->InstallNo);
        return;         // no root, or the text names the root itself
    }
    // An entry without a value name records a key the product made (its
    // default value deleted with it); one with a name, a value.
    int keyEntry = !entry->ValueName[0];
    HKEY key;
    LONG result = OpenKeyNow(entry->Root, entry->Key, REG_ACCESS, &key);
    if (result != ERROR_SUCCESS) {
        if (keyEntry)
            RegistryRow("REGKEY", entry->InstallNo, entry->Root, entry->Key, ACT_DELETE, result, NULL);
        else
            RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_DELETE_VALUE, result,
                        entry->ValueName);
        return;
    }
    DeleteKeyValue(key, entry->Root, entry->Key, entry->ValueName, entry->InstallNo);
    int holds = KeyHoldsSomethingNow(key, entry->Root, entry->Key);
    RegCloseKey(key);
    if (holds) {
        // The user's values or keys keep a key the product made.
        if (keyEntry && RowsWanted) {
            char target[REG_WORK_PATH_CAP + 8];
            RegistryTarget(target, sizeof target, entry->Root, entry->Key);
            AddRow("REGKEY", entry->InstallNo, target, ACT_DELETE, OUT_KEPT, "NOT-EMPTY", NULL);
        }
        return;
    }
    // The key, then each parent left empty, each with its own row.
    for (;;) {
        // An emptied shared key (Run, Uninstall, a root's child...) is
        // Windows' own, not the product's: the walk ends below it.
        if (IsProtectedKey(entry->Root, entry->Key)) {
            RefuseKey("REGKEY", entry->Root, entry->Key, "PROTECTED", entry->InstallNo);
            return;
        }
        if (!DeleteEmptyKey(entry->Root, entry->Key, entry->InstallNo))
            return;
        char *slash = strrchr(entry->Key, '\\');
        if (slash)
            *slash = 0;
        else
            entry->Key[0] = 0;
        if (!IsUsableKey(entry->Key))
            return;     // what is left names the root: never touched
        if (OpenKeyNow(entry->Root, entry->Key, REG_ACCESS, &key) != ERROR_SUCCESS)
            return;
        holds = KeyHoldsSomethingNow(key, entry->Root, entry->Key);
        RegCloseKey(key);
        if (holds)
            return;
    }
}

int DeleteRegistryTree(const char *keyPath, int root, unsigned short installNo)
{
    // A tree is taken only as plainly spelt, never empty (the root): its
    // sub-keys' paths are made from its text, and an odd spelling could name
    // another key.
    if (!RootKeyFor(root) || !IsPlainKey(keyPath)) {
        RefuseKey("REGTREE", root, keyPath, "BAD-PATH", installNo);
        return 0;
    }
    if (IsProtectedKey(root, keyPath)) {
        RefuseKey("REGTREE", root, keyPath, "PROTECTED", installNo);
        return 0;
    }
    DeleteKeyTree(root, keyPath, installNo);
    return 1;
}
