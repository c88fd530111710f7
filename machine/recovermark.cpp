// Content marks of the recovery journal (recovery.h): a file's or a
// buffer's size and CRC-32, by which an undo tells the change's own content
// from a later one.
#include "recovery.h"
#include "recoverline.h"
#include "../base/text.h"

static unsigned long CrcTable[256];

unsigned long MarkCrc(unsigned long crc, const unsigned char *p, unsigned long n)
{
    if (!CrcTable[1])
        for (unsigned long i = 0; i < 256; i++) {
            unsigned long c = i;
            for (int k = 0; k < 8; k++)
                c = c & 1 ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
            CrcTable[i] = c;
        }
    for (unsigned long i = 0; i < n; i++)
        crc = CrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

void BytesMark(const void *bytes, size_t len, char *buf, size_t cap)
{
    unsigned long crc = MarkCrc(0xFFFFFFFFUL, (const unsigned char *)bytes, (unsigned long)len) ^ 0xFFFFFFFFUL;
    FormatText(buf, cap, "%lu:%08lx", (unsigned long)len, crc);
}

// The mark of the file's first limit bytes (all of them with ~0UL); -1 when
// it cannot be opened, else the bytes read.
static long MarkOf(const char *path, unsigned long limit, char *buf, size_t cap)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    static unsigned char block[32768];
    unsigned long crc = 0xFFFFFFFFUL, size = 0;
    DWORD got;
    while (size < limit &&
           ReadFile(h, block, limit - size < sizeof block ? (DWORD)(limit - size) : (DWORD)sizeof block, &got, NULL) &&
           got) {
        crc = MarkCrc(crc, block, got);
        size += got;
    }
    CloseHandle(h);
    FormatText(buf, cap, "%lu:%08lx", size, crc ^ 0xFFFFFFFFUL);
    return (long)size;
}

void ContentMark(const char *path, char *buf, size_t cap)
{
    if (MarkOf(path, ~0UL, buf, cap) >= 0)
        return;
    // A file that is there but cannot be read is not "none".
    CopyText(buf, cap, GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? "?" : "-");
}

int HeadMark(const char *path, unsigned long length, char *buf, size_t cap)
{
    return MarkOf(path, length, buf, cap) == (long)length;
}
