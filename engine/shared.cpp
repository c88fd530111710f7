#include "shared.h"

// Not built yet: no file counts as shared.
int ReleaseSharedFile(const char *path)
{
    (void)path;
    return SHARED_NOT_COUNTED;
}
