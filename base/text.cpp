// Bounded copies, appends and formatting into fixed buffers; ASCII folding.
#include "text.h"
#include <stdarg.h>
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

// Output of the formatter: what does not fit is dropped, and remembered.
struct Sink {
    char *dst;
    size_t cap, used;
    int cut;
};

static void SinkRepeat(Sink *out, char c, size_t times)
{
    size_t room = out->cap - 1 - out->used;
    size_t n = times < room ? times : room;
    memset(out->dst + out->used, c, n);
    out->used += n;
    if (n < times)
        out->cut = 1;
}

static void SinkText(Sink *out, const char *text, size_t n)
{
    size_t room = out->cap - 1 - out->used;
    size_t fit = n < room ? n : room;
    memcpy(out->dst + out->used, text, fit);
    out->used += fit;
    if (fit < n)
        out->cut = 1;
}

// One field: sign or prefix, zeros, body, padded to width on either side.
static void SinkField(Sink *out, const char *sign, size_t zeros, const char *body, size_t n,
                     size_t width, int left)
{
    size_t len = strlen(sign) + zeros + n;
    size_t pad = width > len ? width - len : 0;
    if (!left)
        SinkRepeat(out, ' ', pad);
    SinkText(out, sign, strlen(sign));
    SinkRepeat(out, '0', zeros);
    SinkText(out, body, n);
    if (left)
        SinkRepeat(out, ' ', pad);
}

// Reads a width or precision: digits, or '*' for the next int argument.
static int ReadCount(const char **f, va_list *ap)
{
    if (**f == '*') {
        (*f)++;
        return va_arg(*ap, int);
    }
    int n = 0;
    while (**f >= '0' && **f <= '9') {
        if (n < 100000)          // kept from overflowing; far beyond any buffer
            n = n * 10 + (**f - '0');
        (*f)++;
    }
    return n;
}

// The conversions the program uses: %d %i %u %x %X %c %s %% with the flags
// '-' and '0', a width and a precision (digits or '*'), and the size 'l'.
// Any other conversion ends the text there and reports it cut.
static int FormatBounded(char *dst, size_t cap, const char *fmt, va_list *ap)
{
    Sink out = {dst, cap, 0, 0};
    for (const char *f = fmt; *f; f++) {
        if (*f != '%') {
            const char *run = f;
            while (f[1] && f[1] != '%')
                f++;
            SinkText(&out, run, (size_t)(f - run) + 1);
            continue;
        }
        f++;
        int left = 0, zero = 0;
        for (;; f++) {
            if (*f == '-')
                left = 1;
            else if (*f == '0')
                zero = 1;
            else
                break;
        }
        int width = ReadCount(&f, ap);
        if (width < 0) {             // a negative '*' width means left-justified
            left = 1;
            width = width < -100000 ? 100000 : -width;
        }
        int precision = -1;
        if (*f == '.') {
            f++;
            precision = ReadCount(&f, ap);
            if (precision < 0)
                precision = -1;     // a negative '*' precision means none
        }
        int isLong = *f == 'l';
        if (isLong)
            f++;
        char conv = *f;
        if (conv == '%') {
            SinkRepeat(&out, '%', 1);
        } else if (conv == 'c') {
            char c = (char)va_arg(*ap, int);
            SinkField(&out, "", 0, &c, 1, (size_t)width, left);
        } else if (conv == 's') {
            const char *s = va_arg(*ap, const char *);
            if (!s)
                s = "(null)";
            size_t n = precision >= 0 ? strnlen(s, (size_t)precision) : strlen(s);
            SinkField(&out, "", 0, s, n, (size_t)width, left);
        } else if (conv == 'd' || conv == 'i' || conv == 'u' || conv == 'x' || conv == 'X') {
            unsigned long magnitude;
            const char *sign = "";
            if (conv == 'd' || conv == 'i') {
                long v = isLong ? va_arg(*ap, long) : va_arg(*ap, int);
                magnitude = v < 0 ? 0ul - (unsigned long)v : (unsigned long)v;
                if (v < 0)
                    sign = "-";
            } else {
                magnitude = isLong ? va_arg(*ap, unsigned long) : va_arg(*ap, unsigned int);
            }
            unsigned base = (conv == 'x' || conv == 'X') ? 16 : 10;
            const char *digitSet = conv == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
            char digits[24];
            size_t n = 0;
            char *end = digits + sizeof digits;
            for (unsigned long v = magnitude; v != 0; v /= base, n++)
                *--end = digitSet[v % base];
            if (n == 0 && precision != 0) {     // zero is "0", except with precision 0
                *--end = '0';
                n = 1;
            }
            size_t zeros = 0;
            if (precision >= 0) {
                if ((size_t)precision > n)
                    zeros = (size_t)precision - n;
            } else if (zero && !left) {
                size_t len = strlen(sign) + n;
                if ((size_t)width > len)
                    zeros = (size_t)width - len;
            }
            SinkField(&out, sign, zeros, end, n, (size_t)width, left);
        } else {
            out.cut = 1;
            break;
        }
    }
    dst[out.used] = 0;
    return out.cut ? TEXT_CUT : TEXT_FIT;
}

int FormatText(char *dst, size_t cap, const char *fmt, ...)
{
    if (cap == 0)
        return TEXT_CUT;
    va_list ap;
    va_start(ap, fmt);
    int result = FormatBounded(dst, cap, fmt, &ap);
    va_end(ap);
    return result;
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
