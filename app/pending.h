// Pending file operations: files put in place now or at the next restart,
// deletions at the next restart, and the restart itself.
#pragma once
#include <stddef.h>

void ReplaceFileLater(const char *source, const char *target);
void DeleteAtRestart(const char *path);
void MakeTempName(char *buf, size_t cap, const char *target);
void WriteRestartProgram(void);
void RestartSystem(void);
