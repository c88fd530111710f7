// /U: undoes an uninstall from its recovery store. The journal's lines are
// taken from the last to the first, each refused unless it names plainly what
// a run could have changed (the same rules as the log's), and each undone by
// the seam (machine/recovery.h). The store goes when nothing failed.
#include "undo.h"
#include "keyguard.h"
#include "progman.h"
#include "../base/paths.h"
#include "../base/refusals.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../machine/protect.h"
#include "../machine/recovery.h"
#include "../machine/regops.h"
#include "../machine/wholefile.h"
#include <stdlib.h>
#include <string.h>

char UndoStore[STORE_PATH_CAP];

enum { JOURNAL_MOST = 64 << 20 };

// "HKLM\key" → its root and the key; null for anything else.
static HKEY SplitKeyName(const char *keyName, const char **key)
{
    int root = RootFromName(keyName, key);
    return root >= 0 && IsPlainKey(*key) ? RootKeyFor(root) : NULL;
}

// The most recent store under the root: the folder written last.
static int LatestStore(char *buf, size_t cap)
{
    char root[STORE_PATH_CAP], pattern[STORE_PATH_CAP];
    if (!RecoveryRoot(root, sizeof root) || FormatText(pattern, sizeof pattern, "%s\\*", root) != TEXT_FIT)
        return 0;
    FindRecord rec;
    FILETIME best = {0, 0};
    int found = 0;
    for (int more = FindFirstEntry(pattern, &rec) == 0; more; more = FindNextEntry(&rec) == 0) {
        if (!(rec.Attributes & FILE_ATTRIBUTE_DIRECTORY) || rec.Name[0] == '.' ||
            (rec.Attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (found && CompareFileTime(&rec.Data.ftCreationTime, &best) <= 0)
            continue;
        if (FormatText(buf, cap, "%s\\%s\\", root, rec.Name) != TEXT_FIT)
            continue;
        best = rec.Data.ftCreationTime;
        found = 1;
    }
    EndFind(&rec);
    return found;
}

// The store named on the command line, which must be a folder right inside
// the recovery root ("...\" added).
static int NamedStore(char *buf, size_t cap, const char *named)
{
    char root[STORE_PATH_CAP];
    if (!RecoveryRoot(root, sizeof root) || !IsPlainAbsolutePath(named, 0) ||
        CopyText(buf, cap, named) != TEXT_FIT)
        return 0;
    size_t n = strlen(buf);
    if (n && buf[n - 1] == '\\')
        buf[--n] = 0;
    char *name = FileNamePart(buf);
    if (name == buf || !*name)
        return 0;
    name[-1] = 0;
    FileIdentity a, b;
    int inRoot = GetFileIdentity(buf, &a) == 0 && GetFileIdentity(root, &b) == 0 && SameIdentity(&a, &b);
    name[-1] = '\\';
    DWORD attributes = GetFileAttributesA(buf);
    return inRoot && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && AppendText(buf, cap, "\\") == TEXT_FIT;
}

// The journal's whole text, on the heap; null when it cannot be read.
static char *ReadJournal(const char *store)
{
    char path[STORE_PATH_CAP];
    size_t size;
    return FormatText(path, sizeof path, "%sJOURNAL.TXT", store) == TEXT_FIT
               ? ReadWholeFile(path, JOURNAL_MOST - 1, &size)
               : NULL;
}

// A path a journal line may name: plain, absolute, not a root, outside the
// store, and reached through no link.
static const char *PathRefusal(const char *path)
{
    if (!IsPlainAbsolutePath(path, 0) || IsRootPath(path))
        return "BAD-PATH";
    if (InRecoveryStore(path))
        return "PROTECTED";
    if (PathCrossesLink(path, 0))
        return "LINK";
    return NULL;
}

// A state field: "-", or "type:HEX" for a value, "=text" for an INI item.
static int IsState(const char *s, int value)
{
    if (strcmp(s, "-") == 0)
        return 1;
    if (!value)
        return s[0] == '=';
    const char *c = s;
    while (*c >= '0' && *c <= '9')
        c++;
    return c != s && *c == ':';
}

static int ProgmanAsked;
// Whether text is a number in decimal, as the journal writes them.
static int IsNumber(const char *text, DWORD *value)
{
    if (!*text || strlen(text) > 9)
        return 0;
    *value = 0;
    for (const char *c = text; *c; c++) {
        if (*c < '0' || *c > '9')
            return 0;
        *value = *value * 10 + (DWORD)(*c - '0');
    }
    return 1;
}

// The fields of a SERVICE line; 0 when one is not as the journal writes it.
// A service's name holds no backslash or slash (the manager refuses them).
static int ServiceFields(char **f, KeptService *s)
{
    s->Name = f[1];
    s->Binary = f[5];
    s->Group = f[6];
    s->Dependencies = f[7];
    s->StartName = f[8];
    s->DisplayName = f[9];
    s->Running = f[10][0] == '1';
    return f[1][0] && strlen(f[1]) <= 256 && !strchr(f[1], '\\') && !strchr(f[1], '/') && f[5][0] &&
           IsNumber(f[2], &s->Type) && IsNumber(f[3], &s->Start) && IsNumber(f[4], &s->ErrorControl) &&
           (strcmp(f[10], "0") == 0 || strcmp(f[10], "1") == 0);
}

// A service's program may not be a kept file: the store goes once the undo
// is through. Its program is the quoted path, or the text up to a blank.
static const char *ServiceRefusal(const char *binary)
{
    char program[STORE_PATH_CAP];
    const char *start = binary[0] == '"' ? binary + 1 : binary;
    const char *end = strchr(start, binary[0] == '"' ? '"' : ' ');
    size_t n = end ? (size_t)(end - start) : strlen(start);
    if (n == 0 || CopyTextN(program, sizeof program, start, n) != TEXT_FIT)
        return "BAD-PATH";
    return IsPlainAbsolutePath(program, 0) && InRecoveryStore(program) ? "PROTECTED" : NULL;
}

// Undoes one line; result UNDO_FAILED when something failed (the store is
// then kept for a later run), else 0.
static int UndoLine(char *line)
{
    char *f[JOURNAL_FIELDS];
    int n = SplitJournalLine(line, f, JOURNAL_FIELDS);
    const char *refused = n < 2 ? "BAD-LINE" : NULL;
    if (!refused && (strcmp(f[0], "FILE") == 0 || strcmp(f[0], "INITEXT") == 0)) {
        char kept[STORE_PATH_CAP];
        int none = n == 6 && strcmp(f[2], "-") == 0;
        if (n != 6 || !IsKeptFileName(f[2]) || (!none && !KeptFilePath(kept, sizeof kept, UndoStore, f[2])))
            refused = "BAD-LINE";
        else if (!(refused = PathRefusal(f[1])))
            return (f[0][0] == 'F' ? UndoFile : UndoIniText)(f[1], none ? NULL : kept, (DWORD)strtol(f[3], NULL, 16),
                                                           f[5]) == UNDO_FAILED;
    } else if (!refused && strcmp(f[0], "DIR") == 0) {
        if (n != 2)
            refused = "BAD-LINE";
        else if (!(refused = PathRefusal(f[1])))
            return UndoFolder(f[1]) == UNDO_FAILED;
    } else if (!refused && (strcmp(f[0], "VALUE") == 0 || strcmp(f[0], "KEY") == 0)) {
        int value = f[0][0] == 'V';
        const char *key;
        HKEY root = SplitKeyName(f[1], &key);
        if (n != (value ? 5 : 2) || (value && (!IsState(f[3], 1) || !IsState(f[4], 1))))
            refused = "BAD-LINE";
        else if (!root)
            refused = "BAD-PATH";
        else if (value)
            return UndoValue(root, f[1], key, f[2], f[3], f[4]) == UNDO_FAILED;
        else
            return UndoKey(root, f[1], key) == UNDO_FAILED;
    } else if (!refused && (strcmp(f[0], "ICON") == 0 || strcmp(f[0], "GROUP") == 0)) {
        if (n != 3) {
            refused = "BAD-LINE";
        } else {
            // Program Manager is asked once, at the first such line.
            if (!ProgmanAsked) {
                ProgmanAsked = 1;
                ConnectProgman();
            }
            return UndoProgmanLine(f[0][0] == 'G', f[1], f[2]);
        }
    } else if (!refused && strcmp(f[0], "INI") == 0) {
        if ((n != 6 && n != 7) || !IsState(f[4], 0) || !IsState(f[5], 0))
            refused = "BAD-LINE";
        else if (!(refused = PathRefusal(f[1])))
            return UndoIniItem(f[1], f[2], f[3], f[4], f[5], n == 7 ? f[6] : NULL) == UNDO_FAILED;
    } else if (!refused && strcmp(f[0], "SERVICE") == 0) {
        KeptService service;
        if (n != 11 || !ServiceFields(f, &service))
            refused = "BAD-LINE";
        else if (!(refused = ServiceRefusal(service.Binary)))
            return UndoService(&service) == UNDO_FAILED;
    } else if (!refused) {
        refused = "BAD-LINE";
    }
    RecordRefusal(n >= 1 && strcmp(f[0], "DIR") == 0 ? "DIR" : "LINE", n >= 2 ? f[1] : f[0], refused, 0);
    return 0;
}

int RunUndo(const char *named)
{
    UndoStore[0] = 0;
    if (named[0] ? !NamedStore(UndoStore, sizeof UndoStore, named) : !LatestStore(UndoStore, sizeof UndoStore)) {
        UndoStore[0] = 0;
        RemoveEmptyStore("");   // a root left by a run ended as it made it
        return UNDO_NO_STORE;
    }
    char *text = ReadJournal(UndoStore);
    // A store without a journal was being made, or removed, when its run was
    // ended: holding nothing, it goes; it has nothing to undo.
    if (!text)
        return RemoveEmptyStore(UndoStore) ? UNDO_ALL : UNDO_NO_STORE;
    // The lines, whole ones only: a last line without its line end was cut
    // by a kill before its change was made.
    int count = 0;
    for (char *c = text; *c; c++)
        count += *c == '\n';
    char **lines = (char **)malloc((size_t)(count ? count : 1) * sizeof *lines);
    if (!lines) {
        free(text);
        return UNDO_NO_STORE;
    }
    int n = 0;
    for (char *start = text, *end; n < count && (end = strchr(start, '\n')) != NULL; start = end + 1) {
        *end = 0;
        if (end > start && end[-1] == '\r')
            end[-1] = 0;
        lines[n++] = start;
    }
    int failed = 0;
    ProgmanAsked = 0;
    for (int i = n - 1; i >= 0; i--)
        failed |= UndoLine(lines[i]);
    if (ProgmanAsked)
        CloseProgman();
    free(lines);
    free(text);
    if (!failed)
        RemoveRecoveryStore(UndoStore);
    return failed ? UNDO_LEFT : UNDO_ALL;
}
