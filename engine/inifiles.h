// INI file restore and removal: created INI files deleted, changed items
// written back or deleted, the items of one file together. Never creates a
// file.
#pragma once
#include "../log/inventory.h"
#include "../machine/iniops.h"

void RemoveIniFile(NewIniEntry *entry);
// Result 1 when the file existed (the item was then written back or deleted,
// or already read as it would be written, or its write failed).
int RestoreIniItem(IniEntry *entry);

// Writes back or deletes the items, all of one file, together (see
// WriteIniItems); outcomes[k] gets item k's outcome. A failed write leaves
// work for a later run. Nothing is reported here.
void RestoreIniItemsTogether(IniEntry **items, int count, IniOutcome *outcomes);
// The item's report row for its outcome; result as RestoreIniItem's.
int ReportIniItem(const IniEntry *entry, const IniOutcome *outcome);
