// Registry restore and removal: recorded old values written back, created
// values deleted with the keys they leave empty, added trees deleted; each
// change gets its report row, and a preview counts what it would delete.
#include "registry.h"
#include "keyguard.h"
#include "../machine/preview.h"
#include "../base/rows.h"
#include "../base/text.h"
#include "../base/refusals.h"
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

// --- what a preview counts as deleted --------------------------------------

// Keys and values that a preview would delete join the preview's set
// (preview.h) under names no path can take: "|K|HKLM\key" for a key (and all
// below it), "|V|HKLM\key" + \1 + name for a value. A key name never holds a
// control character, so the value's name cannot run into its key's.
static int PreviewName(char *buf, size_t cap, int root, const char *key, const char *value)
{
    // A name cut short could be another key's: such a name is not used.
    const char *rootName = root >= 0 && root < REG_ROOT_COUNT ? RootNameTable[root] : "?";
    if (value)
        return FormatText(buf, cap, "|V|%s\\%s\001%s", rootName, key, value) == TEXT_FIT;
    return FormatText(buf, cap, "|K|%s\\%s", rootName, key) == TEXT_FIT;
}

enum { PREVIEW_NAME_CAP = REG_WORK_PATH_CAP + NAME_CAP + 16 };

// Whether a preview counts the key, or a key above it, as deleted.
static int PreviewKeyGone(int root, const char *key)
{
    char name[PREVIEW_NAME_CAP];
    if (!Preview || !PreviewName(name, sizeof name, root, key, NULL))
        return 0;
    char *part = strchr(name, '\\');     // after the root's name
    for (char *c = part ? part + 1 : name; *c; c++) {
        if (*c != '\\')
            continue;
        *c = 0;
        int gone = PlannedGone(name);
        *c = '\\';
        if (gone)
            return 1;
    }
    return PlannedGone(name);
}

static int PreviewValueGone(int root, const char *key, const char *value)
{
    char name[PREVIEW_NAME_CAP];
    return Preview && (PreviewKeyGone(root, key) ||
                       (PreviewName(name, sizeof name, root, key, value) && PlannedGone(name)));
}

static void MarkPreviewKey(int root, const char *key, const char *value)
{
    char name[PREVIEW_NAME_CAP];
    if (Preview && PreviewName(name, sizeof name, root, key, value))
        MarkPlannedGone(name);
}

// Opens the key as the run finds it: a preview counts a key it would have
// deleted as missing.
static LONG OpenKeyNow(HKEY rootKey, int root, const char *path, REGSAM access, HKEY *key)
{
    LONG result = RegOpenKeyExA(rootKey, path, 0, access, key);
    if (result == ERROR_SUCCESS && PreviewKeyGone(root, path)) {
        RegCloseKey(*key);
        return ERROR_FILE_NOT_FOUND;
    }
    return result;
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

// KeyHoldsSomething as the run would find it: a preview passes over the
// values and sub-keys it would have deleted.
static int KeyHoldsSomethingNow(HKEY key, int root, const char *path)
{
    if (!Preview)
        return KeyHoldsSomething(key);
    char name[NAME_CAP];
    LONG result;
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof name;
        result = RegEnumValueA(key, i, name, &size, NULL, NULL, NULL, NULL);
        if (!Found(result))
            break;
        if (result == ERROR_MORE_DATA || !PreviewValueGone(root, path, name))
            return 1;
    }
    char sub[REG_WORK_PATH_CAP];
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof name;
        result = RegEnumKeyExA(key, i, name, &size, NULL, NULL, NULL, NULL);
        if (!Found(result))
            break;
        if (result == ERROR_MORE_DATA || FormatText(sub, sizeof sub, "%s\\%s", path, name) != TEXT_FIT ||
            !PreviewKeyGone(root, sub))
            return 1;
    }
    return 0;
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
    HKEY root = RootKeyFor(entry->Root);
    if (!root || entry->Type < 0 || entry->Type > 4 || !IsUsableKey(entry->Key)) {
        RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_RESTORE_VALUE,
                    ERROR_INVALID_DATA, entry->ValueName);
        return;
    }
    HKEY key;
    LONG result = OpenKeyNow(root, entry->Root, entry->Key, REG_ACCESS, &key);
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
    result = count < 0 ? ERROR_INVALID_DATA : ERROR_SUCCESS;
    // A value that already holds the old data was not changed by the
    // product (or was put back before): nothing is written, and the row
    // does not claim a change.
    int unchanged = count >= 0 && ValueHolds(key, entry->ValueName, type, data, count);
    if (count >= 0 && !unchanged && !Preview)
        result = RegSetValueExA(key, entry->ValueName, 0, type, (const BYTE *)data, (DWORD)count);
    RegCloseKey(key);
    if (unchanged && RowsWanted) {
        char target[REG_WORK_PATH_CAP + 8];
        RegistryTarget(target, sizeof target, entry->Root, entry->Key);
        AddRow("REGVALUE", entry->InstallNo, target, ACT_RESTORE_VALUE, OUT_SKIPPED, "ALREADY-GONE",
               entry->ValueName);
        return;
    }
    RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_RESTORE_VALUE, result,
                entry->ValueName);
}

