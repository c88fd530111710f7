// Holds files open without sharing, as another program would, until told
// to let go: kv_hold [-read] RELEASE FILE... opens every FILE, creates
// RELEASE.ready, and closes them when RELEASE exists (or after two minutes).
// With -read others may still read them (a program's running image): they
// can be copied, not deleted or replaced.
#include <windows.h>
#include <string.h>
#include <string>

int main(int argc, char **argv)
{
    DWORD share = 0;
    if (argc > 1 && strcmp(argv[1], "-read") == 0) {
        share = FILE_SHARE_READ;
        argv++;
        argc--;
    }
    if (argc < 3)
        return 2;
    for (int i = 2; i < argc; i++)
        if (CreateFileA(argv[i], GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL) == INVALID_HANDLE_VALUE)
            return 3;
    std::string ready = std::string(argv[1]) + ".ready";
    HANDLE h = CreateFileA(ready.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    for (int waited = 0; waited < 120000; waited += 50) {
        if (GetFileAttributesA(argv[1]) != INVALID_FILE_ATTRIBUTES)
            return 0;
        Sleep(50);
    }
    return 0;
}
