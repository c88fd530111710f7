// Files replaced or deleted at the next restart (MoveFileEx on NT,
// WININIT.INI elsewhere), and the restart itself.
#include "pending.h"
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../base/state.h"
#include "../base/text.h"
#include "wholefile.h"
#include "../base/wow64.h"
#include "fileops.h"
#include "recovery.h"
#include "../base/refusals.h"
#include "../base/rows.h"
#include "../resources/resource.h"
#include <stdlib.h>
#include <string.h>

int WindowsDirFile(char *buf, size_t cap, const char *name)
{
    char dir[PATH_CAP];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    if (n == 0 || n >= sizeof dir)
        return 0;
    if (CopyText(buf, cap, dir) != TEXT_FIT)
        return 0;
    if (dir[n - 1] != '\\' && AppendText(buf, cap, "\\") != TEXT_FIT)
        return 0;
    return AppendText(buf, cap, name) == TEXT_FIT;
}

void MakeTempName(char *buf, size_t cap, const char *target)
{
    // Every name of the counter's range may be taken; then there is none.
    for (int tries = 0; tries < 0x10000; tries++) {
        char name[16];
        FormatText(name, sizeof name, "~KVU%04x.TMP", TempNameCounter);
        TempNameCounter++;
        if (CopyText(buf, cap, target) != TEXT_FIT)
            break;
        *FileNamePart(buf) = 0;
        if (AppendText(buf, cap, name) != TEXT_FIT)
            break;
        if (!FileExists(buf))
            return;
    }
    if (cap)
        buf[0] = 0;
}

// Whether text can stand as a key or value of a WININIT.INI record: an
// equals sign or a line break from it would make another record (rename or
// delete another file at the restart), so it holds neither, nor any other
// control character.
static int FitsInRecord(const char *text)
{
    for (const unsigned char *c = (const unsigned char *)text; *c; c++)
        if (*c == '=' || *c < 0x20 || *c == 0x7F)
            return 0;
    return 1;
}

