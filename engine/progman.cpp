// Program Manager over DDE: the groups read, the items of an icon entry
// matched, and their deletion asked of machine/ddeops.
#include "progman.h"
#include <windows.h>
#include <ddeml.h>
#include <stdlib.h>
#include <string.h>
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../log/inventory.h"
#include "../base/refusals.h"
#include "../machine/ddeops.h"
#include "../machine/recovery.h"
#include "../ui/progress.h"

enum { REQUEST_TIMEOUT = 5000 };

static DWORD DdeInstance;
static HCONV Conversation;
static char *GroupListText;         // the reply to "GROUPS"

// Pure client: every server transaction is refused by the flags already.
static HDDEDATA CALLBACK IgnoreDde(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return 0;
}

static HDDEDATA RequestItem(const char *item)
{
    HSZ hsz = DdeCreateStringHandleA(DdeInstance, item, CP_WINANSI);
    if (!hsz)
        return NULL;
    HDDEDATA data = DdeClientTransaction(NULL, 0, Conversation, hsz, CF_TEXT, XTYP_REQUEST,
                                         REQUEST_TIMEOUT, NULL);
    DdeFreeStringHandle(DdeInstance, hsz);
    return data;
}

// Copies a reply into ScratchBuffer as text and frees the handle. Result 1
// when the whole text fit, 0 when only its start is there.
static int TakeReply(HDDEDATA data)
{
    DWORD total = DdeGetData(data, NULL, 0, 0);
    DWORD got = DdeGetData(data, (LPBYTE)ScratchBuffer, SCRATCH_CAP, 0);
    DdeFreeDataHandle(data);
    if (got > SCRATCH_CAP)
        got = SCRATCH_CAP;
    size_t len = strnlen(ScratchBuffer, got);
    if (len >= SCRATCH_CAP) {
        ScratchBuffer[SCRATCH_CAP - 1] = 0;
        return 0;
    }
    ScratchBuffer[len] = 0;
    return len < got || got >= total;
}

// Start of the line after the one p stands in, or null when it is the last.
static char *NextLine(char *p)
{
    char *cr = strchr(p, '\r');
    if (!cr)
        return NULL;
    cr++;
    if (*cr == '\n')
        cr++;
    return cr;
}

// Whether the span s (n characters) equals text, ignoring case.
static int SpanEquals(const char *s, size_t n, const char *text)
{
    return strlen(text) == n && TextEqualNoCaseN(s, text, n);
}

// End of the quoted text that starts at open + 1, searched within one line;
// null when the closing quote is missing.
static char *ClosingQuote(char *open)
{
    for (char *p = open + 1; *p && *p != '\r' && *p != '\n'; p++)
        if (*p == '"')
            return p;
    return NULL;
}

// A name goes into a command only between double quotes, where brackets,
// parentheses and commas are plain text; a name that holds a quote or a
// control character could still end the argument, and is never sent.
static int SafeName(const char *name)
{
    for (const unsigned char *c = (const unsigned char *)name; *c; c++)
        if (*c == '"' || *c < 0x20 || *c == 0x7F)
            return 0;
    return 1;
}

// The line that starts at p, without its line end, on the heap.
static char *LineCopy(const char *p)
{
    size_t n = 0;
    while (p[n] && p[n] != '\r' && p[n] != '\n')
        n++;
    char *copy = (char *)malloc(n + 1);
    if (copy)
        CopyTextN(copy, n + 1, p, n);
    return copy;
}

void FreeProgmanText(void)
{
    free(GroupListText);
    GroupListText = NULL;
}

