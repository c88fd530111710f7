// The per-item rows (see rows.h): a growing array of small records whose
// texts are sized to their content.
#include "rows.h"
#include "state.h"
#include "text.h"
#include <stdlib.h>
#include <string.h>

int RowsWanted;

static ReportRow *Rows;
static int Count, Capacity, Dropped;
static char EmptyText[1];

static char *Keep(const char *text)
{
    if (!text || !text[0])
        return EmptyText;
    return HeapText(text);
}

static void Release(char *text)
{
    if (text != EmptyText)
        free(text);
}

void AddRow(const char *kind, unsigned short installNo, const char *target, const char *action,
            const char *outcome, const char *reason, const char *detail)
{
    if (!RowsWanted)
        return;
    if (Count >= Capacity) {
        int grown = Capacity ? Capacity * 2 : 256;
        ReportRow *list = grown > (1 << 22) ? NULL
                                            : (ReportRow *)realloc(Rows, (size_t)grown * sizeof *list);
        if (!list) {
            Dropped++;
            return;
        }
        Rows = list;
        Capacity = grown;
    }
    ReportRow r;
    r.Kind = kind;
    r.Action = action;
    r.Outcome = outcome;
    r.InstallNo = installNo;
    r.Target = Keep(target);
    r.Reason = Keep(reason);
    r.Detail = Keep(detail);
    if (!r.Target || !r.Reason || !r.Detail) {
        Release(r.Target ? r.Target : EmptyText);
        Release(r.Reason ? r.Reason : EmptyText);
        Release(r.Detail ? r.Detail : EmptyText);
        Dropped++;
        return;
    }
    Rows[Count++] = r;
}

int RowCount(void)
{
    return Count;
}

int RowsDropped(void)
{
    return Dropped;
}

const ReportRow *RowAt(int i)
{
    return i >= 0 && i < Count ? &Rows[i] : NULL;
}

void FreeRows(void)
{
    for (int i = 0; i < Count; i++) {
        Release(Rows[i].Target);
        Release(Rows[i].Reason);
        Release(Rows[i].Detail);
    }
    free(Rows);
    Rows = NULL;
    Count = Capacity = Dropped = 0;
}

void ErrorReason(char *buf, unsigned long cap, unsigned long error)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        CopyText(buf, cap, "IN-USE");
    else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        CopyText(buf, cap, "ALREADY-GONE");
    else
        FormatText(buf, cap, "ERROR=%lu", error);
}

void AddResultRow(const char *kind, unsigned short installNo, const char *target, const char *action,
                  int ok, unsigned long error, const char *detail)
{
    if (!RowsWanted)
        return;
    if (ok) {
        AddRow(kind, installNo, target, action, OUT_DONE, NULL, detail);
        return;
    }
    char reason[32];
    ErrorReason(reason, sizeof reason, error);
    AddRow(kind, installNo, target, action, strcmp(reason, "ALREADY-GONE") == 0 ? OUT_SKIPPED : OUT_FAILED,
           reason, detail);
}