// A plain file (not a folder or a link) is under the name.
static int IsPlainFile(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// On NT a backup on the target's drive takes the target's place by a
// rename: one step that needs no room on the drive, after which the backup
// is the file. A backup on another drive, or a target held by another
// program, is left to the copy.
static int RenameIntoPlace(const char *source, const char *target)
{
    if (PlatformKind != PLATFORM_NT || !IsPlainFile(source))
        return 0;
    if (FileExists(target) && !IsPlainFile(target))
        return 0;
    SetPlainAttributes(source);     // the restored file gets none, as a copy would
    SetPlainAttributes(target);
    return Os.MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Whether source and target name one file (another spelling, a link): it
// already holds what a restore would put there, and removing the backup
// would remove the file.
static int SameFile(const char *source, const char *target)
{
    FileIdentity a, b;
    return GetFileIdentity(source, &a) == 0 && GetFileIdentity(target, &b) == 0 && SameIdentity(&a, &b);
}

// Put back before taking away: the backup takes the target's place in one
// step (renamed, or copied beside it first), so that the target always holds
// the installed file or the backup, never neither, whenever the run stops.
// A copied backup goes only once its data is in place or staged.
int ReplaceFileLater(const char *source, const char *target)
{
    if (Preview) {
        // Nothing is copied or recorded: a target held without delete
        // sharing would be staged for the restart.
        int unheld = FileFreeToDelete(target);
        DWORD error = GetLastError();
        int held = !unheld && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        RemoveFile(source);     // counted as gone, as the real run removes it
        return held ? REPLACE_STAGED : REPLACE_DONE;
    }
    if (SameFile(source, target))
        return REPLACE_DONE;
    if (RenameIntoPlace(source, target)) {
        RemoveFile(source);     // gone already; its help index files go with it
        return REPLACE_DONE;
    }
    char copy[MAX_PATH];
    if (MakeSiblingFile(copy, sizeof copy, target) != 0)
        return REPLACE_KEPT;
    if (!CopyFileA(source, copy, FALSE) || !SetFileAttributesA(copy, FILE_ATTRIBUTE_NORMAL)) {
        DeleteFileA(copy);      // a backup that cannot be read, or a full disk
        return REPLACE_KEPT;
    }
    SetPlainAttributes(target);
    if (SwapInFile(copy, target, 0) == WHOLE_DONE) {
        RemoveFile(source);
        return REPLACE_DONE;
    }
    // The target is in use: stage the backup beside it for the next restart.
    char staging[INV_PATH_CAP];
    MakeTempName(staging, sizeof staging, target);
    if (!staging[0])
        return REPLACE_KEPT;    // the installed file and the backup both stay
    // A file this run makes: an undo takes it away, and the restart then
    // finds nothing to put in place.
    if (!KeepFileCopy(staging, source))
        return REPLACE_KEPT;
    if (!CopyFileA(source, staging, FALSE)) {
        DeleteFileA(staging);   // a full disk leaves a part of it
        return REPLACE_KEPT;
    }
    // The record names both files in short form; one that does not fit is
    // not written cut (it would replace another file): the backup then stays.
    char shortStaging[INV_PATH_CAP], shortTarget[INV_PATH_CAP];
    if (CopyText(shortStaging, sizeof shortStaging, staging) != TEXT_FIT ||
        CopyText(shortTarget, sizeof shortTarget, target) != TEXT_FIT) {
        DeleteFileA(staging);
        return REPLACE_KEPT;
    }
    NormalizePath(shortStaging, sizeof shortStaging, 0);
    NormalizePath(shortTarget, sizeof shortTarget, 0);
    if (PlatformKind != PLATFORM_NT && (!FitsInRecord(shortTarget) || !FitsInRecord(shortStaging))) {
        RecordRefusal("FILE", target, "BAD-PATH", 0);
        DeleteFileA(staging);   // nothing recorded: the backup stays
        return REPLACE_KEPT;
    }
    // The backup goes only once the record that puts its copy in place is
    // written; without the record both stay.
    int recorded;
    if (PlatformKind == PLATFORM_NT) {
        // The target still exists at the restart: without leave to replace
        // it the rename would be dropped and the backup never put back.
        // Under WoW64 the 64-bit system applies the record: it names
        // SysWOW64 where this process sees System32.
        char from[INV_PATH_CAP], to[INV_PATH_CAP];
        recorded = NativeSystemPath(from, sizeof from, shortStaging) >= 0 &&
                   NativeSystemPath(to, sizeof to, target) >= 0 &&
                   Os.MoveFileExA(from, to, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != 0;
    } else {
        char ini[PATH_CAP];
        recorded = WindowsDirFile(ini, sizeof ini, "WININIT.INI") &&
                   WriteProfileItemWhole(ini, "rename", shortTarget, shortStaging) == WHOLE_DONE;
    }
    if (!recorded) {
        DeleteFileA(staging);
        return REPLACE_KEPT;
    }
    RestartNeeded = 1;
    RemoveFile(source);
    return REPLACE_STAGED;
}

void DeleteAtRestart(const char *path)
{
    if (Preview)
        return;
    if (PlatformKind == PLATFORM_NT) {
        char native[INV_PATH_CAP];
        if (NativeSystemPath(native, sizeof native, path) >= 0)
            Os.MoveFileExA(native, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    if (!FitsInRecord(path)) {
        RecordRefusal("FILE", path, "BAD-PATH", 0);
        return;
    }
    // WININIT.INI is carried out before the long-name file system starts:
    // a long name there is passed over and the file stays.
    char shortPath[PATH_CAP];
    if (CopyText(shortPath, sizeof shortPath, path) != TEXT_FIT)
        return;
    NormalizePath(shortPath, sizeof shortPath, 0);
    char ini[PATH_CAP];
    if (!WindowsDirFile(ini, sizeof ini, "WININIT.INI"))
        return;
    char line[PATH_CAP + 32];
    if (FormatText(line, sizeof line, "NUL=%s\r\n", shortPath) != TEXT_FIT)
        return;
    // The line goes to the end of the file, whatever section comes last;
    // the file is written beside itself and swapped in whole.
    HANDLE f = CreateFileA(ini, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    char *text = NULL;
    DWORD size = 0;
    if (f != INVALID_HANDLE_VALUE) {
        DWORD high = 0;
        size = GetFileSize(f, &high);
        DWORD got = 0;
        text = size != INVALID_FILE_SIZE && high == 0 && size < (1u << 24)
                   ? (char *)malloc((size_t)size + sizeof line + 16) : NULL;
        int ok = text && ReadFile(f, text, size, &got, NULL) && got == size;
        CloseHandle(f);
        if (!ok) {
            free(text);
            return;             // unreadable: left as it is, nothing recorded
        }
    } else {
        text = (char *)malloc(sizeof line + 16);
        if (!text)
            return;
        memcpy(text, "[rename]\r\n", 10);
        size = 10;
    }
    // Keep the last line whole when the file does not end in a line break.
    if (size > 0 && text[size - 1] != '\n') {
        memcpy(text + size, "\r\n", 2);
        size += 2;
    }
    size_t n = strlen(line);
    memcpy(text + size, line, n);
    WriteWholeFile(ini, text, size + n, 0);
    free(text);
}

// The restart program as this program embeds it; null when it cannot be had.
static const char *EmbeddedRestartProgram(DWORD *size)
{
    HRSRC info = FindResourceA(ProgramInstance, MAKEINTRESOURCEA(IDR_RESTART_PROGRAM),
                               MAKEINTRESOURCEA(RT_RESTART_PROGRAM));
    *size = info ? SizeofResource(ProgramInstance, info) : 0;
    HGLOBAL data = *size ? LoadResource(ProgramInstance, info) : NULL;
    return data ? (const char *)LockResource(data) : NULL;
}

// Whether path holds the embedded restart program, byte for byte: a file cut
// by a full disk, or another program under its name, is never started.
static int HoldsRestartProgram(const char *path)
{
    DWORD size;
    const char *bytes = EmbeddedRestartProgram(&size);
    if (!bytes)
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0, got = 0;
    char *text = GetFileSize(file, &high) == size && high == 0 ? (char *)malloc(size) : NULL;
    int same = text && ReadFile(file, text, size, &got, NULL) && got == size && memcmp(text, bytes, size) == 0;
    free(text);
    CloseHandle(file);
    return same;
}

int WriteRestartProgramTo(const char *path)
{
    DWORD size;
    const char *bytes = EmbeddedRestartProgram(&size);
    // Written beside its place and swapped in: a full disk leaves what was
    // there before, never a part of it.
    return bytes && WriteWholeFile(path, bytes, size, 0) == WHOLE_DONE && HoldsRestartProgram(path);
}

int WriteRestartProgram(void)
{
    if (Preview)
        return 0;
    char path[PATH_CAP];
    return WindowsDirFile(path, sizeof path, "_MSRSTRT.EXE") && WriteRestartProgramTo(path);
}

int StartRestartProgram(const char *path)
{
    return HoldsRestartProgram(path) && WinExec(path, SW_SHOW) > 31;
}

void RestartSystem(void)
{
    if (Preview)
        return;
    if (PlatformKind == PLATFORM_NT) {
        char path[PATH_CAP];
        // Short form: a blank in the Windows directory would split the command.
        if (WindowsDirFile(path, sizeof path, "_MSRSTRT.EXE")) {
            NormalizePath(path, sizeof path, 0);
            StartRestartProgram(path);
        }
    } else {
        ExitWindowsEx(EWX_REBOOT, 0);
    }
}

int RestoreBackupFile(const char *kind, unsigned short installNo, const char *backup, const char *path)
{
    // Kept for an undo first: the backup (it goes), then the file it replaces.
    if (!Preview && KeepRecovery && (!KeepFileCopy(backup, NULL) || !KeepFileCopy(path, backup)))
        return REPLACE_KEPT;
    int put = ReplaceFileLater(backup, path);
    if (put == REPLACE_KEPT)
        return put;
    AddRow(kind, installNo, path, ACT_RESTORE_BACKUP, put == REPLACE_STAGED ? OUT_STAGED : OUT_DONE,
           put == REPLACE_STAGED ? "IN-USE" : NULL, backup);
    // The help viewer makes the index again from the restored file.
    RemoveHelpCompanions(path, kind, installNo);
    return put;
}