void ConnectProgman(void)
{
    for (int i = 0; i < GROUP_SLOTS; i++) {
        free(GroupNames[i]);
        GroupNames[i] = NULL;
    }
    FreeProgmanText();
    if (Conversation)
        DdeDisconnect(Conversation);
    Conversation = NULL;
    if (DdeInstance)
        DdeUninitialize(DdeInstance);
    DdeInstance = 0;

    if (DdeInitializeA(&DdeInstance, IgnoreDde, CBF_FAIL_ALLSVRXACTIONS, 0) != DMLERR_NO_ERROR) {
        DdeInstance = 0;
        return;
    }
    HSZ service = DdeCreateStringHandleA(DdeInstance, "PROGMAN", CP_WINANSI);
    if (!service)
        return;
    Conversation = DdeConnect(DdeInstance, service, service, NULL);
    if (!Conversation)
        return;
    HDDEDATA data = RequestItem("GROUPS");
    if (!data)
        return;
    int whole = TakeReply(data);
    GroupListText = HeapText(ScratchBuffer);
    if (!GroupListText)
        return;

    // The last slot stays null: it ends the table.
    int slot = 0;
    const char *pos = GroupListText;
    while (*pos && slot < GROUP_SLOTS - 1) {
        const char *end = strchr(pos, '\r');
        if (!end && !whole)
            break;              // a name cut by the buffer end is not asked for
        size_t len = end ? (size_t)(end - pos) : strlen(pos);
        char name[NAME_CAP];
        if (len > 0 && len < sizeof name) {
            CopyTextN(name, sizeof name, pos, len);
            data = RequestItem(name);
            // A description that did not fit is left out: with items missing
            // from it the group could be taken for empty and deleted.
            if (data && TakeReply(data)) {
                GroupNames[slot] = HeapText(ScratchBuffer);
                if (GroupNames[slot])
                    slot++;
            }
        }
        if (!end)
            break;
        pos = end;
        while (*pos == '\r' || *pos == '\n')
            pos++;
    }
}

int MarkGroupIfEmpty(char *description)
{
    for (char *line = NextLine(description); line; line = NextLine(line))
        if (*line == '"')
            return 0;
    description[0] = '*';
    return 1;
}

void RemoveProgmanItem(int index)
{
    if (index < 0 || index >= IconList.Count)
        return;
    const IconEntry *entry = ENTRY_AT(IconEntry, IconList, index);
    if (!SafeName(entry->Name)) {
        RecordRefusal("ICON", entry->Name, "BAD-PATH", entry->InstallNo);
        return;
    }
    if (!SafeName(entry->Group)) {
        RecordRefusal("GROUP", entry->Group, "BAD-PATH", entry->InstallNo);
        return;
    }

    int found = 0;
    for (int slot = 0; slot < GROUP_SLOTS && GroupNames[slot]; slot++) {
        char *desc = GroupNames[slot];
        if (desc[0] != '"')
            continue;
        char *close = ClosingQuote(desc);
        if (!close)
            continue;
        char group[NAME_CAP];
        if (CopyTextN(group, sizeof group, desc + 1, (size_t)(close - desc - 1)) != TEXT_FIT)
            continue;           // a name that cannot be held whole is never sent
        int groupSafe = SafeName(group);
        for (char *line = NextLine(close); line; line = NextLine(line)) {
            if (*line != '"')
                continue;
            char *nameEnd = ClosingQuote(line);
            if (!nameEnd || nameEnd[1] != ',' || nameEnd[2] != '"')
                continue;
            char *cmd = nameEnd + 2;
            char *cmdEnd = ClosingQuote(cmd);
            if (!cmdEnd)
                continue;
            size_t nameLen = (size_t)(nameEnd - line - 1);
            // An entry without a command must not match every item without one.
            int match = (entry->Command[0] &&
                         SpanEquals(cmd + 1, (size_t)(cmdEnd - cmd - 1), entry->Command)) ||
                        (TextEqualNoCase(group, entry->Group) &&
                         SpanEquals(line + 1, nameLen, entry->Name));
            char item[NAME_CAP];
            if (!match || CopyTextN(item, sizeof item, line + 1, nameLen) != TEXT_FIT)
                continue;
            if (!groupSafe || !SafeName(item)) {
                RecordRefusal(groupSafe ? "ICON" : "GROUP", groupSafe ? item : group, "BAD-PATH",
                              entry->InstallNo);
                continue;       // the item is left, and so is its group
            }
            found = 1;
            char *itemLine = LineCopy(line);
            int done = itemLine && DeleteProgmanItem(DdeInstance, Conversation, group, item, itemLine, entry->InstallNo);
            free(itemLine);
            if (!done)
                continue;       // refused: the item stays, and so does its group
            line[0] = '*';
            if (MarkGroupIfEmpty(desc) && !TextEqualNoCase(group, "STARTUP")) {
                // The description's first line, with the quote the mark took.
                char *head = LineCopy(desc);
                if (head) {
                    head[0] = '"';
                    DeleteProgmanGroup(DdeInstance, Conversation, group, head, entry->InstallNo);
                }
                free(head);
            }
        }
    }
    if (!found)
        AddRow("ICON", entry->InstallNo, entry->Name, ACT_DELETE, OUT_SKIPPED, "ALREADY-GONE", entry->Group);
}

