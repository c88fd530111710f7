// Registry changes with their report rows, and the preview's view of the
// registry: keys and values it would delete join the preview's set
// (preview.h), and its look-ups pass over them.
#include "regops.h"
#include "recovery.h"
#include "preview.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../log/inventory.h"
#include <string.h>

static HKEY const RootKeyTable[REG_ROOT_COUNT] = {
    HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG,
};

static const char *const RootNameTable[REG_ROOT_COUNT] = {"HKCR", "HKCU", "HKLM", "HKU", "HKCC"};

enum { TARGET_CAP = REG_WORK_PATH_CAP + 8, COUNT_REASON_CAP = 40 };

HKEY RootKeyFor(int root)
{
    return root >= 0 && root < REG_ROOT_COUNT ? RootKeyTable[root] : NULL;
}

static const char *RootName(int root)
{
    return root >= 0 && root < REG_ROOT_COUNT ? RootNameTable[root] : "?";
}

int RootFromName(const char *keyName, const char **key)
{
    for (int root = 0; root < REG_ROOT_COUNT; root++) {
        size_t n = strlen(RootNameTable[root]);
        if (strncmp(keyName, RootNameTable[root], n) == 0 && keyName[n] == '\\') {
            *key = keyName + n + 1;
            return root;
        }
    }
    return -1;
}

void RegistryTarget(char *buf, size_t cap, int root, const char *key)
{
    FormatText(buf, cap, "%s\\%s", RootName(root), key);
}

void RegistryRow(const char *kind, unsigned short installNo, int root, const char *key, const char *action,
                 LONG result, const char *detail)
{
    if (!RowsWanted)
        return;
    char target[TARGET_CAP];
    RegistryTarget(target, sizeof target, root, key);
    AddResultRow(kind, installNo, target, action, result == ERROR_SUCCESS, (unsigned long)result, detail);
}

// --- what a preview counts as deleted --------------------------------------

// Names no path can take: "|K|HKLM\key" for a key (and all below it),
// "|V|HKLM\key" + \1 + name for a value. A key name never holds a control
// character, so the value's name cannot run into its key's.
static int PlanName(char *buf, size_t cap, int root, const char *key, const char *value)
{
    // A name cut short could be another key's: such a name is not used.
    if (value)
        return FormatText(buf, cap, "|V|%s\\%s\001%s", RootName(root), key, value) == TEXT_FIT;
    return FormatText(buf, cap, "|K|%s\\%s", RootName(root), key) == TEXT_FIT;
}

enum { PLAN_NAME_CAP = REG_WORK_PATH_CAP + NAME_CAP + 16 };

// Whether a preview counts the key, or a key above it, as deleted.
static int KeyGoneInPlan(int root, const char *key)
{
    char name[PLAN_NAME_CAP];
    if (!Preview || !PlanName(name, sizeof name, root, key, NULL))
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

static int ValueGoneInPlan(int root, const char *key, const char *value)
{
    char name[PLAN_NAME_CAP];
    return Preview && (KeyGoneInPlan(root, key) ||
                       (PlanName(name, sizeof name, root, key, value) && PlannedGone(name)));
}

static void MarkInPlan(int root, const char *key, const char *value)
{
    char name[PLAN_NAME_CAP];
    if (Preview && PlanName(name, sizeof name, root, key, value))
        MarkPlannedGone(name);
}

LONG OpenKeyNow(int root, const char *path, REGSAM access, HKEY *key)
{
    HKEY rootKey = RootKeyFor(root);
    if (!rootKey)
        return ERROR_INVALID_HANDLE;
    LONG result = RegOpenKeyExA(rootKey, path, 0, access, key);
    if (result == ERROR_SUCCESS && KeyGoneInPlan(root, path)) {
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

int KeyHoldsSomethingNow(HKEY key, int root, const char *path)
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
        if (result == ERROR_MORE_DATA || !ValueGoneInPlan(root, path, name))
            return 1;
    }
    char sub[REG_WORK_PATH_CAP];
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof name;
        result = RegEnumKeyExA(key, i, name, &size, NULL, NULL, NULL, NULL);
        if (!Found(result))
            break;
        if (result == ERROR_MORE_DATA || FormatText(sub, sizeof sub, "%s\\%s", path, name) != TEXT_FIT ||
            !KeyGoneInPlan(root, sub))
            return 1;
    }
    return 0;
}

// --- changes ----------------------------------------------------------------

// What a change of root's value takes away, into the recovery store first
// (recovery.h): 1 when kept or nothing is kept in this run, else 0 with the
// error in *result (the change is then not made).
static int KeptValue(int root, const char *path, const char *name, int gone, DWORD type, const void *data,
                     DWORD size, LONG *result)
{
    if (Preview || !KeepRecovery)
        return 1;
    char keyName[REG_WORK_PATH_CAP + 8];
    RegistryTarget(keyName, sizeof keyName, root, path);
    if (KeepValue(RootKeyFor(root), keyName, path, name, gone, type, data, size))
        return 1;
    *result = (LONG)GetLastError();
    return 0;
}

static int KeptKey(int root, const char *path, int tree, LONG *result)
{
    if (Preview || !KeepRecovery)
        return 1;
    char keyName[REG_WORK_PATH_CAP + 8];
    RegistryTarget(keyName, sizeof keyName, root, path);
    if (tree ? KeepTree(RootKeyFor(root), keyName, path) : KeepKey(keyName))
        return 1;
    *result = (LONG)GetLastError();
    return 0;
}

