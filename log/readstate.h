// Shared by the files of the log reader only: the current line and its
// tests, the path forms, and the look-up indexes of the lists. Not for use
// outside log/.
#pragma once
#include <windows.h>
#include "inventory.h"
#include "logindex.h"

enum { LINE_CAP = 256 };
// What a tag test on the current line found.
enum { TAG_FOUND, TAG_OTHER, TAG_TOO_LONG, TAG_END };
// What a handler did with the line it read last.
enum { LINE_USED, LINE_HANDED_BACK };

// --- lines.cpp: the current line ---
// Reads lines from file from its start on.
void BeginLines(HFILE file);
// Where the current line starts in the log.
long CurrentLineOffset(void);
extern char Line[LINE_CAP];
// Line holds only part of its line: the line is longer than the buffer, or
// a NUL byte cut it. Such a line is never taken as an entry: a cut path or
// key names something else.
extern int LineDamaged;
// Reads the next line into Line. 0 when the log has ended.
int ReadNext(void);
// A line that opens a block, whatever stands before it.
int IsBlockHeader(void);
// Records the current line as refused.
void RefuseLine(void);
// Tests the current line for a tag; *value points into Line behind it.
int LineIs(const char *tag, const char **value);
// Reads the line that should follow and tests it for tag.
int Follow(const char *tag, const char **value);
// A line that was read ahead and not claimed goes back to the main loop.
int AfterGroup(int found);
int IsMarker(const char *marker);

// --- pathforms.cpp: path forms and tests ---
extern char WindowsDir[INV_PATH_CAP];
// Drive types and the classification directories (SystemDir too).
void PreparePathForms(void);
void EndPathForms(void);
void PathForm(const char *value, char *out, size_t cap);
int OnFloppy(const char *path);
int IsSharedDll(const char *path);
int ContainsDir(const char *dir, const char *directory);
int IsSystemDirectory(const char *path);
int IsAbsolutePath(const char *path);
int UsablePath(const char *path, int allowPattern);
void RefusePath(const char *kind, const char *path);

// --- entries.cpp: file, INI, program, icon and service entries ---
// Look-up indexes, one per list and key; see logindex.h.
struct FileIndex {
    SlotIndex Paths, Names;
    char **LongForms;       // per slot: the path in long form, made when first needed
    char **LongDirs;        // per slot: its directory part in long form, the same way
    int LongCap;
};
extern FileIndex AppFiles, SysFiles;
extern SlotIndex EditIndex, NewIniIndex, IniIndex, RegKeyIndex, RegTreeIndex, RegValueIndex,
    IconIndex, ProgramIndex, ServiceIndex;
unsigned PathHash(const char *path);
unsigned IniHash(const char *file, const char *section, const char *item);
unsigned IconHash(const char *group, const char *name);
unsigned RegTreeHash(const char *key, int root);
unsigned RegKeyHash(const char *key, const char *name, int root);
unsigned RegValueHash(const char *key, const char *name, int root, int type);
// Appends entry to list and its key hash to ix. 0 = added; 1 = memory is
// short and nothing was added (the record stays unused in its block).
int AppendIndexed(EntryList *list, SlotIndex *ix, void *entry, unsigned hash);
void FreeFileIndex(FileIndex *fx);
int ReadFileLine(const char *value, int overwrite, int nonSystem, int sharedIgnored);
void MarkDevice(const char *value);
void MarkSelfRegister(const char *value);
int ReadEditLine(const char *value);
void ReadService(const char *value);
int ReadNewIni(void);
int ReadIniChange(const char *value);
int ReadProgram(const char *value);
int ReadIcon(const char *value);

// --- direntries.cpp: directory entries ---
// The leading parts of the paths, and each path as it is now.
extern PrefixIndex DirParts, DirPaths;
extern int DirIndexBroken;
void AddDirParts(int slot, const char *path);
int AppendDir(DirEntry *e);
void ReadMadeDir(const char *value, char *installRootDir);
void ReadFileTree(const char *value);

// --- regentries.cpp: registry entries ---
int ReadRegTree(const char *value);
int ReadRegKey(const char *value);
