// The installation log's own end. It is the record of what is still to
// undo, so the engine calls these only once every change it records is made.
#pragma once

// Cuts the log to its first offset bytes (never longer). A preview changes
// nothing (the log stays, so nothing is counted as gone).
void CutLogFile(const char *logPath, long offset);
// Deletes the log; a preview counts it (in both spellings) as deleted.
void DeleteLogFile(const char *logPath, const char *longPath);
