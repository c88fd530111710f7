#include "relocate.h"

// Not built yet: no copy is made and the program's own file stays.
void MakeTempCopy(void)
{
}

void RemoveSelf(void)
{
}

void RunCleanup(const char *text)
{
    (void)text;
}
