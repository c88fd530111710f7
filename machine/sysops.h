// Services, SYSTEM.INI device lines, self-registering servers and the
// programs an uninstall runs. Each call acts for one inventory entry and
// adds the entry's report row with the outcome it saw; in a preview it only
// asks what the call would find, and starts, loads and changes nothing.
#pragma once
#include <windows.h>

// How the caller waits for a started program to end (the engine's wait
// keeps the windows painting and Cancel working), and lets time pass.
typedef void (*ProcessWaitFn)(HANDLE process);
typedef void (*PauseFn)(DWORD ms);

// Stops and deletes the service (one that does not stop is deleted when it
// stops), its configuration kept first for an undo (/K: a service that
// cannot be kept stays), with its SERVICE STOP-DELETE row; where the system has no service
// manager, the row is SKIPPED UNSUPPORTED. Result non-zero when the service
// was marked for deletion (in a preview: when it could be); else the last
// error says why, a missing service as ERROR_FILE_NOT_FOUND.
int RemoveService(const char *name, unsigned short installNo = 0);
// Gives a stopping service ms through pause before its files go (also the
// user's moment to cancel); a preview, which stopped nothing, does not wait.
void WaitForServiceStop(PauseFn pause, DWORD ms);

// Disables (";" in front) every "device=" line of SYSTEM.INI's [386Enh]
// sections that names the driver at path, by its full path or by its name
// below the system directory, through one whole-file write; with the DEVICE
// DISABLE-LINE row. A preview reads the lines only.
enum { DEVICE_DONE = 0, DEVICE_NO_LINE = 1, DEVICE_FAILED = 2 };
int RemoveDeviceLine(const char *path, unsigned short installNo = 0);

// What the engine found a self-registering file to be.
enum { SERVER_PROGRAM = 0, SERVER_LIBRARY = 1, SERVER_NEITHER = 2 };
// Calls the server at path in its own folder: mode 0 unregisters it, 1
// registers it again. A program is run with /UNREGSERVER or /REGSERVER and
// waited for; a library gets DllUnregisterServer or DllRegisterServer.
// A file that is neither is reported missing or of a bad format. Row SERVER
// UNREGISTER or REGISTER. Result non-zero when the server was called (in a
// preview: when it is there to be called).
int CallServer(const char *path, int kind, int mode, ProcessWaitFn wait, unsigned short installNo = 0);

// Starts command (the program's path quoted where it holds blanks; the call
// may write into it) and waits for it to end; row PROGRAM RUN for target,
// with name as its detail. A preview starts nothing.
void RunProgram(char *command, const char *target, const char *name, unsigned short installNo,
                ProcessWaitFn wait);
