#include "text.h"
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int CopyTextN(char *dst, size_t cap, const char *src, size_t n)
{
    if (cap == 0)
        return TEXT_CUT;
    size_t len = 0;
    while (len < n && src[len])
        len++;
    int result = TEXT_FIT;
    if (len > cap - 1) {
        len = cap - 1;
        result = TEXT_CUT;
    }
    memmove(dst, src, len);
    dst[len] = 0;
    return result;
}

int CopyText(char *dst, size_t cap, const char *src)
{
    return CopyTextN(dst, cap, src, (size_t)-1);
}

int AppendText(char *dst, size_t cap, const char *src)
{
    if (cap == 0)
        return TEXT_CUT;
    size_t used = strnlen(dst, cap);
    if (used >= cap) {          // not terminated: repair rather than run off
        dst[cap - 1] = 0;
        return TEXT_CUT;
    }
    return CopyText(dst + used, cap - used, src);
}

int FormatText(char *dst, size_t cap, const char *fmt, ...)
{
    if (cap == 0)
        return TEXT_CUT;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(dst, cap, fmt, ap);
    va_end(ap);
    if (n < 0) {
        dst[0] = 0;
        return TEXT_CUT;
    }
    return (size_t)n >= cap ? TEXT_CUT : TEXT_FIT;
}

int FormatOneString(char *dst, size_t cap, const char *fmt, const char *arg)
{
    if (cap == 0)
        return TEXT_CUT;
    const char *hole = strstr(fmt, "%s");
    if (!hole)
        return CopyText(dst, cap, fmt);
    int result = CopyTextN(dst, cap, fmt, (size_t)(hole - fmt));
    result |= AppendText(dst, cap, arg);
    result |= AppendText(dst, cap, hole + 2);
    return result;
}

static int Fold(int c)
{
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

int TextEqualNoCaseN(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        int ca = Fold((unsigned char)a[i]), cb = Fold((unsigned char)b[i]);
        if (ca != cb)
            return 0;
        if (ca == 0)
            return 1;
    }
    return 1;
}

int TextEqualNoCase(const char *a, const char *b)
{
    return TextEqualNoCaseN(a, b, (size_t)-1);
}

int StartsWithNoCase(const char *text, const char *prefix)
{
    return TextEqualNoCaseN(text, prefix, strlen(prefix));
}

char *HeapText(const char *text)
{
    size_t n = strlen(text) + 1;
    char *copy = (char *)malloc(n);
    if (copy)
        memcpy(copy, text, n);
    return copy;
}
