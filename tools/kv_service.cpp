// A real Win32 service for the service tests (own process, demand start).
// usage (the service's binary path): kv_service.exe LOGFILE [-nostop]
// Appends "running" and "stopped" to LOGFILE. With -nostop it accepts no
// control and ends by itself after three seconds.
#include <windows.h>
#include <string.h>

static const char *LogFile = "";
static bool NoStop;
static SERVICE_STATUS_HANDLE StatusHandle;
static HANDLE StopEvent;

static void Log(const char *text)
{
    HANDLE h = CreateFileA(LogFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD put;
    WriteFile(h, text, (DWORD)strlen(text), &put, NULL);
    WriteFile(h, "\r\n", 2, &put, NULL);
    CloseHandle(h);
}

static void Report(DWORD state)
{
    SERVICE_STATUS s = {};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted = (NoStop || state != SERVICE_RUNNING) ? 0 : SERVICE_ACCEPT_STOP;
    SetServiceStatus(StatusHandle, &s);
}

static DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP && !NoStop) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(StopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

static void WINAPI ServiceMain(DWORD, LPSTR *argv)
{
    StatusHandle = RegisterServiceCtrlHandlerExA(argv[0], Handler, NULL);
    if (!StatusHandle)
        return;
    StopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    Report(SERVICE_RUNNING);
    Log("running");
    WaitForSingleObject(StopEvent, NoStop ? 3000 : 60000);
    Log("stopped");
    Report(SERVICE_STOPPED);
}

int main(int argc, char **argv)
{
    if (argc > 1)
        LogFile = argv[1];
    NoStop = argc > 2 && strcmp(argv[2], "-nostop") == 0;
    static char name[] = "KvService";
    SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {NULL, NULL}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
