// The readers of "Made Dir: " and "File Tree: " lines: directory entries
// that merge into the outer of two nested directories, found through an
// index of the paths' leading parts.
#include "readstate.h"
#include "../base/paths.h"
#include "../base/text.h"
#include <stdlib.h>
#include <string.h>

PrefixIndex DirParts, DirPaths;
int DirIndexBroken;

// DirParts holds one node per leading part ever seen, naming the first
// entry that had it. An entry only ever gets shorter, so such a node stays
// right until its entry is cut shorter than the part; it then proves
// nothing, and a look-up that meets it scans the list once and adds a node
// for the part with the entry it found.
static int NodeState(const PrefixNode *node, const char *path, size_t len)
{
    const char *dir = ENTRY_AT(DirEntry, DirList, node->Slot)->Path;
    if (strlen(dir) < len)
        return -1;              // stale: may have been this part
    return TextEqualNoCaseN(dir, path, len) ? 1 : 0;
}

// The first entry whose path begins with the first len characters of path.
static int FirstDirBelow(const char *path, size_t len)
{
    unsigned h = HashFold(HASH_START, path, len);
    int uncertain = 0;
    for (int n = PrefixFirst(&DirParts, h); n >= 0; n = DirParts.Nodes[n].Next) {
        const PrefixNode *node = &DirParts.Nodes[n];
        if (node->Hash != h || node->Len != (int)len)
            continue;
        int state = NodeState(node, path, len);
        if (state == 1)
            return node->Slot;
        if (state < 0)
            uncertain = 1;
    }
    if (!uncertain)
        return -1;
    for (int s = 0; s < DirList.Count; s++) {
        const char *dir = ENTRY_AT(DirEntry, DirList, s)->Path;
        if (strlen(dir) >= len && TextEqualNoCaseN(dir, path, len)) {
            if (PrefixReserve(&DirParts, 1) == 0)
                PrefixAddOne(&DirParts, s, path, (int)len);
            return s;
        }
    }
    return -1;
}

// Registers the leading parts of a new entry that no earlier entry had.
void AddDirParts(int slot, const char *path)
{
    for (size_t i = 0; path[i]; i++) {
        if (path[i] != '\\')
            continue;
        size_t len = i + 1;
        unsigned h = HashFold(HASH_START, path, len);
        int known = 0;
        for (int n = PrefixFirst(&DirParts, h); n >= 0 && !known; n = DirParts.Nodes[n].Next) {
            const PrefixNode *node = &DirParts.Nodes[n];
            // A stale node leaves it to the look-ups, which scan.
            known = node->Hash == h && node->Len == (int)len && NodeState(node, path, len) != 0;
        }
        if (!known)
            PrefixAddOne(&DirParts, slot, path, (int)len);
    }
}

static int FindDir(const char *path, int exact)
{
    size_t len = strlen(path);
    if (DirIndexBroken) {
        for (int s = 0; s < DirList.Count; s++) {
            const char *dir = ENTRY_AT(DirEntry, DirList, s)->Path;
            size_t n = strlen(dir) < len ? strlen(dir) : len;
            if (exact ? TextEqualNoCase(dir, path) : TextEqualNoCaseN(dir, path, n))
                return s;
        }
        return -1;
    }
    int best = -1;
    if (!exact)
        best = FirstDirBelow(path, len);
    // An entry equal to path or (unless exact) to one of its leading parts.
    for (size_t i = exact ? len - 1 : 0; i < len; i++) {
        if (path[i] != '\\')
            continue;
        size_t partLen = i + 1;
        unsigned h = HashFold(HASH_START, path, partLen);
        for (int n = PrefixFirst(&DirPaths, h); n >= 0; n = DirPaths.Nodes[n].Next) {
            const PrefixNode *node = &DirPaths.Nodes[n];
            if (node->Hash != h || node->Len != (int)partLen || (best >= 0 && node->Slot >= best))
                continue;
            const char *dir = ENTRY_AT(DirEntry, DirList, node->Slot)->Path;
            if (strlen(dir) == partLen && TextEqualNoCaseN(dir, path, partLen))
                best = node->Slot;
        }
    }
    return best;
}

