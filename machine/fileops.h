// Files and folders as the seam changes them: every deletion, attribute
// change and folder removal of the uninstall goes through here. In a preview
// nothing changes; the calls say what the run would find (preview.h). The
// calls that take a kind and an installation number write the change's
// report row themselves, with the outcome they saw.
#pragma once

// Clears read-only, hidden and system attributes.
void SetPlainAttributes(const char *path);
// Deletes path as given; sets DeletingSelf when its long form is our own file.
// Result non-zero on success. No row: the callers' rows name what it is for.
int DeleteOneFile(const char *path);
// Removes a directory only when it is empty. Result non-zero on success.
int RemoveEmptyDirectory(const char *path);
// Deletes one file (clearing its attributes when they refuse it) and, for a
// help file, its .GID and .FTS index companions. Result non-zero when the file
// itself went; the last error is that of its deletion.
int RemoveFile(const char *path);
// A help file's .GID and .FTS index companions (their attributes are not
// cleared); each one that was there gets a row when kind is given.
void RemoveHelpCompanions(const char *path, const char *kind, unsigned short installNo);

// Deletes an installed file with its row (kind, installNo, DELETE): DONE,
// FAILED, SKIPPED ALREADY-GONE, or for the running program's own file DONE
// (its clean-up copy deletes it when the program ends) or STAGED (in place: at
// the restart). A help file's index companions that are there get rows too.
// Result non-zero when the file went (or goes with the program).
int DeleteInstalledFile(const char *kind, unsigned short installNo, const char *path);
// A file inside a folder tree that is removed whole: deleted with its row
// (kind, installNo, DELETE); with kind null (the program's own clean-up, or
// a folder that an earlier row names) without one.
int DeleteTreeFile(const char *kind, unsigned short installNo, const char *path);
// Removes the folder when empty, with its row (kind, installNo, DELETE):
// DONE, SKIPPED ALREADY-GONE, or notEmpty (KEPT or FAILED) with NOT-EMPTY
// while it is still there. kind null: no row, as above.
int RemoveFolder(const char *kind, unsigned short installNo, const char *path, const char *notEmpty);
