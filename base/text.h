// Bounded text helpers: every copy into a fixed buffer goes through these.
// Each takes the buffer's capacity (bytes including the NUL), always leaves
// the buffer NUL-terminated when cap > 0, and reports whether the whole text fit.
#pragma once
#include <stddef.h>

// Result of the helpers below.
enum { TEXT_FIT = 0, TEXT_CUT = 1 };

int CopyText(char *dst, size_t cap, const char *src);
int CopyTextN(char *dst, size_t cap, const char *src, size_t n);
int AppendText(char *dst, size_t cap, const char *src);
// A printf-like formatter of its own (the program links no C run-time): %d
// %i %u %x %X %c %s %% with the flags '-' and '0', a width, a precision
// ('*' for either) and the size 'l'. Any other conversion ends the text
// there and reports TEXT_CUT.
int FormatText(char *dst, size_t cap, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
// Replaces the first "%s" of fmt by arg (no other conversion is interpreted,
// so a stray "%" in a user-supplied text cannot read beyond the arguments).
int FormatOneString(char *dst, size_t cap, const char *fmt, const char *arg);

// A heap copy of text (freed with free); null when memory is short.
char *HeapText(const char *text);

// ASCII case folding, as used for paths, keys and tags.
int TextEqualNoCase(const char *a, const char *b);
int TextEqualNoCaseN(const char *a, const char *b, size_t n);
// Whether text begins with prefix (case-insensitive).
int StartsWithNoCase(const char *text, const char *prefix);