int AppendDir(DirEntry *e)
{
    if (!DirIndexBroken && (PrefixReserve(&DirParts, PrefixParts(e->Path)) || PrefixReserve(&DirPaths, 1)))
        return 1;
    int slot = DirList.Count;
    if (ListAppend(&DirList, e) != 0)
        return 1;
    AddDirParts(slot, e->Path);
    PrefixAddOne(&DirPaths, slot, e->Path, (int)strlen(e->Path));
    return 0;
}

// Cuts a directory entry to its first n characters.
static void CutDir(int slot, size_t n)
{
    DirEntry *e = ENTRY_AT(DirEntry, DirList, slot);
    if (strlen(e->Path) <= n)
        return;
    e->Path[n] = 0;
    if (PrefixReserve(&DirPaths, 1) != 0)
        DirIndexBroken = 1;     // look-ups scan the list from now on
    else
        PrefixAddOne(&DirPaths, slot, e->Path, (int)n);
}

// Appends a backslash unless the value ends with one. 1 when it would not fit.
static int DirForm(const char *value, char *out, size_t cap, int convert)
{
    if (convert)
        PathForm(value, out, cap);
    else
        CopyText(out, cap, value);
    size_t n = strlen(out);
    if (n && out[n - 1] == '\\')
        return 0;
    return AppendText(out, cap, "\\") != TEXT_FIT;
}

static int Backslashes(const char *text)
{
    int n = 0;
    for (; *text; text++)
        n += *text == '\\';
    return n;
}

void ReadMadeDir(const char *value, char *installRootDir)
{
    char path[INV_PATH_CAP];
    if (DirForm(value, path, sizeof path, 1) != 0 || !IsAbsolutePath(path)) {
        RefusePath("DIR", value);
        return;
    }
    // Cut the install root back to the outermost made directory above the
    // log. Normalising keeps the number of backslashes, so a value with more
    // of them than the root cannot lead it and needs no directory search.
    if (LookupCacheOff || Backslashes(path) <= Backslashes(installRootDir)) {
        char shortForm[INV_PATH_CAP];
        CopyText(shortForm, sizeof shortForm, path);
        NormalizePath(shortForm, sizeof shortForm, 0);
        size_t shortLen = strlen(shortForm);
        if (strlen(installRootDir) >= shortLen && TextEqualNoCaseN(installRootDir, shortForm, shortLen))
            installRootDir[shortLen] = 0;
    }

    int slot = FindDir(path, 0);
    if (slot >= 0) {
        DirEntry *found = ENTRY_AT(DirEntry, DirList, slot);
        if (!found->TreeInstall || strlen(found->Path) <= strlen(path)) {
            CutDir(slot, strlen(path));     // the outer of the two directories
            found->MadeInstall = InstallCount;
            return;
        }
        // A copied tree cut back to a made parent would take the parent whole,
        // with whatever others keep there: the tree stays, the parent is
        // recorded on its own and goes only when it is empty.
        int outer = FindDir(path, 1);
        if (outer >= 0) {
            ENTRY_AT(DirEntry, DirList, outer)->MadeInstall = InstallCount;
            return;
        }
    }
    DirEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Path, path, INV_PATH_CAP) != 0)
        return;
    e->MadeInstall = InstallCount;
    AppendDir(e);
}

void ReadFileTree(const char *value)
{
    char path[INV_PATH_CAP];
    PathForm(value, path, sizeof path);
    size_t n = strlen(path);
    if (n >= 4 && strcmp(path + n - 4, "\\*.*") == 0)
        path[n - 4] = 0;
    if (DirForm(path, path, sizeof path, 0) != 0 || !IsAbsolutePath(path)) {
        RefusePath("TREE", value);
        return;
    }
    int slot = FindDir(path, 1);
    if (slot >= 0) {
        DirEntry *e = ENTRY_AT(DirEntry, DirList, slot);
        e->TreeInstall = e->MadeInstall = InstallCount;
        return;
    }
    DirEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Path, path, INV_PATH_CAP) != 0)
        return;
    e->TreeInstall = e->MadeInstall = InstallCount;
    AppendDir(e);
}
