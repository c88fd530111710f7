// Path and file helpers: the normaliser, existence test, file-name position
// and the directory search wrappers. No state, no messages.
#pragma once
#include <windows.h>
#include <stddef.h>

struct FindRecord {
    char Name[MAX_PATH];        // current entry's name as stored
    DWORD Attributes;           // 0x10 = directory
    HANDLE Handle;              // INVALID_HANDLE_VALUE when nothing was found
    WIN32_FIND_DATAA Data;      // also carries the short (8.3) name
};

// 0 = found (record filled), 1 = nothing (more) found.
int FindFirstEntry(const char *pattern, FindRecord *rec);
int FindNextEntry(FindRecord *rec);
void EndFind(FindRecord *rec);

int FileExists(const char *path);

// Rewrites path in place so that every existing component is spelt as on
// disk: long names (longNames 1) or short 8.3 names (0). cap is the buffer's
// capacity. Components that do not exist (arguments after a file name, say)
// and components with wildcards stay as they are; when a found name would not
// fit, the whole path is left unchanged.
void NormalizePath(char *path, size_t cap, int longNames);

// Directory look-ups of NormalizePath remembered between Begin and End
// (a log is read while nothing on disk changes): the same path is searched
// once, whatever its result. LookupCacheOff switches it off (tests compare).
void BeginLookupCache(void);
void EndLookupCache(void);
extern int LookupCacheOff;
// Searches made by NormalizePath and LookUpNames so far (for the benchmark).
extern long DirectorySearches;
// The long and short (8.3, "" when the long one is valid 8.3) names of
// what a search of path finds, through the look-up cache. longName holds
// MAX_PATH bytes, shortName 14. 0 = found, 1 = nothing found.
int LookUpNames(const char *path, char *longName, char *shortName);

// Position just behind the last backslash, or the start of the path.
char *FileNamePart(char *path);
const char *FileNamePart(const char *path);

// Whether path is a plain absolute path: "X:\..." or "\\server\share\...",
// with no empty, "." or ".." component, no component ending in a dot or a
// blank (the system would drop those), no device or long-path prefix, no
// "/" and no stream colon. Such a path names what it says, and a text
// comparison with another plain path is meaningful. A trailing backslash is
// allowed; wildcards only when allowPattern and only in the last component.
int IsPlainAbsolutePath(const char *path, int allowPattern);
// A drive root ("C:\", "C:") or a network share's root ("\\server\share").
int IsRootPath(const char *path);

// The identity of an existing file or folder: its volume's serial number and
// its file index, as the system reports them. Two spellings of one folder
// (8.3 aliases, a share, "\\?\", links followed) give the same identity.
struct FileIdentity {
    DWORD Volume;
    DWORD IndexHigh, IndexLow;
};
// 0 = found, 1 = no identity to be had (missing, no access, not supported).
// Links are followed: the identity is that of what the path reaches.
int GetFileIdentity(const char *path, FileIdentity *id);
int SameIdentity(const FileIdentity *a, const FileIdentity *b);
