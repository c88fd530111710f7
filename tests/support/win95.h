// Stand-ins for the platform-sensitive system calls (base/oscalls.h) that
// behave as Windows 95 and 98 document. Wine takes NT's flags whatever
// version it reports; these refuse them, and count every use that only NT
// would accept, so that a test fails when such a call comes back on the
// 95/98 path.
#pragma once
#include <windows.h>
#include <string>

enum Win95Shell {
    SHELL_95,       // shell32 4.0: no SHGetFolderPathA, no SHGetSpecialFolderPathA
    SHELL_98,       // shell32 4.72: SHGetSpecialFolderPathA without 5.0's folders
};

enum : DWORD { VALUE_MISSING = 0xFFFFFFFF };

struct Win95Calls {
    int NtOnlyOpens;            // CreateFileA with delete sharing, backup semantics or an NT right
    int FolderOpens;            // CreateFileA on a folder (fails on 95 and 98)
    int ServiceManagerCalls;    // OpenSCManagerA (a failing stub there)
    int MoveFileExCalls;        // MoveFileExA (a failing stub there)
    int DialogCalls;
    DWORD DialogSize;           // lStructSize of the last GetOpenFileNameA
    std::string DialogAnswer;   // the file the dialog returns; "" = the user cancels
    DWORD SerialOffset;         // added to every volume serial (another medium in the drive)
    Win95Shell Shell;
    // The values HKLM\...\CurrentVersion gives for ProgramFilesDir and
    // CommonFilesDir; a type of 0 forwards to the real registry, and
    // VALUE_MISSING answers that there is no such value.
    DWORD ProgramFilesType, CommonFilesType;
    std::string ProgramFilesData, CommonFilesData;
    // Called by CreateFileA before an open of an existing file for reading
    // that denies writers (the temporary copy's second open).
    void (*BeforeHoldOpen)(const char *path);
};

// The counters and settings of the stand-ins in use.
Win95Calls &Win95();
// Puts the stand-ins into the table, with counters and settings cleared
// and the shell of 98; UseSystemCalls() takes them out again.
void InstallWin95Calls();
