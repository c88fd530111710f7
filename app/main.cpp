// UNINSTAL.EXE: undoes an installation recorded in an installation log.
#include "runflow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    return RunProgram(instance, commandLine);
}
