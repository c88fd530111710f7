// Keeping registry values, keys, trees and INI items in the recovery store
// (recovery.h): each line says what was there before the change and what the
// change leaves, so that an undo can tell a later change from its own.
#include "recovery.h"
#include "preview.h"
#include "recoverline.h"
#include "../base/state.h"
#include "../base/text.h"
#include "wholefile.h"
#include <stdlib.h>
#include <string.h>

enum { KEY_CAP = 400, NAME_CAP = 256, INI_VALUE_CAP = 4096 };

static void ValueState(Line *l, int gone, DWORD type, const void *data, DWORD size)
{
    if (gone) {
        PutField(l, "-");
        return;
    }
    static const char hex[] = "0123456789ABCDEF";
    char head[16];
    FormatText(head, sizeof head, "%lu:", (unsigned long)type);
    PutField(l, head);
    const unsigned char *p = (const unsigned char *)data;
    for (DWORD i = 0; i < size; i++) {
        char h[2] = {hex[p[i] >> 4], hex[p[i] & 15]};
        Put(l, h, 2);
    }
}

// The value as it is now: 0 = there (type, data and size filled; data is
// the caller's to free), 1 = not there, -1 = cannot be read.
static int ReadValueNow(HKEY rootKey, const char *key, const char *name, DWORD *type, BYTE **data, DWORD *size)
{
    *data = NULL;
    HKEY k;
    LONG r = RegOpenKeyExA(rootKey, key, 0, KEY_QUERY_VALUE, &k);
    if (r == ERROR_FILE_NOT_FOUND)
        return 1;
    if (r != ERROR_SUCCESS)
        return -1;
    *size = 0;
    r = RegQueryValueExA(k, name, NULL, type, NULL, size);
    if (r == ERROR_SUCCESS) {
        *data = (BYTE *)malloc(*size ? *size : 1);
        DWORD got = *size;
        r = *data ? RegQueryValueExA(k, name, NULL, type, *data, &got) : ERROR_NOT_ENOUGH_MEMORY;
        *size = got;
    }
    RegCloseKey(k);
    if (r == ERROR_SUCCESS)
        return 0;
    free(*data);
    *data = NULL;
    return r == ERROR_FILE_NOT_FOUND ? 1 : -1;
}

int KeepValue(HKEY rootKey, const char *keyName, const char *key, const char *name, int afterGone, DWORD type,
              const void *data, DWORD size)
{
    if (!RecoveryOpen())
        return 1;
    DWORD nowType = 0, nowSize = 0;
    BYTE *now;
    int state = ReadValueNow(rootKey, key, name, &nowType, &now, &nowSize);
    if (state < 0)
        return 0;
    Line l = {};
    PutField(&l, "VALUE");
    PutField(&l, keyName);
    PutField(&l, name);
    ValueState(&l, state == 1, nowType, now, nowSize);
    ValueState(&l, afterGone, type, data, size);
    free(now);
    return WriteLine(&l);
}

int KeepKey(const char *keyName)
{
    return KeepNamed("KEY", keyName);
}

