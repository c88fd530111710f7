// /U: undoing an uninstall from its recovery store (machine/recovery.h).
#pragma once
#include "../machine/recovery.h"

// --- engine/undo ---
extern char UndoStore[STORE_PATH_CAP];    // the store being undone, "...\"

enum { UNDO_ALL = 0, UNDO_LEFT = 1, UNDO_NO_STORE = 2 };
// Undoes the store named (a folder in the recovery root), or with "" the
// most recent one, line by line from its last change back to its first,
// each with its row; then deletes the store. UNDO_LEFT: something failed
// and the store stays, for a later run; UNDO_NO_STORE: no such store or its
// journal cannot be read (nothing changed). A store that holds nothing, not
// even its journal, is removed (UNDO_ALL).
int RunUndo(const char *named);
