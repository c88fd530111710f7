#include "progman.h"

// Not built yet: no conversation is opened and no item is removed.
void ConnectProgman(void)
{
}

void RemoveProgmanItem(int index)
{
    (void)index;
}

void CloseProgman(void)
{
}
