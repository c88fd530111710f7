// The list of refused entries (see refusals.h).
#include "refusals.h"
#include "rows.h"
#include "text.h"
#include <stdlib.h>
#include <string.h>

enum { TARGET_CAP = 512 };

static RefusalEntry *Refusals;
static int Count, Capacity;

void RecordRefusal(const char *kind, const char *target, const char *reason, unsigned short installNo)
{
    // A backup that cannot be put back is no safety refusal: the file is
    // kept as it is.
    if (strcmp(reason, "NO-BACKUP") == 0)
        AddRow(kind, installNo, target, ACT_RESTORE_BACKUP, OUT_KEPT, reason, NULL);
    else
        AddRow(kind, installNo, target, ACT_NONE, OUT_REFUSED, reason, NULL);
    if (Count >= Capacity) {
        int grown = Capacity ? Capacity * 2 : 64;
        if (grown > (1 << 20))
            return;
        RefusalEntry *list = (RefusalEntry *)realloc(Refusals, (size_t)grown * sizeof *list);
        if (!list)
            return;
        Refusals = list;
        Capacity = grown;
    }
    size_t len = strnlen(target ? target : "", TARGET_CAP - 1);
    char *copy = (char *)malloc(len + 1);
    if (!copy)
        return;
    CopyTextN(copy, len + 1, target ? target : "", len);
    RefusalEntry *e = &Refusals[Count++];
    e->Kind = kind;
    e->Reason = reason;
    e->Target = copy;
    e->InstallNo = installNo;
}

int RefusalCount(void)
{
    return Count;
}

const RefusalEntry *RefusalAt(int i)
{
    return i >= 0 && i < Count ? &Refusals[i] : NULL;
}

void FreeRefusals(void)
{
    for (int i = 0; i < Count; i++)
        free(Refusals[i].Target);
    free(Refusals);
    Refusals = NULL;
    Count = Capacity = 0;
}
