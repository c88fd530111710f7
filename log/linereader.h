// The buffered line reader, used for the log and for SYSTEM.INI.
#pragma once
#include <windows.h>
#include <stddef.h>

// Line reader state: LogBuffer (state.h) holds LogBufferLen bytes read from
// file offset LogBufferBase; LogBufferPos is the next unread byte.
extern long LogBufferBase;
extern int LogBufferPos, LogBufferLen;

// Call before reading another file from its start.
void ResetLineReader(void);
// Reads the next line: CR ends a line, LF is dropped wherever it stands.
// keepEmpty 0 skips empty lines; 1 returns them. Result 1 when a line end
// was read, 0 at end of file (line then holds what stood before it, maybe
// nothing). A line longer than cap - 1 characters is read to its end, but
// only its start is kept and *tooLong is set (tooLong may be null).
int ReadLogLine(HFILE file, char *line, size_t cap, int keepEmpty, int *tooLong);
// File offset of the first character of the line just read.
long LastLineOffset(void);
// Whether the line just read held a NUL byte (its text then ends early).
int LastLineHadNul(void);
