// Every change the program makes to the registry, each with its report row,
// and the look-ups that see the registry as the run would leave it: a
// preview changes nothing and counts what it would delete as gone.
#pragma once
#include <windows.h>
#include <stddef.h>

enum { REG_ROOT_COUNT = 5, REG_ACCESS = 0x3F, REG_TREE_PASSES = 2048, REG_WORK_PATH_CAP = 384 };

// The root key for a log root number 0..4; null for any other number.
HKEY RootKeyFor(int root);
// The root number of a key named as the report names it ("HKLM\key"), with
// *key set behind its backslash; -1 for any other text.
int RootFromName(const char *keyName, const char **key);
// "HKLM\key" and so on, as the report names a key.
void RegistryTarget(char *buf, size_t cap, int root, const char *key);
// A report row for a registry operation on root's key: DONE when result is
// ERROR_SUCCESS, else SKIPPED ALREADY-GONE or FAILED with the error.
void RegistryRow(const char *kind, unsigned short installNo, int root, const char *key, const char *action,
                 LONG result, const char *detail);

// --- look-ups as the run finds the registry ---
// Opens root's key as the run finds it: a preview counts a key it would
// have deleted (or one below it) as missing.
LONG OpenKeyNow(int root, const char *path, REGSAM access, HKEY *key);
// Whether an open key holds a value or a sub-key (a name too long for the
// enumeration buffer counts).
int KeyHoldsSomething(HKEY key);
// The same for root's key path as the run would find it: a preview passes
// over the values and sub-keys it would have deleted.
int KeyHoldsSomethingNow(HKEY key, int root, const char *path);

// --- changes (installNo and kind go to the row) ---
// Sets value name of the open key (root's path) to data: REGVALUE
// RESTORE-VALUE. Result the call's.
LONG SetKeyValue(HKEY key, int root, const char *path, const char *name, DWORD type, const void *data,
                 DWORD size, unsigned short installNo);
// Deletes value name of the open key (root's path): REGVALUE DELETE-VALUE,
// SKIPPED ALREADY-GONE when it is not there. A key's default value (empty
// name) that is not there is no change and gets no row.
LONG DeleteKeyValue(HKEY key, int root, const char *path, const char *name, unsigned short installNo);
// Deletes root's key path, which holds nothing now: REGKEY DELETE. Result 1
// when it went.
int DeleteEmptyKey(int root, const char *path, unsigned short installNo);
// Deletes root's key path with all its sub-keys, depth first: REGTREE
// DELETE (a missing key: SKIPPED ALREADY-GONE). The caller has made sure
// the key may go. Result the outcome's error (ERROR_SUCCESS when it went).
LONG DeleteKeyTree(int root, const char *path, unsigned short installNo);

// The SharedDLLs count of file (a value of the open key, root's path)
// lowered from
// count: written back as a REG_DWORD, or at the last reference (count 1)
// the value deleted. Row SHARED DECREMENT with reason "SHARED n->n-1".
LONG LowerSharedCount(HKEY key, int root, const char *path, const char *file, long count,
                      unsigned short installNo);
// The database engine's use count (value name of the open key) lowered
// from count, written back as decimal text; with a row name, its SUBSYSTEM
// row (see UseCountRow).
LONG LowerUseCount(HKEY key, int root, const char *path, const char *name, long count, const char *rowName);
// The database engine's last user, once the caller deleted its trees: the
// vendor key above them goes when nothing is left in it, and with a row
// name the release gets its SUBSYSTEM row ("COUNT 1->0" when the engine's
// key is gone). The vendor key's deletion is part of that release.
void FinishLastUse(int root, const char *engineKey, const char *vendorKey, const char *rowName);
// SUBSYSTEM rowName DECREMENT with reason "COUNT n->n-1" when result is
// ERROR_SUCCESS, else SKIPPED ALREADY-GONE or FAILED. No row without a name.
void UseCountRow(const char *rowName, long count, LONG result);