// Sub-keys first, then the key's values, then the key: undone from the end,
// the key is made again before what it holds.
static int KeepTreeLevel(HKEY rootKey, const char *keyName, const char *key, int depth)
{
    if (depth > 64)
        return 0;
    HKEY k;
    if (RegOpenKeyExA(rootKey, key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return 0;
    int ok = 1;
    char name[NAME_CAP], subKey[KEY_CAP], subName[KEY_CAP + 8];
    for (DWORD i = 0; ok; i++) {
        DWORD size = sizeof name;
        LONG r = RegEnumKeyExA(k, i, name, &size, NULL, NULL, NULL, NULL);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        // A name or path that would not fit is never cut: the tree is then
        // not kept, and not deleted.
        ok = r == ERROR_SUCCESS && FormatText(subKey, sizeof subKey, "%s\\%s", key, name) == TEXT_FIT &&
             FormatText(subName, sizeof subName, "%s\\%s", keyName, name) == TEXT_FIT &&
             KeepTreeLevel(rootKey, subName, subKey, depth + 1);
    }
    for (DWORD i = 0; ok; i++) {
        DWORD size = sizeof name;
        LONG r = RegEnumValueA(k, i, name, &size, NULL, NULL, NULL, NULL);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        ok = r == ERROR_SUCCESS && KeepValue(rootKey, keyName, key, name, 1, 0, NULL, 0);
    }
    RegCloseKey(k);
    return ok && KeepKey(keyName);
}

int KeepTree(HKEY rootKey, const char *keyName, const char *key)
{
    if (!RecoveryOpen())
        return 1;
    // Its lines go to the disk together: the tree goes in one change.
    HoldJournal(1);
    int ok = KeepTreeLevel(rootKey, keyName, key, 0) && JournalOnDisk();
    HoldJournal(0);
    return ok;
}

// "-" for an item that is not there, "=value" for one that is; result 0
// when the value is too long to be kept whole.
static int IniState(Line *l, const char *file, const char *section, const char *item)
{
    static char value[INI_VALUE_CAP];
    static const char absent[] = "\x7f-absent-\x7f";
    DWORD n = GetPrivateProfileStringA(section, item, absent, value, sizeof value, file);
    if (n >= sizeof value - 2)
        return 0;
    if (strcmp(value, absent) == 0) {
        PutField(l, "-");
        return 1;
    }
    PutField(l, "=");
    Line v = {};
    PutField(&v, value);
    Put(l, v.Data ? v.Data : "", v.Len);
    l->Failed |= v.Failed;
    free(v.Data);
    return 1;
}

int KeepIniItem(const char *file, const char *section, const char *item, const char *after)
{
    if (!RecoveryOpen())
        return 1;
    Line l = {};
    PutField(&l, "INI");
    PutField(&l, file);
    PutField(&l, section);
    PutField(&l, item);
    if (!IniState(&l, file, section, item)) {
        free(l.Data);
        SetLastError(ERROR_MORE_DATA);
        return 0;
    }
    if (after) {
        PutField(&l, "=");
        Line v = {};
        PutField(&v, after);
        Put(&l, v.Data ? v.Data : "", v.Len);
        l.Failed |= v.Failed;
        free(v.Data);
    } else {
        PutField(&l, "-");
        // An item taken away goes back where it stood: after this one.
        char previous[NAME_CAP];
        if (ProfileItemBefore(file, section, item, previous, sizeof previous) == 0)
            PutField(&l, previous);
    }
    return WriteLine(&l);
}

// --- undoing values, keys and INI items ---------------------------------------

// The value's state as a journal field holds it ("-" or "type:HEX"), on the
// heap; null when it cannot be read.
static char *ValueStateNow(HKEY rootKey, const char *key, const char *name)
{
    DWORD type = 0, size = 0;
    BYTE *data;
    int state = ReadValueNow(rootKey, key, name, &type, &data, &size);
    if (state < 0)
        return NULL;
    Line l = {};
    ValueState(&l, state == 1, type, data, size);
    free(data);
    if (l.Failed) {
        free(l.Data);
        return NULL;
    }
    return l.Data;
}

static int HexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Sets the value back to state ("type:HEX") or, for "-", deletes it.
static int PutValueBack(HKEY rootKey, const char *key, const char *name, const char *state)
{
    if (strcmp(state, "-") == 0) {
        HKEY k;
        if (RegOpenKeyExA(rootKey, key, 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS)
            return 1;       // the key is gone, and the value with it
        LONG r = RegDeleteValueA(k, name);
        RegCloseKey(k);
        return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
    }
    char *end;
    long type = strtol(state, &end, 10);
    if (*end != ':' || type < 0)
        return 0;
    const char *hex = end + 1;
    size_t n = strlen(hex);
    if (n % 2)
        return 0;
    BYTE *data = (BYTE *)malloc(n / 2 + 1);
    if (!data)
        return 0;
    for (size_t i = 0; i < n / 2; i++) {
        int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            free(data);
            return 0;
        }
        data[i] = (BYTE)(hi * 16 + lo);
    }
    HKEY k;
    DWORD how;
    LONG r = RegCreateKeyExA(rootKey, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &k, &how);
    if (r == ERROR_SUCCESS) {
        r = RegSetValueExA(k, name, 0, (DWORD)type, data, (DWORD)(n / 2));
        RegCloseKey(k);
    }
    free(data);
    SetLastError((DWORD)r);
    return r == ERROR_SUCCESS;
}

// A preview's RegCreateKeyEx: the key "HKLM\\..." and those on the way to
// it count as made.
static void PlanKeys(const char *keyName)
{
    char walk[2 * MAX_PATH];
    if (!Preview || CopyText(walk, sizeof walk, keyName) != TEXT_FIT)
        return;
    char *first = strchr(walk, '\\');
    for (char *c = first ? first + 1 : walk; first && *c; c++)
        if (*c == '\\') {
            *c = 0;
            PlanUndo('K', walk, NULL, "");
            *c = '\\';
        }
    PlanUndo('K', walk, NULL, "");
}

int UndoValue(HKEY rootKey, const char *keyName, const char *key, const char *name, const char *before,
              const char *after)
{
    // A preview sees the value as the lines undone before this one left it.
    const char *planned = PlannedUndo('V', keyName, name);
    char *now = planned ? HeapText(planned) : ValueStateNow(rootKey, key, name);
    int result;
    if (!now)
        result = UNDO_FAILED;
    else if (strcmp(now, before) == 0)
        result = UNDO_UNCHANGED;
    else if (strcmp(now, after) != 0)
        result = UNDO_CONFLICT;
    else
        result = Preview || PutValueBack(rootKey, key, name, before) ? UNDO_DONE : UNDO_FAILED;
    free(now);
    if (Preview && result == UNDO_DONE) {
        if (strcmp(before, "-") != 0)
            PlanKeys(keyName);
        PlanUndo('V', keyName, name, before);
    }
    return UndoRow("REGVALUE", keyName, result, name);
}

int UndoKey(HKEY rootKey, const char *keyName, const char *key)
{
    HKEY k;
    if (PlannedUndo('K', keyName, NULL))
        return UndoRow("REGKEY", keyName, UNDO_UNCHANGED, NULL);
    if (RegOpenKeyExA(rootKey, key, 0, KEY_READ, &k) == ERROR_SUCCESS) {
        RegCloseKey(k);
        return UndoRow("REGKEY", keyName, UNDO_UNCHANGED, NULL);
    }
    if (Preview) {
        PlanKeys(keyName);
        return UndoRow("REGKEY", keyName, UNDO_DONE, NULL);
    }
    DWORD how;
    LONG r = RegCreateKeyExA(rootKey, key, 0, NULL, 0, KEY_READ, NULL, &k, &how);
    if (r != ERROR_SUCCESS) {
        SetLastError((DWORD)r);
        return UndoRow("REGKEY", keyName, UNDO_FAILED, NULL);
    }
    RegCloseKey(k);
    return UndoRow("REGKEY", keyName, UNDO_DONE, NULL);
}

int UndoIniItem(const char *file, const char *section, const char *item, const char *before, const char *after,
                const char *previous)
{
    static char value[INI_VALUE_CAP + 1];
    static const char absent[] = "\x7f-absent-\x7f";
    DropLeftCopy(file);
    value[0] = '=';
    // A preview reads the text its plan has put back by now.
    const char *planned = PlannedUndo('F', file, NULL);
    DWORD n = planned && !planned[0] ? 0
                                     : GetPrivateProfileStringA(section, item, absent, value + 1, INI_VALUE_CAP,
                                                                planned ? planned : file);
    if (planned && !planned[0])
        CopyText(value + 1, INI_VALUE_CAP, absent);
    const char *now = strcmp(value + 1, absent) == 0 ? "-" : value;
    char detail[2 * NAME_CAP];
    FormatText(detail, sizeof detail, "[%s] %s", section, item);
    int result;
    if (n >= INI_VALUE_CAP - 2) {
        SetLastError(ERROR_MORE_DATA);
        result = UNDO_FAILED;
    } else if (strcmp(now, before) == 0) {
        result = UNDO_UNCHANGED;
    } else if (strcmp(now, after) != 0) {
        result = UNDO_CONFLICT;
    } else if (Preview) {
        result = UNDO_DONE;
    } else {
        const char *put = strcmp(before, "-") == 0 ? NULL : before + 1;
        int written = put && previous && strcmp(now, "-") == 0
                          ? WriteProfileItemAfter(file, section, item, put, previous)
                          : WriteProfileItemWhole(file, section, item, put);
        result = written == WHOLE_DONE ? UNDO_DONE : UNDO_FAILED;
    }
    return UndoRow("INI", file, result, detail);
}
