// What the run did (or, in a preview, would do) with each inventory entry
// and each operation: the rows of the per-item report. Collected only when
// RowsWanted is set; without it every call here returns at once.
#pragma once

// Planned actions.
#define ACT_DELETE "DELETE"
#define ACT_RESTORE_BACKUP "RESTORE-BACKUP"
#define ACT_RESTORE_VALUE "RESTORE-VALUE"
#define ACT_DELETE_VALUE "DELETE-VALUE"
#define ACT_DECREMENT "DECREMENT"
#define ACT_UNREGISTER "UNREGISTER"
#define ACT_STOP_DELETE "STOP-DELETE"
#define ACT_DISABLE_LINE "DISABLE-LINE"
#define ACT_RUN "RUN"
#define ACT_REGISTER "REGISTER"     // a restored server registered again
#define ACT_NONE "NONE"
// Outcomes of a real run; a preview shows them as WOULD-DO, WOULD-KEEP and
// WOULD-STAGE (SKIPPED and REFUSED stay as they are).
#define OUT_DONE "DONE"
#define OUT_KEPT "KEPT"
#define OUT_STAGED "STAGED"
#define OUT_FAILED "FAILED"
#define OUT_SKIPPED "SKIPPED"
#define OUT_REFUSED "REFUSED"
#define OUT_CONFLICT "CONFLICT"  // an undo found the thing changed since, and left it
#define ACT_UNDO "UNDO"

struct ReportRow {
    const char *Kind;       // static texts (refusals.h lists the kinds)
    const char *Action;
    const char *Outcome;
    char *Target;           // heap copies; never null
    char *Reason;
    char *Detail;
    unsigned short InstallNo;
};

// --- base/rows ---
extern int RowsWanted;      // set by the run flow for a report or a preview

// Appends one row. reason and detail may be null or empty. Memory that is
// short drops the row (the report then says so), never the operation.
void AddRow(const char *kind, unsigned short installNo, const char *target, const char *action,
            const char *outcome, const char *reason, const char *detail);
int RowCount(void);
int RowsDropped(void);
const ReportRow *RowAt(int i);
void FreeRows(void);
// A row for an operation that succeeded (DONE) or failed with error: a
// missing target is SKIPPED with ALREADY-GONE, anything else FAILED.
void AddResultRow(const char *kind, unsigned short installNo, const char *target, const char *action,
                  int ok, unsigned long error, const char *detail);
// A reason for a failed Win32 call: "IN-USE" for a sharing violation or a
// lock, "ALREADY-GONE" for a missing file or path, else "ERROR=<code>".
void ErrorReason(char *buf, unsigned long cap, unsigned long error);
