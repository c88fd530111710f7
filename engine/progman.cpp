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
            if (!DeleteProgmanItem(DdeInstance, Conversation, group, item, entry->InstallNo))
                continue;       // refused: the item stays, and so does its group
            line[0] = '*';
            if (MarkGroupIfEmpty(desc) && !TextEqualNoCase(group, "STARTUP"))
                DeleteProgmanGroup(DdeInstance, Conversation, group, entry->InstallNo);
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
