// INI items written back or deleted: the items of one file in one
// whole-file write, each with the outcome it got, and each item's report
// row for that outcome. Never creates a file. A preview writes nothing and
// gives every item the outcome the write would most likely give.
#pragma once
#include "wholefile.h"

// What became of an item written with others of its file.
enum { INI_PENDING = 0, INI_WRITTEN = 1, INI_FAILED = 2, INI_NO_FILE = 3, INI_IN_PLACE = 4 };
struct IniOutcome {
    int State;
    unsigned long Error;    // the failure's
};

// Sets or deletes (Value null) the items, all of file, together: one
// whole-file write for them all (an item of a section that the system keeps
// in the registry is written there), so that a full disk or a kill leaves
// the old file or the new one. An item that already reads as it would be
// written is left (INI_IN_PLACE); of two items with one name the later
// decides. outcomes[k] gets item k's outcome.
void WriteIniItems(const char *file, const ProfileItem *items, int count, IniOutcome *outcomes);
// The INI row of item of file for its outcome: RESTORE-VALUE or
// DELETE-VALUE, detail "[Section] Item"; a missing file or an item already
// in place is SKIPPED ALREADY-GONE.
void AddIniItemRow(const char *file, const ProfileItem *item, unsigned short installNo, const IniOutcome *outcome);
// Deletes an INI file the installation made (its attributes cleared first),
// with its INIFILE row.
void DeleteIniFile(const char *path, unsigned short installNo);
