// Whole files only: a file the program rewrites is written beside itself
// under a temporary name, flushed, and then swapped in, so that a kill, a
// full disk or a held file leaves the old text or the new one, never a part.
#pragma once
#include <stddef.h>

enum { WHOLE_DONE = 0, WHOLE_FAILED = 1, WHOLE_STAGED = 2 };

// The name of the file written beside target before it is swapped in:
// target's own name with ".~kv" added. Result 0, or 1 when it would not fit.
int MakeSiblingFile(char *buf, size_t cap, const char *target);
// Puts the finished file tmp in place of target in one step. A target held
// by another program: with stageHeld, the swap is recorded for the next
// restart (WHOLE_STAGED); else tmp is deleted. WHOLE_FAILED leaves target
// as it was.
int SwapInFile(const char *tmp, const char *target, int stageHeld);
// The whole file on the heap with a NUL after it and its size; null, with
// the last error, when it cannot be opened or read, or is over most bytes.
char *ReadWholeFile(const char *path, size_t most, size_t *size);
// Writes bytes as the whole new content of path (created when missing).
int WriteWholeFile(const char *path, const void *bytes, size_t len, int stageHeld);
// One item of an INI file: set to Value, or deleted when Value is null.
struct ProfileItem {
    const char *Section;
    const char *Item;
    const char *Value;
};
// Sets or deletes the items (in their order: of two with one name the later
// wins) of the INI file at file (a full path; the file is made when missing)
// through one copy beside it, which replaces the file only when every item
// reads back as set and every other section and item reads back the same:
// a full disk, on which the system's profile writer leaves a cut file, or a
// kill loses nothing.
int WriteProfileItemsWhole(const char *file, const ProfileItem *items, int count);
// The same for one item.
int WriteProfileItemWhole(const char *file, const char *section, const char *item, const char *value);
// Its two halves, for a caller that keeps the file first: the copy made
// beside the file (its path in copy) with the items set and checked,
// result 1 when it is whole; then swapped in (WHOLE_DONE or WHOLE_FAILED).
int MakeProfileCopy(const char *file, const ProfileItem *items, int count, char *copy, size_t cap);
int SwapInProfileCopy(const char *copy, const char *file);
// The name of the item that stands before item in its section ("" when it
// is the first) into buf; 0, or 1 when the item is not there or the name
// does not fit.
int ProfileItemBefore(const char *file, const char *section, const char *item, char *buf, size_t cap);
// Sets an item that is not there, on the line after the item previous (""
// after the section's header), as WriteProfileItemWhole does; where that
// line is not found, the item goes where WriteProfileItemWhole puts it.
int WriteProfileItemAfter(const char *file, const char *section, const char *item, const char *value,
                          const char *previous);
// Whether the system keeps this section of an INI file of the Windows
// directory in the registry (NT's IniFileMapping, WIN.INI's [windows] say):
// the profile API then reads and writes the registry, not the file.
int IniSectionIsMapped(const char *file, const char *section);
// Its two halves: whether the file may have such sections at all (NT, and
// the file lies in the Windows directory), and whether the system's mapping
// names this section for a file of that name.
int IniFileMayBeMapped(const char *file);
int IniSectionMappedFor(const char *file, const char *section);
