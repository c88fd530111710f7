// Entry point of UNINSTAL.EXE, which links no C run-time: it prepares what
// the run-time's start-up code would pass to WinMain, and ends the process
// with WinMain's result.
#include <windows.h>

// The command line after the program's name and the blanks that follow it,
// as the C run-time gives it to WinMain. Bytes are compared unsigned, so a
// name with non-ASCII letters is skipped whole.
static char *ArgumentsOf(char *line)
{
    unsigned char *p = (unsigned char *)line;
    int quoted = 0;
    while (*p > ' ' || (*p && quoted)) {
        if (*p == '"')
            quoted = !quoted;
        p++;
    }
    while (*p && *p <= ' ')
        p++;
    return (char *)p;
}

// The linker gathers the compiler's global constructors between these
// (a count, or -1 when the list ends with a null). No module has any today;
// running the list keeps one added later from being silently skipped. A
// destructor would need atexit, which does not exist here: the link fails.
typedef void (*Constructor)(void);
extern "C" Constructor __CTOR_LIST__[];

static void RunConstructors(void)
{
    size_t count = (size_t)__CTOR_LIST__[0];
    if (count == (size_t)-1)
        for (count = 0; __CTOR_LIST__[count + 1]; count++) {
        }
    for (size_t i = count; i >= 1; i--)
        __CTOR_LIST__[i]();
}

// Windows calls this with nothing useful on the stack; the stack is realigned
// for the code it calls.
extern "C" __attribute__((noreturn, force_align_arg_pointer)) void WINAPI KvStart(void)
{
    RunConstructors();
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    int code = WinMain(GetModuleHandleA(NULL), NULL, ArgumentsOf(GetCommandLineA()), show);
    ExitProcess((UINT)code);
}
