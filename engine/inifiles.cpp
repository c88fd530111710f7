// INI file restore and removal. A changed item is written into a copy of
// its file beside it; the copy replaces the file only when every other
// section and item reads back unchanged, so that a full disk (the system's
// profile writer then leaves a cut file) or a kill loses nothing.
#include "inifiles.h"
#include "files.h"
#include "../app/paths.h"
#include "../app/text.h"
#include "../app/wholefile.h"
#include <stdlib.h>
#include <string.h>

void RemoveIniFile(NewIniEntry *entry)
{
    SetPlainAttributes(entry->Path);
    DeleteOneFile(entry->Path);
}

// On NT the system may keep a section of an INI file of the Windows
// directory (WIN.INI's [windows], say) in the registry instead: the profile
// writer then changes the registry, not the file, and a copy of the file
// would not see the item. Such a section is written in place.
static int SectionIsMapped(const char *file, const char *section)
{
    if (PlatformKind != PLATFORM_NT)
        return 0;
    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    if (n == 0 || n >= sizeof dir)
        return 0;
    char own[MAX_PATH];
    if (CopyText(own, sizeof own, file) != TEXT_FIT)
        return 0;
    *FileNamePart(own) = 0;
    FileIdentity a, b;
    if (GetFileIdentity(own, &a) != 0 || GetFileIdentity(dir, &b) != 0 || !SameIdentity(&a, &b))
        return 0;
    char keyPath[MAX_PATH + 64];
    if (FormatText(keyPath, sizeof keyPath, "Software\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\%s",
                   FileNamePart(file)) != TEXT_FIT)
        return 1;               // cannot tell: leave it to the system
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    HKEY sub;
    int mapped = RegQueryValueExA(key, section, NULL, NULL, NULL, NULL) == ERROR_SUCCESS ||
                 RegQueryValueExA(key, NULL, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    if (!mapped && RegOpenKeyExA(key, section, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
        mapped = 1;
        RegCloseKey(sub);
    }
    RegCloseKey(key);
    return mapped;
}

// What a profile read returns for the whole of a list (section names, or a
// section's items), in a heap buffer grown until it fits; null when memory
// is short or the text would exceed 1 MB.
static char *ReadProfileList(const char *section, const char *file)
{
    for (DWORD size = 16384; size <= (1u << 20); size *= 2) {
        char *buf = (char *)malloc(size);
        if (!buf)
            return NULL;
        DWORD got = section ? GetPrivateProfileSectionA(section, buf, size, file)
                            : GetPrivateProfileSectionNamesA(buf, size, file);
        if (got < size - 2) {
            buf[got] = buf[got + 1] = 0;
            return buf;
        }
        free(buf);
    }
    return NULL;
}

// Whether the item line "key=..." is the item changed here.
static int IsItem(const char *line, const char *item)
{
    size_t n = strlen(item);
    if (!TextEqualNoCaseN(line, item, n))
        return 0;
    const char *p = line + n;
    while (*p == ' ' || *p == '\t')
        p++;
    return *p == '=' || *p == 0;
}

// Whether two NUL-separated lists are equal, item lines of the changed item
// left out when item is given.
static int SameList(const char *a, const char *b, const char *item)
{
    for (;;) {
        while (*a && item && IsItem(a, item))
            a += strlen(a) + 1;
        while (*b && item && IsItem(b, item))
            b += strlen(b) + 1;
        if (!*a || !*b)
            return !*a && !*b;
        if (strcmp(a, b) != 0)
            return 0;
        a += strlen(a) + 1;
        b += strlen(b) + 1;
    }
}

// Whether copy holds everything file holds, apart from the one item, and
// the item as it should now be.
static int CopyIsWhole(const char *file, const char *copy, const IniEntry *e, const char *value)
{
    char *names = ReadProfileList(NULL, file), *copyNames = ReadProfileList(NULL, copy);
    int whole = names && copyNames;
    // The copy may have gained the item's section; every old one must be there.
    for (const char *s = names; whole && *s; s += strlen(s) + 1) {
        char *a = ReadProfileList(s, file), *b = ReadProfileList(s, copy);
        whole = a && b && SameList(a, b, TextEqualNoCase(s, e->Section) ? e->Item : NULL);
        free(a);
        free(b);
    }
    free(names);
    free(copyNames);
    if (!whole)
        return 0;
    char now[INI_VALUE_CAP + 1];
    DWORD got = GetPrivateProfileStringA(e->Section, e->Item, "\x7f", now, sizeof now, copy);
    if (value[0])
        return got < sizeof now - 1 && strcmp(now, value) == 0;
    return strcmp(now, "\x7f") == 0;
}

int RestoreIniItem(IniEntry *entry)
{
    // Writing an item would create a missing file.
    if (!FileExists(entry->File))
        return 0;
    const char *value = Rollback ? entry->LastOldValue : entry->OldValue;
    // An empty old value means the item did not exist: a null value deletes it.
    const char *written = value[0] ? value : NULL;
    if (SectionIsMapped(entry->File, entry->Section)) {
        WritePrivateProfileStringA(entry->Section, entry->Item, written, entry->File);
        return 1;
    }
    char copy[MAX_PATH];
    if (MakeSiblingFile(copy, sizeof copy, entry->File) != 0)
        return 1;               // no room beside it: the file stays as it is
    DWORD attributes = GetFileAttributesA(entry->File);
    int ok = CopyFileA(entry->File, copy, FALSE) && SetFileAttributesA(copy, FILE_ATTRIBUTE_NORMAL) &&
             WritePrivateProfileStringA(entry->Section, entry->Item, written, copy);
    // Flushes the profile cache of systems that keep one.
    WritePrivateProfileStringA(NULL, NULL, NULL, copy);
    if (!ok || !CopyIsWhole(entry->File, copy, entry, value)) {
        DeleteFileA(copy);
        return 1;
    }
    if (SwapInFile(copy, entry->File, 0) == WHOLE_DONE && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & ~FILE_ATTRIBUTE_NORMAL))
        SetFileAttributesA(entry->File, attributes);
    return 1;
}
