// File and directory removal: what to remove and the file
// phases of the uninstall (edited files, shared counts, removal, tree removal,
// re-registration).
#pragma once
#include "../log/inventory.h"
#include "../machine/fileops.h"
#include "../machine/preview.h"

enum { ENTRY_REFUSED = 0, ENTRY_HANDLED = 1 };

// Removes the file (or the files of a pattern) named by path; with restore,
// puts backupPath in its place. ENTRY_REFUSED, with nothing changed, for a
// pattern that is not plain, lies in a protected folder or goes through a
// link, and for a restore whose backup cannot be read (the file stays).
// Each file acted on gets a report row of the given kind and installation.
int RemoveFileEntry(const char *path, const char *backupPath, int restore, const char *kind = "FILE",
                    unsigned short installNo = 0);
// The reason of the last refusal of RemoveFileEntry, as RecordRefusal takes it.
const char *LastRefusalReason(void);
// Removes a directory tree (path without a trailing backslash); with
// deleteFiles 0 only directories that are or become empty go. A path that is
// not plain, a protected folder (machine/protect.h) or a path through a link is
// refused and recorded ("TREE" or, with deleteFiles 0, "DIR", for installNo),
// and so is a top that is itself a link; protected folders inside are not
// entered, and links inside are neither followed nor removed (recorded).
// With rows, each file and folder removed or kept gets its row, the top's
// last (DONE, SKIPPED ALREADY-GONE, or KEPT / FAILED NOT-EMPTY). Result 0
// when the whole tree was refused, else 1.
int RemoveTree(const char *path, int deleteFiles, unsigned short installNo = 0, int rows = 0);

// The file phases; threshold is the lowest installation number in scope.
// prefix40 is the self-registration progress prefix.
void RestoreEditedFiles(unsigned short threshold);
void ReleaseAppFiles(unsigned short threshold, const char *prefix40);
void ReleaseSystemFiles(unsigned short threshold, const char *prefix40);
// Phases 9 (system 0, prefix 29) and 10 (system 1, prefix 30): cancel test and
// progress count per entry.
void RemoveInstalledFiles(int system, unsigned short threshold, const char *prefix);
void ReregisterRestoredFiles(unsigned short threshold, const char *prefix40);
