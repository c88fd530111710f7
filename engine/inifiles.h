// INI file restore and removal: created INI files deleted, changed items
// written back or deleted, the items of one file together. Never creates a
// file.
#pragma once
#include "../log/inventory.h"

void RemoveIniFile(NewIniEntry *entry);
// Result 1 when the file existed and the item was written back or deleted.
int RestoreIniItem(IniEntry *entry);

// What became of an item written with others of its file.
enum { INI_PENDING = 0, INI_WRITTEN = 1, INI_FAILED = 2, INI_NO_FILE = 3 };
struct IniOutcome {
    int State;
    unsigned long Error;    // the failure's
};
// Writes back or deletes the items, all of one file, together: one
// whole-file write for them all (an item of a section that the system keeps
// in the registry is written there), so that a full disk or a kill leaves the
// old file or the new one. outcomes[k] gets item k's outcome; a failed
// write leaves work for a later run. Nothing is reported here.
void RestoreIniItemsTogether(IniEntry **items, int count, IniOutcome *outcomes);
// The item's report row for its outcome; result as RestoreIniItem's.
int ReportIniItem(const IniEntry *entry, const IniOutcome *outcome);
