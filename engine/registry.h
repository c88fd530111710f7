// Registry removal and restore: changed values written back, created values
// and their emptied keys removed, added trees deleted.
#pragma once
#include "../log/inventory.h"
#include "../machine/regops.h"
#include <windows.h>

// Converts data (cap bytes, the log's text form) in place to the form that
// the registry takes for type 0..4; result the byte count, -1 for another type.
int ConvertRegistryData(char *data, size_t cap, int type);
// Writes the recorded old data back into an existing key; a value that
// already holds it is left alone (SKIPPED, ALREADY-GONE: no change to undo).
void RestoreRegistryValue(RegValueEntry *entry);
// Deletes the created value (for an entry without a value name: the key's
// default value), then the key and each parent left empty, each change with
// its report row (REGVALUE DELETE-VALUE, REGKEY DELETE); a key entry's key
// that still holds something is kept (NOT-EMPTY). Shortens entry->Key as it
// climbs. A protected key (keyguard.h) is never deleted, even when emptied:
// the walk stops there and records it. Later entries find the registry as
// the run would leave it, in a preview too (regops.h).
void RemoveRegistryValue(RegKeyEntry *entry);
// Deletes key with all its sub-keys, depth first. A protected key (see
// keyguard.h) or one not plainly spelt is refused whole and recorded with
// installNo; result 0 then (and for an unknown root), else 1.
int DeleteRegistryTree(const char *key, int root, unsigned short installNo = 0);
