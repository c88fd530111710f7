// Prints the short (8.3) form of a path; used by the demo to build command
// lines without blanks.
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    char buf[MAX_PATH];
    DWORD n = GetShortPathNameA(argv[1], buf, sizeof buf);
    if (n == 0 || n >= sizeof buf)
        return 1;
    printf("%s\n", buf);
    return 0;
}