LONG SetKeyValue(HKEY key, int root, const char *path, const char *name, DWORD type, const void *data,
                 DWORD size, unsigned short installNo)
{
    LONG result = ERROR_SUCCESS;
    if (!Preview && KeptValue(root, path, name, 0, type, data, size, &result))
        result = RegSetValueExA(key, name, 0, type, (const BYTE *)data, size);
    RegistryRow("REGVALUE", installNo, root, path, ACT_RESTORE_VALUE, result, name);
    return result;
}

LONG DeleteKeyValue(HKEY key, int root, const char *path, const char *name, unsigned short installNo)
{
    // Asked first, so that a preview gives the answer the deletion would.
    LONG result = RegQueryValueExA(key, name, NULL, NULL, NULL, NULL);
    if (result == ERROR_SUCCESS && ValueGoneInPlan(root, path, name))
        result = ERROR_FILE_NOT_FOUND;
    if (result == ERROR_SUCCESS) {
        if (Preview)
            MarkInPlan(root, path, name);
        else if (KeptValue(root, path, name, 1, 0, NULL, 0, &result))
            result = RegDeleteValueA(key, name);
    }
    if (name[0] || result != ERROR_FILE_NOT_FOUND)
        RegistryRow("REGVALUE", installNo, root, path, ACT_DELETE_VALUE, result, name);
    return result;
}

int DeleteEmptyKey(int root, const char *path, unsigned short installNo)
{
    HKEY rootKey = RootKeyFor(root);
    LONG result = ERROR_SUCCESS;
    if (!rootKey)
        result = ERROR_INVALID_HANDLE;
    else if (Preview)
        MarkInPlan(root, path, NULL);
    else if (KeptKey(root, path, 0, &result))
        result = RegDeleteKeyA(rootKey, path);
    RegistryRow("REGKEY", installNo, root, path, ACT_DELETE, result, NULL);
    return result == ERROR_SUCCESS;
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

LONG DeleteKeyTree(int root, const char *path, unsigned short installNo)
{
    HKEY key;
    LONG result = OpenKeyNow(root, path, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        RegCloseKey(key);
        if (Preview)
            MarkInPlan(root, path, NULL);
        else if (KeptKey(root, path, 1, &result) && !DeleteTree(RootKeyFor(root), path))
            result = ERROR_ACCESS_DENIED;
    }
    RegistryRow("REGTREE", installNo, root, path, ACT_DELETE, result, NULL);
    return result;
}

LONG LowerSharedCount(HKEY key, int root, const char *path, const char *file, long count,
                      unsigned short installNo)
{
    LONG result = ERROR_SUCCESS;
    if (count <= 1) {
        if (!Preview && KeptValue(root, path, file, 1, 0, NULL, 0, &result))
            result = RegDeleteValueA(key, file);
    } else {
        DWORD lowered = (DWORD)(count - 1);
        if (!Preview && KeptValue(root, path, file, 0, REG_DWORD, &lowered, sizeof lowered, &result))
            result = RegSetValueExA(key, file, 0, REG_DWORD, (const BYTE *)&lowered, sizeof lowered);
    }
    if (result == ERROR_SUCCESS) {
        char reason[COUNT_REASON_CAP];
        FormatText(reason, sizeof reason, "SHARED %ld->%ld", count, count - 1);
        AddRow("SHARED", installNo, file, ACT_DECREMENT, OUT_DONE, reason, NULL);
    } else {
        AddResultRow("SHARED", installNo, file, ACT_DECREMENT, 0, (unsigned long)result, NULL);
    }
    return result;
}

LONG LowerUseCount(HKEY key, int root, const char *path, const char *name, long count, const char *rowName)
{
    char text[16];
    FormatText(text, sizeof text, "%ld", count - 1);
    LONG result = ERROR_SUCCESS;
    if (!Preview && KeptValue(root, path, name, 0, REG_SZ, text, (DWORD)strlen(text) + 1, &result))
        result = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
    UseCountRow(rowName, count, result);
    return result;
}

void FinishLastUse(int root, const char *engineKey, const char *vendorKey, const char *rowName)
{
    HKEY key;
    LONG result;
    if (OpenKeyNow(root, vendorKey, REG_ACCESS, &key) == ERROR_SUCCESS) {
        // Another product's keys or values keep it.
        int holds = KeyHoldsSomethingNow(key, root, vendorKey);
        RegCloseKey(key);
        if (!holds && Preview)
            MarkInPlan(root, vendorKey, NULL);
        else if (!holds && KeptKey(root, vendorKey, 0, &result))
            RegDeleteKeyA(RootKeyFor(root), vendorKey);
    }
    result = OpenKeyNow(root, engineKey, KEY_READ, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    UseCountRow(rowName, 1, result == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
}

void UseCountRow(const char *rowName, long count, LONG result)
{
    if (!rowName)
        return;
    if (result != ERROR_SUCCESS) {
        AddResultRow("SUBSYSTEM", 0, rowName, ACT_DECREMENT, 0, (unsigned long)result, NULL);
        return;
    }
    char reason[COUNT_REASON_CAP];
    FormatText(reason, sizeof reason, "COUNT %ld->%ld", count, count - 1);
    AddRow("SUBSYSTEM", 0, rowName, ACT_DECREMENT, OUT_DONE, reason, NULL);
}
