// The recovery store (/K): before each change, what the change takes away is
// written into a store under the Windows directory, so that /U can give it
// all back. The store holds the kept files and a journal, one line per
// change, each written and flushed before its change is made.
#pragma once
#include <windows.h>
#include <stddef.h>

enum { STORE_PATH_CAP = 260 };

// --- machine/recovery ---
extern int KeepRecovery;                    // /K, or [Settings] Keep Recovery=1
extern char RecoveryStore[STORE_PATH_CAP];  // this run's store, "...\" ; empty until opened

// "<Windows>\UNINSTAL.RCV" (no trailing backslash). 0 when it does not fit.
int RecoveryRoot(char *buf, size_t cap);
// Makes "<root>\<product>.<yyyymmdd-hhmmss>\" with an empty journal. 0 =
// open; 1 = it could not be made (the run then keeps nothing and says so).
int OpenRecoveryStore(const char *product);
void CloseRecoveryStore(void);
// Bytes of the kept files and the journal so far.
unsigned long RecoveryStoreBytes(void);
// Whether path names the recovery root, a store in it, or a folder or file
// in one (by the identity of the path and the folders above it, so that no
// spelling of it escapes; by its text as well).
int InRecoveryStore(const char *path);

// --- keeping, before a change. Each result is 1 when what the change takes
// away is kept, or no store is open; 0 when it could not be kept: the
// change must then not be made (the last error says why). ---

// While held, the lines kept are written and flushed together by
// JournalOnDisk, which must come before any of their changes: one flush for
// the lines of changes made together (an INI file's items in one write).
// Letting go flushes.
void HoldJournal(int hold);
// 1 when every line written is on the disk (flushed now when needed), or no
// store is open; else 0 (ERROR_DISK_FULL), and no change may be made.
int JournalOnDisk(void);

// Deletes the file by moving it into the store (on its volume a rename: no
// copy, no room needed; from another volume it is copied first). Result and
// last error as DeleteFileA's.
int MoveIntoStore(const char *path);
// Before path is replaced by the file at next (or, with next null, cut or
// rewritten by the caller): a copy of path, and what will be there after.
int KeepFileCopy(const char *path, const char *next);
// The same, with the content that will be there given as bytes.
int KeepFileCopyBytes(const char *path, const void *next, size_t nextLen);
// Before the INI file at path is replaced by its copy at next, with its
// items set (their INI lines come first).
int KeepIniText(const char *path, const char *next);
// Before an empty folder is removed.
int KeepFolder(const char *path);
// Before a value of key (named "HKLM\..." etc., root open as rootKey) is set
// to type/data (afterGone 0) or deleted (afterGone 1).
int KeepValue(HKEY rootKey, const char *keyName, const char *key, const char *name, int afterGone, DWORD type,
              const void *data, DWORD size);
// Before an emptied key is deleted.
int KeepKey(const char *keyName);
// Before a whole tree is deleted: every value and key in it.
int KeepTree(HKEY rootKey, const char *keyName, const char *key);
// Before a Program Manager item (its group and its description line, as
// Program Manager gave them) or a group (its description's first line) is
// deleted: type "ICON" or "GROUP".
int KeepProgmanLine(const char *type, const char *group, const char *line);
// Before an INI item is set to after (null: deleted).
int KeepIniItem(const char *file, const char *section, const char *item, const char *after);
// Before the service (open through manager) is stopped and deleted: its
// configuration and whether it runs. Keeps nothing where there is no service
// manager (Windows 95 and 98), or no such service.
int KeepService(SC_HANDLE manager, const char *name);

// Whether name is a kept file's name in a store ("K00001.DAT"), or "-".
int IsKeptFileName(const char *name);
// The kept file's full path in store ("...\"): kept files lie in folders of
// a hundred ("K000\K00001.DAT"), since a folder of thousands is searched
// entry by entry (on FAT, and by Wine) for every file moved into it. 1 when
// it fits.
int KeptFilePath(char *buf, size_t cap, const char *store, const char *kept);
// Deletes the store's own files (the journal and what is still kept), the
// store, and the recovery root when nothing else is in it. Not in a preview.
void RemoveRecoveryStore(const char *store);
// Removes the store when it holds nothing at all (a run ended while making
// it, an undo ended while removing it), then the root when it is empty;
// with store "" only the root. Result 1 when the store is gone (in a
// preview, when it would be; nothing is removed).
int RemoveEmptyStore(const char *store);

// --- the journal's text ---
enum { JOURNAL_FIELDS = 12 };
// Splits one journal line in place into its fields, undoing the %XX
// escapes; result the number of fields, -1 for a line that is not whole.
int SplitJournalLine(char *line, char **fields, int most);
// A file's content as "<size>:<crc32>", or "-" when there is none.
void ContentMark(const char *path, char *buf, size_t cap);
// Before the file is cut to its first length bytes.
int KeepFileBeforeCut(const char *path, unsigned long length);

// --- undoing one journal line (/U): each call looks at what is there now,
// puts back what was there before when the thing is as the change left it,
// and writes its row (action UNDO): DONE; SKIPPED UNCHANGED when it is
// already as it was; CONFLICT CHANGED-SINCE, left as it is, when it was
// changed since (a kept file then goes beside it as "<name>.RECOVERED");
// FAILED. A preview changes nothing and writes the same rows. ---
enum { UNDO_DONE = 0, UNDO_UNCHANGED = 1, UNDO_CONFLICT = 2, UNDO_FAILED = 3 };
// kept: the kept file's full path, or null when there was no file before.
int UndoFile(const char *path, const char *kept, DWORD attributes, const char *after);
// An INI file's text put back whole (row INI, no detail) when nothing
// changed it since; else SKIPPED CHANGED-SINCE, its item lines then undoing
// each item.
int UndoIniText(const char *path, const char *kept, DWORD attributes, const char *after);
int UndoFolder(const char *path);
// key without its root's name; keyName with it ("HKLM\...") for the row.
int UndoValue(HKEY rootKey, const char *keyName, const char *key, const char *name, const char *before,
              const char *after);
int UndoKey(HKEY rootKey, const char *keyName, const char *key);
// previous: the item it stood after when it was taken away ("" first), or null.
int UndoIniItem(const char *file, const char *section, const char *item, const char *before, const char *after,
                const char *previous);
// A service as a SERVICE line keeps it; the texts are never null.
struct KeptService {
    const char *Name, *Binary, *Group, *StartName, *DisplayName;
    const char *Dependencies;   // the names with a tab between them
    DWORD Type, Start, ErrorControl;
    int Running;
};
// Makes the service again, and starts it when it ran; one that is there
// again with the same program is SKIPPED UNCHANGED (started when it ran and
// is stopped), with another program CONFLICT; one marked for deletion
// FAILED, so that a later undo makes it again. Where there is no service
// manager the row is SKIPPED UNSUPPORTED.
int UndoService(const KeptService *s);