// --- removal ----------------------------------------------------------------

// Deletes one emptied key (a preview counts it as deleted) with its row.
// Result 1 when it went.
static int DeleteEmptiedKey(HKEY root, const RegKeyEntry *entry)
{
    LONG result = ERROR_SUCCESS;
    if (Preview)
        MarkPreviewKey(entry->Root, entry->Key, NULL);
    else
        result = RegDeleteKeyA(root, entry->Key);
    RegistryRow("REGKEY", entry->InstallNo, entry->Root, entry->Key, ACT_DELETE, result, NULL);
    return result == ERROR_SUCCESS;
}

void RemoveRegistryValue(RegKeyEntry *entry)
{
    HKEY root = RootKeyFor(entry->Root);
    if (!root || !IsUsableKey(entry->Key)) {
        RecordRefusal("REGKEY", entry->Key, "BAD-PATH", entry->InstallNo);
        return;         // no root, or the text names the root itself
    }
    // An entry without a value name records a key the product made (its
    // default value deleted with it); one with a name, a value.
    int keyEntry = !entry->ValueName[0];
    HKEY key;
    LONG result = OpenKeyNow(root, entry->Root, entry->Key, REG_ACCESS, &key);
    if (result != ERROR_SUCCESS) {
        if (keyEntry)
            RegistryRow("REGKEY", entry->InstallNo, entry->Root, entry->Key, ACT_DELETE, result, NULL);
        else
            RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_DELETE_VALUE, result,
                        entry->ValueName);
        return;
    }
    // A preview asks whether the value is there instead of deleting it.
    result = RegQueryValueExA(key, entry->ValueName, NULL, NULL, NULL, NULL);
    if (result == ERROR_SUCCESS && PreviewValueGone(entry->Root, entry->Key, entry->ValueName))
        result = ERROR_FILE_NOT_FOUND;
    if (result == ERROR_SUCCESS) {
        if (Preview)
            MarkPreviewKey(entry->Root, entry->Key, entry->ValueName);
        else
            result = RegDeleteValueA(key, entry->ValueName);
    }
    // A key's missing default value is no change and gets no row.
    if (!keyEntry || result != ERROR_FILE_NOT_FOUND)
        RegistryRow("REGVALUE", entry->InstallNo, entry->Root, entry->Key, ACT_DELETE_VALUE, result,
                    entry->ValueName);
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
            RecordRefusal("REGKEY", entry->Key, "PROTECTED", entry->InstallNo);
            return;
        }
        if (!DeleteEmptiedKey(root, entry))
            return;
        char *slash = strrchr(entry->Key, '\\');
        if (slash)
            *slash = 0;
        else
            entry->Key[0] = 0;
        if (!IsUsableKey(entry->Key))
            return;     // what is left names the root: never touched
        if (OpenKeyNow(root, entry->Root, entry->Key, REG_ACCESS, &key) != ERROR_SUCCESS)
            return;
        holds = KeyHoldsSomethingNow(key, entry->Root, entry->Key);
        RegCloseKey(key);
        if (holds)
            return;
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
    LONG result = OpenKeyNow(rootKey, root, keyPath, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        RegCloseKey(key);
        if (Preview)
            MarkPreviewKey(root, keyPath, NULL);
        else if (!DeleteTree(rootKey, keyPath))
            result = ERROR_ACCESS_DENIED;
    }
    RegistryRow("REGTREE", installNo, root, keyPath, ACT_DELETE, result, NULL);
    return 1;
}
