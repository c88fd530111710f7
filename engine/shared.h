// Shared-component reference counts (HKLM SharedDLLs) and the question
// asked before the last reference's file goes.
#pragma once
#include <windows.h>

enum { SHARED_NOT_COUNTED = 0, SHARED_KEEP = 1, SHARED_REMOVE = 2 };

// Set by "No to All": no further question in this run.
extern int NoToAll;

// Lowers the count of path, with its SHARED row for installNo. Result
// SHARED_NOT_COUNTED (treat as an ordinary file), SHARED_KEEP, or
// SHARED_REMOVE (last reference, the user said Yes). count, when given,
// receives the count found.
int ReleaseSharedFile(const char *path, long *count = 0, unsigned short installNo = 0);
// Reads registry data as a count: REG_DWORD, 4-byte REG_BINARY or a decimal
// REG_SZ; -1 for anything else.
long SharedCount(DWORD type, const BYTE *data, DWORD size);
