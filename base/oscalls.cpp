// The table of platform-sensitive system calls (see oscalls.h).
#include "oscalls.h"

static const OsCallTable SystemCalls = {
    CreateFileA, GetFileInformationByHandle, GetVolumeInformationA, MoveFileExA,
    GetOpenFileNameA, OpenSCManagerA, GetProcAddress, RegQueryValueExA,
};

OsCallTable Os = SystemCalls;

void UseSystemCalls(void)
{
    Os = SystemCalls;
}