void CloseProgman(void)
{
    if (Conversation)
        DdeDisconnect(Conversation);
    Conversation = NULL;
    ShowProgress(NULL);
    if (DdeInstance)
        DdeUninitialize(DdeInstance);
    DdeInstance = 0;
    FreeProgmanText();
}

// --- an undo ---------------------------------------------------------------

// The group's description as Program Manager gave it at the connection.
static char *FindGroupText(const char *group)
{
    for (int slot = 0; slot < GROUP_SLOTS && GroupNames[slot]; slot++) {
        char *desc = GroupNames[slot];
        char *close = ClosingQuote(desc);
        if (close && SpanEquals(desc + 1, (size_t)(close - desc - 1), group))
            return desc;
    }
    return NULL;
}

// Splits a description line in place: four quoted fields (name, command,
// folder, icon) and five numbers, or the name and command alone. Result the
// count, or -1 for a line that no AddItem could say again safely.
static int SplitItemLine(char *line, const char **fields)
{
    int count = 0;
    char *p = line;
    while (*p && count < PROGMAN_FIELDS) {
        int quoted = count < 4;
        if (quoted) {
            char *close = *p == '"' ? ClosingQuote(p) : NULL;
            if (!close)
                return -1;
            *close = 0;
            fields[count] = p + 1;
            p = close + 1;
        } else {
            fields[count] = p;
            while (*p == '-' || (*p >= '0' && *p <= '9'))
                p++;
            if (p == fields[count] || (size_t)(p - fields[count]) >= PROGMAN_FIELD_CAP)
                return -1;
        }
        count++;
        if (*p == ',')
            *p++ = 0;
        else if (*p)
            return -1;
    }
    if (*p || (count != 2 && count != PROGMAN_FIELDS))
        return -1;
    for (int i = 0; i < 4 && i < count; i++)
        if (!SafeName(fields[i]))
            return -1;
    return count;
}

int UndoProgmanLine(int isGroup, const char *group, const char *line)
{
    if (!SafeName(group)) {
        RecordRefusal("GROUP", group, "BAD-LINE", 0);
        return 0;
    }
    char *desc = FindGroupText(group);
    if (isGroup) {
        if (desc) {
            AddRow("GROUP", 0, group, ACT_UNDO, OUT_SKIPPED, "UNCHANGED", NULL);
            return 0;
        }
        return AddProgmanGroupBack(DdeInstance, Conversation, group) == UNDO_FAILED;
    }
    char *copy = HeapText(line);
    const char *fields[PROGMAN_FIELDS];
    int count = copy ? SplitItemLine(copy, fields) : -1;
    if (count < 0) {
        RecordRefusal("ICON", line, "BAD-LINE", 0);
        free(copy);
        return 0;
    }
    // An item of that name there now: the same one, or one made since.
    int result = -1;
    for (char *l = desc ? NextLine(desc) : NULL; l && result < 0; l = NextLine(l)) {
        char *close = *l == '"' ? ClosingQuote(l) : NULL;
        if (close && SpanEquals(l + 1, (size_t)(close - l - 1), fields[0])) {
            size_t n = 0;
            while (l[n] && l[n] != '\r' && l[n] != '\n')
                n++;
            result = SpanEquals(l, n, line) ? 0 : 1;
        }
    }
    int failed = 0;
    if (result >= 0)
        AddRow("ICON", 0, fields[0], ACT_UNDO, result ? OUT_CONFLICT : OUT_SKIPPED,
               result ? "CHANGED-SINCE" : "UNCHANGED", group);
    else
        failed = AddProgmanItemBack(DdeInstance, Conversation, group, fields, count) == UNDO_FAILED;
    free(copy);
    return failed;
}
