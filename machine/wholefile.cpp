// Whole-file replacement (see wholefile.h).
#include "wholefile.h"
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../base/wow64.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>

// The sibling's name is the target's with a fixed ending, so that what a
// killed run left beside a file is taken up (overwritten, then swapped in)
// by the next run that writes the same file, instead of piling up.
static int SiblingName(char *buf, size_t cap, const char *target, const char *ending)
{
    if (!FileNamePart(target)[0])
        return 1;
    return CopyText(buf, cap, target) != TEXT_FIT || AppendText(buf, cap, ending) != TEXT_FIT;
}

int MakeSiblingFile(char *buf, size_t cap, const char *target)
{
    return SiblingName(buf, cap, target, ".~kv");
}

int SwapInFile(const char *tmp, const char *target, int stageHeld)
{
    // A folder (or a link) under the name is never replaced by a file.
    DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    if (PlatformKind == PLATFORM_NT) {
        if (Os.MoveFileExA(tmp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return WHOLE_DONE;
        DWORD error = GetLastError();
        // Under WoW64 the record names SysWOW64 where this process sees
        // System32: the 64-bit system applies it.
        char from[MAX_PATH], to[MAX_PATH];
        if (stageHeld && (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) &&
            NativeSystemPath(from, sizeof from, tmp) >= 0 && NativeSystemPath(to, sizeof to, target) >= 0 &&
            Os.MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
            return WHOLE_STAGED;
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    // Without a replacing move the old file is kept aside until the new one
    // has its name, so that one of them is always there.
    char keep[MAX_PATH];
    if (SiblingName(keep, sizeof keep, target, ".~ko") != 0) {
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    DeleteFileA(keep);
    int existed = FileExists(target);
    if (existed && !MoveFileA(target, keep)) {
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    if (!MoveFileA(tmp, target)) {
        if (existed)
            MoveFileA(keep, target);
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    if (existed)
        DeleteFileA(keep);
    return WHOLE_DONE;
}

// Writes bytes as the file tmp, flushed; 1 when it is there whole.
static int WriteWholeFileAs(const char *tmp, const void *bytes, size_t len)
{
    HANDLE file = CreateFileA(tmp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    int ok = (len == 0 || (WriteFile(file, bytes, (DWORD)len, &written, NULL) && written == len)) &&
             FlushFileBuffers(file);
    if (!CloseHandle(file))
        ok = 0;
    return ok;
}

int WriteWholeFile(const char *path, const void *bytes, size_t len, int stageHeld)
{
    char tmp[MAX_PATH];
    if (MakeSiblingFile(tmp, sizeof tmp, path) != 0)
        return WHOLE_FAILED;
    if (!WriteWholeFileAs(tmp, bytes, len)) {
        DeleteFileA(tmp);       // a full disk: the old file stays whole
        return WHOLE_FAILED;
    }
    return SwapInFile(tmp, path, stageHeld);
}

// --- profile (INI) items -------------------------------------------------

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

// Whether the item line "key=..." of section is one of the items changed.
static int IsChangedItem(const char *line, const char *section, const ProfileItem *items, int count)
{
    for (int k = 0; k < count; k++)
        if (TextEqualNoCase(items[k].Section, section) && IsItem(line, items[k].Item))
            return 1;
    return 0;
}

// Whether two NUL-separated lists of section's items are equal, the lines
// of the changed items left out.
static int SameList(const char *a, const char *b, const char *section, const ProfileItem *items, int count)
{
    for (;;) {
        while (*a && IsChangedItem(a, section, items, count))
            a += strlen(a) + 1;
        while (*b && IsChangedItem(b, section, items, count))
            b += strlen(b) + 1;
        if (!*a || !*b)
            return !*a && !*b;
        if (strcmp(a, b) != 0)
            return 0;
        a += strlen(a) + 1;
        b += strlen(b) + 1;
    }
}

// On NT the system may keep a section of an INI file of the Windows
// directory (WIN.INI's [windows], say) in the registry instead: the profile
// writer then changes the registry, not the file, and a copy of the file
// would not see the item. Such a section is written in place.
int IniFileMayBeMapped(const char *file)
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
    return GetFileIdentity(own, &a) == 0 && GetFileIdentity(dir, &b) == 0 && SameIdentity(&a, &b);
}

int IniSectionMappedFor(const char *file, const char *section)
{
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

int IniSectionIsMapped(const char *file, const char *section)
{
    return IniFileMayBeMapped(file) && IniSectionMappedFor(file, section);
}

// Whether a later item of the list has the same section and name.
static int SetAgainLater(const ProfileItem *items, int count, int k)
{
    for (int j = k + 1; j < count; j++)
        if (TextEqualNoCase(items[j].Section, items[k].Section) && TextEqualNoCase(items[j].Item, items[k].Item))
            return 1;
    return 0;
}

// Whether copy holds everything file holds (nothing when file is missing),
// apart from the changed items, and each of them as it should now be.
static int CopyIsWhole(const char *file, const char *copy, const ProfileItem *items, int count)
{
    char *names = FileExists(file) ? ReadProfileList(NULL, file) : (char *)calloc(2, 1);
    char *copyNames = ReadProfileList(NULL, copy);
    int whole = names && copyNames;
    int mayBeMapped = whole && names[0] && IniFileMayBeMapped(file);
    // The copy may have gained the items' sections; every old one must be there.
    for (const char *s = names; whole && *s; s += strlen(s) + 1) {
        // A section that the system keeps in the registry reads the same
        // for the file whatever the copy holds (Wine lists WIN.INI's mapped
        // sections even when the file has none of them).
        if (mayBeMapped && IniSectionMappedFor(file, s))
            continue;
        char *a = ReadProfileList(s, file), *b = ReadProfileList(s, copy);
        whole = a && b && SameList(a, b, s, items, count);
        free(a);
        free(b);
    }
    free(names);
    free(copyNames);
    for (int k = 0; whole && k < count; k++) {
        if (SetAgainLater(items, count, k))
            continue;
        char now[1024];
        DWORD got = GetPrivateProfileStringA(items[k].Section, items[k].Item, "\x7f", now, sizeof now, copy);
        whole = items[k].Value ? got < sizeof now - 1 && strcmp(now, items[k].Value) == 0 : strcmp(now, "\x7f") == 0;
    }
    return whole;
}

int MakeProfileCopy(const char *file, const ProfileItem *items, int count, char *copy, size_t cap)
{
    if (MakeSiblingFile(copy, cap, file) != 0)
        return 0;               // no room beside it: the file stays as it is
    int ok;
    if (GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES) {
        HANDLE h = CreateFileA(copy, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        ok = h != INVALID_HANDLE_VALUE && CloseHandle(h);
    } else {
        ok = CopyFileA(file, copy, FALSE) && SetFileAttributesA(copy, FILE_ATTRIBUTE_NORMAL);
    }
    for (int k = 0; ok && k < count; k++)
        ok = WritePrivateProfileStringA(items[k].Section, items[k].Item, items[k].Value, copy) != 0;
    // Flushes the profile cache of systems that keep one.
    WritePrivateProfileStringA(NULL, NULL, NULL, copy);
    if (!ok || !CopyIsWhole(file, copy, items, count)) {
        DeleteFileA(copy);
        return 0;
    }
    return 1;
}

int SwapInProfileCopy(const char *copy, const char *file)
{
    DWORD attributes = GetFileAttributesA(file);
    int result = SwapInFile(copy, file, 0);
    if (result == WHOLE_DONE && attributes != INVALID_FILE_ATTRIBUTES && (attributes & ~FILE_ATTRIBUTE_NORMAL))
        SetFileAttributesA(file, attributes);
    return result;
}

int WriteProfileItemsWhole(const char *file, const ProfileItem *items, int count)
{
    char copy[MAX_PATH];
    if (!MakeProfileCopy(file, items, count, copy, sizeof copy))
        return WHOLE_FAILED;
    return SwapInProfileCopy(copy, file);
}

int WriteProfileItemWhole(const char *file, const char *section, const char *item, const char *value)
{
    ProfileItem one = {section, item, value};
    return WriteProfileItemsWhole(file, &one, 1);
}

// --- putting an item back where it stood ----------------------------------------

int ProfileItemBefore(const char *file, const char *section, const char *item, char *buf, size_t cap)
{
    char *list = ReadProfileList(section, file);
    if (!list)
        return 1;
    const char *previous = NULL;
    int found = 0;
    for (const char *line = list; *line && !found; line += strlen(line) + 1) {
        if (IsItem(line, item))
            found = 1;
        else
            previous = line;
    }
    int result = 1;
    if (found) {
        const char *end = previous ? strchr(previous, '=') : NULL;
        size_t n = previous ? (end ? (size_t)(end - previous) : strlen(previous)) : 0;
        while (n && (previous[n - 1] == ' ' || previous[n - 1] == '\t'))
            n--;
        result = CopyTextN(buf, cap, previous ? previous : "", n) != TEXT_FIT;
    }
    free(list);
    return result;
}

char *ReadWholeFile(const char *path, size_t most, size_t *size)
{
    HANDLE h = Os.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return NULL;
    DWORD high = 0, len = GetFileSize(h, &high), got = 0;
    char *text = high == 0 && len != INVALID_FILE_SIZE && len <= most ? (char *)malloc((size_t)len + 1) : NULL;
    int ok = text && (len == 0 || (ReadFile(h, text, len, &got, NULL) && got == len));
    CloseHandle(h);
    if (!ok) {
        free(text);
        SetLastError(ERROR_INVALID_DATA);
        return NULL;
    }
    text[len] = 0;
    *size = len;
    return text;
}

// Where the line after section's header (previous "") or after its item
// previous begins in text; -1 when there is no such line.
static long LineAfter(const char *text, const char *section, const char *previous)
{
    int inSection = 0;
    for (const char *line = text; *line;) {
        const char *next = strchr(line, '\n');
        next = next ? next + 1 : line + strlen(line);
        const char *p = line;
        while (*p == ' ' || *p == '\t')
            p++;
        if (*p == '[') {
            size_t n = strlen(section);
            const char *name = p + 1;
            while (*name == ' ' || *name == '\t')
                name++;
            const char *close = name + n;
            while (*close == ' ' || *close == '\t')
                close++;
            inSection = TextEqualNoCaseN(name, section, n) && *close == ']';
            if (inSection && !previous[0])
                return (long)(next - text);
        } else if (inSection && previous[0] && IsItem(p, previous)) {
            return (long)(next - text);
        }
        line = next;
    }
    return -1;
}

int WriteProfileItemAfter(const char *file, const char *section, const char *item, const char *value,
                          const char *previous)
{
    size_t len = 0;
    char *text = IniSectionIsMapped(file, section) ? NULL : ReadWholeFile(file, 1u << 20, &len);
    long at = text ? LineAfter(text, section, previous) : -1;
    char copy[MAX_PATH];
    if (at < 0 || MakeSiblingFile(copy, sizeof copy, file) != 0) {
        free(text);
        return WriteProfileItemWhole(file, section, item, value);
    }
    // The line ends as the file's do; a last line without one gets one.
    const char *eol = strstr(text, "\r\n") || !strchr(text, '\n') ? "\r\n" : "\n";
    const char *before = at > 0 && text[at - 1] != '\n' ? eol : "";
    size_t n = strlen(before) + strlen(item) + 1 + strlen(value) + strlen(eol);
    char *out = (char *)malloc(len + n + 1);
    int ok = out != NULL;
    if (ok) {
        memcpy(out, text, (size_t)at);
        FormatText(out + at, n + 1, "%s%s=%s%s", before, item, value, eol);
        memcpy(out + at + n, text + at, len - (size_t)at);
    }
    DWORD attributes = GetFileAttributesA(file);
    ok = ok && WriteWholeFileAs(copy, out, len + n);
    free(out);
    free(text);
    ProfileItem one = {section, item, value};
    // As the profile writer's own copy: nothing else reads back changed.
    WritePrivateProfileStringA(NULL, NULL, NULL, copy);
    if (!ok || !CopyIsWhole(file, copy, &one, 1)) {
        DeleteFileA(copy);
        return WriteProfileItemWhole(file, section, item, value);
    }
    int result = SwapInFile(copy, file, 0);
    if (result == WHOLE_DONE && attributes != INVALID_FILE_ATTRIBUTES && (attributes & ~FILE_ATTRIBUTE_NORMAL))
        SetFileAttributesA(file, attributes);
    return result;
}
