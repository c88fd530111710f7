// Folders that no removal deletes or enters (roots, the system's own folders,
// profiles, shell folders, the temporary folders), compared by what they are
// rather than how they are spelt; and the link test for removals.
#pragma once

// Whether path names a protected folder: by file identity (see paths.h),
// on Windows 95 and 98 also by its directory entry (name and creation time,
// for shares and drives that show another folder), or by the long form of
// its text where the system gives no identity. A path too long to check counts as protected. The set is built
// at the first call and again whenever the System directory or the temporary
// copy's path has changed since.
int IsProtectedFolder(const char *path);
// Builds the set afresh at the next call (the shell folders or profiles may
// have changed).
void ForgetProtectedFolders(void);
// Number of folders in the set (built when needed).
int ProtectedFolderCount(void);

// Whether a folder on the way to path (its root excluded; path itself only
// when withLast) is a junction, a symbolic link or another reparse point, or
// cannot be looked at. A removal through such a folder would act on whatever
// it points to.
int PathCrossesLink(const char *path, int withLast);
