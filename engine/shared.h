// Shared-component reference counts (HKLM SharedDLLs).
#pragma once

enum { SHARED_NOT_COUNTED = 0, SHARED_KEEP = 1, SHARED_REMOVE = 2 };

// Lowers the count of path; asks before the last reference goes.
int ReleaseSharedFile(const char *path);
