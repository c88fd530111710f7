#include "registry.h"
#include "keyguard.h"
#include "../app/rows.h"
#include "../app/text.h"
#include "../log/refusals.h"
#include <string.h>

static HKEY const RootKeyTable[REG_ROOT_COUNT] = {
    HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG,
};

static const DWORD RegTypeTable[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY};

HKEY RootKeyFor(int root)
{
    return root >= 0 && root < REG_ROOT_COUNT ? RootKeyTable[root] : NULL;
}

static const char *const RootNameTable[REG_ROOT_COUNT] = {"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};

void RegistryTarget(char *buf, size_t cap, int root, const char *key)
{
    const char *name = root >= 0 && root < REG_ROOT_COUNT ? RootNameTable[root] : "?";
    FormatText(buf, cap, "%s\\%s", name, key);
}

// A report row for a registry operation: ok, or the error the call gave.
static void RegistryRow(const char *kind, unsigned short installNo, int root, const char *key,
                        const char *action, LONG result, const char *detail)
{
    if (!RowsWanted)
        return;
    char target[REG_WORK_PATH_CAP + 8];
    RegistryTarget(target, sizeof target, root, key);
    AddResultRow(kind, installNo, target, action, result == ERROR_SUCCESS, (unsigned long)result, detail);
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

void RestoreRegistryValue(RegValueEntry *entry)
{
    HKEY root = RootKeyFor(entry->Root);
    if (!root || entry->Type < 0 || entry->Type > 4 || !IsUsableKey(entry->Key)) {
        RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_RESTORE_VALUE,
                    ERROR_INVALID_DATA, entry->ValueName);
        return;
    }
    HKEY key;
    LONG result = RegOpenKeyExA(root, entry->Key, 0, REG_ACCESS, &key);
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
    result = count < 0 ? ERROR_INVALID_DATA : ERROR_SUCCESS;
    if (count >= 0 && !Preview)
        result = RegSetValueExA(key, entry->ValueName, 0, RegTypeTable[entry->Type],
                                (const BYTE *)data, (DWORD)count);
    RegCloseKey(key);
    RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_RESTORE_VALUE, result,
                entry->ValueName);
}

static int Found(LONG result)
{
    // A name longer than the buffer is still a value or a sub-key.
    return result == ERROR_SUCCESS || result == ERROR_MORE_DATA;
}

int KeyHoldsSomething(HKEY key)
{
    char name[NAME_CAP];
    DWORD size = sizeof name;
    if (Found(RegEnumValueA(key, 0, name, &size, NULL, NULL, NULL, NULL)))
        return 1;
    size = sizeof name;
    return Found(RegEnumKeyExA(key, 0, name, &size, NULL, NULL, NULL, NULL));
}

void RemoveRegistryValue(RegKeyEntry *entry)
{
    HKEY root = RootKeyFor(entry->Root);
    if (!root || !IsUsableKey(entry->Key)) {
        RecordRefusal("REGKEY", entry->Key, "BAD-PATH", entry->InstallNo);
        return;         // no root, or the text names the root itself
    }
    for (int first = 1; entry->Key[0]; first = 0) {
        HKEY key;
        LONG result = RegOpenKeyExA(root, entry->Key, 0, REG_ACCESS, &key);
        if (result != ERROR_SUCCESS) {
            if (first)
                RegistryRow("REGKEY", entry->InstallNo, entry->Root, entry->Key, ACT_DELETE_VALUE, result,
                            entry->ValueName);
            return;
        }
        if (first) {
            // A preview asks whether the value is there instead of deleting it.
            result = Preview ? RegQueryValueExA(key, entry->ValueName, NULL, NULL, NULL, NULL)
                             : RegDeleteValueA(key, entry->ValueName);
            RegistryRow("REGKEY", entry->InstallNo, entry->Root, entry->Key, ACT_DELETE_VALUE, result,
                        entry->ValueName);
        }
        int holds = Preview || KeyHoldsSomething(key);
        RegCloseKey(key);
        if (holds)
            return;
        // An emptied shared key (Run, Uninstall, a root's child...) is
        // Windows' own, not the product's: the walk ends below it.
        if (IsProtectedKey(entry->Root, entry->Key)) {
            RecordRefusal("REGKEY", entry->Key, "PROTECTED", entry->InstallNo);
            return;
        }
        RegDeleteKeyA(root, entry->Key);
        char *slash = strrchr(entry->Key, '\\');
        if (slash)
            *slash = 0;
        else
            entry->Key[0] = 0;
        if (!IsUsableKey(entry->Key))
            return;     // what is left names the root: never touched
    }
}

// Result 1 when the key is gone.
static int DeleteTree(HKEY rootKey, const char *keyPath)
{
    char work[REG_WORK_PATH_CAP];
    size_t base = strlen(keyPath) + 1;
    // The working path holds the key, a backslash and a sub-key name; a
    // sub-key whose path would not fit is left, never cut into another path.
    int canDescend = CopyText(work, sizeof work, keyPath) == TEXT_FIT &&
                     AppendText(work, sizeof work, "\\") == TEXT_FIT;
    // A sub-key that cannot be deleted is passed over from then on: taking it
    // again on every pass would repeat the whole failing sub-tree 2048 times
    // per level.
    DWORD skipped = 0;
    for (int pass = 0; canDescend && pass < REG_TREE_PASSES; pass++) {
        HKEY key;
        if (RegOpenKeyExA(rootKey, keyPath, 0, REG_ACCESS, &key) != ERROR_SUCCESS)
            break;
        char name[NAME_CAP];
        DWORD size = sizeof name;
        LONG found = RegEnumKeyExA(key, skipped, name, &size, NULL, NULL, NULL, NULL);
        RegCloseKey(key);
        if (found == ERROR_MORE_DATA) {
            skipped++;          // a name that does not fit is never cut into another
            continue;
        }
        if (found != ERROR_SUCCESS)
            break;
        work[base] = 0;
        if (AppendText(work, sizeof work, name) != TEXT_FIT || !DeleteTree(rootKey, work))
            skipped++;
    }
    return RegDeleteKeyA(rootKey, keyPath) == ERROR_SUCCESS;
}

int DeleteRegistryTree(const char *keyPath, int root, unsigned short installNo)
{
    HKEY rootKey = RootKeyFor(root);
    if (!rootKey) {
        RecordRefusal("REGTREE", keyPath, "BAD-PATH", installNo);
        return 0;
    }
    // A tree is taken only as plainly spelt, never empty (the root): its
    // sub-keys' paths are made from its text, and an odd spelling could name
    // another key.
    if (!IsPlainKey(keyPath)) {
        RecordRefusal("REGTREE", keyPath, "BAD-PATH", installNo);
        return 0;
    }
    if (IsProtectedKey(root, keyPath)) {
        RecordRefusal("REGTREE", keyPath, "PROTECTED", installNo);
        return 0;
    }
    HKEY key;
    LONG result = RegOpenKeyExA(rootKey, keyPath, 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        RegCloseKey(key);
        if (!Preview && !DeleteTree(rootKey, keyPath))
            result = ERROR_ACCESS_DENIED;
    }
    RegistryRow("REGTREE", installNo, root, keyPath, ACT_DELETE, result, NULL);
    return 1;
}
