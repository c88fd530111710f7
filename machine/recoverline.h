// The recovery journal's line writer, content marks and the helpers shared
// by the files of the store (recovery.cpp, recoverkeys.cpp, recovermark.cpp,
// recoverservice.cpp, recoverfiles.cpp). Not for use outside them.
#pragma once
#include <stddef.h>

// A growing line; a line that memory cannot hold is not written (and its
// change then not made).
struct Line {
    char *Data;
    size_t Len, Cap;
    int Failed;
};
void Put(Line *l, const char *text, size_t n);
// Adds a field (after a tab when the line holds one), escaped as %XX where
// it holds a control character, "%" or a byte above 0x7E.
void PutField(Line *l, const char *text);
// Writes the line and flushes it to the disk (while the journal is held,
// only writes it); frees it. Result 1 when it is there, else 0 (last error
// ERROR_DISK_FULL).
int WriteLine(Line *l);
// Writes the two-field line "kind<TAB>name" when a store is open; result as
// WriteLine's, 1 when nothing is kept.
int KeepNamed(const char *kind, const char *name);
// Whether this run keeps what it changes: /K, a store open, not a preview.
int RecoveryOpen(void);
// The CRC-32 of n more bytes (start with 0xFFFFFFFF, invert at the end).
unsigned long MarkCrc(unsigned long crc, const unsigned char *p, unsigned long n);
// The content mark ("<size>:<crc32>") of len bytes.
void BytesMark(const void *bytes, size_t len, char *buf, size_t cap);
// The mark of the file's first length bytes; 0 when it is shorter or
// cannot be read.
int HeadMark(const char *path, unsigned long length, char *buf, size_t cap);
// The row of one undone journal line (UNDO_DONE... of recovery.h); result
// the same value.
int UndoRow(const char *kind, const char *target, int result, const char *detail);
// Renames from to to in one step (replacing what to holds, with replace);
// never a copy, which a kill could leave cut under the name. Between two
// volumes 0 with ERROR_NOT_SAME_DEVICE.
int RenameOnly(const char *from, const char *to, int replace);
// Deletes the copy a whole-file write leaves beside path when it is ended
// before its swap ("<path>.~kv", wholefile.h): once the change is undone no
// run takes it up. Not in a preview.
void DropLeftCopy(const char *path);
