// Self-registering servers: which call a file gets. The calls themselves,
// and the services and device lines, are made in machine/sysops.
#include "services.h"
#include <windows.h>
#include <string.h>
#include "../base/paths.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../ui/progress.h"

int SelfRegisterFile(const char *prefix, const char *path, int mode, unsigned short installNo)
{
    CopyText(DialogText, sizeof DialogText, prefix);
    AppendShortPath(DialogText, sizeof DialogText, path);
    ShowProgress(DialogText);
    // A file named .EXE is run as a program, whatever it holds; any other
    // Windows image is loaded as a library.
    size_t len = strlen(path);
    const char *ext = len >= 3 ? path + len - 3 : path;
    int kind = TextEqualNoCase(ext, "EXE") ? SERVER_PROGRAM
               : IsWin32Executable(path)   ? SERVER_LIBRARY
                                           : SERVER_NEITHER;
    return CallServer(path, kind, mode, WaitForProcess, installNo);
}
