// Pending file operations: files put in place now or at the next restart
// (a backup restored with its report row),
// deletions at the next restart, and the restart itself.
#pragma once
#include <stddef.h>

// Puts the file at source in place of target, now or (when target is in
// use) at the next restart: on NT renamed over it where both lie on one
// drive, else copied beside it and swapped in; source is gone once its data
// is safe.
// REPLACE_KEPT: nothing could be done; target and source both stay.
enum { REPLACE_DONE = 0, REPLACE_STAGED = 1, REPLACE_KEPT = 2 };
int ReplaceFileLater(const char *source, const char *target);
// Puts the backup in place of the installed file with its row
// (RESTORE-BACKUP, DONE or STAGED); the file's help index companions go, as
// the help viewer makes them again. Result as ReplaceFileLater's; for
// REPLACE_KEPT nothing changed and no row is written.
int RestoreBackupFile(const char *kind, unsigned short installNo, const char *backup, const char *path);
// Records path for deletion at the next restart.
void DeleteAtRestart(const char *path);
// The target's path with its file name replaced by the first free staging
// name "~KVU%04x.TMP". buf is empty when no such name fits or is free.
void MakeTempName(char *buf, size_t cap, const char *target);
// Writes the embedded restart program to the Windows directory (NT).
// Result 1 when it is there whole.
int WriteRestartProgram(void);
// Restarts the machine: on NT through the restart program, which is started
// only when it is there whole.
void RestartSystem(void);
// Writes the embedded restart program to path. Result 1 when path holds it whole.
int WriteRestartProgramTo(const char *path);
// Starts the program at path when it holds the embedded restart program,
// whole; result 1 when it was started.
int StartRestartProgram(const char *path);
// "_MSRSTRT.EXE" (or another name) in the Windows directory; 0 when it does not fit.
int WindowsDirFile(char *buf, size_t cap, const char *name);
