// An in-process server for the self-registration tests: records loads,
// unloads and its registration calls.
#include "selfreg_record.h"

static HMODULE Self;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Self = instance;
        RecordCount("ServerAttach");
    } else if (reason == DLL_PROCESS_DETACH) {
        RecordCount("ServerDetach");
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllRegisterServer(void)
{
    RecordCall(Self, "DllRegisterServer");
    return S_OK;
}

extern "C" HRESULT WINAPI DllUnregisterServer(void)
{
    RecordCall(Self, "DllUnregisterServer");
    return S_OK;
}
