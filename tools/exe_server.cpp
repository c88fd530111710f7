// An executable server for the self-registration tests: records its command
// line and current directory.
#include "selfreg_record.h"

int main()
{
    RecordText("ExeCommandLine", GetCommandLineA());
    char dir[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof dir, dir);
    RecordText("ExeCurrentDir", dir);
    RecordCount("ExeRuns");
    return 0;
}
