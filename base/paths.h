// Path and file helpers: the normaliser, existence test, file-name position,
// the directory search wrappers and file identity. No messages; the identity
// and the deletion probe follow PlatformKind.
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

// The identity of an existing file or folder. On NT: its volume's serial
// number and its file index, as the system reports them; two spellings of
// one folder (8.3 aliases, a share, "\\?\", links followed) give the same
// identity. On Windows 95 and 98, which have no links and keep a file index
// only while the file is open: the volume's serial number and the canonical
// spelling (full path, every component's long name, upper-cased); 8.3
// aliases and case meet there, a share or a SUBST drive does not.
struct FileIdentity {
    DWORD Volume;
    DWORD IndexHigh, IndexLow;  // NT only; 0 elsewhere
    char Spelling[MAX_PATH];    // 95 and 98 only; "" on NT
};
// 0 = found, 1 = no identity to be had (missing, no access, not supported,
// a spelling too long or holding a wildcard). Links are followed: the
// identity is that of what the path reaches.
int GetFileIdentity(const char *path, FileIdentity *id);
int SameIdentity(const FileIdentity *a, const FileIdentity *b);

// A folder's own directory entry: its long name and creation time. On 95
// and 98 the one mark that a folder seen through a share, a mapped or a
// SUBST drive has in common with itself; another folder would have to be
// made under the same name in the same instant to share it. 0 = found; a
// root, a pattern, a file or a file system without creation times has none.
struct FolderEntry {
    char Name[MAX_PATH];
    FILETIME Created;
};
int GetFolderEntry(const char *path, FolderEntry *entry);
int SameFolderEntry(const FolderEntry *a, const FolderEntry *b);

// Whether the file could be deleted or replaced now as far as its holders go:
// on NT nobody holds it without delete sharing (asked with DELETE access and
// every sharing); on 95 and 98, which delete or rename no open file, nobody
// holds it at all (asked by an exclusive open). 0 = held or missing, with the
// open's last error.
int FileFreeToDelete(const char *path);

// Whether the file starts with an MZ header that leads to a "PE" signature.
int IsWin32Executable(const char *path);
// Whether the folder (with or without its trailing backslash) holds no
// entry; 0 when it cannot be listed.
int FolderIsEmpty(const char *path);
