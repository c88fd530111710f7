// A library without registration exports: records only loads and unloads.
#include "selfreg_record.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        RecordCount("PlainAttach");
    else if (reason == DLL_PROCESS_DETACH)
        RecordCount("PlainDetach");
    return TRUE;
}
