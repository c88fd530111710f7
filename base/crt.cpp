// The C library functions UNINSTAL.EXE uses, on Win32 alone: the program
// links no C run-time (Windows 95 ships no msvcrt.dll, and the toolchain's
// run-time holds instructions newer than the i486). Compiled with
// -fno-builtin -fno-tree-loop-distribute-patterns, so that the compiler does
// not turn these loops back into calls to themselves.
#include "crt.h"
#include <limits.h>

// Declared here rather than through <windows.h>, which would declare the
// standard names above a second time, some of them as DLL imports.
extern "C" {
__declspec(dllimport) void *__stdcall GetProcessHeap(void);
__declspec(dllimport) void *__stdcall HeapAlloc(void *heap, unsigned long flags, size_t n);
__declspec(dllimport) void *__stdcall HeapReAlloc(void *heap, unsigned long flags, void *p, size_t n);
__declspec(dllimport) int __stdcall HeapFree(void *heap, unsigned long flags, void *p);
}

enum { HEAP_ZERO = 0x00000008 };  // HEAP_ZERO_MEMORY

// Word-sized access to any object, whatever its declared type.
typedef size_t __attribute__((__may_alias__)) Word;
static const size_t WORD = sizeof(Word);

static int Aligned(const void *p)
{
    return ((size_t)p & (WORD - 1)) == 0;
}

extern "C" {

void *KV_CRT_NAME(memcpy)(void *dst, const void *src, size_t n)
{
    unsigned char *d = (unsigned char *)dst;
    const unsigned char *s = (const unsigned char *)src;
    while (n > 0 && !Aligned(d)) {
        *d++ = *s++;
        n--;
    }
    if (Aligned(s)) {
        for (; n >= WORD; n -= WORD, d += WORD, s += WORD)
            *(Word *)d = *(const Word *)s;
    }
    while (n-- > 0)
        *d++ = *s++;
    return dst;
}

void *KV_CRT_NAME(memmove)(void *dst, const void *src, size_t n)
{
    unsigned char *d = (unsigned char *)dst;
    const unsigned char *s = (const unsigned char *)src;
    if (d == s || n == 0)
        return dst;
    // Forward is safe unless the destination starts inside the source.
    if (d < s || d >= s + n)
        return KV_CRT_NAME(memcpy)(dst, src, n);
    d += n;
    s += n;
    while (n-- > 0)
        *--d = *--s;
    return dst;
}

void *KV_CRT_NAME(memset)(void *dst, int c, size_t n)
{
    unsigned char *d = (unsigned char *)dst;
    unsigned char byte = (unsigned char)c;
    while (n > 0 && !Aligned(d)) {
        *d++ = byte;
        n--;
    }
    Word fill = (Word)-1 / 0xFF * byte;  // the byte in every byte of a word
    for (; n >= WORD; n -= WORD, d += WORD)
        *(Word *)d = fill;
    while (n-- > 0)
        *d++ = byte;
    return dst;
}

int KV_CRT_NAME(memcmp)(const void *a, const void *b, size_t n)
{
    const unsigned char *x = (const unsigned char *)a, *y = (const unsigned char *)b;
    for (size_t i = 0; i < n; i++)
        if (x[i] != y[i])
            return x[i] < y[i] ? -1 : 1;
    return 0;
}

void *KV_CRT_NAME(memchr)(const void *s, int c, size_t n)
{
    const unsigned char *p = (const unsigned char *)s;
    for (size_t i = 0; i < n; i++)
        if (p[i] == (unsigned char)c)
            return (void *)(p + i);
    return 0;
}

size_t KV_CRT_NAME(strlen)(const char *s)
{
    const char *p = s;
    while (*p)
        p++;
    return (size_t)(p - s);
}

size_t KV_CRT_NAME(strnlen)(const char *s, size_t max)
{
    size_t n = 0;
    while (n < max && s[n])
        n++;
    return n;
}

char *KV_CRT_NAME(strchr)(const char *s, int c)
{
    for (;; s++) {
        if (*s == (char)c)
            return (char *)s;
        if (!*s)
            return 0;
    }
}

char *KV_CRT_NAME(strrchr)(const char *s, int c)
{
    const char *last = 0;
    for (;; s++) {
        if (*s == (char)c)
            last = s;
        if (!*s)
            return (char *)last;
    }
}

int KV_CRT_NAME(strcmp)(const char *a, const char *b)
{
    return KV_CRT_NAME(strncmp)(a, b, (size_t)-1);
}

int KV_CRT_NAME(strncmp)(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (x != y)
            return x < y ? -1 : 1;
        if (!x)
            break;
    }
    return 0;
}

char *KV_CRT_NAME(strpbrk)(const char *s, const char *accept)
{
    for (; *s; s++)
        for (const char *a = accept; *a; a++)
            if (*s == *a)
                return (char *)s;
    return 0;
}

