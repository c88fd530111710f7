// Tree removal of 400 folders (20 x 20, one file each): the engine's removal,
// which looks up every folder's identity against the protected set and every
// level's links, against a bare removal of the same tree (search, delete,
// remove directory and nothing else). Also the cost of building the set.
#include <windows.h>
#include <stdio.h>
#include "machine/protect.h"
#include "base/text.h"
#include "engine/files.h"

enum { OUTER = 20, INNER = 20, ROUNDS = 3 };
static const char Top[] = "C:\\kvbench_tree";

static double Now(void)
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / (double)f.QuadPart;
}

static void MakeTree(void)
{
    char path[MAX_PATH];
    CreateDirectoryA(Top, NULL);
    for (int a = 0; a < OUTER; a++) {
        FormatText(path, sizeof path, "%s\\folder %02d", Top, a);
        CreateDirectoryA(path, NULL);
        for (int b = 0; b < INNER; b++) {
            FormatText(path, sizeof path, "%s\\folder %02d\\sub %02d", Top, a, b);
            CreateDirectoryA(path, NULL);
            AppendText(path, sizeof path, "\\file.dat");
            HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            CloseHandle(h);
        }
    }
}

static void BareRemove(const char *dir)
{
    char pattern[MAX_PATH], sub[MAX_PATH];
    FormatText(pattern, sizeof pattern, "%s\\*.*", dir);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (fd.cFileName[0] == '.')
                continue;
            FormatText(sub, sizeof sub, "%s\\%s", dir, fd.cFileName);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                BareRemove(sub);
            else
                DeleteFileA(sub);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir);
}

int main(void)
{
    double t0 = Now();
    int count = ProtectedFolderCount();
    double build = Now() - t0;
    double bare = 0, engine = 0;
    for (int r = 0; r < ROUNDS; r++) {
        MakeTree();
        t0 = Now();
        BareRemove(Top);
        bare += Now() - t0;
        MakeTree();
        t0 = Now();
        RemoveTree(Top, 1);
        engine += Now() - t0;
    }
    // The folder check alone, over every folder of the tree.
    MakeTree();
    char path[MAX_PATH];
    t0 = Now();
    int hits = 0;
    for (int a = 0; a < OUTER; a++)
        for (int b = 0; b < INNER; b++) {
            FormatText(path, sizeof path, "%s\\folder %02d\\sub %02d", Top, a, b);
            hits += IsProtectedFolder(path);
        }
    double check = (Now() - t0) / (OUTER * INNER);
    BareRemove(Top);
    int left = GetFileAttributesA(Top) != INVALID_FILE_ATTRIBUTES;
    printf("protected set: %d folders, built in %.1f ms\n", count, build * 1000);
    printf("tree of %d folders, %d files, mean of %d rounds:\n", OUTER * (INNER + 1) + 1,
           OUTER * INNER, ROUNDS);
    printf("  bare removal       %.1f ms\n", bare / ROUNDS * 1000);
    printf("  engine RemoveTree  %.1f ms (%.1f us more per folder)\n", engine / ROUNDS * 1000,
           (engine - bare) / ROUNDS / (OUTER * (INNER + 1) + 1) * 1e6);
    printf("  IsProtectedFolder  %.1f us per folder (%d protected: should be 0)\n", check * 1e6, hits);
    printf("  tree left behind: %s\n", left ? "yes (fault)" : "no");
    BareRemove(Top);
    return left;
}
