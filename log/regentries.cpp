// The readers of "RegDB Tree: " and "RegDB Key: " groups: registry trees,
// created values and keys, and changed values with their old data.
#include "readstate.h"
#include "../base/text.h"
#include <stdlib.h>
#include <string.h>

// Decimal number with leading blanks and one sign; 0 when there is none.
// Large numbers stop growing (they are out of range either way).
static int ParseNumber(const char *text)
{
    while (*text == ' ' || *text == '\t')
        text++;
    int negative = 0;
    if (*text == '-' || *text == '+')
        negative = *text++ == '-';
    long value = 0;
    while (*text >= '0' && *text <= '9') {
        if (value < 1000000)
            value = value * 10 + (*text - '0');
        text++;
    }
    return (int)(negative ? -value : value);
}


static int ValidRegNumber(int n)
{
    return n >= 0 && n <= 4;
}

// "RegDB Tree: " with an optional "RegDB Root: ".
int ReadRegTree(const char *value)
{
    char key[NAME_CAP];
    CopyText(key, sizeof key, value);
    const char *v;
    int root = 0;
    int found = Follow("RegDB Root: ", &v);
    if (found == TAG_TOO_LONG)
        return LINE_USED;
    if (found == TAG_FOUND)
        root = ParseNumber(v);
    int result = AfterGroup(found);
    if (!ValidRegNumber(root))
        return result;
    unsigned h = RegTreeHash(key, root);
    int best = -1;
    for (int s = IndexFirst(&RegTreeIndex, h); s >= 0; s = IndexNext(&RegTreeIndex, s)) {
        RegTreeEntry *e = ENTRY_AT(RegTreeEntry, RegTreeList, s);
        if (RegTreeIndex.Hashes[s] == h && e->Root == root && TextEqualNoCase(e->Key, key) &&
            (best < 0 || s < best))
            best = s;
    }
    if (best >= 0) {
        ENTRY_AT(RegTreeEntry, RegTreeList, best)->InstallNo = InstallCount;
        return result;
    }
    RegTreeEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Key, key, NAME_CAP) != 0)
        return result;
    e->Root = root;
    e->InstallNo = InstallCount;
    AppendIndexed(&RegTreeList, &RegTreeIndex, e, h);
    return result;
}

static void AddRegKey(const char *key, const char *name, int root)
{
    unsigned h = RegKeyHash(key, name, root);
    int best = -1;
    for (int s = IndexFirst(&RegKeyIndex, h); s >= 0; s = IndexNext(&RegKeyIndex, s)) {
        RegKeyEntry *e = ENTRY_AT(RegKeyEntry, RegKeyList, s);
        if (RegKeyIndex.Hashes[s] == h && e->Root == root && TextEqualNoCase(e->Key, key) &&
            TextEqualNoCase(e->ValueName, name) && (best < 0 || s < best))
            best = s;
    }
    if (best >= 0) {
        ENTRY_AT(RegKeyEntry, RegKeyList, best)->InstallNo = InstallCount;
        return;
    }
    RegKeyEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Key, key, NAME_CAP) != 0 || StoreText(&e->ValueName, name, NAME_CAP) != 0)
        return;
    e->Root = root;
    e->InstallNo = InstallCount;
    AppendIndexed(&RegKeyList, &RegKeyIndex, e, h);
}

static void AddRegValue(const char *key, const char *name, int root, int type, const char *data, size_t size)
{
    unsigned h = RegValueHash(key, name, root, type);
    int best = -1;
    for (int s = IndexFirst(&RegValueIndex, h); s >= 0; s = IndexNext(&RegValueIndex, s)) {
        RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, s);
        if (RegValueIndex.Hashes[s] == h && e->Root == root && e->Type == type && TextEqualNoCase(e->Key, key) &&
            TextEqualNoCase(e->ValueName, name) && (best < 0 || s < best))
            best = s;
    }
    if (best >= 0) {
        // OldData keeps the value from before the first installation.
        RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, best);
        if ((size_t)e->OldDataSize == size && memcmp(e->OldData, data, size) == 0) {
            e->LastOldData = e->OldData;
            e->LastOldDataSize = e->OldDataSize;
        } else if (StoreData(&e->LastOldData, &e->LastOldDataSize, data, size) != 0) {
            return;             // no rollback to data we could not keep
        }
        e->InstallNo = InstallCount;
        return;
    }
    RegValueEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Key, key, NAME_CAP) != 0 ||
        StoreText(&e->ValueName, name, NAME_CAP) != 0 || StoreData(&e->OldData, &e->OldDataSize, data, size) != 0)
        return;
    e->LastOldData = e->OldData;
    e->LastOldDataSize = e->OldDataSize;
    e->Root = root;
    e->Type = type;
    e->InstallNo = InstallCount;
    AppendIndexed(&RegValueList, &RegValueIndex, e, h);
}

// "RegDB Key: ", "RegDB Val: ", then optional "RegDB Name: ", "RegDB Type: ",
// "RegDB Root: " in that order, then any number of "RegDB Old: " lines.
int ReadRegKey(const char *value)
{
    char key[NAME_CAP], name[NAME_CAP] = "";
    CopyText(key, sizeof key, value);
    const char *v;
    int found = Follow("RegDB Val: ", &v);
    if (found != TAG_FOUND)
        return AfterGroup(found);
    int type = 0, root = 0;
    if (!ReadNext())
        found = TAG_END;
    else if ((found = LineIs("RegDB Name: ", &v)) == TAG_FOUND) {
        CopyText(name, sizeof name, v);
        found = ReadNext() ? TAG_OTHER : TAG_END;
    }
    if (found == TAG_OTHER && (found = LineIs("RegDB Type: ", &v)) == TAG_FOUND) {
        type = ParseNumber(v);
        found = ReadNext() ? TAG_OTHER : TAG_END;
    }
    if (found == TAG_OTHER && (found = LineIs("RegDB Root: ", &v)) == TAG_FOUND) {
        root = ParseNumber(v);
        found = ReadNext() ? TAG_OTHER : TAG_END;
    }
    char data[OLD_DATA_CAP];
    size_t used = 0;
    int oldLines = 0, overflow = 0;
    while (found == TAG_OTHER && (found = LineIs("RegDB Old: ", &v)) == TAG_FOUND) {
        size_t n = strlen(v);
        // Room for this string, its NUL and the closing empty string.
        if (used + n + 2 > sizeof data)
            overflow = 1;
        else {
            memcpy(data + used, v, n + 1);
            used += n + 1;
        }
        oldLines++;
        found = ReadNext() ? TAG_OTHER : TAG_END;
    }
    if (found == TAG_TOO_LONG)
        return LINE_USED;       // part of the group is unreadable: drop it whole
    int result = found == TAG_OTHER ? LINE_HANDED_BACK : LINE_USED;
    if (overflow || !ValidRegNumber(root) || !ValidRegNumber(type))
        return result;
    if (oldLines == 0) {
        AddRegKey(key, name, root);
    } else {
        data[used++] = 0;
        AddRegValue(key, name, root, type, data, used);
    }
    return result;
}