char *KV_CRT_NAME(strstr)(const char *haystack, const char *needle)
{
    size_t n = KV_CRT_NAME(strlen)(needle);
    for (; *haystack; haystack++)
        if (KV_CRT_NAME(strncmp)(haystack, needle, n) == 0)
            return (char *)haystack;
    return n == 0 ? (char *)haystack : 0;
}

char *KV_CRT_NAME(_strdup)(const char *s)
{
    if (!s)
        return 0;
    size_t n = KV_CRT_NAME(strlen)(s) + 1;
    char *copy = (char *)KV_CRT_NAME(malloc)(n);
    if (copy)
        KV_CRT_NAME(memcpy)(copy, s, n);
    return copy;
}

static int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

long KV_CRT_NAME(strtol)(const char *text, char **end, int base)
{
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        p++;
    int negative = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        DigitValue(p[2]) < 16) {
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = *p == '0' ? 8 : 10;
    }
    if (base < 2 || base > 36) {
        if (end)
            *end = (char *)text;
        return 0;
    }
    // Accumulated as a magnitude, clamped at the limit of the sign's range.
    const unsigned long limit = negative ? (unsigned long)LONG_MAX + 1 : (unsigned long)LONG_MAX;
    unsigned long value = 0;
    int overflow = 0;
    const char *digits = p;
    for (int d; (d = DigitValue(*p)) < base; p++) {
        if (value > (limit - (unsigned long)d) / (unsigned long)base)
            overflow = 1;
        else
            value = value * (unsigned long)base + (unsigned long)d;
    }
    if (end)
        *end = (char *)(p == digits ? text : p);
    if (overflow)
        value = limit;
    return negative ? (long)(0ul - value) : (long)value;
}

void *KV_CRT_NAME(malloc)(size_t n)
{
    return HeapAlloc(GetProcessHeap(), 0, n ? n : 1);
}

void *KV_CRT_NAME(calloc)(size_t count, size_t size)
{
    if (size != 0 && count > (size_t)-1 / size)
        return 0;               // the product would wrap
    size_t n = count * size;
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO, n ? n : 1);
}

void *KV_CRT_NAME(realloc)(void *p, size_t n)
{
    if (!p)
        return KV_CRT_NAME(malloc)(n);
    if (n == 0) {
        KV_CRT_NAME(free)(p);
        return 0;
    }
    return HeapReAlloc(GetProcessHeap(), 0, p, n);
}

void KV_CRT_NAME(free)(void *p)
{
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

} // extern "C"

// Quotient and remainder of unsigned 64-bit numbers with 32-bit operations
// only (shifts, compares, subtractions), so that it calls nothing itself.
static unsigned long long DivMod(unsigned long long n, unsigned long long d, unsigned long long *rem)
{
    if ((n >> 32) == 0 && (d >> 32) == 0) {
        unsigned n32 = (unsigned)n, d32 = (unsigned)d;  // one divide; zero faults as it should
        *rem = n32 % d32;
        return n32 / d32;
    }
    if (d == 0) {
        volatile unsigned zero = 0;  // fault as the hardware divide does
        *rem = 0;
        return 1u / zero;
    }
    if (d > n) {
        *rem = n;
        return 0;
    }
    int shift = 0;
    while (!(d >> 63) && (d << 1) <= n) {
        d <<= 1;
        shift++;
    }
    unsigned long long q = 0;
    for (;;) {
        q <<= 1;
        if (n >= d) {
            n -= d;
            q |= 1;
        }
        if (shift-- == 0)
            break;
        d >>= 1;
    }
    *rem = n;
    return q;
}

static unsigned long long Magnitude(long long v)
{
    return v < 0 ? 0ull - (unsigned long long)v : (unsigned long long)v;
}

extern "C" {

unsigned long long KV_CRT_NAME(__udivdi3)(unsigned long long a, unsigned long long b)
{
    unsigned long long r;
    return DivMod(a, b, &r);
}

unsigned long long KV_CRT_NAME(__umoddi3)(unsigned long long a, unsigned long long b)
{
    unsigned long long r;
    DivMod(a, b, &r);
    return r;
}

long long KV_CRT_NAME(__divdi3)(long long a, long long b)
{
    unsigned long long r, q = DivMod(Magnitude(a), Magnitude(b), &r);
    return (a < 0) != (b < 0) ? (long long)(0ull - q) : (long long)q;
}

long long KV_CRT_NAME(__moddi3)(long long a, long long b)
{
    unsigned long long r;
    DivMod(Magnitude(a), Magnitude(b), &r);
    return a < 0 ? (long long)(0ull - r) : (long long)r;  // the sign of the dividend
}

} // extern "C"

#ifndef KV_CRT_TEST
// The system headers declare _strdup as a DLL import, so callers reach it
// through this pointer.
#ifdef __i386__
#define KV_IMPORT_LABEL "__imp___strdup"
#else
#define KV_IMPORT_LABEL "__imp__strdup"
#endif
extern "C" char *(*const KvImportStrdup)(const char *) __asm__(KV_IMPORT_LABEL);
char *(*const KvImportStrdup)(const char *) = _strdup;
#endif
